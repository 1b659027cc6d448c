#include "ui/PreviewPane.h"

#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace qf {

int ScreenDpiX()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? std::max(1, qRound(screen->logicalDotsPerInchX())) : 96;
}

int ScreenDpiY()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? std::max(1, qRound(screen->logicalDotsPerInchY())) : 96;
}

void UseScreenResolution(gdi::DeviceContext& dc)
{
    dc.setResolution(ScreenDpiX(), ScreenDpiY());
}

std::string EncodeForCharset(const QString& text, int charset, unsigned oemCodePage)
{
    const QList<uint> ucs4 = text.toUcs4();
    const std::u32string characters(ucs4.begin(), ucs4.end());
    return gdi::encodeForCharset(characters, static_cast<unsigned>(charset), oemCodePage);
}

namespace {

// A frame `t` pixels wide: top and left in one colour, right and bottom in another.
void DrawEdge(QPainter& p, const QRect& r, int t, const QColor& topLeft, const QColor& bottomRight)
{
    p.fillRect(QRect(r.left(), r.top(), r.width(), t), topLeft);
    p.fillRect(QRect(r.left(), r.top(), t, r.height()), topLeft);
    p.fillRect(QRect(r.left(), r.bottom() + 1 - t, r.width(), t), bottomRight);
    p.fillRect(QRect(r.right() + 1 - t, r.top(), t, r.height()), bottomRight);
}

// Draws on a strip from (x, y) to the canvas's right edge, one cell high, with the device
// context's font: `draw(width)` puts the text at the strip's origin. Only the ink is painted: the
// background shows through, as with a transparent background mode. Nothing limits the text to the
// frame: it runs to the window's own edges. False when there is nothing to draw on.
template <class Draw>
bool PaintInk(gdi::DeviceContext& dc, QImage& canvas, int x, int y, const gdi::TEXTMETRIC& tm, Draw&& draw)
{
    const int width = canvas.width() - x;
    const int height = std::min<int>(tm.tmHeight, canvas.height() - y);
    if (width <= 0 || height <= 0)
        return false;
    std::shared_ptr<gdi::Bitmap> strip = gdi::Bitmap::create(width, height);
    if (!strip)
        return false;
    std::shared_ptr<gdi::Bitmap> previous = dc.selectObject(strip);
    dc.setBkColor(0x000000);
    dc.setTextColor(0xFFFFFF);
    dc.patBlt(0, 0, width, height, gdi::BLACKNESS);
    draw(width);
    const uint8_t* bits = strip->bits();
    for (int row = 0; row < height; ++row) {
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(y + row)) + x;
        const uint8_t* in = bits + static_cast<size_t>(row) * strip->widthBytes();
        for (int col = 0; col < width; ++col) {
            if (in[col / 8] & (0x80 >> (col % 8)))
                out[col] = qRgb(0, 0, 0);
        }
    }
    if (previous)
        dc.selectObject(previous);
    return true;
}

// Draws one line of text with the device context's font, its cell's top-left at (x, y).
void DrawLine(gdi::DeviceContext& dc, QImage& canvas, int x, int y, const std::string& text)
{
    gdi::TEXTMETRIC tm{};
    if (text.empty() || !dc.getTextMetrics(&tm) || tm.tmHeight <= 0)
        return;
    PaintInk(dc, canvas, x, y, tm, [&](int) {
        dc.textOut(0, 0, text.data(), static_cast<int>(std::min<size_t>(text.size(), INT32_MAX)));
    });
}

// A line of a Unicode text, each character through the face's Unicode map as the Unicode writers
// draw it; those in `lacking` leave an average width and are framed in the error colour instead.
void DrawUnicodeLine(gdi::DeviceContext& dc, QImage& canvas, int x, int y, const std::u32string& text,
                     const std::u32string& lacking)
{
    gdi::TEXTMETRIC tm{};
    if (text.empty() || !dc.getTextMetrics(&tm) || tm.tmHeight <= 0)
        return;
    std::vector<QRect> boxes;
    const bool drawn = PaintInk(dc, canvas, x, y, tm, [&](int width) {
        int pen = 0;
        for (const char32_t c : text) {
            if (pen >= width)
                break;
            if (std::binary_search(lacking.begin(), lacking.end(), c)) {
                const int advance = std::max<int>(2, tm.tmAveCharWidth);
                boxes.emplace_back(x + pen, y, advance, tm.tmHeight);
                pen += advance;
                continue;
            }
            dc.textOutW(pen, 0, &c, 1);
            gdi::SIZE extent{};
            dc.getTextExtentPointW(&c, 1, &extent);
            pen += std::max<int>(0, extent.cx);
        }
    });
    if (!drawn)
        return;
    if (boxes.empty())
        return;
    QPainter p(&canvas);
    p.setWorldTransform(QTransform::fromScale(1 / canvas.devicePixelRatio(), 1 / canvas.devicePixelRatio()));
    const int edge = std::max(1, tm.tmHeight / 16);
    for (const QRect& box : boxes) {
        const QRect r = box.adjusted(1, 1, -1, -1);
        const QColor error(0xA0, 0, 0);
        p.fillRect(QRect(r.left(), r.top(), r.width(), edge), error);
        p.fillRect(QRect(r.left(), r.bottom() + 1 - edge, r.width(), edge), error);
        p.fillRect(QRect(r.left(), r.top(), edge, r.height()), error);
        p.fillRect(QRect(r.right() + 1 - edge, r.top(), edge, r.height()), error);
    }
}

}  // namespace

bool PreviewContent::operator==(const PreviewContent& other) const
{
    // LOGFONT is plain data without padding (gdi.h checks its size), so its bytes are its value.
    const bool sameFont = font.has_value() == other.font.has_value() &&
                          (!font || std::memcmp(&*font, &*other.font, sizeof(gdi::LOGFONT)) == 0);
    return sameFont && codePageRow == other.codePageRow && text == other.text && sizes == other.sizes &&
           problem == other.problem && unicode == other.unicode && lacking == other.lacking;
}

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent)
{
    // The pane paints every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
}

void PreviewPane::setContent(PreviewContent content)
{
    if (content == content_)
        return;
    content_ = std::move(content);
    update();
}

std::vector<PreviewPane::Line> PreviewPane::render(QImage& canvas) const
{
    std::vector<Line> lines;
    if (canvas.isNull())
        return lines;
    const qreal ratio = std::max<qreal>(1.0, canvas.devicePixelRatio());
    if (canvas.format() != QImage::Format_RGB32)
        canvas = canvas.convertToFormat(QImage::Format_RGB32);
    canvas.setDevicePixelRatio(ratio);
    // Everything is placed in the canvas's own pixels: on a screen of denser pixels the text is
    // drawn at the screen's real resolution rather than scaled up from a coarser one.
    const int edge = std::max(1, static_cast<int>(std::lround(ratio)));
    QRect area = canvas.rect();
    {
        QPainter p(&canvas);
        p.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
        const QPalette& colours = palette();
        // A sunken border two pixels wide.
        DrawEdge(p, area, edge, colours.color(QPalette::Shadow), colours.color(QPalette::Light));
        area.adjust(edge, edge, -edge, -edge);
        DrawEdge(p, area, edge, colours.color(QPalette::Dark), colours.color(QPalette::Midlight));
        area.adjust(edge, edge, -edge, -edge);
        p.fillRect(area, Qt::white);
    }

    // Why Start is disabled for these sizes, above the lines that can be drawn.
    int y = area.top();
    if (!content_.problem.isEmpty()) {
        QPainter p(&canvas);
        p.setFont(font());
        p.setPen(QColor(0xA0, 0, 0));
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
        const QRectF room(QPointF(area.left() / ratio + 3, area.top() / ratio),
                          QPointF((area.right() + 1) / ratio - 3, (area.bottom() + 1) / ratio));
        const QRectF box = p.boundingRect(room, flags, content_.problem);
        p.drawText(box, flags, content_.problem);
        y = static_cast<int>(std::ceil(box.bottom() * ratio));
    }

    const int row = content_.codePageRow;
    if (row < 0 || row >= CodePageTable::rowCount() || !content_.font)
        return lines;
    gdi::DeviceContext dc;
    dc.setResolution(static_cast<int>(std::lround(ScreenDpiX() * ratio)),
                     static_cast<int>(std::lround(ScreenDpiY() * ratio)));
    const int charset = CodePageTable::prepareDeviceContext(row, dc);

    gdi::LOGFONT logFont = *content_.font;
    if (logFont.lfCharSet != gdi::DEFAULT_CHARSET)
        logFont.lfCharSet = static_cast<gdi::BYTE>(charset);
    const std::string text = EncodeForCharset(content_.text, logFont.lfCharSet, dc.oemCodePage());
    std::u32string characters;
    if (content_.unicode) {
        const QList<uint> ucs4 = content_.text.toUcs4();
        characters.assign(ucs4.begin(), ucs4.end());
    }

    const int x = area.left() + static_cast<int>(std::lround(3 * ratio));
    for (const int32_t size : content_.sizes) {
        // Lines starting below the window cannot be seen, and sizes past what a run can render
        // would only ask the engine for glyphs of absurd size.
        if (y >= canvas.height() || size > GlyphRasteriser::kMaxPointSize)
            break;
        logFont.lfHeight = size * 10;
        std::shared_ptr<gdi::Font> font = gdi::Font::createPointFontIndirect(logFont, dc);
        std::shared_ptr<gdi::Font> previous = dc.selectObject(font);
        if (content_.unicode)
            DrawUnicodeLine(dc, canvas, x, y, characters, content_.lacking);
        else
            DrawLine(dc, canvas, x, y, text);
        gdi::TEXTMETRIC tm{};
        dc.getTextMetrics(&tm);
        if (previous)
            dc.selectObject(previous);
        lines.push_back({size, y, tm.tmHeight});
        y += std::max<int>(0, tm.tmHeight);
    }
    return lines;
}

void PreviewPane::paintEvent(QPaintEvent*)
{
    const qreal ratio = std::max<qreal>(1.0, devicePixelRatioF());
    QImage canvas((QSizeF(size()) * ratio).toSize(), QImage::Format_RGB32);
    canvas.setDevicePixelRatio(ratio);
    render(canvas);
    QPainter(this).drawImage(0, 0, canvas);
}

}  // namespace qf
