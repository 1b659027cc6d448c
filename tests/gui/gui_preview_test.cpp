// The preview: its frame, one line per requested size in ascending order, the character set it
// draws in, and what it is handed as the inputs change.
#include "GuiTestSupport.h"

#include "platform/gdi.h"
#include "run/CodePageTable.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;

std::vector<int32_t> LineSizes(const std::vector<PreviewPane::Line>& lines)
{
    std::vector<int32_t> sizes;
    for (const auto& line : lines)
        sizes.push_back(line.size);
    return sizes;
}

std::vector<PreviewPane::Line> Render(MainDialog& dialog, QImage* out = nullptr)
{
    QImage canvas(dialog.m_preview->size(), QImage::Format_RGB32);
    auto lines = dialog.m_preview->render(canvas);
    if (out)
        *out = canvas;
    return lines;
}

TEST(GuiPreview, OneLinePerSizeSmallestFirstEachBelowThePrevious)
{
    auto dialog = test::MakeDialog();
    auto lines = Render(*dialog);
    EXPECT_EQ(LineSizes(lines), (std::vector<int32_t>{8, 10, 12, 14}));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().top, 2);  // inside the two-pixel border
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].top, lines[i - 1].top + lines[i - 1].height);

    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("14, 8");
    EXPECT_EQ(LineSizes(Render(*dialog)), (std::vector<int32_t>{8, 14}));
    // Each size is drawn on a copy: the entry keeps the height it was listed with.
    const int entry = dialog->m_fontList->itemData(dialog->m_fontList->currentPosition());
    EXPECT_EQ(dialog->m_fonts[static_cast<size_t>(entry)].logFont.lfHeight, 0);

    // An empty preview text still advances a line per size.
    Control<QLineEdit>(dialog.get(), ids::kPreviewText)->clear();
    EXPECT_EQ(Render(*dialog).size(), 2u);
}

TEST(GuiPreview, DrawsAtTheDevicePixelRatioNotScaledUp)
{
    auto dialog = test::MakeDialog();
    const auto single = Render(*dialog);
    QImage dense(dialog->m_preview->size() * 2, QImage::Format_RGB32);
    dense.setDevicePixelRatio(2);
    const auto lines = dialog->m_preview->render(dense);
    ASSERT_EQ(LineSizes(lines), LineSizes(single));
    // The border keeps its width on the screen, and every line is drawn for twice the dpi.
    EXPECT_EQ(lines.front().top, 4);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_NEAR(lines[i].height, 2 * single[i].height, 2) << lines[i].size;
}

TEST(GuiPreview, DrawsInkInTheCurrentFontLargerSizesTaller)
{
    auto dialog = test::MakeDialog();  // the current entry is DejaVu Serif, a test font
    QImage canvas;
    const auto lines = Render(*dialog, &canvas);
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_GT(lines[i].height, lines[i - 1].height);
    // Black ink inside each line's cell, nothing but white below the last one.
    auto inkIn = [&](int top, int bottom) {
        int ink = 0;
        for (int y = std::max(top, 2); y < std::min(bottom, canvas.height() - 2); ++y)
            for (int x = 2; x < canvas.width() - 2; ++x)
                ink += canvas.pixel(x, y) == qRgb(0, 0, 0);
        return ink;
    };
    for (const auto& line : lines)
        EXPECT_GT(inkIn(line.top, line.top + line.height), 0) << line.size;
    EXPECT_EQ(inkIn(lines.back().top + lines.back().height, canvas.height()), 0);
}

TEST(GuiPreview, NothingButTheFrameWithoutSizesOrCurrentFont)
{
    auto dialog = test::MakeDialog();
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kReset), Qt::LeftButton);
    QImage canvas;
    EXPECT_TRUE(Render(*dialog, &canvas).empty());
    // The white area inside the frame, and a frame of the sunken kind: dark top-left edge.
    const QRgb white = qRgb(255, 255, 255);
    for (int y = 2; y < canvas.height() - 2; y += 7)
        for (int x = 2; x < canvas.width() - 2; x += 7)
            ASSERT_EQ(canvas.pixel(x, y), white) << x << "," << y;
    const QPalette& colours = dialog->m_preview->palette();
    EXPECT_EQ(canvas.pixel(0, 0), colours.color(QPalette::Shadow).rgb());
    EXPECT_EQ(canvas.pixel(1, 1), colours.color(QPalette::Dark).rgb());
    EXPECT_EQ(canvas.pixel(canvas.width() - 1, canvas.height() - 1), colours.color(QPalette::Light).rgb());

    auto empty = test::MakeDialog({});
    EXPECT_TRUE(Render(*empty).empty());
}

TEST(GuiPreview, DrawsInTheCodePagesCharacterSetAndChangesNoEntry)
{
    auto dialog = test::MakeDialog();
    const std::vector<FontListEntry> listed = dialog->m_fonts;
    auto entriesAsListed = [&] {
        for (size_t i = 0; i < listed.size(); ++i) {
            if (std::memcmp(&dialog->m_fonts[i].logFont, &listed[i].logFont, sizeof(gdi::LOGFONT)) != 0)
                return false;
        }
        return true;
    };
    dialog->m_codePageList->setCurrentIndex(2);  // Windows Cyrillic
    ASSERT_EQ(dialog->m_fontList->itemData(0), 1);
    const PreviewContent& content = dialog->m_preview->content();
    ASSERT_TRUE(content.font);
    EXPECT_STREQ(content.font->lfFaceName, "DejaVu Serif");
    EXPECT_EQ(content.font->lfCharSet, 0);  // as listed: the pane applies the code page itself
    EXPECT_EQ(content.codePageRow, 2);

    // A Cyrillic letter is drawn as itself, not as the "?" a Western font would give it.
    auto* text = Control<QLineEdit>(dialog.get(), ids::kPreviewText);
    QImage cyrillic, question;
    text->setText(QString::fromUtf8("\u0416"));
    Render(*dialog, &cyrillic);
    text->setText("?");
    Render(*dialog, &question);
    EXPECT_NE(cyrillic, question);

    dialog->m_fontList->setCurrentPosition(1);  // entry 3, DEFAULT_CHARSET
    Render(*dialog);
    EXPECT_TRUE(entriesAsListed());
}

TEST(GuiPreview, SizesARunCannotRenderAreNotDrawnAndThePreviewSaysWhyStartIsDisabled)
{
    auto dialog = test::MakeDialog();
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("10, 5000, 999999999");
    EXPECT_FALSE(dialog->m_startButton->isEnabled());
    EXPECT_NE(dialog->SizesProblem().indexOf("4000"), -1) << dialog->SizesProblem().toStdString();
    QImage canvas;
    const auto lines = Render(*dialog, &canvas);
    EXPECT_EQ(LineSizes(lines), (std::vector<int32_t>{10}));
    // The reason is written above the lines.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_GT(lines[0].top, 2);
    bool inked = false;
    for (int y = 2; y < lines[0].top; ++y)
        for (int x = 2; x < canvas.width() - 2; ++x)
            inked |= canvas.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_TRUE(inked);

    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("10, 4000");
    EXPECT_TRUE(dialog->m_startButton->isEnabled());
    EXPECT_TRUE(dialog->SizesProblem().isEmpty());
    EXPECT_EQ(Render(*dialog).front().top, 2);
}

TEST(GuiPreview, TypedTextIsEncodedForTheFontsCharacterSet)
{
    EXPECT_EQ(EncodeForCharset("ABCabc123", gdi::ANSI_CHARSET, 437), "ABCabc123");
    EXPECT_EQ(EncodeForCharset(QString::fromUtf8("\u00e9\u20ac"), gdi::ANSI_CHARSET, 437), "\xe9\x80");
    EXPECT_EQ(EncodeForCharset(QString::fromUtf8("\u0416"), gdi::RUSSIAN_CHARSET, 437), "\xc6");
    EXPECT_EQ(EncodeForCharset(QString::fromUtf8("\u0416"), gdi::OEM_CHARSET, 866), "\x86");
    EXPECT_EQ(EncodeForCharset(QString::fromUtf8("\u00c7"), gdi::OEM_CHARSET, 437), "\x80");
    EXPECT_EQ(EncodeForCharset(QString::fromUtf8("\u4e2d"), gdi::ANSI_CHARSET, 437), "?");
}

TEST(GuiPreview, RepaintsForTextFontCodePageAndSizesOnly)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    dialog->m_preview->installEventFilter(&counter);
    auto repainted = [&](const std::function<void()>& action) {
        QApplication::processEvents();
        counter.paints = 0;
        action();
        QApplication::processEvents();
        return counter.paints > 0;
    };
    EXPECT_TRUE(repainted([&] { Control<QLineEdit>(dialog.get(), ids::kPreviewText)->setText("Hello"); }));
    EXPECT_TRUE(repainted([&] { dialog->m_fontList->setCurrentPosition(2); }));
    EXPECT_TRUE(repainted([&] { dialog->m_codePageList->setCurrentIndex(5); }));
    EXPECT_TRUE(repainted([&] { Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("9"); }));
    EXPECT_FALSE(repainted([&] { QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton); }));
    EXPECT_EQ(dialog->m_previewText, "Hello");
    // What it repainted with.
    const PreviewContent& content = dialog->m_preview->content();
    EXPECT_EQ(content.text, "Hello");
    ASSERT_TRUE(content.font);
    EXPECT_STREQ(content.font->lfFaceName, "DejaVu Sans Mono");  // position 2 shows entry 2
    EXPECT_EQ(content.codePageRow, 5);
    EXPECT_EQ(content.sizes, (std::vector<int32_t>{9}));
}

}  // namespace
}  // namespace qf
