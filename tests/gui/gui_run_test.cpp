// Start in the window: whole runs over the test fonts with the real folder chooser and prompt
// answered by the test, the window during and after a run, Stop, Esc and closing mid-run, the
// "to all" answers, the 64 KB question and the failures reported at the end.
#include "RunTestSupport.h"

#include "run/CodePageTable.h"
#include "ui/ConfirmDialog.h"
#include "ui/FolderChooser.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"
#include "ui/StatusLine.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;
using test::ChooseFolder;
using test::MessageBoxRecorder;
using test::ModalDriver;
using test::PathOf;
using test::SubFolder;
using test::TempDir;
using Names = std::vector<std::string>;

// The enabled state of every control of the dialog.
std::map<QWidget*, bool> EnabledStates(const QWidget* dialog)
{
    std::map<QWidget*, bool> states;
    for (QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isWindow())
            states[w] = w->isEnabled();
    }
    return states;
}

// Takes the folders the program asks the desktop's file manager to open.
class FolderCatcher : public QObject {
    Q_OBJECT
public:
    FolderCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FolderCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

// The window over the installed test fonts, shown, with the progress bar watched.
class GuiRunFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog = std::make_unique<MainDialog>();
        test::ShowActive(dialog.get());
        QObject::connect(dialog->m_progressBar, &QProgressBar::valueChanged, dialog->m_progressBar, [this](int v) {
            positions.push_back(v);
            if (onPosition)
                onPosition(v);
        });
    }

    // Checks the entries of these names through the list, as a user does with the space bar.
    void Check(std::initializer_list<const char*> names)
    {
        FontCheckList* list = dialog->m_fontList;
        for (const char* name : names) {
            int position = -1;
            for (int p = 0; p < list->count(); ++p) {
                if (dialog->m_fonts[static_cast<size_t>(list->itemData(p))].name == name)
                    position = p;
            }
            ASSERT_GE(position, 0) << name;
            list->setCurrentPosition(position);
            QTest::keyClick(list, Qt::Key_Space);
            ASSERT_TRUE(list->check(position)) << name;
        }
    }
    void SetSizes(const char* sizes) { Control<QLineEdit>(dialog.get(), ids::kSizes)->setText(sizes); }
    void SetFormat(int format) { Control<QComboBox>(dialog.get(), ids::kFormat)->setCurrentIndex(format); }
    void SetResolution(const char* dpi)
    {
        Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText(dpi);
        Control<QLineEdit>(dialog.get(), ids::kResolutionY)->setText(dpi);
    }
    void SetCodePage(int codePage) { dialog->m_codePageList->setCurrentIndex(CodePageTable::rowOfCodePage(codePage)); }
    void Start()
    {
        positions.clear();
        QTest::mouseClick(dialog->m_startButton, Qt::LeftButton);
    }

    std::unique_ptr<MainDialog> dialog;
    TempDir out;
    const QString outPath = PathOf(out);
    std::vector<int> positions;
    std::function<void(int)> onPosition;
};

TEST_F(GuiRunFixture, WholeRunWritesEveryFileAndGivesTheWindowBack)
{
    Check({"Liberation Serif", "DejaVu Sans Mono"});
    SetSizes("8, 10");
    SetFormat(2);  // SFP: the resolution edits are disabled before the run and must stay so
    auto* resolutionX = Control<QLineEdit>(dialog.get(), ids::kResolutionX);
    ASSERT_FALSE(resolutionX->isEnabled());
    const std::map<QWidget*, bool> before = EnabledStates(dialog.get());

    QString caption, title, openedAt;
    QWidget* chooserParent = nullptr;
    ModalDriver driver([&](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(chooser, nullptr) << modal->metaObject()->className();
        caption = chooser->windowTitle();
        chooserParent = chooser->parentWidget();
        title = chooser->findChild<QLabel*>(FolderChooser::kTitleName)->text();
        openedAt = chooser->directory().absolutePath();
        ChooseFolder(modal, outPath);
    });

    bool seen = false;
    onPosition = [&](int) {
        if (seen)
            return;
        seen = true;
        EXPECT_TRUE(dialog->m_progressBar->isVisible());
        EXPECT_EQ(dialog->m_progressBar->minimum(), 0);
        EXPECT_EQ(dialog->m_progressBar->maximum(), 4);
        EXPECT_EQ(dialog->m_exitButton->text(), "&Stop!");
        EXPECT_TRUE(dialog->m_exitButton->isEnabled());
        EXPECT_EQ(dialog->m_running, 1);
        // Only Stop is left to use; the bar keeps its look.
        for (const auto& [w, enabled] : EnabledStates(dialog.get())) {
            if (w != dialog->m_exitButton && w != dialog->m_progressBar) {
                EXPECT_FALSE(enabled) << w->objectName().toStdString() << " " << w->metaObject()->className();
            }
        }
    };
    MessageBoxRecorder boxes;
    Start();

    EXPECT_TRUE(seen);
    EXPECT_EQ(driver.handled, 1);
    EXPECT_EQ(caption, "Save Directory");
    EXPECT_EQ(title, "Select a directory where Quenfold will place generated FON files:");
    EXPECT_EQ(chooserParent, dialog.get());
    EXPECT_EQ(openedAt, QDir::homePath());  // nothing remembered yet
    EXPECT_EQ(out.names(), (Names{"DejaVu Sans Mono_10.sfp", "DejaVu Sans Mono_8.sfp", "Liberation Serif_10.sfp",
                                  "Liberation Serif_8.sfp"}));
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(boxes.requests.empty());

    // The window as it was, but the Exit label and the remembered folder.
    EXPECT_TRUE(dialog->m_progressBar->isHidden());
    EXPECT_EQ(dialog->m_exitButton->text(), "E&xit");
    EXPECT_EQ(dialog->m_running, 0);
    EXPECT_FALSE(dialog->runActive());
    EXPECT_EQ(EnabledStates(dialog.get()), before);
    EXPECT_FALSE(resolutionX->isEnabled());
    EXPECT_EQ(dialog->m_outputFolder, outPath);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(GuiRunFixture, SecondRunOffersTheFirstRunsFolderAndCancellingChangesNothing)
{
    Check({"DejaVu Serif"});
    SetSizes("8");
    SetFormat(1);
    const QString first = SubFolder(out, "first");
    {
        ModalDriver driver([&](QWidget* modal) { ChooseFolder(modal, first + "/"); });
        Start();
    }
    ASSERT_EQ(dialog->m_outputFolder, first);  // no trailing separator
    const auto written = std::filesystem::last_write_time(first.toStdString() + "/DejaVu Serif_8.fnt");

    QString openedAt, selected;
    ModalDriver driver([&](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(chooser, nullptr);
        openedAt = chooser->directory().absolutePath();
        selected = chooser->selectedFiles().value(0);
        QTest::keyClick(chooser, Qt::Key_Escape);
    });
    const std::map<QWidget*, bool> before = EnabledStates(dialog.get());
    Start();
    EXPECT_EQ(driver.handled, 1);
    EXPECT_EQ(openedAt, first);
    EXPECT_EQ(selected, first);
    // Nothing moved: no progress, no relabelling, no file touched, the folder kept.
    EXPECT_TRUE(positions.empty());
    EXPECT_TRUE(dialog->m_progressBar->isHidden());
    EXPECT_EQ(EnabledStates(dialog.get()), before);
    EXPECT_EQ(dialog->m_outputFolder, first);
    EXPECT_EQ(std::filesystem::last_write_time(first.toStdString() + "/DejaVu Serif_8.fnt"), written);
}

// Stop while the second of four sizes of the first font is made: that font is finished and
// written, no later font is begun, and the dialog stays open.
class GuiRunStop : public GuiRunFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(GuiRunStop, DuringARunEndsAfterTheCurrentFont)
{
    const std::string how = GetParam();
    Check({"Liberation Serif", "DejaVu Sans Mono", "Liberation Mono"});
    SetSizes("8, 10, 12, 14");
    SetFormat(1);
    ModalDriver driver([&](QWidget* modal) { ChooseFolder(modal, outPath); });
    bool stillOpen = false;
    onPosition = [&](int position) {
        if (position != 1)
            return;
        if (how == "button") {
            QTest::mouseClick(dialog->m_exitButton, Qt::LeftButton);
            EXPECT_EQ(dialog->m_running, 0);
            // A second click while the font is finished still only stops.
            QTest::mouseClick(dialog->m_exitButton, Qt::LeftButton);
        } else if (how == "escape") {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : dialog.get(), Qt::Key_Escape);
            EXPECT_EQ(dialog->m_running, 0);
        } else {
            dialog->close();
        }
        stillOpen = dialog->isVisible();
        // Taken at once, though the run sees it only once the font is done.
        EXPECT_EQ(dialog->m_exitButton->text(), "Stopping...");
        EXPECT_FALSE(dialog->m_exitButton->isEnabled());
    };
    Start();

    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(dialog->m_exitButton->isEnabled());
    // Array order: DejaVu Sans Mono comes first of the three.
    EXPECT_EQ(out.names(), (Names{"DejaVu Sans Mono_10.fnt", "DejaVu Sans Mono_12.fnt", "DejaVu Sans Mono_14.fnt",
                                  "DejaVu Sans Mono_8.fnt"}));
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(dialog->m_running, 0);
    EXPECT_TRUE(dialog->m_progressBar->isHidden());
    EXPECT_EQ(dialog->m_exitButton->text(), "E&xit");
    if (how == "close") {
        // Closed once the run had cleaned up.
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    } else {
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->m_startButton->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(GuiRun, GuiRunStop, ::testing::Values("button", "escape", "close"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(GuiRunFixture, YesToAllAndSkipAllHoldForTheRestOfTheirRunOnly)
{
    // Hebrew: DejaVu Sans has it, the Liberation faces do not.
    Check({"Liberation Serif", "Liberation Mono", "DejaVu Sans", "Liberation Sans"});
    SetSizes("8");
    SetFormat(1);
    SetCodePage(1255);
    TempDir yesFolder, skipFolder;
    const QString yes = PathOf(yesFolder);
    const QString skip = PathOf(skipFolder);

    int answerId = res::confirm_ids::kYesToAll;
    QStringList messages;
    ModalDriver driver([&](QWidget* modal) {
        if (auto* prompt = qobject_cast<ConfirmDialog*>(modal)) {
            EXPECT_EQ(prompt->parentWidget(), dialog.get());
            messages << Control<QLabel>(prompt, res::confirm_ids::kMessage)->text();
            QTest::mouseClick(Control<QPushButton>(prompt, answerId), Qt::LeftButton);
            return;
        }
        ChooseFolder(modal, answerId == res::confirm_ids::kYesToAll ? yes : skip);
    });

    Start();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0],
              "Font Liberation Mono cannot support selected codepage. You can continue process and Windows will try "
              "to substitute codepage, but it is not recommended.\n\nDo you want to continue exporting this font or "
              "you want to skip it?");
    EXPECT_EQ(yesFolder.names(), (Names{"DejaVu Sans_8.fnt", "Liberation Mono_8.fnt", "Liberation Sans_8.fnt",
                                        "Liberation Serif_8.fnt"}));
    for (const FontListEntry& entry : dialog->m_fonts) {
        if (entry.selected) {
            EXPECT_EQ(entry.logFont.lfCharSet, 177) << entry.name;  // the Hebrew character set
        }
    }

    // The next run asks again; Skip all then leaves every later unsupported font out unasked.
    messages.clear();
    answerId = res::confirm_ids::kSkipAll;
    Start();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Font Liberation Mono "));
    EXPECT_EQ(skipFolder.names(), Names{"DejaVu Sans_8.fnt"});
    EXPECT_EQ(positions, (std::vector<int>{0}));
}

TEST_F(GuiRunFixture, OversizedFonIsAskedAndNoEndsTheRun)
{
    ASSERT_EQ(ScreenDpiY(), 96);
    Check({"Liberation Sans", "Liberation Serif"});
    SetSizes("36, 48");
    SetResolution("96");
    SetFormat(0);
    ModalDriver driver([&](QWidget* modal) { ChooseFolder(modal, outPath); });
    MessageBoxRecorder boxes([](const MessageBoxRequest&) { return QMessageBox::No; });
    Start();

    ASSERT_EQ(boxes.requests.size(), 1u);
    const MessageBoxRequest& asked = boxes.requests[0];
    EXPECT_EQ(asked.text, "Size of the FON file generated for a font Liberation Sans exceed 64K, so font is not "
                          "created.\n\nContinue fonts generation?");
    EXPECT_EQ(asked.title, "Quenfold");
    EXPECT_EQ(asked.icon, QMessageBox::Warning);
    EXPECT_EQ(asked.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(asked.parent, dialog.get());
    // No library for Liberation Sans, and Liberation Serif never begun.
    EXPECT_EQ(out.names(), Names{});
    EXPECT_EQ(positions, (std::vector<int>{0, 1}));
    EXPECT_EQ(dialog->m_exitButton->text(), "E&xit");
}

TEST_F(GuiRunFixture, EveryFailureIsListedInOneMessageOnceTheWindowIsBack)
{
    Check({"DejaVu Serif", "Liberation Mono"});
    SetSizes("8, 10");
    SetFormat(1);
    const QString gone = SubFolder(out, "gone");
    ModalDriver driver([&](QWidget* modal) { ChooseFolder(modal, gone); });
    // The folder disappears once the first file is written: none of the later files can be.
    onPosition = [&](int position) {
        if (position == 0)
            std::filesystem::remove_all(gone.toStdString());
    };
    bool restored = false;
    MessageBoxRecorder boxes([&](const MessageBoxRequest&) {
        restored = dialog->m_progressBar->isHidden() && dialog->m_exitButton->text() == "E&xit" &&
                   dialog->m_startButton->isEnabled();
        return QMessageBox::Ok;
    });
    Start();

    ASSERT_EQ(boxes.requests.size(), 1u);
    const MessageBoxRequest& shown = boxes.requests[0];
    EXPECT_TRUE(restored);
    EXPECT_EQ(shown.title, "Quenfold");
    EXPECT_EQ(shown.icon, QMessageBox::Warning);
    // A short summary; every file with its reason in the details. The folder went once the first
    // file was written: the three after it could not be, and the first was lost with the folder.
    EXPECT_TRUE(shown.text.startsWith("4 files could not be written: DejaVu Serif_10.fnt, ")) << shown.text.toStdString();
    for (const char* name : {"DejaVu Serif_10.fnt", "Liberation Mono_8.fnt", "Liberation Mono_10.fnt"})
        EXPECT_TRUE(shown.details.contains(gone + "/" + name + ": ")) << name;
    EXPECT_TRUE(shown.details.contains(gone + "/DejaVu Serif_8.fnt: lost: its folder was removed during the run"));
    // Every font was still tried.
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(GuiRunFixture, ALibraryWrittenWithoutASizeIsReportedWrittenAndTheSizeLeftOut)
{
    Check({"DejaVu Sans"});
    SetSizes("8, 72");  // 72 points at 96 dpi is more than a FON's 16-bit offsets reach
    SetFormat(0);
    const QString folder = SubFolder(out, "fon");
    ModalDriver driver([&](QWidget* modal) { ChooseFolder(modal, folder); });
    MessageBoxRecorder boxes([&](const MessageBoxRequest&) { return QMessageBox::Ok; });
    Start();

    EXPECT_TRUE(QFileInfo::exists(folder + "/DejaVu Sans.fon"));
    EXPECT_EQ(dialog->m_statusLine->text(),
              "1 file written; 1 size left out of its library. Folder: " + QDir::toNativeSeparators(folder));
    ASSERT_EQ(boxes.requests.size(), 1u);
    EXPECT_TRUE(boxes.requests[0].text.startsWith("1 size was left out of a library that was written."))
        << boxes.requests[0].text.toStdString();
    EXPECT_FALSE(boxes.requests[0].text.contains("could not be written"));
    EXPECT_TRUE(boxes.requests[0].details.contains("DejaVu Sans.fon: 72 points left out of the library"))
        << boxes.requests[0].details.toStdString();
}

TEST_F(GuiRunFixture, StatusLineSaysWhatWasWrittenWhereAndOpensTheFolder)
{
    Check({"DejaVu Serif"});
    SetSizes("8, 10");
    SetFormat(1);
    StatusLine* status = dialog->m_statusLine;
    EXPECT_TRUE(status->text().isEmpty());
    ModalDriver driver([&](QWidget* modal) { ChooseFolder(modal, outPath); });
    bool hiddenDuringRun = false;
    onPosition = [&](int) { hiddenDuringRun = status->isHidden() && dialog->m_progressBar->isVisible(); };
    MessageBoxRecorder boxes;
    Start();

    EXPECT_TRUE(hiddenDuringRun);
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), "2 files written. Folder: " + outPath);
    // A line too narrow for the text keeps how many files and cuts the folder's end.
    const int width = status->width();
    status->resize(status->messageLabel()->fontMetrics().horizontalAdvance("2 files written. Folder: /") +
                       status->linkLabel()->sizeHint().width() + 40,
                   status->height());
    EXPECT_TRUE(status->messageLabel()->text().startsWith("2 files written. Fol"))
        << status->messageLabel()->text().toStdString();
    EXPECT_TRUE(status->messageLabel()->text().endsWith(QChar(0x2026)));
    status->resize(width, status->height());
    EXPECT_EQ(status->linkText(), "Open folder");
    ASSERT_TRUE(status->linkLabel()->isVisible());
    FolderCatcher catcher;
    QTest::mouseClick(status->linkLabel(), Qt::LeftButton, {}, status->linkLabel()->rect().center());
    EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(outPath)});
}

TEST_F(GuiRunFixture, ManyFailuresGiveABoxThatFitsTheScreenWithEveryFileInScrollingDetails)
{
    Check({"DejaVu Serif", "Liberation Mono", "Liberation Sans"});
    SetSizes("8, 9, 10, 11, 12, 13, 14");
    SetFormat(1);
    const QString gone = SubFolder(out, "gone");
    // The folder goes once the first file is written: none of the twenty after it can be, and the
    // first goes with it.
    onPosition = [&](int position) {
        if (position == 0)
            std::filesystem::remove_all(gone.toStdString());
    };
    QString summary, details;
    int detailsHeight = 0, scrollRange = 0;
    QRect box;
    ModalDriver driver([&](QWidget* modal) {
        auto* message = qobject_cast<QMessageBox*>(modal);
        if (!message) {
            ChooseFolder(modal, gone);
            return;
        }
        summary = message->text();
        for (QAbstractButton* b : message->buttons()) {
            if (message->buttonRole(b) == QMessageBox::ActionRole)
                QTest::mouseClick(b, Qt::LeftButton);  // "Show Details..."
        }
        QTest::qWait(50);
        if (auto* text = message->findChild<QTextEdit*>(); text && text->isVisible()) {
            details = text->toPlainText();
            detailsHeight = text->height();
            scrollRange = text->verticalScrollBar()->maximum();
        }
        box = message->frameGeometry();
        message->done(QMessageBox::Ok);
    });
    Start();

    EXPECT_EQ(driver.handled, 2);
    EXPECT_TRUE(summary.startsWith("21 files could not be written: DejaVu Serif_9.fnt, DejaVu Serif_10.fnt, "
                                   "DejaVu Serif_11.fnt and 18 more."))
        << summary.toStdString();
    for (const char* font : {"DejaVu Serif", "Liberation Mono", "Liberation Sans"})
        for (int size = 8; size <= 14; ++size)
            EXPECT_TRUE(details.contains(QStringLiteral("%1/%2_%3.fnt: ").arg(gone, font).arg(size))) << font << size;
    // The list scrolls inside the box, and the whole box is on the screen.
    EXPECT_GT(scrollRange, 0);
    EXPECT_GT(detailsHeight, 0);
    const QRect screen = dialog->screen()->availableGeometry();
    EXPECT_LE(box.height(), screen.height());
    EXPECT_LE(box.width(), screen.width());
    // The status line counts what went wrong too.
    EXPECT_EQ(dialog->m_statusLine->text(), "No file written; 21 could not be written. Folder: " + gone);
    EXPECT_TRUE(dialog->m_statusLine->linkText().isEmpty());  // the folder is gone
}

TEST(GuiRun, ResolutionTheFontsCannotHoldKeepsTheRunFromStarting)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    auto* resolutionX = Control<QLineEdit>(dialog.get(), ids::kResolutionX);
    for (const char* bad : {"0", "65536", "abc"}) {
        resolutionX->setText(bad);
        MessageBoxRecorder boxes;
        ModalDriver driver([](QWidget* modal) { modal->close(); });
        QTest::mouseClick(dialog->m_startButton, Qt::LeftButton);
        QTest::qWait(20);
        ASSERT_EQ(boxes.requests.size(), 1u) << bad;
        EXPECT_EQ(boxes.requests[0].text, std::string(bad) == "65536" ? "Please enter a number from 1 to 65535."
                                                                       : "Please enter a positive integer.");
        EXPECT_EQ(driver.handled, 0) << "the folder chooser came up for " << bad;
        EXPECT_EQ(QApplication::focusWidget(), resolutionX);
        EXPECT_EQ(dialog->m_running, 0);
    }
}

}  // namespace
}  // namespace qf

#include "gui_run_test.moc"
