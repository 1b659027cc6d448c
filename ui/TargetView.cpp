#include "ui/TargetView.h"

#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"
#include "run/GenerationRun.h"
#include "ui/PreviewPane.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QLoggingCategory>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace qf {

namespace {

Q_LOGGING_CATEGORY(lcTarget, "quenfold.target", QtWarningMsg)

// In pixels of the widget: at a device pixel ratio above 1 each is several device pixels, and the
// magnification, whole in device pixels so every font pixel is a sharp square, grows with it. The
// least is what the lines' height may bring it down to (more lines than fit are scrolled to); the
// widest line is made to fit the width down to one device pixel a pixel.
constexpr int kLeastMagnification = 2;
constexpr int kMostMagnification = 8;
constexpr int kMostZoom = 32;

const QColor kInk(0, 0, 0);
const QColor kRefusedInk(0x90, 0x90, 0x90);  // a size no file is made of
const QColor kGrid(0xe8, 0xe8, 0xe8);
const QColor kCell(0x8f, 0xb3, 0xde);
const QColor kBaseline(0xd0, 0x40, 0x40);
const QColor kMissing(0xf6, 0xd5, 0xd5);
const QColor kCaption(0x60, 0x60, 0x60);
const QColor kError(0xa0, 0, 0);

}  // namespace

bool TargetContent::operator==(const TargetContent& other) const
{
    return judgedAlike(other) && text == other.text && sizes == other.sizes && storage == other.storage;
}

bool TargetContent::judgedAlike(const TargetContent& other) const
{
    // LOGFONT is plain data without padding (gdi.h checks its size), so its bytes are its value.
    const bool sameFont = font.has_value() == other.font.has_value() &&
                          (!font || std::memcmp(&*font, &*other.font, sizeof(gdi::LOGFONT)) == 0);
    return sameFont && codePageRow == other.codePageRow && resolutionX == other.resolutionX &&
           resolutionY == other.resolutionY && format == other.format && name == other.name &&
           characters == other.characters;
}

TargetView::TargetView(QWidget* parent)
    : QAbstractScrollArea(parent), generation_(std::make_shared<std::atomic<uint64_t>>(0)),
      judgeGeneration_(std::make_shared<std::atomic<uint64_t>>(0))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::ArrowCursor);
    // One line at a time: a newer request makes the older one stop at its next character.
    pool_.setMaxThreadCount(1);
    judgePool_.setMaxThreadCount(1);
}

TargetView::~TargetView()
{
    // The threads must be done with the view before its members go.
    stopMaking();
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
    request.format = content.format;
    request.name = content.name;
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
    if (content.format) {
        const FormatInfo& format = formatInfo(*content.format);
        CharacterSelection chosen;
        std::string unread;
        if (format.takesUnicode() && !content.characters.empty() &&
            parseCharacterSelection(content.characters, chosen, unread))
            request.characters = std::move(chosen);
        request.unicode = !GenerationRun::holdsCodePage(format, request.characters.has_value());
        if (request.unicode) {
            const QList<uint> ucs4 = content.text.toUcs4();
            request.unicodeText.assign(ucs4.begin(), ucs4.end());
        }
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
    // Both threads read the platform's font list, which the caller is about to change; a face the
    // list gains may replace the one a verdict was reached with, so the verdicts go too.
    ++*generation_;
    ++*judgeGeneration_;
    pool_.clear();
    judgePool_.clear();
    pool_.waitForDone();
    judgePool_.waitForDone();
    verdicts_.clear();
    beingJudged_.clear();
    judged_ = TargetContent{};
    handed_ = false;
}

bool TargetView::judging() const
{
    return content_.format && content_.font && content_.codePageRow >= 0 &&
           content_.codePageRow < CodePageTable::rowCount();
}

bool TargetView::isComplete() const
{
    return std::all_of(made_.begin(), made_.end(), [](bool made) { return made; }) &&
           (!judging() || std::all_of(content_.sizes.begin(), content_.sizes.end(),
                                      [this](int32_t size) { return verdicts_.count(size) > 0; }));
}

std::optional<std::string> TargetView::refusal(size_t line) const
{
    if (line >= content_.sizes.size() || !judging())
        return std::nullopt;
    const auto verdict = verdicts_.find(content_.sizes[line]);
    if (verdict == verdicts_.end())
        return std::nullopt;
    return verdict->second;
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
    // What the writer says of a size holds until the font, characters, format or resolution
    // change: typing judges nothing again, nor stops the judging under way.
    bool judgeAgain = false;
    if (!content_.judgedAlike(judged_)) {
        verdicts_.clear();
        judged_ = content_;
        judgeAgain = true;
    }
    std::vector<int32_t> unjudged;
    if (drawable && judging()) {
        for (const int32_t size : content_.sizes) {
            if (!verdicts_.count(size)) {
                unjudged.push_back(size);
                judgeAgain = judgeAgain || std::find(beingJudged_.begin(), beingJudged_.end(), size) == beingJudged_.end();
            }
        }
    }
    if (judgeAgain) {
        ++*judgeGeneration_;
        judgePool_.clear();
        beingJudged_.clear();
    }
    relayout();
    viewport()->update();
    if (!drawable) {
        emit completed(sinceHanded_.elapsed());
        return;
    }

    TargetRequest request = MakeRequest(content_, ScreenDpiX(), ScreenDpiY());
    const std::shared_ptr<std::atomic<uint64_t>> current = generation_;
    pool_.start([this, request, generation, current]() mutable {
        const auto stale = [&] { return current->load() != generation; };
        // Which characters the files hold is the font's, whatever the size.
        if (request.unicode && !request.held)
            request.held = std::make_shared<const std::vector<char32_t>>(HeldCharacters(request));
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
    if (!judgeAgain || unjudged.empty())
        return;
    // Judging a size costs what the run's work for it does: the whole font drawn, not the text.
    // Judging other sizes or another font stops it between sizes.
    beingJudged_ = unjudged;
    const uint64_t judgement = *judgeGeneration_;
    const std::shared_ptr<std::atomic<uint64_t>> currentJudgement = judgeGeneration_;
    judgePool_.start([this, request, judgement, currentJudgement, unjudged] {
        TargetJudge judge(request);
        for (const int32_t size : unjudged) {
            if (currentJudgement->load() != judgement)
                return;
            std::string refusal = judge.refusal(size);
            QMetaObject::invokeMethod(
                this,
                [this, judgement, size, refusal = std::move(refusal)]() mutable {
                    sizeJudged(judgement, size, std::move(refusal));
                },
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
    emitIfComplete();
}

void TargetView::sizeJudged(uint64_t judgement, int32_t size, std::string refusal)
{
    if (judgement != judgeGeneration_->load())
        return;
    verdicts_[size] = std::move(refusal);
    viewport()->update();
    emitIfComplete();
}

void TargetView::emitIfComplete()
{
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

int TargetView::margin() const
{
    return static_cast<int>(std::lround(4 * ratio()));
}

int TargetView::captionHeight() const
{
    return static_cast<int>(std::ceil(QFontMetricsF(font()).height() * ratio()));
}

int TargetView::chooseMagnification() const
{
    if (zoom_ > 0)
        return zoom_;
    const qreal r = ratio();
    const int least = static_cast<int>(std::ceil(kLeastMagnification * r));
    const int most = static_cast<int>(std::ceil(kMostMagnification * r));
    const int row = captionHeight();
    const int gap = margin();
    // The whole area the view has, as if it showed no scroll bars: chosen from the viewport, which
    // a scroll bar takes from, the magnification would decide whether the bar is needed, and the
    // bar the magnification, back and forth for ever.
    const QSize area = maximumViewportSize();
    const int64_t roomX = static_cast<int64_t>(area.width() * r) - 2 * gap;
    int64_t roomY = static_cast<int64_t>(area.height() * r) - 3 * gap - row;  // header and margins
    const auto shown = [&](size_t i) { return lines_[i].size > 0 && lines_[i].error.empty() && lines_[i].height > 0; };
    std::optional<size_t> known;  // a line made, to estimate those that are not from
    for (size_t i = 0; i < lines_.size() && i < placed_.size(); ++i) {
        if (shown(i))
            known = i;
    }
    int64_t high = 0;  // font pixels: the cells' heights together, and the widest line
    int64_t wide = 0;
    for (size_t i = 0; i < lines_.size() && i < placed_.size() && i < content_.sizes.size(); ++i) {
        const int64_t size = content_.sizes[i];
        roomY -= gap + row;
        if (lines_[i].size == 0) {
            // Not made yet: about as large, in proportion, as a line that is.
            if (known) {
                const TargetLine& line = lines_[*known];
                high += line.height * size / line.size;
                wide = std::max<int64_t>(wide, (placed_[*known].overhang + placed_[*known].right) * size / line.size);
            } else {
                high += size * std::max(1, content_.resolutionY) / 60;
                wide = std::max<int64_t>(wide, size * std::max(1, content_.resolutionX) *
                                                   static_cast<int64_t>(content_.text.size()) / 120);
            }
        } else if (shown(i)) {
            high += lines_[i].height + placed_[i].above + placed_[i].below;
            wide = std::max<int64_t>(wide, placed_[i].overhang + placed_[i].right);
        } else {
            roomY -= row;  // the row a line without cells leaves
        }
    }
    const int64_t fitX = wide > 0 ? roomX / wide : most;
    const int64_t fitY = high > 0 ? roomY / high : most;
    return static_cast<int>(std::max<int64_t>(1, std::min<int64_t>({most, fitX, std::max<int64_t>(least, fitY)})));
}

void TargetView::relayout()
{
    const int row = captionHeight();
    const int gap = margin();
    placed_.assign(lines_.size(), Placed{});
    for (size_t i = 0; i < lines_.size(); ++i) {
        Placed& place = placed_[i];
        int64_t origin = 0;
        for (const TargetGlyph& glyph : lines_[i].glyphs) {
            place.origins.push_back(static_cast<int>(origin));
            if (glyph.width > 0) {
                // Ink that leaves the cell (a Unicode file keeps it) gets room above and below.
                place.above = std::max(place.above, -glyph.top);
                place.below = std::max(place.below, glyph.top + glyph.height - lines_[i].height);
                place.overhang = std::max<int>(place.overhang, static_cast<int>(-(origin + glyph.left)));
                place.right = std::max<int64_t>(place.right, origin + glyph.left + glyph.width);
            }
            origin += std::max<int32_t>(0, glyph.advance);
            place.right = std::max(place.right, origin);
        }
    }
    magnification_ = chooseMagnification();
    const int m = magnification_;

    int y = gap + row;  // under the header
    int64_t width = 2 * gap;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const TargetLine& line = lines_[i];
        Placed& place = placed_[i];
        place.top = y + gap;
        const bool cells = line.error.empty() && line.height > 0;
        place.cellTop = place.top + row + (cells ? place.above * m : 0);
        place.left = gap + place.overhang * m;
        y = place.cellTop + (cells ? (line.height + place.below) * m : row);
        if (cells)
            width = std::max<int64_t>(width, place.left + place.right * m + gap);
    }
    // Captions are cut to the view's width rather than widen the content.
    contentWidth_ = static_cast<int>(std::min<int64_t>(width, INT32_MAX / 2));
    contentHeight_ = y + gap;
    updateScrollBars();
}

void TargetView::updateScrollBars()
{
    const qreal r = ratio();
    const QSize area = maximumViewportSize();
    const int width = static_cast<int>(std::ceil(contentWidth_ / r));
    const int height = static_cast<int>(std::ceil(contentHeight_ / r));
    // A scroll bar that floats over the content takes no room from it.
    const bool floating = style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this) != 0;
    const int barWidth = floating ? 0 : verticalScrollBar()->sizeHint().width();
    const int barHeight = floating ? 0 : horizontalScrollBar()->sizeHint().height();
    bool acrossNeeded = width > area.width();
    bool downNeeded = height > area.height();
    if (acrossNeeded && !downNeeded)
        downNeeded = height > area.height() - barHeight;
    if (downNeeded && !acrossNeeded)
        acrossNeeded = width > area.width() - barWidth;
    // The ranges count from the viewport as it is, which is the one these bars leave once the
    // scroll area has placed them; a bar needed keeps a range of at least one meanwhile.
    const QSize view = viewport()->size();
    const int m = std::max(1, magnification_);
    horizontalScrollBar()->setRange(0, acrossNeeded ? std::max(1, width - view.width()) : 0);
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(std::max(1, static_cast<int>(m * 4 / r)));
    verticalScrollBar()->setRange(0, downNeeded ? std::max(1, height - view.height()) : 0);
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(std::max(1, static_cast<int>(m * 4 / r)));
}

QString TargetView::caption(size_t line) const
{
    if (line >= lines_.size())
        return {};
    const TargetLine& made = lines_[line];
    const int32_t size = made.size ? made.size : (line < content_.sizes.size() ? content_.sizes[line] : 0);
    QString text = QStringLiteral("%1 pt").arg(size);
    if (const std::optional<std::string> why = refusal(line); why && !why->empty())
        return text + QStringLiteral(": refused: ") + QString::fromStdString(*why);
    if (made.size == 0)
        return text + QStringLiteral("  \u2026");
    if (!made.error.empty())
        return text + QStringLiteral(": ") + QString::fromStdString(made.error);
    return text;
}

QString TargetView::shownCaption(size_t line) const
{
    const qreal room = captionRect(static_cast<int>(line)).width();
    return QFontMetricsF(font()).elidedText(caption(line), Qt::ElideRight, room);
}

QRectF TargetView::captionRect(int line) const
{
    // Captions stay at the view's left edge however far the lines are scrolled across, so each
    // line's size can always be read.
    const qreal r = ratio();
    const int top = line < 0 ? margin() : (static_cast<size_t>(line) < placed_.size() ? placed_[static_cast<size_t>(line)].top : 0);
    const qreal offsetY = std::lround(verticalScrollBar()->value() * r);
    const qreal left = margin() / r;
    return QRectF(left, (top - offsetY) / r, std::max<qreal>(0, viewport()->width() - 2 * left),
                  captionHeight() / r);
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

namespace {

// One frame's drawing in device pixels: the painter, the part of the content in view, the
// magnification and the width of a thin line.
struct Frame {
    QPainter& p;
    QRect visible;
    int m;
    int thin;

    void fill(const QRect& rect, const QColor& colour) const
    {
        if (rect.intersects(visible))
            p.fillRect(rect, colour);
    }
    void outline(const QRect& box, int edge, const QColor& colour) const
    {
        fill(QRect(box.left(), box.top(), box.width(), edge), colour);
        fill(QRect(box.left(), box.bottom() + 1 - edge, box.width(), edge), colour);
        fill(QRect(box.left(), box.top(), edge, box.height()), colour);
        fill(QRect(box.right() + 1 - edge, box.top(), edge, box.height()), colour);
    }
};

// Where a line's cells and ink run across, in device pixels.
QRect LineStrip(const TargetLine& line, int left, int cellTop, const std::vector<int>& origins, int m)
{
    int stripLeft = left;
    int stripRight = left;
    for (size_t k = 0; k < line.glyphs.size(); ++k) {
        const TargetGlyph& glyph = line.glyphs[k];
        const int x0 = left + origins[k] * m;
        stripLeft = std::min(stripLeft, x0 + std::min(0, glyph.left) * m);
        stripRight = std::max({stripRight, x0 + glyph.advance * m, x0 + (glyph.left + glyph.width) * m});
    }
    return QRect(stripLeft, cellTop, stripRight - stripLeft, line.height * m);
}

// A faint grid over the part of the strip in view, one square a font pixel.
void DrawGrid(const Frame& f, const QRect& strip)
{
    const QRect shown = strip.intersected(f.visible);
    if (shown.isEmpty())
        return;
    const int m = f.m;
    for (int x = strip.left() + (std::max(0, shown.left() - strip.left()) / m) * m; x <= shown.right() + 1; x += m)
        f.p.fillRect(QRect(x, shown.top(), 1, shown.height()), kGrid);
    for (int y = strip.top() + (std::max(0, shown.top() - strip.top()) / m) * m; y <= shown.bottom() + 1; y += m)
        f.p.fillRect(QRect(shown.left(), y, shown.width(), 1), kGrid);
}

// Each character's cell: outlined, a hollow box in the error colour where the file has no glyph,
// filled where the font has none.
void DrawCells(const Frame& f, const TargetLine& line, int left, int cellTop, const std::vector<int>& origins)
{
    const int m = f.m;
    for (size_t k = 0; k < line.glyphs.size(); ++k) {
        const TargetGlyph& glyph = line.glyphs[k];
        const int x0 = left + origins[k] * m;
        const QRect cell(x0, cellTop, glyph.advance * m, line.height * m);
        if (glyph.lacking) {
            // No stand-in is drawn for it.
            f.outline(cell, std::max(f.thin, m / 2), kError);
            continue;
        }
        if (!glyph.inFont) {
            f.fill(cell, kMissing);
            continue;
        }
        const QRect ink(x0 + glyph.left * m, cellTop + glyph.top * m, glyph.width * m, glyph.height * m);
        if (!cell.intersects(f.visible) && !ink.intersects(f.visible))
            continue;
        f.outline(cell, f.thin, kCell);
    }
}

// The ink, exactly: one square a font pixel, inset by the grid's line when there is one.
void DrawInk(const Frame& f, const TargetLine& line, int left, int cellTop, const std::vector<int>& origins,
             int inset, const QColor& ink)
{
    const int m = f.m;
    const QRect& visible = f.visible;
    for (size_t k = 0; k < line.glyphs.size(); ++k) {
        const TargetGlyph& glyph = line.glyphs[k];
        if (glyph.width <= 0)
            continue;
        const int x = left + (origins[k] + glyph.left) * m;
        const int top = cellTop + glyph.top * m;
        if (x > visible.right() || x + glyph.width * m < visible.left())
            continue;
        const int firstRow = std::max(0, (visible.top() - top) / m);
        const int lastRow = std::min(glyph.height - 1, (visible.bottom() - top) / m);
        const int firstCol = std::max(0, (visible.left() - x) / m);
        const int lastCol = std::min(glyph.width - 1, (visible.right() - x) / m);
        for (int row = firstRow; row <= lastRow; ++row) {
            for (int col = firstCol; col <= lastCol; ++col) {
                if (glyph.inkAt(glyph.left + col, glyph.top + row))
                    f.p.fillRect(QRect(x + col * m + inset, top + row * m + inset, m - inset, m - inset), ink);
            }
        }
    }
}

}  // namespace

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

    QPainter p(&canvas);
    p.setFont(font());
    // Pixels are placed in device pixels, the captions in the widget's own units.
    const QTransform devicePixels = QTransform::fromScale(1 / r, 1 / r).translate(-offsetX, -offsetY);
    auto drawCaption = [&](const QRectF& rect, const QColor& colour, const QString& text) {
        p.setWorldTransform(QTransform());
        p.setPen(colour);
        p.drawText(QPointF(rect.left(), rect.top() + metrics.ascent()),
                   metrics.elidedText(text, Qt::ElideRight, rect.width()));
    };
    const Frame frame{p, visible, m, std::max(1, static_cast<int>(std::lround(r)))};

    drawCaption(captionRect(-1), kCaption,
            QStringLiteral("%1 \u00D7 %2 dpi, \u00D7%3").arg(content_.resolutionX).arg(content_.resolutionY).arg(m));

    for (size_t i = 0; i < lines_.size() && i < placed_.size(); ++i) {
        const TargetLine& line = lines_[i];
        const Placed& place = placed_[i];
        if (place.top > visible.bottom())
            break;
        const std::optional<std::string> why = refusal(i);
        const bool refused = why && !why->empty();
        drawCaption(captionRect(static_cast<int>(i)), line.error.empty() && !refused ? kCaption : kError, caption(i));
        if (!line.error.empty() || line.height <= 0)
            continue;
        if (place.cellTop + (line.height + place.below) * m < visible.top())  // ink may reach below the cell
            continue;

        p.setWorldTransform(devicePixels);
        const QRect strip = LineStrip(line, place.left, place.cellTop, place.origins, m);
        // The grid shows where one pixel is large enough to tell it from its neighbours.
        const bool grid = m >= 4;
        if (grid)
            DrawGrid(frame, strip);
        DrawCells(frame, line, place.left, place.cellTop, place.origins);
        // The baseline runs under the ink, which is drawn last and exactly.
        frame.fill(QRect(strip.left(), place.cellTop + line.ascent * m - frame.thin / 2, strip.width(), frame.thin),
                   kBaseline);
        DrawInk(frame, line, place.left, place.cellTop, place.origins, grid ? 1 : 0, refused ? kRefusedInk : kInk);
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
    // The viewport's size: only the scroll bars' ranges follow it.
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

bool TargetView::event(QEvent* event)
{
    const bool handled = QAbstractScrollArea::event(event);
    // The view's own size is the area the magnification is chosen for.
    if (event->type() == QEvent::Resize) {
        relayout();
        viewport()->update();
    }
    return handled;
}

bool TargetView::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    // A caption cut short shows itself whole.
    const auto* help = static_cast<QHelpEvent*>(event);
    for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
        const QRectF rect = captionRect(i);
        if (!rect.contains(help->pos()))
            continue;
        const QString whole = caption(static_cast<size_t>(i));
        if (shownCaption(static_cast<size_t>(i)) != whole) {
            QToolTip::showText(help->globalPos(), whole, viewport(), rect.toAlignedRect());
            return true;
        }
        break;
    }
    QToolTip::hideText();
    event->ignore();
    return true;
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
