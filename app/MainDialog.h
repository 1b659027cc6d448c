// The main window: one modal dialog holding every input of a generation run, the font list, the
// preview and the controls that show a run's progress.
#pragma once

#include "run/CharacterSet.h"
#include "run/FontList.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace qf {

class DialogBuilder;
class FontCheckList;
class FontNameEditor;
class PreviewPane;
class StatusLine;
class TargetView;
struct RunResult;

class MainDialog : public QDialog {
    Q_OBJECT
public:
    // Fills the font array; the installed fonts unless a test gives its own.
    using FontSource = std::function<void(std::vector<FontListEntry>&)>;

    explicit MainDialog(QWidget* parent = nullptr, FontSource fontSource = {});
    ~MainDialog() override;

    // ---- Members, in the order a run and the handlers rely on ----
    std::vector<FontListEntry> m_fonts;
    std::vector<int32_t> m_sizes;           // ascending, distinct, each at least 3
    QString m_outputFolder;                 // the folder chosen last since the program started
    int32_t m_running = 0;                  // nonzero while a run is in progress
    FontNameEditor* m_nameEditor = nullptr;
    int32_t m_selectedCount = 0;
    PreviewPane* m_preview = nullptr;
    TargetView* m_target = nullptr;         // 1102: the sample text as the chosen format stores it
    StatusLine* m_statusLine = nullptr;     // 1008: what the last run wrote, and where
    QPushButton* m_exitButton = nullptr;    // 1005
    QComboBox* m_codePageList = nullptr;    // 1204
    QComboBox* m_characterList = nullptr;   // 1205: the Unicode characters, typed or chosen
    QLabel* m_characterCount = nullptr;     // 1206: how many of them the current font has
    QProgressBar* m_progressBar = nullptr;  // 1002, shown and driven only by a run
    QPushButton* m_startButton = nullptr;   // 1004
    QPushButton* m_removeButton = nullptr;  // 1690, for entries that came from a font file
    QFrame* m_placeholder = nullptr;        // 1000, where the preview goes
    FontCheckList* m_fontList = nullptr;    // 1681
    QString m_sizesText = QStringLiteral("8, 10, 12, 14");
    uint32_t m_resolutionX = 0;
    uint32_t m_resolutionY = 0;
    QString m_previewText = QStringLiteral("ABCabc123");
    int32_t m_proportional = 1;
    QString m_selectedLabel;
    int32_t m_format = 0;  // OutputFormat: 0 FON, 1 FNT, 2 SFP, 3 SFL, 4 BDF
    QString m_charactersText;  // the Characters choice as typed; empty: the format's default
    QIcon m_hIcon;

    // Rows the opened code page list shows at a time; the rest scroll.
    static constexpr int kVisibleCodePages = 15;

    // Largest resolution the font formats can hold.

    // Moves values between the controls and the members: controls to members with validation
    // (save), or members to controls. Change handlers do not run while either transfer does. A
    // resolution edit that does not hold a whole number from 1 to 65,535 stops the transfer
    // there with "Please enter a positive integer." and gets the focus, its text selected; the
    // members after it keep their values. False then.
    bool UpdateData(bool saveAndValidate = true);

    // ---- Font list ----
    void UpdateSelectedCount();
    void UpdateStartButton();
    // Opens the name editor over the current item.
    void BeginRename();
    // The name editor was left: `text` becomes the name of the entry at list position `position`.
    void CommitRename(int position, const QString& text);
    // The index in m_fonts of the entry at a list position (the item data), or -1.
    int EntryIndexAt(int position) const;

    // ---- Font files that are not installed ----
    // "Add Font File...": a file dialog for TrueType and OpenType files, whose choice goes to
    // AddFontFiles.
    void OnAddFontFile();
    // Each face of each file becomes a font of this process and a checked entry of the list; a face
    // of the family and style of a listed one takes that entry's place. A file added before is
    // added anew. Files that give no face are named with the reason in one message. The first
    // entry added becomes the current one.
    void AddFontFiles(const QStringList& paths);
    // Takes the entry at a list position out of the list and its face out of the process's fonts,
    // if it came from a file; the entry it had taken the place of comes back. False for an
    // installed entry, which stays.
    bool RemoveFileEntry(int position);
    // The file the entry at m_fonts[index] came from, or empty for an installed one.
    QString FileOfEntry(size_t index) const;

    // ---- Sizes, resolution, code page ----
    void ParseSizes();
    // Why the requested sizes cannot be made (a size above what the rasteriser renders), or empty.
    QString SizesProblem() const;
    // The code page list's selection, a row of CodePageTable.
    int codePageIndex() const;

    // ---- Characters (the formats that take Unicode characters) ----
    // The Characters choice read as the batch front end reads --chars: none when it is empty or
    // the format holds one code page. False, with the item that cannot be read named in `error`
    // ("Characters: cannot read ..."), for text it cannot read.
    bool CharacterChoice(std::optional<CharacterSelection>& chosen, QString& error) const;
    // Whether the code page list decides the characters of the format's files: always for the
    // 8-bit formats, and for BDF, PCF and OTB while Characters is empty.
    bool CodePageDecides() const;
    // The code page row a run and the previews use: the list's, or where it decides nothing,
    // 1252's, as the batch front end has without -c.
    int runCodePageIndex() const;

    // ---- Commands ----
    // The generation run over the checked fonts and requested sizes: the controls into the
    // members, the folder chooser, then the run with this window showing its progress.
    void OnStart();
    // Ends the program, or during a run stops it after the font being made.
    void OnExit();
    // Asks the run to stop after the font being made; the Stop button shows it is stopping.
    void StopRun();
    void OnAbout();
    // Commands of the window menu: (id & 0xFFF0) == 0x10 is "&About Quenfold...".
    void OnSysCommand(unsigned id);
    static constexpr unsigned kAboutCommand = 0x10;
    // The menu the dialog offers on a right click on its background.
    std::unique_ptr<QMenu> createWindowMenu();
    // Context help for a control (or for the dialog when `control` has no id of its own).
    void OnHelpInfo(QWidget* control, const QPoint& globalPos);
    // The help topic of a widget: its control's topic, or the dialog's.
    uint32_t helpTopicOf(const QWidget* widget) const;

    QWidget* control(int id) const;

    // Pressing Enter never closes the dialog: it presses the focused or the default button.
    void accept() override {}
    // Esc and Exit end the dialog, except during a run, where they stop it.
    void reject() override;

    // True from Start until the run has cleaned up (m_running is cleared earlier by Stop).
    bool runActive() const { return runActive_; }

protected:
    bool event(QEvent* event) override;
    // The controls follow the window's size (the template's is the least).
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Closing the window during a run stops it; the window closes when the run has ended.
    void closeEvent(QCloseEvent* event) override;

private:
    void OpenToFitScreen();
    void OnInitDialog();
    void ConnectHandlers();
    void FillFontList();
    void FillCodePageList();
    void FillFormatList();
    // Hands the preview the current font, the code page, the preview text and the sizes, and the
    // target view those and the format and resolution the files are made for.
    void ShowInPreview();
    // After a run: what it wrote and where in the status line, and what went wrong in a message.
    void ReportRun(const RunResult& result, const QString& folder);
    // Opens the folder the last run wrote to in the desktop's file manager.
    void OnOpenOutputFolder();

    void OnPreviewTextChange();
    void OnFontSelChange();
    void OnSizesChange();
    void OnSelectAll();
    void OnDeselect();
    void OnReset();
    void OnResolutionXChange();
    void OnResolutionYChange();
    void OnProportional();
    void OnCheckChange();
    void OnFormatChange();
    void OnCodePageChange();
    void OnCharactersChange(const QString& text);
    // The named sets the Characters choice offers for the format, and its hint when left empty.
    void FillCharacterList();
    // The Characters choice and the code page list as the format has them: enabled or not, the
    // named sets offered.
    void UpdateCharacterControls();
    // The count of the Characters label for the current font, and the characters of the preview
    // text its files would not hold; from the run's own steps, so they are what a run writes.
    void UpdateCharacterCount(const std::optional<gdi::LOGFONT>& font, const std::string& name,
                              std::u32string& lacking);
    void OnRemove();
    int OnVKeyToItem(int key, int position);

    // A resolution edit changed: its number goes to `mine` and, while "Proportional" is
    // checked, to the other edit and `theirs`.
    void ResolutionChanged(int editId, uint32_t& mine, int otherId, uint32_t& theirs);
    void SetAll(bool select);

    // Puts an entry into the list item at `position`: its name, item data, check and note.
    void ShowEntry(int position, size_t index);
    // What the list's tooltip says about an entry: the file it came from and what it replaced.
    QString EntryNote(size_t index) const;
    // RemoveFileEntry without bringing the count, Start, Remove and the preview up to date.
    bool TakeOutFileEntry(int position);
    // Before the process's fonts change: the target view's thread stops drawing with them.
    void StopDrawing();
    // Remove is for the current entry when it came from a file.
    void UpdateRemoveButton();
    // After the process's fonts changed: the preview and the target view draw anew.
    void RedrawPreview();

    // Where an entry that came from a font file came from, and the entry it took the place of,
    // which comes back when it is removed.
    struct FileFace {
        std::string file;      // as handed to the platform (absolute, local encoding)
        QString shownPath;     // as the user reads it
        QString canonicalPath; // the file whatever path named it, to find it again
        int faceIndex = 0;
        size_t facesInFile = 1;
        std::optional<FontListEntry> displaced;
        std::unique_ptr<FileFace> displacedFrom;  // when the displaced entry came from a file too
    };
    // Takes the entry's face out of the process's fonts, and those of the entries it displaced.
    static void Withdraw(const FileFace& face);

    FontSource fontSource_;
    // Beside m_fonts, index by index: the file an entry came from, or null for an installed one.
    std::vector<std::unique_ptr<FileFace>> fileFaces_;
    QString fontFileFolder_;  // the folder "Add Font File..." showed last
    std::unique_ptr<DialogBuilder> builder_;
    bool runActive_ = false;
    bool closeAfterRun_ = false;
    QString lastRunFolder_;  // the folder the status line's link opens
    // The repertoire the Characters label counts, kept while the font, characters, format and
    // code page stay: typing preview text does not resolve it again.
    std::string countedKey_;
    std::vector<char32_t> countedHeld_;
    QString countedText_;
    bool countedError_ = false;
};

}  // namespace qf
