// The main dialog's sizes, resolution, code page and format inputs, and what the preview is handed
// of them.
#include "app/MainDialog.h"

#include "formats/Format.h"
#include "render/GlyphRasteriser.h"
#include "res/DialogTemplates.h"
#include "run/CodePageTable.h"
#include "run/GenerationRun.h"
#include "run/SizeList.h"
#include "ui/DialogBuilder.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"
#include "ui/TargetView.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

#include <utility>

namespace qf {

namespace ids = res::main_ids;

void MainDialog::ParseSizes()
{
    m_sizes = parseSizeList(m_sizesText.toStdString());
}

QString MainDialog::SizesProblem() const
{
    if (m_sizes.empty() || m_sizes.back() <= GlyphRasteriser::kMaxPointSize)
        return {};
    return QStringLiteral("Sizes above %1 points cannot be made (%2 is requested).")
        .arg(GlyphRasteriser::kMaxPointSize)
        .arg(m_sizes.back());
}

int MainDialog::codePageIndex() const
{
    return m_codePageList ? m_codePageList->currentIndex() : -1;
}

void MainDialog::ShowInPreview()
{
    if (!m_preview)
        return;
    PreviewContent content;
    TargetContent target;
    if (const int index = EntryIndexAt(m_fontList->currentPosition()); index >= 0) {
        content.font = m_fonts[static_cast<size_t>(index)].logFont;
        target.name = m_fonts[static_cast<size_t>(index)].name;
    }
    content.codePageRow = runCodePageIndex();
    content.text = m_previewText;
    content.sizes = m_sizes;
    content.problem = SizesProblem();
    // A format whose files hold Unicode characters shows the text by character, and marks those
    // the current font's files would not hold.
    const FormatInfo& format = formatInfo(static_cast<OutputFormat>(m_format));
    std::optional<CharacterSelection> chosen;
    QString unread;
    const bool readable = CharacterChoice(chosen, unread);
    content.unicode = !GenerationRun::holdsCodePage(format, chosen.has_value());
    UpdateCharacterCount(content.font, target.name, content.lacking);

    target.font = content.font;
    target.codePageRow = content.codePageRow;
    target.text = content.text;
    for (const int32_t size : content.sizes) {
        // A size the run refuses is not shown either; the preview says why.
        if (size <= GlyphRasteriser::kMaxPointSize)
            target.sizes.push_back(size);
    }
    if (readable && chosen)
        target.characters = m_charactersText.toStdString();
    // As the run makes them: the soft fonts always for a 300 dpi printer, each character cut to
    // its ink by the BDF and PCL writers, kept as its whole cell in FNT and FON.
    target.resolutionX = format.fixedResolution ? format.fixedResolution : static_cast<int32_t>(m_resolutionX);
    target.resolutionY = format.fixedResolution ? format.fixedResolution : static_cast<int32_t>(m_resolutionY);
    target.storage = format.storage;
    // Each size is judged by the format's writer, so a size the run would refuse is marked.
    target.format = format.format;

    m_preview->setContent(std::move(content));
    if (m_target)
        m_target->setContent(std::move(target));
}

void MainDialog::FillFormatList()
{
    auto* list = FindControlAs<QComboBox>(this, ids::kFormat);
    const QSignalBlocker quiet(list);
    list->clear();
    for (const FormatInfo& format : formatTable())
        list->addItem(QString::fromUtf8(format.text));
    list->setCurrentIndex(0);
}

void MainDialog::FillCodePageList()
{
    const QSignalBlocker quiet(m_codePageList);
    m_codePageList->clear();
    for (int i = 0; i < CodePageTable::rowCount(); ++i)
        m_codePageList->addItem(QString::fromUtf8(CodePageTable::row(i).description));
    m_codePageList->setCurrentIndex(0);
    // The 28 rows scroll in a list of 15 rather than run off a small screen: the list opens below
    // the box (not over it, as some styles place it, as tall as all its rows).
    m_codePageList->setMaxVisibleItems(kVisibleCodePages);
    m_codePageList->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    // The list was made under the other placement, which scrolls with arrows that show only
    // once the mouse reaches an edge: a scroll bar shows that more rows follow.
    m_codePageList->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void MainDialog::OnSizesChange()
{
    UpdateData(true);
    ParseSizes();
    ShowInPreview();
    UpdateStartButton();
}

void MainDialog::OnReset()
{
    m_sizesText.clear();
    UpdateData(false);
    ParseSizes();
    ShowInPreview();
    UpdateStartButton();
}

void MainDialog::OnPreviewTextChange()
{
    UpdateData(true);
    ShowInPreview();
}

void MainDialog::OnCodePageChange()
{
    ShowInPreview();
}

void MainDialog::OnProportional()
{
    UpdateData(true);
}

void MainDialog::ResolutionChanged(int editId, uint32_t& mine, int otherId, uint32_t& theirs)
{
    auto* edit = FindControlAs<QLineEdit>(this, editId);
    auto* other = FindControlAs<QLineEdit>(this, otherId);
    // Read as the user types, so "120dpi" already counts as 120; the full transfer before a run
    // rejects what is not a plain number.
    int32_t value = 0;
    if (!scanDecimal(edit->text().toStdString().c_str(), value))
        return;
    mine = static_cast<uint32_t>(value);
    if (!m_proportional)
        return;
    int32_t otherValue = 0;
    if (!scanDecimal(other->text().toStdString().c_str(), otherValue) || otherValue == value)
        return;
    theirs = static_cast<uint32_t>(value);
    // Runs the other edit's handler, which finds both equal and stops.
    other->setText(edit->text());
}

void MainDialog::OnResolutionXChange()
{
    ResolutionChanged(ids::kResolutionX, m_resolutionX, ids::kResolutionY, m_resolutionY);
    ShowInPreview();
}

void MainDialog::OnResolutionYChange()
{
    ResolutionChanged(ids::kResolutionY, m_resolutionY, ids::kResolutionX, m_resolutionX);
    ShowInPreview();
}

void MainDialog::OnFormatChange()
{
    const int32_t previous = m_format;
    UpdateData(true);
    if (m_format == previous)
        return;
    // The soft fonts are always made for a 300 dpi printer.
    const int32_t fixed = formatInfo(static_cast<OutputFormat>(m_format)).fixedResolution;
    control(ids::kResolutionX)->setEnabled(fixed == 0);
    control(ids::kResolutionY)->setEnabled(fixed == 0);
    if (fixed != 0) {
        m_resolutionX = static_cast<uint32_t>(fixed);
        m_resolutionY = static_cast<uint32_t>(fixed);
        UpdateData(false);
    }
    FillCharacterList();
    UpdateCharacterControls();
    ShowInPreview();
}

}  // namespace qf
