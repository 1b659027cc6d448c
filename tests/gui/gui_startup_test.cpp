// The main dialog as it opens, the Start rule, Exit, and the controls' ids, order and places.
#include "GuiTestSupport.h"

#include "run/CodePageTable.h"
#include "ui/FontCheckList.h"
#include "ui/FontNameEditor.h"
#include "ui/PreviewPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;

TEST(GuiStartup, OpensWithTheDefaults)
{
    auto dialog = test::MakeDialog();
    EXPECT_EQ(dialog->windowTitle(), "Voska Quenfold 1.0");
    EXPECT_EQ(Control<QLineEdit>(dialog.get(), ids::kSizes)->text(), "8, 10, 12, 14");
    EXPECT_EQ(dialog->m_sizes, (std::vector<int32_t>{8, 10, 12, 14}));
    EXPECT_EQ(Control<QLineEdit>(dialog.get(), ids::kPreviewText)->text(), "ABCabc123");
    EXPECT_TRUE(Control<QCheckBox>(dialog.get(), ids::kProportional)->isChecked());
    EXPECT_EQ(Control<QComboBox>(dialog.get(), ids::kFormat)->currentIndex(), 0);
    EXPECT_EQ(dialog->codePageIndex(), 0);
    EXPECT_EQ(dialog->m_running, 0);
    EXPECT_TRUE(dialog->m_outputFolder.isEmpty());

    // The screen's logical dpi is the default resolution.
    EXPECT_EQ(dialog->m_resolutionX, static_cast<uint32_t>(ScreenDpiX()));
    EXPECT_EQ(dialog->m_resolutionY, static_cast<uint32_t>(ScreenDpiY()));
    EXPECT_EQ(Control<QLineEdit>(dialog.get(), ids::kResolutionX)->text(), QString::number(ScreenDpiX()));
    EXPECT_EQ(Control<QLineEdit>(dialog.get(), ids::kResolutionY)->text(), QString::number(ScreenDpiY()));

    // The list: first item current, nothing checked, the count in the label; Start disabled.
    EXPECT_EQ(dialog->m_fontList->count(), 4);
    EXPECT_EQ(dialog->m_fontList->currentPosition(), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(dialog->m_fontList->check(i));
    EXPECT_EQ(Control<QLabel>(dialog.get(), ids::kSelectedLabel)->text(), "Selected: 0/4");
    EXPECT_FALSE(dialog->m_startButton->isEnabled());

    EXPECT_TRUE(dialog->m_progressBar->isHidden());
    EXPECT_TRUE(dialog->m_placeholder->isHidden());
    EXPECT_EQ(dialog->m_exitButton->text(), "Exit");
    EXPECT_TRUE(dialog->m_nameEditor->isHidden());
    EXPECT_EQ(dialog->m_preview->geometry(), dialog->m_placeholder->geometry());
}

TEST(GuiStartup, ListIsSortedAndItemsCarryTheirEntryIndex)
{
    auto dialog = test::MakeDialog();
    QStringList texts;
    std::vector<int> data;
    for (int i = 0; i < dialog->m_fontList->count(); ++i) {
        texts << dialog->m_fontList->item(i)->text();
        data.push_back(dialog->m_fontList->itemData(i));
    }
    EXPECT_EQ(texts, (QStringList{" Alpha Serif", " beta Bold", " Mono Regular", " Zephyr Sans"}));
    EXPECT_EQ(data, test::kSortedItemData);
}

TEST(GuiStartup, WithoutFontsTheListIsEmptyAndStartStaysDisabled)
{
    auto dialog = test::MakeDialog({});
    EXPECT_EQ(dialog->m_fontList->count(), 0);
    EXPECT_EQ(dialog->m_fontList->currentPosition(), -1);
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    EXPECT_EQ(Control<QLabel>(dialog.get(), ids::kSelectedLabel)->text(), "Selected: 0/0");
    EXPECT_FALSE(dialog->m_startButton->isEnabled());
}

TEST(GuiStartup, InstalledFontsFillTheList)
{
    MainDialog dialog;
    EXPECT_EQ(static_cast<size_t>(dialog.m_fontList->count()), dialog.m_fonts.size());
}

TEST(GuiStartButton, EnabledExactlyWhenAFontIsCheckedAndASizeRequested)
{
    auto dialog = test::MakeDialog();
    auto* sizes = Control<QLineEdit>(dialog.get(), ids::kSizes);
    QPushButton* start = dialog->m_startButton;

    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(Control<QLabel>(dialog.get(), ids::kSelectedLabel)->text(), "Selected: 4/4");

    sizes->setText("abc");
    EXPECT_FALSE(start->isEnabled());
    sizes->setText("2, 1");
    EXPECT_FALSE(start->isEnabled());
    sizes->setText("3");
    EXPECT_TRUE(start->isEnabled());

    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kReset), Qt::LeftButton);
    EXPECT_FALSE(start->isEnabled());
    QTest::keyClicks(sizes, "8");
    EXPECT_TRUE(start->isEnabled());

    // Unchecking one of all leaves Start enabled; Deselect disables it.
    dialog->m_fontList->setCurrentPosition(2);
    dialog->m_fontList->setFocus();
    QTest::keyClick(dialog->m_fontList, Qt::Key_Space);
    EXPECT_EQ(Control<QLabel>(dialog.get(), ids::kSelectedLabel)->text(), "Selected: 3/4");
    EXPECT_TRUE(start->isEnabled());
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kDeselect), Qt::LeftButton);
    EXPECT_EQ(Control<QLabel>(dialog.get(), ids::kSelectedLabel)->text(), "Selected: 0/4");
    EXPECT_FALSE(start->isEnabled());
    for (const FontListEntry& entry : dialog->m_fonts)
        EXPECT_EQ(entry.selected, 0);
}

TEST(GuiStartup, ExitClosesWhenIdleAndOnlyStopsARun)
{
    auto dialog = test::MakeDialog();
    dialog->show();
    dialog->m_running = 1;
    QTest::mouseClick(dialog->m_exitButton, Qt::LeftButton);
    EXPECT_EQ(dialog->m_running, 0);
    EXPECT_TRUE(dialog->isVisible());

    // Enter never closes the dialog.
    dialog->accept();
    EXPECT_TRUE(dialog->isVisible());

    QTest::mouseClick(dialog->m_exitButton, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST(GuiStartup, StartTakesTheControlsIntoTheMembers)
{
    auto dialog = test::MakeDialog();
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    auto* format = Control<QComboBox>(dialog.get(), ids::kFormat);
    {
        const QSignalBlocker quiet(format);  // as if the change had not been handled yet
        format->setCurrentIndex(4);
    }
    // Start goes on to the folder chooser, which is closed here.
    test::CloseModals([&] { QTest::mouseClick(dialog->m_startButton, Qt::LeftButton); });
    EXPECT_EQ(dialog->m_format, 4);
}

TEST(GuiStartup, EveryTemplateControlExistsInTabOrder)
{
    auto dialog = test::MakeDialog();
    std::vector<QWidget*> focusable;
    for (const res::ControlTemplate& t : res::kMainControls) {
        if (t.id == res::kNoControlId)
            continue;
        QWidget* w = dialog->control(t.id);
        ASSERT_NE(w, nullptr) << t.id;
        EXPECT_EQ(ControlIdOf(w), t.id);
        if (w->focusPolicy() != Qt::NoFocus)
            focusable.push_back(w);
    }
    ASSERT_GE(focusable.size(), 2u);
    EXPECT_EQ(focusable.front(), dialog->control(ids::kAbout));
    for (size_t i = 0; i + 1 < focusable.size(); ++i) {
        // Tab goes from each control to the next one of the template that takes the focus.
        QWidget* next = focusable[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || !next->isVisibleTo(dialog.get()) ||
               next == dialog->m_nameEditor)
            next = next->nextInFocusChain();
        EXPECT_EQ(next, focusable[i + 1]) << ControlIdOf(focusable[i]);
    }
    // Label mnemonics lead to the control after them.
    EXPECT_GE(dialog->findChildren<QLabel*>().size(), 4);
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text() == "Re&quested sizes:") {
            EXPECT_EQ(label->buddy(), dialog->control(ids::kSizes));
        }
        if (label->text() == "Res&olution:") {
            EXPECT_EQ(label->buddy(), dialog->control(ids::kResolutionX));
        }
    }
}

TEST(GuiStartup, ControlsArePlacedFromDialogUnits)
{
    auto dialog = test::MakeDialog();
    const DialogUnits units = FontBaseUnits(dialog->font());
    // Base units are never narrower than the font's, and the dialog is the template's size in them.
    const QSize size = dialog->size();
    EXPECT_GE(size.width(), units.toPixelsX(411) - 1);
    EXPECT_EQ(size.height(), units.toPixelsY(247));
    const double bx = size.width() / 411.0, by = size.height() / 247.0;
    for (const res::ControlTemplate& t : res::kMainControls) {
        if (t.id == res::kNoControlId || t.kind == res::ControlKind::DropDownList)
            continue;
        const QRect r = dialog->control(t.id)->geometry();
        EXPECT_NEAR(r.x(), t.x * bx, 2.0) << t.id;
        EXPECT_NEAR(r.y(), t.y * by, 2.0) << t.id;
        EXPECT_NEAR(r.width(), t.cx * bx, 2.0) << t.id;
        EXPECT_NEAR(r.height(), t.cy * by, 2.0) << t.id;
    }
}

}  // namespace
}  // namespace qf
