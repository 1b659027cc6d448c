// The main window on any screen: resizing from its template size, the keyboard (mnemonics, the
// first focus, type-to-find in the font list), tooltips for cut names and a disabled Start, and the
// code page list's height.
#include "GuiTestSupport.h"

#include "tests/TestSupport.h"
#include "ui/Artwork.h"

#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"
#include "ui/StatusLine.h"
#include "ui/TargetView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;

// The letter after a lone "&", lower case; none without one.
QChar Mnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == u'&') {
            if (text[i + 1] != u'&')
                return text[i + 1].toLower();
            ++i;
        }
    }
    return {};
}

QString CurrentName(const FontCheckList* list)
{
    return list->currentItem() ? list->currentItem()->text().trimmed() : QString();
}

TEST(GuiWindow, GrowsFromItsTemplateSizeWithTheListAndThePreviewsTakingTheRoom)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    const QSize base = dialog->size();
    EXPECT_EQ(dialog->minimumSize(), base);
    EXPECT_GT(dialog->maximumWidth(), base.width());
    EXPECT_GT(dialog->maximumHeight(), base.height());

    std::map<int, QRect> before;
    for (const int id : {ids::kFontList, ids::kPlaceholder, ids::kTargetView, ids::kStart, ids::kExit, ids::kAbout,
                         ids::kSizes, ids::kReset, ids::kCodePage, ids::kSelectAll, ids::kStatusLine})
        before[id] = dialog->control(id)->geometry();
    const QRect previewBefore = dialog->m_preview->geometry();

    const QSize grown = base + QSize(200, 150);
    dialog->resize(grown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->size() == grown; }));
    auto now = [&](int id) { return dialog->control(id)->geometry(); };

    // The list takes half the width and all the height; the previews share the other half.
    EXPECT_EQ(now(ids::kFontList).size(), before[ids::kFontList].size() + QSize(100, 150));
    EXPECT_EQ(dialog->m_preview->geometry(), now(ids::kPlaceholder));
    EXPECT_GT(dialog->m_preview->width(), previewBefore.width());
    EXPECT_EQ(dialog->m_preview->height(), previewBefore.height() + 150);
    EXPECT_GT(now(ids::kTargetView).width(), before[ids::kTargetView].width() + 50);
    EXPECT_EQ(now(ids::kTargetView).height(), before[ids::kTargetView].height() + 150);
    EXPECT_LT(dialog->m_preview->geometry().right(), now(ids::kTargetView).left());
    EXPECT_EQ(now(ids::kTargetView).right(), now(ids::kExit).right());
    // Everything under them moves down; the buttons keep their size in their corners.
    for (const int id : {ids::kStart, ids::kExit})
        EXPECT_EQ(now(id), before[id].translated(200, 150)) << id;
    EXPECT_EQ(now(ids::kAbout), before[ids::kAbout].translated(200, 0));
    EXPECT_EQ(now(ids::kReset), before[ids::kReset].translated(200, 0));
    EXPECT_EQ(now(ids::kSizes).width(), before[ids::kSizes].width() + 100);
    EXPECT_EQ(now(ids::kCodePage).top(), before[ids::kCodePage].top() + 150);
    EXPECT_EQ(now(ids::kSelectAll), before[ids::kSelectAll].translated(100, 150));
    EXPECT_EQ(now(ids::kStatusLine).width(), before[ids::kStatusLine].width() + 200);
    // The banner is drawn for its new width, not stretched.
    QLabel* banner = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (!label->pixmap().isNull() && label->y() <= 0)
            banner = label;
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->pixmap().deviceIndependentSize().toSize(), banner->size());
    EXPECT_GE(banner->geometry().right(), dialog->width() - 1);

    // Never smaller than the template.
    dialog->resize(base - QSize(100, 100));
    QTest::qWait(20);
    EXPECT_GE(dialog->width(), base.width());
    EXPECT_GE(dialog->height(), base.height());
}

TEST(GuiWindow, OpensLargerOnALargeScreenInTheTemplatesProportions)
{
    auto dialog = test::MakeDialog();
    const QSize base = dialog->minimumSize();
    const QRect room = dialog->screen()->availableGeometry();
    const QSize opened = dialog->size();
    if (base.width() * 4 >= room.width() * 3 || base.height() * 4 >= room.height() * 3) {
        // The test platform's own screen leaves no room to grow.
        EXPECT_EQ(opened, base);
    } else {
        EXPECT_GT(opened.width(), base.width() * 11 / 10);
        EXPECT_LE(opened.width(), room.width() * 3 / 4 + 1);
        EXPECT_LE(opened.height(), room.height() * 3 / 4 + 1);
        EXPECT_NEAR(double(opened.width()) / opened.height(), double(base.width()) / base.height(), 0.02);
        // The previews take the height gained: a third of the window and more, against a quarter.
        EXPECT_GT(dialog->control(ids::kTargetView)->height() * 3, opened.height());
    }

    // The same on full HD and on a laptop screen, each a process of its own.
    if (room.width() == 800) {
        for (const char* screen : {"1920, \"height\": 1080", "1280, \"height\": 800"}) {
            const test::TempDir dir;
            const std::string config = dir.path() + "/screen.json";
            std::ofstream(config) << "{\"screens\": [{\"name\": \"s\", \"x\": 0, \"y\": 0, \"width\": " << screen
                                  << ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}";
            const std::string command =
                "QT_QPA_PLATFORM=offscreen:configfile=" + config + " " +
                test::shellQuote(QCoreApplication::applicationFilePath().toStdString()) +
                " --gtest_brief=1 --gtest_filter=GuiWindow.OpensLargerOnALargeScreenInTheTemplatesProportions";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
        }
    }
}

TEST(GuiWindow, TheAboutButtonShowsItsFocusAgainstTheBanner)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    QWidget* about = dialog->control(ids::kAbout);
    const QRect around = about->geometry().adjusted(-3, -3, 3, 3);
    dialog->m_fontList->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
    const QImage plain = dialog->grab(around).toImage();
    about->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
    const QImage focused = dialog->grab(around).toImage();
    ASSERT_EQ(plain.size(), focused.size());
    // Where focus changes the picture, at least one pixel changes by far more than a shade.
    int strongest = 0;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x)
            strongest = std::max(strongest, std::abs(qGray(plain.pixel(x, y)) - qGray(focused.pixel(x, y))));
    }
    EXPECT_GT(strongest, 80);
}

TEST(GuiWindow, TheSmallIconsDrawTheEmblemOnWholePixels)
{
    // 44 inked cells, each a whole square of the accent at every size: none smeared into the tile.
    const QRgb accent = qRgb(0xf4, 0xb9, 0x42);
    for (const int size : {16, 24, 32}) {
        const QImage icon = ApplicationIconImage(size).convertToFormat(QImage::Format_RGB32);
        const int cell = size == 16 ? 1 : 2;  // a 32-pixel icon has 3-pixel cells less a gap of one
        int inked = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                inked += icon.pixel(x, y) == accent;
        EXPECT_GE(inked, 44 * cell * cell) << size;
    }
}

TEST(GuiWindow, KeyboardMnemonicsAreDistinctFocusStartsOnTheListTypingFindsANamedStyle)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    EXPECT_EQ(QApplication::focusWidget(), dialog->m_fontList);

    std::map<QChar, QStringList> owners;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        QString text;
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            text = button->text();
        else if (const auto* label = qobject_cast<const QLabel*>(w); label && label->buddy())
            text = label->text();
        if (const QChar c = Mnemonic(text); !c.isNull())
            owners[c] << text;
    }
    for (const auto& [c, texts] : owners)
        EXPECT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
    // Every label of a control leads to it, the code page's and the format's included.
    for (const auto& [key, id] : std::vector<std::pair<Qt::Key, int>>{
             {Qt::Key_C, ids::kCodePage}, {Qt::Key_F, ids::kFormat}, {Qt::Key_O, ids::kResolutionX},
             {Qt::Key_Q, ids::kSizes}}) {
        QTest::keyClick(dialog.get(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), dialog->control(id)) << id;
    }
    // Alt+R is Reset's alone.
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("8");
    QTest::keyClick(dialog.get(), Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->m_sizes.empty(); }));

    // Type-to-find goes by the style's name (the list's texts start with a blank).
    FontCheckList* list = dialog->m_fontList;
    list->setFocus();
    const int pause = QApplication::keyboardInputInterval() + 50;
    QTest::keyClicks(list, "mo");
    EXPECT_EQ(CurrentName(list), "Mono Regular");
    QTest::qWait(pause);
    QTest::keyClicks(list, "Z");
    EXPECT_EQ(CurrentName(list), "Zephyr Sans");
    QTest::qWait(pause);
    QTest::keyClicks(list, "b");
    EXPECT_EQ(CurrentName(list), "beta Bold");
    // Nothing starts with these letters: the current item stays.
    QTest::qWait(pause);
    QTest::keyClicks(list, "qx");
    EXPECT_EQ(CurrentName(list), "beta Bold");
    // A space within a name being typed continues it, and ticks nothing.
    QTest::qWait(pause);
    QTest::keyClicks(list, "Mono R");
    EXPECT_EQ(CurrentName(list), "Mono Regular");
    for (const FontListEntry& entry : dialog->m_fonts)
        EXPECT_EQ(entry.selected, 0) << entry.name;
}

TEST(GuiWindow, TooltipsShowCutNamesWholeAndSayWhyStartIsDisabled)
{
    const char* longName = "Extraordinarily Long Family Name Semi Condensed Extra Bold Italic";
    std::vector<FontListEntry> fonts = test::SyntheticFonts();
    fonts.push_back(test::MakeEntry(longName, "DejaVu Sans", 700, 0, {0}));
    auto dialog = test::MakeDialog(fonts);
    test::ShowActive(dialog.get());

    FontCheckList* list = dialog->m_fontList;
    int longPosition = -1, shortPosition = -1;
    for (int p = 0; p < list->count(); ++p) {
        if (list->item(p)->text() == QString(" ") + longName)
            longPosition = p;
        if (list->item(p)->text() == " Mono Regular")
            shortPosition = p;
    }
    ASSERT_GE(longPosition, 0);
    EXPECT_TRUE(list->isElided(longPosition));
    EXPECT_FALSE(list->isElided(shortPosition));
    auto hover = [&](int position) {
        const QPoint at = list->visualItemRect(list->item(position)).center();
        QHelpEvent event(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
    };
    hover(longPosition);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), longName);
    hover(shortPosition);
    EXPECT_FALSE(QToolTip::isVisible() && QToolTip::text() == "Mono Regular");
    QToolTip::hideText();

    QPushButton* start = dialog->m_startButton;
    auto* sizes = Control<QLineEdit>(dialog.get(), ids::kSizes);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(start->toolTip().contains("Check at least one font")) << start->toolTip().toStdString();
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    sizes->setText("1, 2");
    EXPECT_FALSE(start->isEnabled());
    EXPECT_EQ(start->toolTip(), "Type at least one size of 3 points or more.");
    sizes->setText("12, 5000");
    EXPECT_FALSE(start->isEnabled());
    EXPECT_EQ(start->toolTip(), dialog->SizesProblem());
    sizes->setText("12");
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(start->toolTip().isEmpty());
}

TEST(GuiWindow, CodePageListOpensFifteenRowsHighAndScrolls)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    QComboBox* codePages = dialog->m_codePageList;
    ASSERT_EQ(codePages->count(), 28);
    codePages->showPopup();
    QAbstractItemView* view = codePages->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }));
    const int row = view->visualRect(codePages->model()->index(0, 0)).height();
    ASSERT_GT(row, 0);
    EXPECT_NEAR(view->viewport()->height(), 15 * row, row / 2);
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(view->verticalScrollBar()->isVisible());  // so it can be seen that more follow
    const QRect screen = dialog->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(view->window()->frameGeometry())) << view->window()->height();
    codePages->hidePopup();
}

}  // namespace
}  // namespace qf
