// The target view: its pixels against the bitmaps the writers store (a font resource read back by
// FreeType, a PCL soft font read back as a printer does), the inputs it follows, and large sizes
// made away from the window's thread.
#include "GuiTestSupport.h"

#include "tests/FreeTypeReader.h"
#include "tests/PclDecoder.h"
#include "tests/TestSupport.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"
#include "ui/TargetView.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QScrollBar>
#include <QToolTip>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;

// The sample: a descender, a character with ink left of its origin at some sizes, and one above
// ASCII, which the view must draw through the code page as the files hold it.
const char* const kSample = "Ajg1\u00e9";

// Writes a font with the batch front end, which shares the run with the window; its bytes.
std::string WriteWithCli(const test::TempDir& dir, const std::string& options, const std::string& file)
{
    const std::string command = "cd " + test::shellQuote(dir.path()) + " && " +
                                test::shellQuote(QUENFOLD_CLI_PATH) + " -q " + options + " 'DejaVu Sans'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return test::readFile(dir.file(file));
}

// Makes the installed test font of that name the font list's current entry.
void MakeCurrent(MainDialog* dialog, const std::string& name)
{
    FontCheckList* list = dialog->m_fontList;
    for (int p = 0; p < list->count(); ++p) {
        if (dialog->m_fonts[static_cast<size_t>(list->itemData(p))].name == name)
            list->setCurrentPosition(p);
    }
}

// The window over the installed test fonts with DejaVu Sans current, large enough for the target
// view to show a line whole once its magnification is turned down.
std::unique_ptr<MainDialog> DialogOnDejaVuSans()
{
    auto dialog = std::make_unique<MainDialog>();
    MakeCurrent(dialog.get(), "DejaVu Sans");
    test::ShowActive(dialog.get());
    dialog->resize(1600, 1000);
    return dialog;
}

// Counts what a view does to lay itself out again: its viewport resized, a scroll bar shown or
// hidden.
class Relayouts : public QObject {
public:
    explicit Relayouts(TargetView* view)
    {
        for (QObject* watched : {static_cast<QObject*>(view->viewport()), static_cast<QObject*>(view->horizontalScrollBar()),
                                 static_cast<QObject*>(view->verticalScrollBar())})
            watched->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        count += type == QEvent::Resize || type == QEvent::Show || type == QEvent::Hide;
        return false;
    }
};

// Lets the view react to a resize, then counts how often it lays itself out again.
int RelayoutsAfterSettling(TargetView* view)
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    const Relayouts seen(view);
    for (int i = 0; i < 8; ++i)
        QApplication::processEvents();
    return seen.count;
}

// Turns the magnification down to `m` with Ctrl and the wheel.
void Magnify(TargetView* view, int m)
{
    const QPoint at = view->viewport()->rect().center();
    QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * (m - view->magnification())),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
}

// What the view shows of its first line, pixel by pixel.
class Shown {
public:
    explicit Shown(const TargetView* view) : view_(view), canvas_(view->viewport()->size(), QImage::Format_RGB32)
    {
        view->render(canvas_);
    }
    // Whether pixel (x, y) of character k's cell is shown as ink.
    bool ink(int k, int x, int y) const
    {
        const QRect r = view_->pixelRect(0, k, x, y);
        EXPECT_TRUE(canvas_.rect().contains(r)) << k << " " << x << "," << y;
        return canvas_.pixel(r.center()) == qRgb(0, 0, 0);
    }
    // Whether a character other than k has ink at that place: set as text, neighbours' ink may
    // reach into each other's cells.
    bool neighbourInk(int k, int x, int y) const
    {
        const QRect r = view_->pixelRect(0, k, x, y);
        const TargetLine& line = view_->lines()[0];
        const int m = view_->magnification();
        for (size_t j = 0; j < line.glyphs.size(); ++j) {
            const QRect origin = view_->pixelRect(0, static_cast<int>(j), 0, 0);
            if (static_cast<int>(j) != k && line.glyphs[j].inkAt((r.x() - origin.x()) / m, (r.y() - origin.y()) / m))
                return true;
        }
        return false;
    }

private:
    const TargetView* view_;
    QImage canvas_;
};

TEST(GuiTarget, PixelsAreTheBitmapsTheWritersStore)
{
    ASSERT_EQ(ScreenDpiY(), 96);  // the batch front end's device context
    auto dialog = DialogOnDejaVuSans();
    TargetView* view = dialog->m_target;
    Control<QLineEdit>(dialog.get(), ids::kPreviewText)->setText(QString::fromUtf8(kSample));
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("12");
    test::TempDir files;

    // A whole cell per character, at the window's resolution.
    Control<QComboBox>(dialog.get(), ids::kFormat)->setCurrentIndex(1);
    Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText("96");
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete(); }, 30000));
    Magnify(view, 2);
    {
        const std::string fnt = WriteWithCli(files, "-f fnt -s 12 -r 96x96", "DejaVu Sans_12.fnt");
        const test::ReadFont read = test::readWinFont(reinterpret_cast<const uint8_t*>(fnt.data()), fnt.size());
        ASSERT_TRUE(read.error.empty()) << read.error;
        ASSERT_EQ(view->lines().size(), 1u);
        const TargetLine& line = view->lines()[0];
        ASSERT_TRUE(line.error.empty()) << line.error;
        EXPECT_EQ(line.height, read.header.pixel_height);
        EXPECT_EQ(line.ascent, read.header.ascent);
        ASSERT_EQ(line.glyphs.size(), 5u);
        EXPECT_EQ(line.glyphs[4].code, 0xE9);
        const Shown shown(view);
        // What the rasteriser draws for the writer, realised as a run realises the font.
        gdi::DeviceContext dc;
        const TargetRequest request = TargetView::MakeRequest(view->content(), 96, 96);
        GlyphRasteriser rasteriser(dc);
        ASSERT_TRUE(rasteriser.realise(request.font, 12, 96, 96));
        ASSERT_TRUE(rasteriser.prepare(10 * rasteriser.metrics().tmHeight));
        for (size_t k = 0; k < line.glyphs.size(); ++k) {
            const TargetGlyph& glyph = line.glyphs[k];
            const test::ReadGlyph& stored = read.glyphs[glyph.code - read.header.first_char];
            const RenderedGlyph drawn = rasteriser.render(glyph.code, 0);
            EXPECT_EQ(glyph.advance, drawn.cx) << k;
            for (int y = 0; y < line.height; ++y)
                for (int x = 0; x < drawn.cx; ++x)
                    EXPECT_EQ(glyph.inkAt(x, y), drawn.pixel(x, y)) << k << " " << x << "," << y;
            EXPECT_EQ(glyph.advance, stored.advance) << k;
            const int i = static_cast<int>(k);
            for (int y = 0; y < line.height; ++y) {
                for (int x = 0; x < glyph.advance; ++x) {
                    EXPECT_EQ(glyph.inkAt(x, y), stored.pixel(x, y)) << k << " " << x << "," << y;
                    EXPECT_EQ(shown.ink(i, x, y), stored.pixel(x, y) || shown.neighbourInk(i, x, y))
                        << k << " " << x << "," << y;
                }
            }
        }
        rasteriser.finish();
    }

    // Cut to the ink, and always at 300 dpi however the resolution edits read afterwards.
    Control<QComboBox>(dialog.get(), ids::kFormat)->setCurrentIndex(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete() && view->content().resolutionY == 300; }, 30000));
    Magnify(view, 2);
    {
        const std::string sfp = WriteWithCli(files, "-f sfp -s 12", "DejaVu Sans_12.sfp");
        const test::PclFont read = test::decodePcl(reinterpret_cast<const uint8_t*>(sfp.data()), sfp.size());
        ASSERT_TRUE(read.error.empty()) << read.error;
        const TargetLine& line = view->lines()[0];
        ASSERT_TRUE(line.error.empty()) << line.error;
        EXPECT_EQ(line.ascent, read.baseline);
        EXPECT_EQ(line.height, read.cellHeight);
        const Shown shown(view);
        int inkLeftOfOrigin = 0;
        for (size_t k = 0; k < line.glyphs.size(); ++k) {
            const TargetGlyph& glyph = line.glyphs[k];
            const auto stored = read.characters.find(glyph.code);
            ASSERT_NE(stored, read.characters.end()) << k;
            const test::PclCharacter& c = stored->second;
            EXPECT_EQ(glyph.advance * 4, c.deltaX) << k;
            EXPECT_EQ(glyph.left, c.leftOffset) << k;
            EXPECT_EQ(glyph.top, line.ascent - c.topOffset) << k;
            ASSERT_EQ(glyph.width, c.width) << k;
            ASSERT_EQ(glyph.height, c.height) << k;
            inkLeftOfOrigin += glyph.left < 0;
            const int i = static_cast<int>(k);
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const int cx = glyph.left + x, cy = glyph.top + y;
                    EXPECT_EQ(glyph.inkAt(cx, cy), c.storedPixel(x, y)) << k << " " << x << "," << y;
                    EXPECT_EQ(shown.ink(i, cx, cy), c.storedPixel(x, y) || shown.neighbourInk(i, cx, cy))
                        << k << " " << x << "," << y;
                }
            }
        }
        EXPECT_GT(inkLeftOfOrigin, 0);  // the "j": what a cell would cut off is shown
    }
}

TEST(GuiTarget, FollowsEveryInputAndMakesLargeSizesOffTheWindowsThread)
{
    auto dialog = test::MakeDialog();
    TargetView* view = dialog->m_target;
    const TargetContent& shown = view->content();
    const int entry = dialog->m_fontList->itemData(dialog->m_fontList->currentPosition());
    EXPECT_STREQ(shown.font->lfFaceName, dialog->m_fonts[static_cast<size_t>(entry)].logFont.lfFaceName);
    EXPECT_EQ(shown.text, "ABCabc123");
    EXPECT_EQ(shown.sizes, (std::vector<int32_t>{8, 10, 12, 14}));
    EXPECT_EQ(shown.resolutionX, ScreenDpiX());
    EXPECT_EQ(shown.storage, GlyphStorage::Cell);  // FON
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete(); }, 30000));
    ASSERT_EQ(view->lines().size(), 4u);
    for (const TargetLine& line : view->lines()) {
        EXPECT_TRUE(line.error.empty()) << line.error;
        EXPECT_EQ(line.glyphs.size(), 9u);
    }

    auto* format = Control<QComboBox>(dialog.get(), ids::kFormat);
    format->setCurrentIndex(3);  // SFL
    EXPECT_EQ(shown.resolutionX, 300);
    EXPECT_EQ(shown.storage, GlyphStorage::InkBox);
    format->setCurrentIndex(4);  // BDF: cut to the ink too, at the resolution typed
    Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText("120");
    EXPECT_EQ(shown.resolutionX, 120);
    EXPECT_EQ(shown.resolutionY, 120);
    EXPECT_EQ(shown.storage, GlyphStorage::InkBox);
    dialog->m_codePageList->setCurrentIndex(5);
    EXPECT_EQ(shown.codePageRow, 5);
    dialog->m_fontList->setCurrentPosition(2);
    EXPECT_STREQ(shown.font->lfFaceName, "DejaVu Sans Mono");
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("9, 5000");
    EXPECT_EQ(shown.sizes, std::vector<int32_t>{9});  // the size no run makes is left out

    // 72 points at 300 dpi: handed over at once, made on the view's own thread, and typing on
    // meanwhile starts again from the newest text.
    format->setCurrentIndex(1);
    Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText("300");
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("72");
    EXPECT_FALSE(view->isComplete());
    QTest::keyClicks(Control<QLineEdit>(dialog.get(), ids::kPreviewText), "xyz");
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete(); }, 60000));
    ASSERT_EQ(view->lines().size(), 1u);
    const TargetLine& large = view->lines()[0];
    EXPECT_TRUE(large.error.empty()) << large.error;
    EXPECT_EQ(large.size, 72);
    EXPECT_GT(large.height, 250);
    EXPECT_EQ(large.glyphs.size(), 12u);
}

// A view of its own over one of the test fonts, shown as a window.
std::unique_ptr<TargetView> ViewOf(const char* face, std::vector<int32_t> sizes, int32_t dpi)
{
    TargetContent content;
    gdi::LOGFONT font{};
    std::strncpy(font.lfFaceName, face, sizeof font.lfFaceName - 1);
    font.lfWeight = 400;
    content.font = font;
    content.codePageRow = 0;
    content.text = QStringLiteral("WAW ABCabc123");
    content.sizes = std::move(sizes);
    content.resolutionX = content.resolutionY = dpi;
    auto view = std::make_unique<TargetView>();
    view->resize(800, 450);
    view->show();
    view->setContent(std::move(content));
    return view;
}

// How far right line i reaches in the viewport, in device pixels.
int LineEnd(const TargetView* view, size_t i)
{
    const TargetLine& line = view->lines()[i];
    const int last = static_cast<int>(line.glyphs.size()) - 1;
    return view->pixelRect(static_cast<int>(i), last, line.glyphs.back().advance - 1, 0).right() + 1;
}

TEST(GuiTarget, SettlesAtOnceAndFitsTheWidestLineAtAnyWindowSize)
{
    struct Case {
        const char* face;
        std::vector<int32_t> sizes;
    };
    // Lines whose magnification steps within a scroll bar's height of the window sizes below;
    // the view once showed and hid its scroll bars for ever where the widest line only just did
    // not fit.
    for (const Case& c : {Case{"DejaVu Serif", {36}}, Case{"Liberation Serif", {8, 10, 12, 14}}}) {
        const auto view = ViewOf(c.face, c.sizes, 96);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete(); }, 30000)) << c.face;
        const qreal r = view->viewport()->devicePixelRatioF();
        if (!qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) {
            ASSERT_EQ(r, 1.5);
        }
        const int frame = view->width() - view->viewport()->width();
        for (const QSize window : {QSize(800, 450), QSize(1280, 800), QSize(1920, 1080), QSize(320, 280)}) {
            for (int dh = 0; dh < 60; dh += 12) {
                view->resize(window.width(), window.height() - dh);
                QApplication::processEvents();
                // Then just short of the widest line at the magnification chosen.
                int widest = 0;
                for (size_t i = 0; i < view->lines().size(); ++i)
                    widest = std::max(widest, LineEnd(view.get(), i));
                for (const int width : {window.width(), static_cast<int>(widest / r) + frame - 2}) {
                    view->resize(width, window.height() - dh);
                    const int relayouts = RelayoutsAfterSettling(view.get());
                    ASSERT_EQ(relayouts, 0) << c.face << " in " << view->width() << " x " << view->height();
                    // Every line whole across the view unless even one device pixel a pixel is too wide.
                    if (view->magnification() == 1)
                        continue;
                    for (size_t i = 0; i < view->lines().size(); ++i) {
                        EXPECT_LE(LineEnd(view.get(), i), view->viewport()->width() * r)
                            << c.face << " " << view->lines()[i].size << " pt in " << view->width() << " x "
                            << view->height();
                    }
                    EXPECT_FALSE(view->horizontalScrollBar()->isVisible()) << view->width();
                }
            }
        }
    }

    // The same at a device pixel ratio of 1.5, which is the whole application's, so in a process
    // of its own.
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) {
        const std::string command =
            "QT_SCALE_FACTOR=1.5 " + test::shellQuote(QCoreApplication::applicationFilePath().toStdString()) +
            " --gtest_brief=1 --gtest_filter=GuiTarget.SettlesAtOnceAndFitsTheWidestLineAtAnyWindowSize";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
}

// What the batch front end says when it writes the font at `sizes`: its messages.
std::string CliMessages(const std::string& options)
{
    const test::TempDir dir;
    const std::string command = "cd " + test::shellQuote(dir.path()) + " && " + test::shellQuote(QUENFOLD_CLI_PATH) +
                                " -q " + options + " 'DejaVu Sans' 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

TEST(GuiTarget, MarksTheSizesTheRunRefusesWithItsReason)
{
    ASSERT_EQ(ScreenDpiY(), 96);  // the batch front end's device context
    auto dialog = DialogOnDejaVuSans();
    dialog->resize(900, 600);
    TargetView* view = dialog->m_target;
    auto* format = Control<QComboBox>(dialog.get(), ids::kFormat);
    Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText("96");
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("12, 72");

    struct Case {
        int format;
        const char* option;
        const char* reason;  // what the refusal of 72 points is about
    };
    // FNT's 16-bit offsets; a console font's cell, for a format of Unicode characters.
    for (const Case& c : {Case{1, "fnt", "16-bit offsets"}, Case{7, "psf", "the console takes cells"}}) {
        format->setCurrentIndex(c.format);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete(); }, 60000)) << c.option;
        ASSERT_EQ(view->lines().size(), 2u);
        EXPECT_EQ(view->refusal(0), std::optional<std::string>(""));
        EXPECT_EQ(view->caption(0), "12 pt");
        const std::optional<std::string> refused = view->refusal(1);
        ASSERT_TRUE(refused && !refused->empty()) << c.option;
        EXPECT_NE(refused->find(c.reason), std::string::npos) << *refused;
        // The run's own words.
        const std::string said = CliMessages(std::string("-f ") + c.option + " -s 12,72 -r 96x96");
        EXPECT_NE(said.find("at 72 points (96 x 96 dpi): " + *refused), std::string::npos) << said;
        EXPECT_EQ(view->caption(1), "72 pt: refused: " + QString::fromStdString(*refused));

        // The caption is cut to the view's width and shows itself whole as its tooltip.
        const QString shown = view->shownCaption(1);
        EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_LE(QFontMetricsF(view->font()).horizontalAdvance(shown), view->viewport()->width());
        const QPoint at = view->pixelRect(1, 0, 0, 0).topLeft() / view->viewport()->devicePixelRatioF() - QPoint(0, 4);
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &help);
        EXPECT_EQ(QToolTip::text(), view->caption(1));
        QToolTip::hideText();
    }

    // Typing judges nothing again: the verdicts stand as the new text is drawn.
    QTest::keyClicks(Control<QLineEdit>(dialog.get(), ids::kPreviewText), "W");
    EXPECT_FALSE(view->isComplete());
    EXPECT_TRUE(view->refusal(1).has_value());
}

}  // namespace
}  // namespace qf
