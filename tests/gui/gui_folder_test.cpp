// The folder chooser over Qt's directory dialog: the remembered folder trimmed and preselected,
// the texts, the hook that enables OK, the status line and the path handed back.
#include "RunTestSupport.h"

#include "ui/FolderChooser.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace qf {
namespace {

using test::ChooserOk;
using test::ModalDriver;
using test::PathOf;
using test::SubFolder;
using test::TempDir;

QFileDialog* AsChooser(QWidget* modal)
{
    return qobject_cast<QFileDialog*>(modal);
}

QString LabelText(QWidget* modal, const char* name)
{
    auto* label = modal->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<none>");
}

TEST(GuiFolder, TrimmingKeepsTheRoot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/tmp/out/  ", "/tmp/out"},  {"/tmp/out \t", "/tmp/out"}, {"/tmp/out//", "/tmp/out/"},
        {"/tmp/out", "/tmp/out"},     {"/", "/"},                  {"/  ", "/"},
        {"   ", ""},                  {"", ""},
    };
    for (const auto& [given, trimmed] : cases)
        EXPECT_EQ(FolderChooser::trimFolder(given), trimmed) << '"' << given << '"';
}

TEST(GuiFolder, RemembersFolderIsTrimmedPreselectedAndReturned)
{
    TempDir temp;
    const QString out = SubFolder(temp, "out");
    FolderChooser chooser;
    chooser.caption = QStringLiteral("Save Directory");
    chooser.title = QStringLiteral("Select a directory where Quenfold will place generated FON files:");
    chooser.initialFolder = out + QStringLiteral("/  ");
    QWidget owner;
    owner.show();

    QString caption, title, selected;
    bool statusShown = true, okEnabled = false;
    QWidget* parent = nullptr;
    ModalDriver driver([&](QWidget* modal) {
        QFileDialog* dialog = AsChooser(modal);
        ASSERT_NE(dialog, nullptr);
        caption = dialog->windowTitle();
        parent = dialog->parentWidget();
        title = LabelText(dialog, FolderChooser::kTitleName);
        statusShown = dialog->findChild<QLabel*>(FolderChooser::kStatusName)->isVisible();
        selected = dialog->selectedFiles().value(0);
        okEnabled = QTest::qWaitFor([&] { return ChooserOk(dialog)->isEnabled(); }, 5000);
        QTest::mouseClick(ChooserOk(dialog), Qt::LeftButton);
    });
    ASSERT_EQ(chooser.browse(&owner), 1);
    EXPECT_EQ(chooser.initialFolder, out);  // the member keeps the trimmed value
    EXPECT_EQ(selected, out);
    EXPECT_EQ(chooser.path, out);
    EXPECT_EQ(caption, "Save Directory");
    EXPECT_EQ(parent, &owner);
    EXPECT_EQ(title, chooser.title);
    EXPECT_FALSE(statusShown);
    EXPECT_TRUE(okEnabled);
}

TEST(GuiFolder, EmptyTitleReadsOpenAndCancelGivesNothing)
{
    FolderChooser chooser;
    chooser.path = QStringLiteral("unchanged");
    QString title;
    ModalDriver driver([&](QWidget* modal) {
        title = LabelText(modal, FolderChooser::kTitleName);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    EXPECT_EQ(chooser.browse(nullptr), 0);
    EXPECT_EQ(title, "Open");
    EXPECT_EQ(chooser.path, "unchanged");
    EXPECT_EQ(driver.handled, 1);
}

TEST(GuiFolder, TheRootComesBackWithItsSeparator)
{
    FolderChooser chooser;
    chooser.initialFolder = QStringLiteral("/");
    ModalDriver driver([&](QWidget* modal) { test::ChooseFolder(modal, QStringLiteral("/")); });
    ASSERT_EQ(chooser.browse(nullptr), 1);
    EXPECT_EQ(chooser.path, "/");
}

// Refuses folders named "no" and says so on the status line.
class PickyChooser : public FolderChooser {
public:
    QStringList seen;
    bool validateFolder(const QString& folder, QString& status) override
    {
        seen << folder;
        EXPECT_TRUE(status.isEmpty());
        if (folder.endsWith(QStringLiteral("/no"))) {
            status = QStringLiteral("Not this one.");
            return false;
        }
        status = QStringLiteral("Fine.");
        return true;
    }
};

TEST(GuiFolder, EverySelectionIsValidatedAndTheHookDecidesOk)
{
    TempDir temp;
    const QString yes = SubFolder(temp, "yes");
    const QString no = SubFolder(temp, "no");
    PickyChooser chooser;
    chooser.showStatus = true;
    chooser.initialFolder = no;

    bool refusedAtOpen = false, refusedOk = false, allowedLater = false, stayedOpen = false;
    QString statusAtOpen, statusLater;
    ModalDriver driver([&](QWidget* modal) {
        QFileDialog* dialog = AsChooser(modal);
        ASSERT_NE(dialog, nullptr);
        QPushButton* ok = ChooserOk(dialog);
        auto* status = dialog->findChild<QLabel*>(FolderChooser::kStatusName);
        refusedAtOpen = QTest::qWaitFor([&] { return chooser.seen.contains(no) && !ok->isEnabled(); }, 5000);
        statusAtOpen = status->text();
        // Typing and taking it back makes the dialog set its button by its own rules, and an
        // accept that comes some other way than the button: neither gets past the hook.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        dialog->activateWindow();
        (void)QTest::qWaitForWindowActive(dialog);
        name->setFocus();
        QTest::keyClicks(name, "x");
        name->clear();
        QTest::keyClick(name, Qt::Key_Return);
        QTest::qWait(20);
        refusedOk = !ok->isEnabled();
        static_cast<QDialog*>(dialog)->accept();
        stayedOpen = dialog->isVisible();

        dialog->setDirectory(yes);
        allowedLater = QTest::qWaitFor([&] { return ok->isEnabled(); }, 5000);
        statusLater = status->text();
        EXPECT_TRUE(status->isVisible());
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    ASSERT_EQ(chooser.browse(nullptr), 1);
    EXPECT_TRUE(refusedAtOpen);
    EXPECT_EQ(statusAtOpen, "Not this one.");
    EXPECT_TRUE(refusedOk);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(allowedLater);
    EXPECT_EQ(statusLater, "Fine.");
    EXPECT_EQ(chooser.path, yes);
    // Each change of folder was seen once, in order.
    ASSERT_GE(chooser.seen.size(), 2);
    EXPECT_EQ(chooser.seen.front(), no);
    EXPECT_EQ(chooser.seen.back(), yes);
    for (qsizetype i = 1; i < chooser.seen.size(); ++i)
        EXPECT_NE(chooser.seen[i], chooser.seen[i - 1]);
}

TEST(GuiFolder, OnlyFoldersInsideTheRootCanBeChosen)
{
    TempDir temp;
    FolderChooser chooser;
    {
        // A root that is no folder: nothing is shown.
        chooser.rootFolder = PathOf(temp) + QStringLiteral("/missing");
        ModalDriver driver([](QWidget* modal) { modal->close(); });
        EXPECT_EQ(chooser.browse(nullptr), 0);
        QTest::qWait(20);
        EXPECT_EQ(driver.handled, 0);
    }
    const QString root = SubFolder(temp, "root");
    const QString inside = SubFolder(temp, "root/inside");
    chooser.rootFolder = root;
    QString openedAt;
    bool outsideRefused = false;
    ModalDriver driver([&](QWidget* modal) {
        QFileDialog* dialog = AsChooser(modal);
        ASSERT_NE(dialog, nullptr);
        openedAt = dialog->directory().absolutePath();
        dialog->setDirectory(PathOf(temp));
        outsideRefused = QTest::qWaitFor([&] { return !ChooserOk(dialog)->isEnabled(); }, 5000);
        test::ChooseFolder(dialog, inside);
    });
    ASSERT_EQ(chooser.browse(nullptr), 1);
    EXPECT_EQ(openedAt, root);
    EXPECT_TRUE(outsideRefused);
    EXPECT_EQ(chooser.path, inside);
}

}  // namespace
}  // namespace qf
