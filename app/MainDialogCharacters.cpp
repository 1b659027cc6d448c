// The main dialog's Characters choice: the Unicode characters the files of BDF, PCF, OTB and PSF
// hold, typed as the batch front end's --chars takes them, and how many of them the current font
// has. The code page list steps back where it no longer decides the characters.
#include "app/MainDialog.h"

#include "formats/Format.h"
#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "platform/gdi.h"
#include "run/CodePageTable.h"
#include "run/GenerationRun.h"
#include "ui/PreviewPane.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>

namespace qf {

namespace {

// 3316 as "3,316", whatever the locale, so the count reads the same on every system.
QString Grouped(size_t n)
{
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return digits;
}

constexpr int kBatchCodePage = 1252;  // quenfold-cli's without -c

}  // namespace

bool MainDialog::CharacterChoice(std::optional<CharacterSelection>& chosen, QString& error) const
{
    chosen.reset();
    error.clear();
    if (!formatInfo(static_cast<OutputFormat>(m_format)).takesUnicode() || m_charactersText.trimmed().isEmpty())
        return true;
    CharacterSelection selection;
    std::string why;
    if (!parseCharacterSelection(m_charactersText.toStdString(), selection, why)) {
        error = QStringLiteral("Characters: %1.").arg(QString::fromStdString(why));
        return false;
    }
    chosen = std::move(selection);
    return true;
}

bool MainDialog::CodePageDecides() const
{
    const FormatInfo& format = formatInfo(static_cast<OutputFormat>(m_format));
    // Text that cannot be read yet is still a choice being typed: the list does not come and go
    // with each key.
    return !format.takesUnicode() || (m_charactersText.trimmed().isEmpty() && !format.defaultCharacters);
}

int MainDialog::runCodePageIndex() const
{
    return CodePageDecides() ? codePageIndex() : CodePageTable::rowOfCodePage(kBatchCodePage);
}

void MainDialog::FillCharacterList()
{
    if (!m_characterList)
        return;
    const FormatInfo& format = formatInfo(static_cast<OutputFormat>(m_format));
    const QSignalBlocker quiet(m_characterList);
    m_characterList->clear();
    // Empty is the format's default; the named sets follow, as --chars names them.
    m_characterList->addItem(QString());
    if (format.defaultCharacters)
        m_characterList->addItem(QString::fromUtf8(format.defaultCharacters));
    for (const char* name : {"all", "ascii", "latin1"})
        m_characterList->addItem(QString::fromUtf8(name));
    for (int i = 0; i < CodePageTable::rowCount(); ++i) {
        m_characterList->addItem(QStringLiteral("cp%1").arg(CodePageTable::row(i).codePage));
        m_characterList->setItemData(m_characterList->count() - 1, QString::fromUtf8(CodePageTable::row(i).description),
                                     Qt::ToolTipRole);
    }
    m_characterList->setEditText(m_charactersText);
    QString placeholder;
    if (!format.takesUnicode())
        placeholder = QStringLiteral("one code page, chosen below");
    else if (format.defaultCharacters)
        placeholder = QStringLiteral("%1 (%2's own)").arg(QString::fromUtf8(format.defaultCharacters),
                                                         QString::fromUtf8(format.option).toUpper());
    else
        placeholder = QStringLiteral("the code page's characters");
    if (QLineEdit* edit = m_characterList->lineEdit())
        edit->setPlaceholderText(placeholder);
}

void MainDialog::UpdateCharacterControls()
{
    if (!m_characterList)
        return;
    const FormatInfo& format = formatInfo(static_cast<OutputFormat>(m_format));
    m_characterList->setEnabled(format.takesUnicode());
    const bool decides = CodePageDecides();
    m_codePageList->setEnabled(decides);
    m_codePageList->setToolTip(
        decides ? QString()
                : QStringLiteral("The characters of %1 files come from Characters; the code page is not used for them.")
                      .arg(QString::fromUtf8(format.option).toUpper()));
}

void MainDialog::OnCharactersChange(const QString& text)
{
    m_charactersText = text;
    UpdateCharacterControls();
    ShowInPreview();
}

void MainDialog::UpdateCharacterCount(const std::optional<gdi::LOGFONT>& font, const std::string& name,
                                      std::u32string& lacking)
{
    lacking.clear();
    if (!m_characterCount)
        return;
    const FormatInfo& format = formatInfo(static_cast<OutputFormat>(m_format));
    std::optional<CharacterSelection> chosen;
    QString error;
    QString text;
    bool wrong = false;
    if (!format.takesUnicode()) {
        text.clear();
    } else if (!CharacterChoice(chosen, error)) {
        text = error;
        wrong = true;
    } else if (GenerationRun::holdsCodePage(format, chosen.has_value())) {
        text = QStringLiteral("The code page's characters, as for the Windows formats");
    } else if (font) {
        const int row = runCodePageIndex();
        std::string key(reinterpret_cast<const char*>(&*font), sizeof(gdi::LOGFONT));
        // The name too: the label names the font, and a rename changes nothing else.
        key += '\n' + m_charactersText.toStdString() + '\n' + std::to_string(m_format) + '\n' + std::to_string(row) +
               '\n' + name;
        if (key != countedKey_) {
            // As the run resolves a font's characters: the entry takes the code page's character
            // set unless it asks for the default one.
            gdi::DeviceContext dc;
            UseScreenResolution(dc);
            const int charset = CodePageTable::prepareDeviceContext(row, dc);
            gdi::LOGFONT logFont = *font;
            if (logFont.lfCharSet != gdi::DEFAULT_CHARSET)
                logFont.lfCharSet = static_cast<gdi::BYTE>(charset & 0xFF);
            size_t beyond = 0;
            const Repertoire repertoire = GenerationRun::faceRepertoire(
                dc, logFont, GenerationRun::unicodeSelection(chosen, format, row), format, beyond);
            countedHeld_.clear();
            countedHeld_.reserve(repertoire.entries.size());
            for (const Repertoire::Slot& slot : repertoire.entries)
                countedHeld_.push_back(slot.character);
            const size_t asked = repertoire.entries.size() + repertoire.leftOut + beyond;
            countedText_ = QStringLiteral("%1 of %2 characters in %3")
                               .arg(Grouped(repertoire.entries.size()), Grouped(asked),
                                    QString::fromStdString(gdi::ansiToUtf8(name)));
            countedKey_ = key;
        }
        text = countedText_;
        for (const char32_t c : m_previewText.toStdU32String())
            if (!std::binary_search(countedHeld_.begin(), countedHeld_.end(), c))
                lacking.push_back(c);
        std::sort(lacking.begin(), lacking.end());
        lacking.erase(std::unique(lacking.begin(), lacking.end()), lacking.end());
    }
    if (wrong != countedError_) {
        QPalette colours = m_characterCount->palette();
        colours.setColor(QPalette::WindowText, wrong ? QColor(0xA0, 0, 0) : palette().color(QPalette::WindowText));
        m_characterCount->setPalette(colours);
        countedError_ = wrong;
    }
    m_characterCount->setText(text);
    // The label is as wide as the choice above it; a long font name or reason shows whole here.
    m_characterCount->setToolTip(text);
}

}  // namespace qf
