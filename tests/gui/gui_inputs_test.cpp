// Sizes, resolution, "Proportional", the format list, the code pages and the data exchange.
#include "GuiTestSupport.h"

#include "run/CodePageTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;
using Sizes = std::vector<int32_t>;

TEST(GuiSizes, TypedTextIsParsedAndLeftAsTyped)
{
    auto dialog = test::MakeDialog();
    auto* sizes = Control<QLineEdit>(dialog.get(), ids::kSizes);
    const std::pair<const char*, Sizes> cases[] = {
        {"14;8,,10 8", {8, 10, 14}},
        {"2, 3", {3}},
        {"0", {}},
        {"-4", {}},
        {"12pt, 9", {9, 12}},
        {"8\t10", {8}},
        {"abc", {}},
        {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        sizes->setText(text);
        EXPECT_EQ(dialog->m_sizes, expected) << text;
        EXPECT_EQ(dialog->m_sizesText, text);
        EXPECT_EQ(sizes->text(), text);
    }
}

TEST(GuiSizes, ResetEmptiesTheEditWithoutItsChangeHandler)
{
    auto dialog = test::MakeDialog();
    auto* sizes = Control<QLineEdit>(dialog.get(), ids::kSizes);
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kReset), Qt::LeftButton);
    EXPECT_EQ(sizes->text(), "");
    EXPECT_TRUE(dialog->m_sizesText.isEmpty());
    EXPECT_TRUE(dialog->m_sizes.empty());
}

TEST(GuiResolution, ProportionalCopiesTypedResolutionToTheOtherEdit)
{
    auto dialog = test::MakeDialog();
    auto* x = Control<QLineEdit>(dialog.get(), ids::kResolutionX);
    auto* y = Control<QLineEdit>(dialog.get(), ids::kResolutionY);
    y->setText("96");
    x->clear();
    QTest::keyClicks(x, "120");
    EXPECT_EQ(y->text(), "120");
    EXPECT_EQ(dialog->m_resolutionX, 120u);
    EXPECT_EQ(dialog->m_resolutionY, 120u);

    // The text itself is copied, not a reformatted number.
    QTest::keyClicks(y, "dpi");
    EXPECT_EQ(x->text(), "120");
    y->setText("200dpi");
    EXPECT_EQ(x->text(), "200dpi");
    EXPECT_EQ(dialog->m_resolutionX, 200u);

    // An other edit without a number is left alone.
    y->clear();
    x->setText("150");
    EXPECT_EQ(y->text(), "");
    EXPECT_EQ(dialog->m_resolutionX, 150u);
}

TEST(GuiResolution, UncheckedProportionalKeepsThemIndependent)
{
    auto dialog = test::MakeDialog();
    auto* x = Control<QLineEdit>(dialog.get(), ids::kResolutionX);
    auto* y = Control<QLineEdit>(dialog.get(), ids::kResolutionY);
    QTest::mouseClick(Control<QCheckBox>(dialog.get(), ids::kProportional), Qt::LeftButton);
    EXPECT_EQ(dialog->m_proportional, 0);
    y->setText("96");
    x->setText("300");
    EXPECT_EQ(y->text(), "96");
    EXPECT_EQ(dialog->m_resolutionX, 300u);
    EXPECT_EQ(dialog->m_resolutionY, 96u);
    // Checking it again does not equalise them by itself.
    QTest::mouseClick(Control<QCheckBox>(dialog.get(), ids::kProportional), Qt::LeftButton);
    EXPECT_EQ(dialog->m_proportional, 1);
    EXPECT_EQ(y->text(), "96");
}

TEST(GuiResolution, PrinterFormatsFix300AndDisableTheEdits)
{
    auto dialog = test::MakeDialog();
    auto* x = Control<QLineEdit>(dialog.get(), ids::kResolutionX);
    auto* y = Control<QLineEdit>(dialog.get(), ids::kResolutionY);
    auto* format = Control<QComboBox>(dialog.get(), ids::kFormat);
    x->setText("96");

    format->setCurrentIndex(2);  // SFP
    EXPECT_EQ(dialog->m_format, 2);
    EXPECT_FALSE(x->isEnabled());
    EXPECT_FALSE(y->isEnabled());
    EXPECT_EQ(x->text(), "300");
    EXPECT_EQ(y->text(), "300");
    EXPECT_EQ(dialog->m_resolutionX, 300u);
    EXPECT_EQ(dialog->m_resolutionY, 300u);

    format->setCurrentIndex(3);  // SFL
    EXPECT_FALSE(x->isEnabled());

    format->setCurrentIndex(4);  // BDF: editable again, the values stay
    EXPECT_TRUE(x->isEnabled());
    EXPECT_TRUE(y->isEnabled());
    EXPECT_EQ(x->text(), "300");
    EXPECT_EQ(dialog->m_resolutionX, 300u);

    x->setText("72");
    format->setCurrentIndex(1);  // FNT leaves the typed value
    EXPECT_EQ(x->text(), "72");
    EXPECT_EQ(dialog->m_resolutionX, 72u);
}

TEST(GuiDataExchange, BadResolutionStopsTheTransferAtThatEdit)
{
    test::MessageBoxRecorder messages;
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    auto* x = Control<QLineEdit>(dialog.get(), ids::kResolutionX);
    auto* y = Control<QLineEdit>(dialog.get(), ids::kResolutionY);
    auto* preview = Control<QLineEdit>(dialog.get(), ids::kPreviewText);
    auto* proportional = Control<QCheckBox>(dialog.get(), ids::kProportional);

    QTest::mouseClick(proportional, Qt::LeftButton);  // independent edits for this test
    x->setText("abc");
    {
        const QSignalBlocker quiet(y);  // a text the members have not seen yet
        y->setText("150");
    }
    const uint32_t yBefore = dialog->m_resolutionY;
    QTest::keyClicks(preview, "X");

    ASSERT_EQ(messages.requests.size(), 1u);
    EXPECT_EQ(messages.requests[0].text, "Please enter a positive integer.");
    EXPECT_EQ(messages.requests[0].title, "Quenfold");
    EXPECT_EQ(QApplication::focusWidget(), x);
    EXPECT_EQ(x->selectedText(), "abc");
    // Everything after 1685 in the exchange order kept its value.
    EXPECT_EQ(dialog->m_previewText, "ABCabc123");
    EXPECT_EQ(dialog->m_resolutionY, yBefore);

    // A bad 1686 lets 1685 through and stops before the preview text.
    messages.requests.clear();
    x->setText(" 120\t");
    y->setText("-5");
    EXPECT_FALSE(dialog->UpdateData(true));
    EXPECT_EQ(dialog->m_resolutionX, 120u);
    EXPECT_EQ(dialog->m_previewText, "ABCabc123");
    EXPECT_EQ(QApplication::focusWidget(), y);
    EXPECT_EQ(messages.requests.size(), 1u);

    // Zero and values past 16 bits are refused the same way, a number too large with its range;
    // good values pass.
    const QString range = "Please enter a number from 1 to 65535.", integer = "Please enter a positive integer.";
    for (const auto& [bad, told] : std::vector<std::pair<const char*, QString>>{
             {"0", integer}, {"65536", range}, {"4294967297", range}, {"1 2", integer}, {"", integer}}) {
        messages.requests.clear();
        y->setText(bad);
        EXPECT_FALSE(dialog->UpdateData(true)) << bad;
        ASSERT_EQ(messages.requests.size(), 1u);
        EXPECT_EQ(messages.requests[0].text, told) << bad;
    }
    y->setText("65535");
    EXPECT_TRUE(dialog->UpdateData(true));
    EXPECT_EQ(dialog->m_resolutionY, 65535u);
    EXPECT_EQ(dialog->m_previewText, "ABCabc123X");
}

TEST(GuiDataExchange, FillingTheControlsRunsNoChangeHandler)
{
    auto dialog = test::MakeDialog();
    dialog->m_sizesText = "20";
    dialog->m_resolutionX = 75;
    dialog->m_resolutionY = 80;
    dialog->m_format = 2;
    EXPECT_TRUE(dialog->UpdateData(false));
    EXPECT_EQ(Control<QLineEdit>(dialog.get(), ids::kSizes)->text(), "20");
    EXPECT_EQ(Control<QLineEdit>(dialog.get(), ids::kResolutionY)->text(), "80");
    // No sizes handler: the parsed list is still the old one; no format handler: edits enabled.
    EXPECT_EQ(dialog->m_sizes, (Sizes{8, 10, 12, 14}));
    EXPECT_EQ(dialog->m_resolutionX, 75u);
    EXPECT_TRUE(dialog->control(ids::kResolutionX)->isEnabled());
}

TEST(GuiCodePages, ListShowsTheTableInOrder)
{
    auto dialog = test::MakeDialog();
    QComboBox* list = dialog->m_codePageList;
    ASSERT_EQ(list->count(), 28);
    for (int i = 0; i < 28; ++i)
        EXPECT_EQ(list->itemText(i), QString::fromUtf8(CodePageTable::row(i).description)) << i;
    EXPECT_EQ(list->itemText(0), "Windows Latin 1 (US, Western Europe)");
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(dialog->codePageIndex(), 0);
    list->setCurrentIndex(27);
    EXPECT_EQ(dialog->codePageIndex(), 27);
}

}  // namespace
}  // namespace qf
