// The output folder chooser: Qt's own directory dialog (the widget-based one, so it looks and
// behaves the same on every desktop), with an instruction above the folders, an optional status
// line, and a hook that decides for every selected folder whether OK may be pressed.
#pragma once

#include <QString>

class QWidget;

namespace qf {

class FolderChooser {
public:
    FolderChooser() = default;
    virtual ~FolderChooser() = default;
    FolderChooser(const FolderChooser&) = delete;
    FolderChooser& operator=(const FolderChooser&) = delete;

    QString caption;        // the window's title; left as Qt has it when empty
    QString path;           // the result: the chosen folder's full path
    QString rootFolder;     // when set, only folders inside it can be chosen; the dialog starts there
    QString initialFolder;  // when set, the folder selected as the dialog opens
    QString title;          // the instruction above the folders; "Open" when empty
    bool showStatus = false;  // a status line under the folders, filled by validateFolder

    // Shows the dialog modally over `owner` (or on its own). Returns 1 with `path` holding the
    // chosen folder's absolute path, without a trailing separator except for the root "/"; 0 when
    // the user cancelled, when no folder could be had, or when `rootFolder` is not a folder.
    // `initialFolder` keeps the trimmed value it was opened with.
    int browse(QWidget* owner);

    // Called with every newly selected folder (empty when the selection is not a folder that may
    // be chosen) and an empty status text to fill; true when OK may be pressed. This version
    // accepts every folder and leaves the status empty.
    virtual bool validateFolder(const QString& path, QString& status);

    // A remembered folder as the dialog takes it: trailing blanks and one trailing separator
    // removed. The root "/" stays itself, since without its separator it would name nothing.
    static QString trimFolder(const QString& folder);

    // Object names of the added widgets, for whoever looks inside the dialog.
    static constexpr const char* kTitleName = "folderTitle";
    static constexpr const char* kStatusName = "folderStatus";
};

}  // namespace qf
