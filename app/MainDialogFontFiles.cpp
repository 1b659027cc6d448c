// The main dialog's font files that are not installed: "Add Font File..." and files dropped on the
// list make their faces fonts of this process and entries of the list; Remove and the Delete key
// take such an entry back out, and the installed entry it stood in for returns.
#include "app/MainDialog.h"

#include "platform/CodePages.h"
#include "platform/FontEnumeration.h"
#include "platform/gdi.h"
#include "ui/FontCheckList.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"
#include "ui/TargetView.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalBlocker>

namespace qf {

namespace {

int PositionOfEntry(const FontCheckList* list, size_t index)
{
    for (int position = 0; position < list->count(); ++position)
        if (list->itemData(position) == static_cast<int>(index))
            return position;
    return -1;
}

}  // namespace

void MainDialog::OnAddFontFile()
{
    if (runActive_)
        return;
    // Qt's own dialog, as for the output folder, so it behaves the same on every desktop.
    QFileDialog chooser(this, QStringLiteral("Add Font File"));
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setFileMode(QFileDialog::ExistingFiles);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setNameFilters({QStringLiteral("TrueType and OpenType fonts (*.ttf *.otf *.ttc *.otc)"),
                            QStringLiteral("All files (*)")});
    chooser.setDirectory(fontFileFolder_.isEmpty() ? QDir::homePath() : fontFileFolder_);
    if (chooser.exec() != QDialog::Accepted)
        return;
    fontFileFolder_ = chooser.directory().absolutePath();
    AddFontFiles(chooser.selectedFiles());
}

void MainDialog::AddFontFiles(const QStringList& paths)
{
    // A run draws with the process's fonts, which must not change under it.
    if (runActive_ || paths.isEmpty())
        return;
    fileFaces_.resize(m_fonts.size());

    QStringList refused;
    int firstAdded = -1;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QString absolute = info.absoluteFilePath();
        const QString canonical = info.canonicalFilePath();
        // A file added before comes back whole: its entries leave first, so Remove on the new ones
        // gives back what was installed rather than the same faces again.
        for (bool again = !canonical.isEmpty(); again;) {
            again = false;
            for (int position = m_fontList->count() - 1; position >= 0 && !again; --position) {
                const int index = EntryIndexAt(position);
                const FileFace* face = index >= 0 ? fileFaces_[static_cast<size_t>(index)].get() : nullptr;
                if (face && face->canonicalPath == canonical)
                    again = TakeOutFileEntry(position);
            }
        }

        const std::string file = QFile::encodeName(absolute).toStdString();
        StopDrawing();
        const qf::Result<std::vector<gdi::AddedFace>> faces = gdi::AddFontResourcePrivate(file, -1);
        if (!faces) {
            refused << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(absolute),
                                                    QString::fromStdString(faces.failure().reason()));
            continue;
        }
        for (const gdi::AddedFace& added : *faces) {
            std::optional<FontListEntry> entry = ListedEntry(added.elf, gdi::OsMajorVersion());
            if (!entry) {
                // Enumeration lists every face the catalogue holds; a face it would not show could
                // not be chosen or removed, so it is not kept either.
                StopDrawing();
                gdi::RemoveFontResourcePrivate(file, added.faceIndex);
                continue;
            }
            entry->selected = 1;  // the user asked for it by adding it
            auto origin = std::make_unique<FileFace>();
            origin->file = file;
            origin->shownPath = QDir::toNativeSeparators(absolute);
            origin->canonicalPath = canonical;
            origin->faceIndex = added.faceIndex;
            origin->facesInFile = faces->size();

            // As in the batch front end, a face of a listed family and style stands in its place.
            size_t index = m_fonts.size();
            if (added.replaced) {
                for (size_t i = 0; i < m_fonts.size(); ++i)
                    if (IsEntryOf(m_fonts[i], *added.replaced)) {
                        index = i;
                        break;
                    }
            }
            int position = -1;
            if (index < m_fonts.size()) {
                origin->displaced = std::move(m_fonts[index]);
                origin->displacedFrom = std::move(fileFaces_[index]);
                position = PositionOfEntry(m_fontList, index);
            } else {
                m_fonts.emplace_back();
                fileFaces_.emplace_back();
            }
            m_fonts[index] = std::move(*entry);
            fileFaces_[index] = std::move(origin);
            ShowEntry(position, index);
            if (firstAdded < 0)
                firstAdded = static_cast<int>(index);
        }
    }

    if (firstAdded >= 0) {
        const QSignalBlocker quiet(m_fontList);
        const int position = PositionOfEntry(m_fontList, static_cast<size_t>(firstAdded));
        m_fontList->setCurrentPosition(position);
        m_fontList->scrollToItem(m_fontList->item(position));
    }
    UpdateSelectedCount();
    UpdateStartButton();
    UpdateRemoveButton();
    RedrawPreview();
    if (!refused.isEmpty()) {
        const QString text = refused.size() == 1 ? QStringLiteral("This file gives no font to add:\n\n%1")
                                                 : QStringLiteral("These files give no font to add:\n\n%1");
        ShowMessageBox(this, text.arg(refused.join(u'\n')), QMessageBox::Warning);
    }
}

bool MainDialog::RemoveFileEntry(int position)
{
    if (runActive_ || !TakeOutFileEntry(position))
        return false;
    UpdateSelectedCount();
    UpdateStartButton();
    UpdateRemoveButton();
    RedrawPreview();
    return true;
}

bool MainDialog::TakeOutFileEntry(int position)
{
    const int found = EntryIndexAt(position);
    if (found < 0)
        return false;
    const auto index = static_cast<size_t>(found);
    if (index >= fileFaces_.size() || !fileFaces_[index])
        return false;

    const std::unique_ptr<FileFace> face = std::move(fileFaces_[index]);
    StopDrawing();
    gdi::RemoveFontResourcePrivate(face->file, face->faceIndex);
    if (face->displaced) {
        // The platform gave the displaced face its place back; so does the list.
        m_fonts[index] = std::move(*face->displaced);
        fileFaces_[index] = std::move(face->displacedFrom);
        ShowEntry(position, index);
    } else {
        m_fonts.erase(m_fonts.begin() + found);
        fileFaces_.erase(fileFaces_.begin() + found);
        const QSignalBlocker quiet(m_fontList);
        m_fontList->deleteString(position);
        // Item data are indices into m_fonts, and those after the entry moved down by one.
        for (int p = 0; p < m_fontList->count(); ++p)
            if (const int data = m_fontList->itemData(p); data > found)
                m_fontList->setItemData(p, data - 1);
        // The item that took its row becomes current, as after deleting a line anywhere else.
        m_fontList->setCurrentPosition(std::min(position, m_fontList->count() - 1));
    }
    return true;
}

void MainDialog::StopDrawing()
{
    // The target view's thread realises fonts through the catalogue the change replaces.
    if (m_target)
        m_target->stopMaking();
    // The same LOGFONT may be realised from another face afterwards.
    countedKey_.clear();
}

void MainDialog::OnRemove()
{
    RemoveFileEntry(m_fontList->currentPosition());
    // The button may have gone disabled under the focus; the list is where the user goes on.
    if (!m_removeButton->isEnabled())
        m_fontList->setFocus(Qt::OtherFocusReason);
}

QString MainDialog::FileOfEntry(size_t index) const
{
    return index < fileFaces_.size() && fileFaces_[index] ? fileFaces_[index]->shownPath : QString();
}

QString MainDialog::EntryNote(size_t index) const
{
    const FileFace* face = index < fileFaces_.size() ? fileFaces_[index].get() : nullptr;
    if (!face)
        return {};
    QString note = QStringLiteral("Added from %1").arg(face->shownPath);
    if (face->facesInFile > 1)
        note += QStringLiteral(" (face %1)").arg(face->faceIndex);
    if (face->displaced) {
        const QString name = QString::fromStdString(gdi::ansiToUtf8(face->displaced->fullName));
        note += face->displacedFrom ? QStringLiteral("\nIn place of %1 from %2").arg(name, face->displacedFrom->shownPath)
                                    : QStringLiteral("\nIn place of the installed %1").arg(name);
    }
    return note;
}

void MainDialog::UpdateRemoveButton()
{
    if (!m_removeButton)
        return;
    const int index = EntryIndexAt(m_fontList->currentPosition());
    m_removeButton->setEnabled(!runActive_ && index >= 0 && static_cast<size_t>(index) < fileFaces_.size() &&
                               fileFaces_[static_cast<size_t>(index)] != nullptr);
}

void MainDialog::RedrawPreview()
{
    ShowInPreview();
    // The current entry's font may be the same LOGFONT realised from another file now.
    if (m_preview)
        m_preview->update();
}

void MainDialog::Withdraw(const FileFace& face)
{
    gdi::RemoveFontResourcePrivate(face.file, face.faceIndex);
    if (face.displacedFrom)
        Withdraw(*face.displacedFrom);
}

}  // namespace qf
