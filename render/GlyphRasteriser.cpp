#include "render/GlyphRasteriser.h"
#include "platform/CodePages.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace qf {

int32_t renderingHeight(int32_t ascent, int32_t resolutionY, int32_t dpiY)
{
    const double sy = static_cast<double>(resolutionY) / static_cast<double>(dpiY);
    return -static_cast<int32_t>(std::trunc(ascent * sy));
}

int32_t renderingWidth(int32_t aveCharWidth, int32_t resolutionX, int32_t resolutionY, int32_t dpiX,
                       int32_t dpiY)
{
    if (resolutionX == dpiX)
        return 0;
    if (resolutionX == resolutionY && dpiX == dpiY)
        return 0;
    const double sx = static_cast<double>(resolutionX) / static_cast<double>(dpiX);
    return static_cast<int32_t>(std::trunc(aveCharWidth * sx));
}

GlyphRasteriser::GlyphRasteriser(gdi::DeviceContext& dc) : dc_(dc) {}

GlyphRasteriser::~GlyphRasteriser()
{
    finish();
    // The scratch bitmap, the rendering font and the point font go, in that order. The device
    // context may still hold the rendering font; it keeps its own reference.
    scratch_.reset();
    renderingFont_.reset();
    pointFont_.reset();
}

qf::Status GlyphRasteriser::realise(const gdi::LOGFONT& font, int32_t pointSize, int32_t resolutionX,
                                    int32_t resolutionY)
{
    const std::string faceName = gdi::faceNameUtf8(font);
    auto refuse = [&](std::string why) { return qf::Failure{std::move(why), {}, faceName, {}}; };
    if (pointSize < 1 || pointSize > kMaxPointSize)
        return refuse("point size " + std::to_string(pointSize) + " is outside 1 to " +
                      std::to_string(kMaxPointSize));
    if (!resolutionInRange(resolutionX, resolutionY))
        return refuse("resolution " + std::to_string(resolutionX) + " x " +
                      std::to_string(resolutionY) + " is outside 1 to " +
                      std::to_string(kMaxResolution) + " dpi");

    gdi::LOGFONT lf = font;
    const int32_t dpiX = dc_.getDeviceCaps(gdi::LOGPIXELSX);
    const int32_t dpiY = dc_.getDeviceCaps(gdi::LOGPIXELSY);

    // A height of 0 asks for the default size: a font that rounds to no pixels at all would come
    // out as a 16-pixel font labelled with the requested size, so it is refused instead.
    auto noPixels = [&](const char* which, int32_t dpi) {
        return refuse(std::to_string(pointSize) + " points would be 0 pixels high (the " + which +
                      " at " + std::to_string(dpi) + " dpi)");
    };
    lf.lfHeight = 10 * pointSize;
    pointFont_ = gdi::Font::createPointFontIndirect(lf, dc_);
    // Why the platform could not load the font, asked at once: the next call would set it anew.
    qf::Failure notLoaded = pointFont_ ? qf::Failure{} : gdi::Font::lastFailure();
    pointFontHeight_ = pointFont_ ? pointFont_->logFont().lfHeight : 0;
    if (pointFont_ && pointFontHeight_ == 0)
        return noPixels("point font", dpiY);
    if (pointFont_)
        dc_.selectObject(pointFont_);
    dc_.getTextMetrics(&pointMetrics_);

    lf.lfHeight = renderingHeight(pointMetrics_.tmAscent, resolutionY, dpiY);
    if (pointFont_ && lf.lfHeight == 0)
        return noPixels("target resolution", resolutionY);
    lf.lfWidth = renderingWidth(pointMetrics_.tmAveCharWidth, resolutionX, resolutionY, dpiX, dpiY);
    renderingLogFont_ = lf;
    renderingFont_ = pointFont_ ? gdi::Font::createFontIndirect(lf) : nullptr;
    if (pointFont_ && !renderingFont_)
        notLoaded = gdi::Font::lastFailure();
    if (renderingFont_)
        dc_.selectObject(renderingFont_);
    // Without either font the device context would go on drawing with the one it held before.
    if (!pointFont_ || !renderingFont_ || !dc_.getTextMetrics(&metrics_))
        return qf::Failure{"the font \"" + faceName + "\" cannot be loaded", notLoaded.file, faceName,
                           notLoaded.what.empty() ? "its file cannot be read" : notLoaded.reason()};
    if (metrics_.tmHeight < 1)
        return refuse("the realised font has no height");
    return qf::Status();
}

qf::Status GlyphRasteriser::checkFontFile() const
{
    for (const auto* font : {&renderingFont_, &pointFont_})
        if (*font)
            if (qf::Status same = (*font)->checkFile(); !same)
                return same;
    return qf::Status();
}

qf::Status GlyphRasteriser::prepare(int width, int rowsAround)
{
    finish();
    const int64_t height = int64_t{metrics_.tmHeight} + 2 * int64_t{std::max(rowsAround, 0)};
    rowsAround_ = std::max(rowsAround, 0);
    scratch_ = height <= INT32_MAX ? gdi::Bitmap::create(width, static_cast<int>(height)) : nullptr;
    if (!scratch_)
        return qf::Failure{"a " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixel scratch bitmap would exceed " + std::to_string(gdi::Bitmap::kMaxBytes >> 20) + " MiB"};
    previousBitmap_ = dc_.selectObject(scratch_);
    bitmapSelected_ = true;
    bitmapInfo_ = scratch_->getObject();
    // The device context tells what each glyph drew on, so the next one clears only that.
    boundsBefore_ = dc_.setBoundsRect(nullptr, gdi::DCB_ENABLE | gdi::DCB_RESET);
    clearAll_ = true;
    dc_.setBkColor(0x000000);
    dc_.setTextColor(0xFFFFFF);
    // Every render starts from a clear bitmap, so filling the cell with the background colour
    // first would change nothing: the text is drawn transparent, ink only.
    bkModeBefore_ = dc_.setBkMode(gdi::TRANSPARENT);
    return qf::Status();
}

template <class Draw, class Measure>
RenderedGlyph GlyphRasteriser::renderWith(int code, int originX, Draw&& draw, Measure&& measure)
{
    RenderedGlyph glyph;
    glyph.code = code;
    glyph.widthBytes = bitmapInfo_.bmWidthBytes;
    glyph.width = bitmapInfo_.bmWidth;
    glyph.height = bitmapInfo_.bmHeight;
    if (!bitmapSelected_)
        return glyph;

    dc_.setViewportOrg(0, 0);
    // Clearing the whole bitmap for every glyph cost more than drawing most of them: only the
    // pixels the previous glyph's drawing may have changed are cleared, the whole bitmap once.
    if (clearAll_) {
        dc_.patBlt(0, 0, bitmapInfo_.bmWidth + 1, bitmapInfo_.bmHeight + 1, gdi::BLACKNESS);
        clearAll_ = false;
    } else if (dirty_.right > dirty_.left && dirty_.bottom > dirty_.top) {
        dc_.patBlt(dirty_.left, dirty_.top, dirty_.right - dirty_.left, dirty_.bottom - dirty_.top, gdi::BLACKNESS);
    }
    dc_.getBoundsRect(nullptr, gdi::DCB_RESET);
    draw(originX);
    dc_.getBoundsRect(&dirty_, gdi::DCB_RESET);
    glyph.inkLeft = dirty_.left;
    glyph.inkTop = dirty_.top;
    glyph.inkRight = dirty_.right;
    glyph.inkBottom = dirty_.bottom;
    glyph.inkKnown = true;
    // The read-back: the bitmap's own rows are the scratch buffer, so nothing is copied per glyph.
    glyph.rows = scratch_->bits();
    gdi::SIZE extent;
    // A broken metrics table can give a negative advance; no format can step backwards over a
    // character, so every writer gets none instead.
    if (measure(&extent))
        glyph.cx = std::max<int32_t>(extent.cx, 0);
    return glyph;
}

RenderedGlyph GlyphRasteriser::render(uint8_t code, int originX)
{
    const char text[1] = {static_cast<char>(code)};
    return renderWith(
        code, originX, [&](int x) { dc_.textOut(x, rowsAround_, text, 1); },
        [&](gdi::SIZE* extent) { return dc_.getTextExtentPoint(text, 1, extent); });
}

RenderedGlyph GlyphRasteriser::renderCharacter(char32_t character, int originX)
{
    return renderWith(
        static_cast<int>(character), originX, [&](int x) { dc_.textOutW(x, rowsAround_, &character, 1); },
        [&](gdi::SIZE* extent) { return dc_.getTextExtentPointW(&character, 1, extent); });
}

void GlyphRasteriser::finish()
{
    if (bitmapSelected_) {
        if (boundsBefore_ & gdi::DCB_DISABLE)
            dc_.setBoundsRect(nullptr, gdi::DCB_DISABLE);
        dc_.setBkMode(bkModeBefore_);
        if (previousBitmap_)
            dc_.selectObject(previousBitmap_);
        previousBitmap_.reset();
        bitmapSelected_ = false;
    }
}

}  // namespace qf
