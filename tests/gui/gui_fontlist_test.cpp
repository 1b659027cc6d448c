// Check boxes of the font list and renaming entries in place.
#include "GuiTestSupport.h"

#include "ui/FontCheckList.h"
#include "ui/FontNameEditor.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;

QString Label(const MainDialog& dialog)
{
    return Control<QLabel>(&dialog, ids::kSelectedLabel)->text();
}

void DoubleClickThroughWindow(MainDialog& dialog, QPoint viewportPos)
{
    const QPoint at = dialog.m_fontList->viewport()->mapTo(&dialog, viewportPos);
    QTest::mouseDClick(dialog.windowHandle(), Qt::LeftButton, {}, at);
}

TEST(GuiFontList, ACheckBoxClickChangesTheEntryItsItemDataNames)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    FontCheckList* list = dialog->m_fontList;
    QSignalSpy checks(list, &FontCheckList::checkChanged);

    // Position 3 shows entry 0, position 1 entry 3.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->checkBoxRect(3).center());
    EXPECT_EQ(checks.count(), 1);
    EXPECT_EQ(list->currentPosition(), 3);
    EXPECT_TRUE(list->check(3));
    EXPECT_EQ(dialog->m_fonts[0].selected, 1);
    EXPECT_EQ(dialog->m_fonts[3].selected, 0);
    EXPECT_EQ(Label(*dialog), "Selected: 1/4");

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->checkBoxRect(1).center());
    EXPECT_EQ(dialog->m_fonts[3].selected, 1);
    EXPECT_EQ(Label(*dialog), "Selected: 2/4");

    // A click on the text only moves the current item.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->itemRect(2).center());
    EXPECT_EQ(list->currentPosition(), 2);
    EXPECT_FALSE(list->check(2));
    EXPECT_EQ(checks.count(), 2);

    // The space bar toggles the current item.
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(list->check(2));
    EXPECT_EQ(dialog->m_fonts[2].selected, 1);
    EXPECT_EQ(Label(*dialog), "Selected: 3/4");

    // A double click on a check box toggles it twice and starts no rename. It goes through the
    // window, which delivers press, release, press, double click, release as a desktop does.
    DoubleClickThroughWindow(*dialog, list->checkBoxRect(0).center());
    EXPECT_FALSE(list->check(0));
    EXPECT_EQ(dialog->m_fonts[1].selected, 0);
    EXPECT_TRUE(dialog->m_nameEditor->isHidden());
}

TEST(GuiFontList, SelectAllAndDeselectSetEveryEntry)
{
    auto dialog = test::MakeDialog();
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(dialog->m_fontList->check(i));
    for (const FontListEntry& entry : dialog->m_fonts)
        EXPECT_EQ(entry.selected, 1);
    EXPECT_EQ(dialog->m_selectedCount, 4);
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kDeselect), Qt::LeftButton);
    EXPECT_EQ(dialog->m_selectedCount, 0);
    EXPECT_FALSE(dialog->m_fontList->check(3));
}

struct RenameFixture : ::testing::Test {
    void SetUp() override
    {
        dialog = test::MakeDialog();
        test::ShowActive(dialog.get());
        list = dialog->m_fontList;
        editor = dialog->m_nameEditor;
    }
    void StartRenameWithF2(int position)
    {
        list->setCurrentPosition(position);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F2);
    }
    std::unique_ptr<MainDialog> dialog;
    FontCheckList* list = nullptr;
    FontNameEditor* editor = nullptr;
};

TEST_F(RenameFixture, F2OpensTheEditorOverTheNameInsideTheList)
{
    StartRenameWithF2(1);
    ASSERT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->parentWidget(), list->viewport());
    EXPECT_EQ(editor->text(), "beta Bold");
    EXPECT_EQ(editor->item(), 1);
    EXPECT_EQ(QApplication::focusWidget(), editor);
    const QRect item = list->itemRect(1);
    EXPECT_EQ(editor->geometry().top(), item.top());
    EXPECT_GT(editor->geometry().left(), list->checkBoxRect(1).right());
}

TEST_F(RenameFixture, EnterCommitsAndTheItemKeepsItsPlaceCheckAndData)
{
    // Check the item first: the rename must keep it checked.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->checkBoxRect(0).center());
    ASSERT_EQ(dialog->m_fonts[1].selected, 1);
    StartRenameWithF2(0);
    editor->selectAll();
    QTest::keyClicks(editor, "Zzz Renamed");
    QSignalSpy starts(dialog->m_startButton, &QPushButton::clicked);
    QSignalSpy commits(editor, &FontNameEditor::committed);
    QTest::keyClick(editor, Qt::Key_Return);

    EXPECT_TRUE(editor->isHidden());
    EXPECT_EQ(starts.count(), 0);  // Enter belongs to the editor, not to the default button
    // Once, although the editor loses the focus to the list after Enter.
    ASSERT_EQ(commits.count(), 1);
    EXPECT_EQ(commits[0], (QVariantList{0, QStringLiteral("Zzz Renamed")}));
    EXPECT_EQ(dialog->m_fonts[1].name, "Zzz Renamed");
    EXPECT_EQ(list->item(0)->text(), " Zzz Renamed");  // not moved to its sorted place
    EXPECT_EQ(list->itemData(0), 1);
    EXPECT_TRUE(list->check(0));
    EXPECT_EQ(list->currentPosition(), 0);
    EXPECT_EQ(QApplication::focusWidget(), list);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(RenameFixture, EscapeAndFocusLossKeepTheTypedName)
{
    StartRenameWithF2(2);
    editor->selectAll();
    QTest::keyClicks(editor, "Typed");
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());  // Escape did not reach the dialog
    EXPECT_EQ(dialog->m_fonts[2].name, "Typed");
    EXPECT_EQ(list->item(2)->text(), " Typed");

    // Clicking elsewhere commits too, and the focus stays where the user clicked.
    StartRenameWithF2(3);
    editor->selectAll();
    QTest::keyClicks(editor, "Elsewhere");
    auto* sizes = Control<QLineEdit>(dialog.get(), ids::kSizes);
    sizes->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(editor->isHidden());
    EXPECT_EQ(dialog->m_fonts[0].name, "Elsewhere");
    EXPECT_EQ(QApplication::focusWidget(), sizes);
}

TEST_F(RenameFixture, NamesAreCutTo63CharactersAndMayBeEmpty)
{
    list->setCurrentPosition(3);
    dialog->BeginRename();
    // Longer than the editor lets anyone type.
    emit editor->committed(editor->item(), QString(80, u'n'));
    EXPECT_EQ(dialog->m_fonts[0].name, std::string(63, 'n'));

    dialog->BeginRename();
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(dialog->m_fonts[0].name, "");
    EXPECT_EQ(list->item(3)->text(), " ");

    // Characters outside the ANSI code page cannot be stored in a font's name.
    dialog->BeginRename();
    editor->setText(QString::fromUtf8("Caf\u00e9 \u4e2d"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(dialog->m_fonts[0].name, "Caf\xe9 ?");
    EXPECT_EQ(list->item(3)->text(), QString::fromUtf8(" Caf\u00e9 ?"));

    // Typed or pasted, such characters and those past the 63rd are refused where they are typed,
    // and the editor says why.
    dialog->BeginRename();
    editor->clear();
    for (const QChar c : QString::fromUtf8("Caf\u00e9\u20ac \u0416?")) {
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(editor, &typed);
    }
    EXPECT_EQ(editor->text(), QString::fromUtf8("Caf\u00e9\u20ac ?"));
    EXPECT_EQ(QToolTip::text(), FontNameEditor::refusal());
    QToolTip::hideText();
    editor->setText(QString(63, u'n'));
    QTest::keyClick(editor, Qt::Key_X);
    EXPECT_EQ(editor->text(), QString(63, u'n'));
    EXPECT_EQ(QToolTip::text(), FontNameEditor::refusal());
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(dialog->m_fonts[0].name, std::string(63, 'n'));
}

TEST_F(RenameFixture, DoubleClickOnTheTextStartsRenaming)
{
    DoubleClickThroughWindow(*dialog, list->itemRect(2).center());
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->item(), 2);
    EXPECT_EQ(editor->text(), "Mono Regular");
}

}  // namespace
}  // namespace qf
