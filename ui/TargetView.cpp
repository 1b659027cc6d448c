#include "ui/TargetView.h"

#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"
#include "ui/PreviewPane.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QLoggingCategory>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace qf {

namespace {

Q_LOGGING_CATEGORY(lcTarget, "quenfold.target", QtWarningMsg)

// In pixels of the widget: at a device pixel ratio above 1 each is several device pixels, and the
// magnification, whole in device pixels so every font pixel is a sharp square, grows with it.
constexpr int kLeastMagnification = 2;
constexpr int kMostMagnification = 8;
constexpr int kMostZoom = 32;

const QColor kInk(0, 0, 0);
const QColor kGrid(0xe8, 0xe8, 0xe8);
const QColor kCell(0x8f, 0xb3, 0xde);
const QColor kBaseline(0xd0, 0x40, 0x40);
const QColor kMissing(0xf6, 0xd5, 0xd5);
const QColor kCaption(0x60, 0x60, 0x60);
const QColor kError(0xa0, 0, 0);

}  // namespace

bool TargetContent::operator==(const TargetContent& other) const
{
    // LOGFONT is plain data without padding (gdi.h checks its size), so its bytes are its value.
    const bool sameFont = font.has_value() == other.font.has_value() &&
                          (!font || std::memcmp(&*font, &*other.font, sizeof(gdi::LOGFONT)) == 0);
    return sameFont && codePageRow == other.codePageRow && text == other.text && sizes == other.sizes &&
           resolutionX == other.resolutionX && resolutionY == other.resolutionY && storage == other.storage;
}

TargetView::TargetView(QWidget* parent)
    : QAbstractScrollArea(parent), generation_(std::make_shared<std::atomic<uint64_t>>(0))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::ArrowCursor);
    // One line at a time: a newer request makes the older one stop at its next character.
    pool_.setMaxThreadCount(1);
}

TargetView::~TargetView()
{
    // The thread must be done with the view before its members go.
    ++*generation_;
    pool_.clear();
    pool_.waitForDone();
}

qreal TargetView::ratio() const
{
    return std::max<qreal>(1.0, viewport()->devicePixelRatioF());
}

TargetRequest TargetView::MakeRequest(const TargetContent& content, int deviceDpiX, int deviceDpiY)
{
    TargetRequest request;
    request.codePageRow = content.codePageRow;
    request.sizes = content.sizes;
    request.resolutionX = content.resolutionX;
    request.resolutionY = content.resolutionY;
    request.storage = content.storage;
    request.deviceDpiX = deviceDpiX;
    request.deviceDpiY = deviceDpiY;
    if (content.font)
        request.font = *content.font;
    if (content.codePageRow >= 0 && content.codePageRow < CodePageTable::rowCount()) {
        // As the run does: the entry takes the code page's character set unless it asks for the
        // default one, and the text goes through that character set's code page.
        gdi::DeviceContext dc;
        dc.setResolution(deviceDpiX, deviceDpiY);
        const int charset = CodePageTable::prepareDeviceContext(content.codePageRow, dc);
        if (request.font.lfCharSet != gdi::DEFAULT_CHARSET)
            request.font.lfCharSet = static_cast<gdi::BYTE>(charset & 0xFF);
        request.text = EncodeForCharset(content.text, request.font.lfCharSet, dc.oemCodePage());
    }
    return request;
}

void TargetView::setContent(TargetContent content)
{
    if (handed_ && content == content_)
        return;
    handed_ = true;
    content_ = std::move(content);
    startMaking();
}

void TargetView::stopMaking()
{
    ++*generation_;
    pool_.clear();
    pool_.waitForDone();
    handed_ = false;
}

bool TargetView::isComplete() const
{
    return std::all_of(made_.begin(), made_.end(), [](bool made) { return made; });
}

void TargetView::startMaking()
{
    const uint64_t generation = ++*generation_;
    sinceHanded_.start();
    pool_.clear();

    const bool drawable = content_.font && content_.codePageRow >= 0 &&
                          content_.codePageRow < CodePageTable::rowCount() && !content_.sizes.empty();
    // Lines of the same size stay up until their successors arrive, so typing does not flicker.
    std::vector<TargetLine> kept(drawable ? content_.sizes.size() : 0);
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i < lines_.size() && lines_[i].size == content_.sizes[i])
            kept[i] = std::move(lines_[i]);
    }
    lines_ = std::move(kept);
    made_.assign(lines_.size(), false);
    relayout();
    viewport()->update();
    if (!drawable) {
        emit completed(sinceHanded_.elapsed());
        return;
    }

    const TargetRequest request = MakeRequest(content_, ScreenDpiX(), ScreenDpiY());
    const std::shared_ptr<std::atomic<uint64_t>> current = generation_;
    pool_.start([this, request, generation, current] {
        const auto stale = [&] { return current->load() != generation; };
        for (size_t i = 0; i < request.sizes.size() && !stale(); ++i) {
            TargetLine line = RenderTargetLine(request, request.sizes[i], stale);
            if (stale())
                return;
            // The view outlives this thread's work (its destructor waits for it), and a call
            // still queued when it goes is dropped with it.
            QMetaObject::invokeMethod(
                this, [this, generation, i, line = std::move(line)]() mutable { lineMade(generation, i, std::move(line)); },
                Qt::QueuedConnection);
        }
    });
}

void TargetView::lineMade(uint64_t generation, size_t index, TargetLine line)
{
    if (generation != generation_->load() || index >= lines_.size())
        return;
    lines_[index] = std::move(line);
    made_[index] = true;
    relayout();
    viewport()->update();
    if (isComplete()) {
        const qint64 elapsed = sinceHanded_.elapsed();
        qCInfo(lcTarget).noquote() << QStringLiteral("%1 pt at %2 x %3 dpi, %4 characters: %5 ms")
                                          .arg(content_.sizes.empty() ? 0 : content_.sizes.back())
                                          .arg(content_.resolutionX)
                                          .arg(content_.resolutionY)
                                          .arg(content_.text.size())
                                          .arg(elapsed);
        emit completed(elapsed);
    }
}

int TargetView::chooseMagnification() const
{
    if (zoom_ > 0)
        return zoom_;
    const qreal r = ratio();
    const int least = static_cast<int>(std::ceil(kLeastMagnification * r));
    const int most = static_cast<int>(std::ceil(kMostMagnification * r));
    const int caption = static_cast<int>(std::ceil(QFontMetricsF(font()).height() * r));
    const int margin = static_cast<int>(std::lround(4 * r));
    // The room the cells have if every line is to fit the height.
    int room = static_cast<int>(viewport()->height() * r) - margin - caption;
    int needed = 0;
    const TargetLine* known = nullptr;
    for (const TargetLine& line : lines_) {
        if (line.height > 0)
            known = &line;
    }
    for (size_t i = 0; i < lines_.size(); ++i) {
        room -= caption + margin;
        if (lines_[i].height > 0) {
            needed += lines_[i].height;
        } else if (known && known->size > 0) {
            // Not made yet: about as high, in proportion, as a line that is.
            needed += static_cast<int>(int64_t{known->height} * content_.sizes[i] / known->size);
        } else {
            needed += static_cast<int>(int64_t{content_.sizes[i]} * std::max(1, content_.resolutionY) / 60);
        }
    }
    if (needed <= 0)
        return least;
    return std::clamp(room / needed, least, most);
}

void TargetView::relayout()
{
    magnification_ = chooseMagnification();
    const int m = magnification_;
    const qreal r = ratio();
    const QFontMetricsF metrics(font());
    const int caption = static_cast<int>(std::ceil(metrics.height() * r));
    const int margin = static_cast<int>(std::lround(4 * r));

    placed_.assign(lines_.size(), Placed{});
    int y = margin + caption;  // under the header
    int width = static_cast<int>(std::ceil(metrics.horizontalAdvance(QStringLiteral("00000 x 00000 dpi, x00")) * r)) +
                2 * margin;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const TargetLine& line = lines_[i];
        Placed& place = placed_[i];
        place.top = y + margin;
        place.cellTop = place.top + caption;
        int leftOverhang = 0;
        int64_t origin = 0;
        int64_t right = 0;
        for (const TargetGlyph& glyph : line.glyphs) {
            place.origins.push_back(static_cast<int>(origin));
            if (glyph.width > 0) {
                leftOverhang = std::max<int>(leftOverhang, static_cast<int>(-(origin + glyph.left)));
                right = std::max<int64_t>(right, origin + glyph.left + glyph.width);
            }
            origin += std::max<int32_t>(0, glyph.advance);
            right = std::max(right, origin);
        }
        place.left = margin + leftOverhang * m;
        const bool cells = line.error.empty() && line.height > 0;
        y = place.cellTop + (cells ? line.height * m : caption);
        width = std::max<int>(width, static_cast<int>(std::min<int64_t>(place.left + right * m + margin, INT32_MAX / 2)));
    }
    contentWidth_ = width;
    contentHeight_ = y + margin;

    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, static_cast<int>(std::ceil(contentWidth_ / r)) - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(std::max(1, static_cast<int>(m * 4 / r)));
    verticalScrollBar()->setRange(0, std::max(0, static_cast<int>(std::ceil(contentHeight_ / r)) - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(std::max(1, static_cast<int>(m * 4 / r)));
}

QRect TargetView::pixelRect(int line, int glyph, int x, int y) const
{
    if (line < 0 || static_cast<size_t>(line) >= lines_.size() || static_cast<size_t>(line) >= placed_.size())
        return {};
    const Placed& place = placed_[static_cast<size_t>(line)];
    if (glyph < 0 || static_cast<size_t>(glyph) >= place.origins.size())
        return {};
    const qreal r = ratio();
    const int m = magnification_;
    const int offsetX = static_cast<int>(std::lround(horizontalScrollBar()->value() * r));
    const int offsetY = static_cast<int>(std::lround(verticalScrollBar()->value() * r));
    return QRect(place.left + (place.origins[static_cast<size_t>(glyph)] + x) * m - offsetX,
                 place.cellTop + y * m - offsetY, m, m);
}

void TargetView::render(QImage& canvas) const
{
    if (canvas.isNull())
        return;
    if (canvas.format() != QImage::Format_RGB32)
        canvas = canvas.convertToFormat(QImage::Format_RGB32);
    const qreal r = ratio();
    canvas.setDevicePixelRatio(r);
    canvas.fill(Qt::white);

    const int m = magnification_;
    const int offsetX = static_cast<int>(std::lround(horizontalScrollBar()->value() * r));
    const int offsetY = static_cast<int>(std::lround(verticalScrollBar()->value() * r));
    const QRect visible(offsetX, offsetY, canvas.width(), canvas.height());
    const QFontMetricsF metrics(font());
    const int margin = static_cast<int>(std::lround(4 * r));

    QPainter p(&canvas);
    p.setFont(font());
    // Pixels are placed in device pixels, the captions in the widget's own units.
    const QTransform devicePixels = QTransform::fromScale(1 / r, 1 / r).translate(-offsetX, -offsetY);
    auto caption = [&](int x, int y, const QColor& colour, const QString& text) {
        p.setWorldTransform(QTransform());
        p.setPen(colour);
        p.drawText(QPointF((x - offsetX) / r, (y - offsetY) / r + metrics.ascent()), text);
    };
    auto fill = [&](const QRect& rect, const QColor& colour) {
        if (rect.intersects(visible))
            p.fillRect(rect, colour);
    };

    caption(margin, margin, kCaption,
            QStringLiteral("%1 \u00D7 %2 dpi, \u00D7%3").arg(content_.resolutionX).arg(content_.resolutionY).arg(m));

    for (size_t i = 0; i < lines_.size() && i < placed_.size(); ++i) {
        const TargetLine& line = lines_[i];
        const Placed& place = placed_[i];
        const int32_t size = line.size ? line.size : (i < content_.sizes.size() ? content_.sizes[i] : 0);
        if (place.top > visible.bottom())
            break;
        QString title = QStringLiteral("%1 pt").arg(size);
        if (line.size == 0)
            title += QStringLiteral("  \u2026");
        else if (!line.error.empty())
            title += QStringLiteral(": ") + QString::fromStdString(line.error);
        caption(margin, place.top, line.error.empty() ? kCaption : kError, title);
        if (!line.error.empty() || line.height <= 0)
            continue;

        const int cellBottom = place.cellTop + line.height * m;
        if (cellBottom < visible.top())
            continue;
        p.setWorldTransform(devicePixels);
        int stripLeft = place.left;
        int stripRight = place.left;
        for (size_t k = 0; k < line.glyphs.size(); ++k) {
            const TargetGlyph& glyph = line.glyphs[k];
            const int x0 = place.left + place.origins[k] * m;
            stripLeft = std::min(stripLeft, x0 + std::min(0, glyph.left) * m);
            stripRight = std::max({stripRight, x0 + glyph.advance * m, x0 + (glyph.left + glyph.width) * m});
        }
        const QRect strip(stripLeft, place.cellTop, stripRight - stripLeft, line.height * m);
        const QRect shown = strip.intersected(visible);
        // A faint grid where one pixel is large enough to tell it from its neighbours.
        const bool grid = m >= 4;
        if (grid && !shown.isEmpty()) {
            for (int x = stripLeft + (std::max(0, shown.left() - stripLeft) / m) * m; x <= shown.right() + 1; x += m)
                p.fillRect(QRect(x, shown.top(), 1, shown.height()), kGrid);
            for (int y = place.cellTop + (std::max(0, shown.top() - place.cellTop) / m) * m; y <= shown.bottom() + 1; y += m)
                p.fillRect(QRect(shown.left(), y, shown.width(), 1), kGrid);
        }
        const int thin = std::max(1, static_cast<int>(std::lround(r)));
        for (size_t k = 0; k < line.glyphs.size(); ++k) {
            const TargetGlyph& glyph = line.glyphs[k];
            const int x0 = place.left + place.origins[k] * m;
            const QRect cell(x0, place.cellTop, glyph.advance * m, line.height * m);
            if (!glyph.inFont) {
                fill(cell, kMissing);
                continue;
            }
            if (!cell.intersects(visible) && !QRect(x0 + glyph.left * m, place.cellTop + glyph.top * m,
                                                    glyph.width * m, glyph.height * m)
                                                 .intersects(visible))
                continue;
            fill(QRect(cell.left(), cell.top(), cell.width(), thin), kCell);
            fill(QRect(cell.left(), cell.bottom() + 1 - thin, cell.width(), thin), kCell);
            fill(QRect(cell.left(), cell.top(), thin, cell.height()), kCell);
            fill(QRect(cell.right() + 1 - thin, cell.top(), thin, cell.height()), kCell);
        }
        // The baseline runs under the ink, which is drawn last and exactly.
        fill(QRect(stripLeft, place.cellTop + line.ascent * m - thin / 2, stripRight - stripLeft, thin), kBaseline);
        const int inset = grid ? 1 : 0;
        for (size_t k = 0; k < line.glyphs.size(); ++k) {
            const TargetGlyph& glyph = line.glyphs[k];
            if (glyph.width <= 0)
                continue;
            const int left = place.left + (place.origins[k] + glyph.left) * m;
            const int top = place.cellTop + glyph.top * m;
            if (left > visible.right() || left + glyph.width * m < visible.left())
                continue;
            const int firstRow = std::max(0, (visible.top() - top) / m);
            const int lastRow = std::min(glyph.height - 1, (visible.bottom() - top) / m);
            const int firstCol = std::max(0, (visible.left() - left) / m);
            const int lastCol = std::min(glyph.width - 1, (visible.right() - left) / m);
            for (int row = firstRow; row <= lastRow; ++row) {
                for (int col = firstCol; col <= lastCol; ++col) {
                    if (glyph.inkAt(glyph.left + col, glyph.top + row))
                        p.fillRect(QRect(left + col * m + inset, top + row * m + inset, m - inset, m - inset), kInk);
                }
            }
        }
    }
}

void TargetView::paintEvent(QPaintEvent*)
{
    const qreal r = ratio();
    QImage canvas((QSizeF(viewport()->size()) * r).toSize(), QImage::Format_RGB32);
    render(canvas);
    QPainter(viewport()).drawImage(0, 0, canvas);
}

void TargetView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void TargetView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Ctrl and the wheel choose the magnification; back below the least, the view chooses again.
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0) {
        const int next = magnification_ + steps;
        zoom_ = next < 1 ? 0 : std::min(next, kMostZoom);
        relayout();
        viewport()->update();
    }
    event->accept();
}

void TargetView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        relayout();
    QAbstractScrollArea::changeEvent(event);
}

}  // namespace qf
