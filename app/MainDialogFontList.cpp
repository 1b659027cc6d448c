// The main dialog's font list: building it, check boxes, the selection count, the Start rule and
// renaming entries in place. Entries from font files come and go in MainDialogFontFiles.cpp.
#include "app/MainDialog.h"
#include "platform/CodePages.h"

#include "platform/gdi.h"
#include "res/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/FontCheckList.h"
#include "ui/FontNameEditor.h"
#include "ui/PreviewPane.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>

namespace qf {

namespace {

// An entry's name (ANSI bytes) as the list shows it: after one blank.
QString ItemText(const std::string& name)
{
    return QStringLiteral(" ") + QString::fromStdString(gdi::ansiToUtf8(name));
}

}  // namespace

void MainDialog::FillFontList()
{
    if (fontSource_)
        fontSource_(m_fonts);
    else
        BuildFontList(m_fonts, gdi::OsMajorVersion());

    fileFaces_.clear();
    fileFaces_.resize(m_fonts.size());

    const QSignalBlocker quiet(m_fontList);
    m_fontList->resetContent();
    for (size_t i = 0; i < m_fonts.size(); ++i) {
        m_fonts[i].selected = 0;
        const int position = m_fontList->addString(ItemText(m_fonts[i].name));
        m_fontList->setItemData(position, static_cast<int>(i));
    }
    if (!m_fonts.empty())
        m_fontList->setCurrentPosition(0);
}

void MainDialog::ShowEntry(int position, size_t index)
{
    const FontListEntry& entry = m_fonts[index];
    const QSignalBlocker quiet(m_fontList);
    if (position < 0 || position >= m_fontList->count())
        position = m_fontList->addString(ItemText(entry.name));
    else
        m_fontList->item(position)->setText(ItemText(entry.name));
    m_fontList->setItemData(position, static_cast<int>(index));
    m_fontList->setCheck(position, entry.selected != 0);
    m_fontList->setItemToolTip(position, EntryNote(index));
}

void MainDialog::UpdateSelectedCount()
{
    m_selectedCount = 0;
    for (const FontListEntry& entry : m_fonts)
        m_selectedCount += entry.selected ? 1 : 0;
    m_selectedLabel = QStringLiteral("Selected: %1/%2").arg(m_selectedCount).arg(m_fonts.size());
    if (auto* label = FindControlAs<QLabel>(this, res::main_ids::kSelectedLabel))
        label->setText(m_selectedLabel);
}

void MainDialog::UpdateStartButton()
{
    // A size the rasteriser refuses would only fail after the folder was chosen; the preview says why.
    const QString sizesProblem = SizesProblem();
    m_startButton->setEnabled(m_selectedCount > 0 && !m_sizes.empty() && sizesProblem.isEmpty());
    // A disabled Start says what it waits for.
    QStringList missing;
    if (m_selectedCount == 0)
        missing << QStringLiteral("Check at least one font in the list.");
    if (m_sizes.empty())
        missing << QStringLiteral("Type at least one size of 3 points or more.");
    else if (!sizesProblem.isEmpty())
        missing << sizesProblem;
    m_startButton->setToolTip(missing.join(u'\n'));
}

void MainDialog::SetAll(bool select)
{
    for (FontListEntry& entry : m_fonts)
        entry.selected = select ? 1 : 0;
    for (int i = 0; i < m_fontList->count(); ++i)
        m_fontList->setCheck(i, select);
    UpdateSelectedCount();
    UpdateStartButton();
}

void MainDialog::OnSelectAll()
{
    SetAll(true);
}

void MainDialog::OnDeselect()
{
    SetAll(false);
}

int MainDialog::EntryIndexAt(int position) const
{
    if (!m_fontList || position < 0 || position >= m_fontList->count())
        return -1;
    // The list is sorted: the item data, not the position, names the entry.
    const int index = m_fontList->itemData(position);
    return index >= 0 && static_cast<size_t>(index) < m_fonts.size() ? index : -1;
}

void MainDialog::OnCheckChange()
{
    const int position = m_fontList->currentPosition();
    const int index = EntryIndexAt(position);
    if (index < 0)
        return;
    m_fonts[static_cast<size_t>(index)].selected = m_fontList->check(position) ? 1 : 0;
    UpdateSelectedCount();
    UpdateStartButton();
}

void MainDialog::OnFontSelChange()
{
    UpdateRemoveButton();
    ShowInPreview();
}

int MainDialog::OnVKeyToItem(int key, int position)
{
    if (key == Qt::Key_F2) {
        BeginRename();
        return -2;
    }
    // Delete takes an entry from a file back out; on an installed one it does nothing.
    if (key == Qt::Key_Delete)
        return RemoveFileEntry(position) ? -2 : -1;
    return -1;
}

void MainDialog::BeginRename()
{
    const int position = m_fontList->currentPosition();
    const int index = EntryIndexAt(position);
    if (index < 0)
        return;
    QRect rect = m_fontList->itemRect(position);
    // Past the check box, over the name.
    rect.setLeft(std::max(rect.left() + 14, m_fontList->checkBoxRect(position).right() + 3));
    m_nameEditor->open(position, rect, QString::fromStdString(gdi::ansiToUtf8(m_fonts[static_cast<size_t>(index)].name)));
}

void MainDialog::CommitRename(int position, const QString& text)
{
    const int index = EntryIndexAt(position);
    if (index < 0)
        return;
    FontListEntry& entry = m_fonts[static_cast<size_t>(index)];
    // Names are ANSI text of at most 63 characters, as the generated fonts hold them.
    std::string name = EncodeForCharset(text, gdi::ANSI_CHARSET, 437);
    if (name.size() > FontListEntry::kMaxName)
        name.resize(FontListEntry::kMaxName);
    entry.name = name;

    // Replaced where it stands: a new name does not move the item to its sorted place.
    const QSignalBlocker quiet(m_fontList);
    m_fontList->deleteString(position);
    m_fontList->insertString(position, QString());
    ShowEntry(position, static_cast<size_t>(index));
    m_fontList->setCurrentPosition(position);
    // The name goes into the files: the character count names it, and the target view judges the
    // sizes with it.
    ShowInPreview();
}

}  // namespace qf
