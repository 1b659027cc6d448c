#include "platform/DeviceContext.h"

#include "platform/FontImpl.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace gdi {

namespace {

// Glyphs are rasterised in tiles of at most this many pixels a side, clipped to the bitmap, so a
// huge glyph never needs a bitmap of its own.
constexpr int64_t kTile = 2048;

// A colour on a monochrome surface: 1 (white) when it is nearer white than black.
bool monoBit(COLORREF colour)
{
    const unsigned r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    return r * 30 + g * 59 + b * 11 >= 128 * 100;
}

}  // namespace

// The point size becomes pixels at the device context's resolution; defined beside the device
// context so that the font needs nothing of it.
std::shared_ptr<Font> Font::createPointFontIndirect(const LOGFONT& lf, const DeviceContext& dc)
{
    LOGFONT copy = lf;
    const int64_t y = int64_t{dc.getDeviceCaps(LOGPIXELSY)} * lf.lfHeight / 720;
    copy.lfHeight = clampLong(-std::llabs(y));
    return createFontIndirect(copy);
}

struct DeviceContext::Impl {
    int dpiX = 96;
    int dpiY = 96;
    unsigned oemCodePage = 437;
    std::shared_ptr<Font> font;
    std::shared_ptr<Bitmap> bitmap;
    COLORREF bkColour = 0xFFFFFF;
    int bkMode = OPAQUE;
    COLORREF textColour = 0x000000;
    int viewportX = 0;
    int viewportY = 0;
    std::vector<uint8_t> tile;  // one glyph tile at a time, reused
    uint64_t inkedCharacters = 0;
    bool defaultFontRealised = false;
    bool boundsEnabled = false;
    PixelBox bounds;  // device pixels drawn on while accumulating; empty when xMin >= xMax

    void accumulate(const PixelBox& box)
    {
        if (!boundsEnabled || box.xMin >= box.xMax || box.yMin >= box.yMax)
            return;
        if (bounds.xMin >= bounds.xMax) {
            bounds = box;
            return;
        }
        bounds.xMin = std::min(bounds.xMin, box.xMin);
        bounds.yMin = std::min(bounds.yMin, box.yMin);
        bounds.xMax = std::max(bounds.xMax, box.xMax);
        bounds.yMax = std::max(bounds.yMax, box.yMax);
    }

    // The selected font, the default one realised on first use; null only when none can be.
    Font* realiseDefaultFont()
    {
        if (!font && !defaultFontRealised) {
            defaultFontRealised = true;
            font = Font::createFontIndirect(LOGFONT{});
        }
        return font.get();
    }

    // True when the glyph put any pixel on the bitmap.
    // TextOut's work, whichever way its characters are given: glyph(i) is the i-th one's glyph.
    template <class GlyphOf>
    bool drawText(int x, int y, int count, GlyphOf&& glyphOf);
    bool drawGlyph(Bitmap& target, Font::Impl& font, Font::Impl::Glyph& glyph, int64_t penX, int64_t baseline,
                   bool ink);
};

namespace {

// Sets or clears the bits of a rectangle, clipped to the bitmap; gives the part changed.
PixelBox fillRect(Bitmap& target, int64_t x, int64_t y, int64_t width, int64_t height, bool bit)
{
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + width, target.width());
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(y + height, target.height());
    if (x0 >= x1 || y0 >= y1)
        return {};
    const int64_t b0 = x0 >> 3, b1 = (x1 - 1) >> 3;
    auto firstMask = static_cast<uint8_t>(0xFF >> (x0 & 7));
    const auto lastMask = static_cast<uint8_t>(0xFF << (7 - ((x1 - 1) & 7)));
    if (b0 == b1)
        firstMask &= lastMask;
    const uint8_t fill = bit ? 0xFF : 0x00;
    const auto middle = static_cast<size_t>(b1 > b0 + 1 ? b1 - b0 - 1 : 0);
    // A glyph's cell is a few bytes wide: rows that narrow are filled byte by byte, not by a call.
    constexpr size_t kByByte = 16;
    uint8_t* p = target.bits() + y0 * target.widthBytes() + b0;
    for (int64_t row = y0; row < y1; ++row, p += target.widthBytes()) {
        p[0] = static_cast<uint8_t>((p[0] & ~firstMask) | (fill & firstMask));
        if (b0 == b1)
            continue;
        if (middle <= kByByte)
            for (size_t i = 1; i <= middle; ++i)
                p[i] = fill;
        else
            std::memset(p + 1, fill, middle);
        p[middle + 1] = static_cast<uint8_t>((p[middle + 1] & ~lastMask) | (fill & lastMask));
    }
    return {x0, y0, x1, y1};
}

// Puts a tile's 1 bits (pixels from column 0 of each source row) into the bitmap at (x, y) with
// byte shifts: set for ink 1, cleared for ink 0. The tile lies inside the bitmap. True when the
// tile held any pixel.
bool blitTile(const uint8_t* source, int64_t pitch, int64_t width, int64_t height, Bitmap& target,
              int64_t x, int64_t y, bool ink)
{
    const int shift = static_cast<int>(x & 7);
    const int64_t sourceBytes = (width + 7) >> 3;
    const int64_t lastByte = ((x + width - 1) >> 3) - (x >> 3);
    bool any = false;
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* s = source + row * pitch;
        uint8_t* d = target.bits() + (y + row) * target.widthBytes() + (x >> 3);
        for (int64_t i = 0; i < sourceBytes; ++i) {
            const uint8_t v = s[i];
            if (v == 0)
                continue;
            any = true;
            const auto high = static_cast<uint8_t>(v >> shift);
            const auto low = static_cast<uint8_t>(v << (8 - shift));
            if (ink) {
                d[i] |= high;
                if (shift != 0 && i + 1 <= lastByte)
                    d[i + 1] |= low;
            } else {
                d[i] &= static_cast<uint8_t>(~high);
                if (shift != 0 && i + 1 <= lastByte)
                    d[i + 1] &= static_cast<uint8_t>(~low);
            }
        }
    }
    return any;
}

}  // namespace

template <class GlyphOf>
bool DeviceContext::Impl::drawText(int x, int y, int count, GlyphOf&& glyphOf)
{
    Font::Impl& f = font->impl();
    Bitmap& target = *bitmap;
    const int64_t originX = int64_t{x} + viewportX;
    const int64_t top = int64_t{y} + viewportY;
    const bool ink = monoBit(textColour);
    const bool paper = monoBit(bkColour);

    int64_t width = 0;
    for (int i = 0; i < count; ++i)
        width += glyphOf(i).advance;
    // In the default background mode, opaque, the text's cell is filled first.
    if (bkMode == OPAQUE)
        accumulate(fillRect(target, originX, top, width, f.tm.tmHeight, paper));

    const int64_t baseline = top + f.tm.tmAscent;
    int64_t pen = originX;
    for (int i = 0; i < count; ++i) {
        Font::Impl::Glyph& glyph = glyphOf(i);
        if (drawGlyph(target, f, glyph, pen, baseline, ink))
            ++inkedCharacters;
        pen += glyph.advance;
    }

    if (f.lf.lfUnderline || f.lf.lfStrikeOut) {
        const int64_t es = ft::emScale(f.ppem, f.design.unitsPerEm);
        auto line = [&](int position, int thickness) {
            const int64_t t = std::max<int64_t>(1, ft::scaleRound(thickness, es));
            accumulate(fillRect(target, originX, baseline - ft::scaleRound(position, es), width, t, ink));
        };
        if (f.lf.lfUnderline)
            line(f.design.underlinePosition, f.design.underlineThickness);
        if (f.lf.lfStrikeOut)
            line(f.design.strikeoutPosition, f.design.strikeoutThickness);
    }
    return true;
}

bool DeviceContext::Impl::drawGlyph(Bitmap& target, Font::Impl& font, Font::Impl::Glyph& glyph, int64_t penX,
                                    int64_t baseline, bool ink)
{
    FT_Outline* drawn = font.outline(glyph);
    if (!drawn)
        return false;
    bool inked = false;
    FT_Outline& outline = *drawn;
    const int64_t left = std::max<int64_t>(penX + glyph.box.xMin, 0);
    const int64_t right = std::min<int64_t>(penX + glyph.box.xMax, target.width());
    const int64_t top = std::max<int64_t>(baseline - glyph.box.yMax, 0);
    const int64_t bottom = std::min<int64_t>(baseline - glyph.box.yMin, target.height());
    for (int64_t ty = top; ty < bottom; ty += kTile) {
        const int64_t h = std::min(kTile, bottom - ty);
        for (int64_t tx = left; tx < right; tx += kTile) {
            const int64_t w = std::min(kTile, right - tx);
            const int64_t pitch = (w + 7) >> 3;
            const auto bytes = static_cast<size_t>(pitch * h);
            if (tile.size() < bytes)
                tile.resize(bytes);
            std::memset(tile.data(), 0, bytes);
            FT_Bitmap bitmap{};
            bitmap.rows = static_cast<unsigned>(h);
            bitmap.width = static_cast<unsigned>(w);
            bitmap.pitch = static_cast<int>(pitch);
            bitmap.buffer = tile.data();
            bitmap.pixel_mode = FT_PIXEL_MODE_MONO;
            bitmap.num_grays = 2;
            // Whole-pixel moves leave FreeType's pixel decisions as they are, so each tile holds
            // the same pixels FreeType's own rendering of the glyph has there.
            const FT_Pos dx = static_cast<FT_Pos>((penX - tx) * 64);
            const FT_Pos dy = static_cast<FT_Pos>((ty + h - baseline) * 64);
            FT_Outline_Translate(&outline, dx, dy);
            FT_Outline_Get_Bitmap(ft::library(), &outline, &bitmap);
            FT_Outline_Translate(&outline, -dx, -dy);
            inked |= blitTile(tile.data(), pitch, w, h, target, tx, ty, ink);
            accumulate({tx, ty, tx + w, ty + h});
        }
    }
    return inked;
}

DeviceContext::DeviceContext() : impl_(std::make_unique<Impl>())
{
    // A fresh memory device context has a one-pixel monochrome bitmap and the default font; the
    // font is realised when first needed, so a context that only enumerates never loads a face.
    impl_->bitmap = Bitmap::create(1, 1);
}

DeviceContext::~DeviceContext() = default;

void DeviceContext::setResolution(int dpiX, int dpiY)
{
    if (dpiX > 0)
        impl_->dpiX = dpiX;
    if (dpiY > 0)
        impl_->dpiY = dpiY;
}

int DeviceContext::getDeviceCaps(int index) const
{
    switch (index) {
    case LOGPIXELSX: return impl_->dpiX;
    case LOGPIXELSY: return impl_->dpiY;
    default: return 0;
    }
}

void DeviceContext::setOemCodePage(unsigned codePage) { impl_->oemCodePage = codePage; }
unsigned DeviceContext::oemCodePage() const { return impl_->oemCodePage; }

std::shared_ptr<Font> DeviceContext::selectObject(std::shared_ptr<Font> font)
{
    if (!font)
        return nullptr;
    impl_->realiseDefaultFont();
    std::swap(font, impl_->font);
    return font;
}

std::shared_ptr<Bitmap> DeviceContext::selectObject(std::shared_ptr<Bitmap> bitmap)
{
    if (!bitmap)
        return nullptr;
    std::swap(bitmap, impl_->bitmap);
    return bitmap;
}

const std::shared_ptr<Font>& DeviceContext::currentFont() const
{
    impl_->realiseDefaultFont();
    return impl_->font;
}
const std::shared_ptr<Bitmap>& DeviceContext::currentBitmap() const { return impl_->bitmap; }

bool DeviceContext::getTextMetrics(TEXTMETRIC* tm) const
{
    if (!tm || !impl_->realiseDefaultFont())
        return false;
    *tm = impl_->font->impl().tm;
    tm->tmDigitizedAspectX = impl_->dpiX;
    tm->tmDigitizedAspectY = impl_->dpiY;
    return true;
}

int DeviceContext::setBkMode(int mode)
{
    if (mode != OPAQUE && mode != TRANSPARENT)
        return 0;
    std::swap(mode, impl_->bkMode);
    return mode;
}

COLORREF DeviceContext::setBkColor(COLORREF colour)
{
    std::swap(colour, impl_->bkColour);
    return colour;
}

COLORREF DeviceContext::setTextColor(COLORREF colour)
{
    std::swap(colour, impl_->textColour);
    return colour;
}

void DeviceContext::setViewportOrg(int x, int y)
{
    impl_->viewportX = x;
    impl_->viewportY = y;
}

bool DeviceContext::patBlt(int x, int y, int width, int height, DWORD rop)
{
    if (!impl_->bitmap || (rop != BLACKNESS && rop != WHITENESS))
        return false;
    int64_t x0 = int64_t{x} + impl_->viewportX, y0 = int64_t{y} + impl_->viewportY;
    int64_t w = width, h = height;
    if (w < 0) {
        x0 += w;
        w = -w;
    }
    if (h < 0) {
        y0 += h;
        h = -h;
    }
    impl_->accumulate(fillRect(*impl_->bitmap, x0, y0, w, h, rop == WHITENESS));
    return true;
}

bool DeviceContext::textOut(int x, int y, const char* text, int count)
{
    if (count < 0 || (count > 0 && !text) || !impl_->realiseDefaultFont() || !impl_->bitmap)
        return false;
    Font::Impl& font = impl_->font->impl();
    const unsigned oem = impl_->oemCodePage;
    return impl_->drawText(x, y, count, [&](int i) -> Font::Impl::Glyph& {
        return font.glyphFor(static_cast<uint8_t>(text[i]), oem);
    });
}

bool DeviceContext::textOutW(int x, int y, const char32_t* text, int count)
{
    if (count < 0 || (count > 0 && !text) || !impl_->realiseDefaultFont() || !impl_->bitmap)
        return false;
    Font::Impl& font = impl_->font->impl();
    return impl_->drawText(x, y, count, [&](int i) -> Font::Impl::Glyph& { return font.glyphForCharacter(text[i]); });
}

DWORD DeviceContext::getGlyphIndices(const char32_t* text, int count, WORD* indices, DWORD flags) const
{
    if (count < 0 || (count > 0 && (!text || !indices)) || !impl_->realiseDefaultFont())
        return GDI_ERROR;
    const WORD missing = (flags & GGI_MARK_NONEXISTING_GLYPHS) ? 0xFFFF : 0;
    Font::Impl& font = impl_->font->impl();
    auto lock = font.shared->lock();
    FT_Face f = font.shared->face();
    const bool unicode = FT_Select_Charmap(f, font.design.symbol ? FT_ENCODING_MS_SYMBOL : FT_ENCODING_UNICODE) == 0;
    for (int i = 0; i < count; ++i) {
        const FT_UInt index = unicode ? FT_Get_Char_Index(f, text[i]) : 0;
        indices[i] = index == 0 || index > 0xFFFE ? missing : static_cast<WORD>(index);
    }
    return static_cast<DWORD>(count);
}

uint64_t DeviceContext::inkedCharacters() const { return impl_->inkedCharacters; }

UINT DeviceContext::setBoundsRect(const RECT* rect, UINT flags)
{
    const UINT previous = getBoundsRect(nullptr, 0);
    if (flags & DCB_RESET)
        impl_->bounds = PixelBox{};
    if ((flags & DCB_ACCUMULATE) && rect) {
        // Logical coordinates, as the drawing calls take them; a rectangle may come either way round.
        const bool was = impl_->boundsEnabled;
        impl_->boundsEnabled = true;
        impl_->accumulate({std::min<int64_t>(rect->left, rect->right) + impl_->viewportX,
                           std::min<int64_t>(rect->top, rect->bottom) + impl_->viewportY,
                           std::max<int64_t>(rect->left, rect->right) + impl_->viewportX,
                           std::max<int64_t>(rect->top, rect->bottom) + impl_->viewportY});
        impl_->boundsEnabled = was;
    }
    if (flags & DCB_ENABLE)
        impl_->boundsEnabled = true;
    if (flags & DCB_DISABLE)
        impl_->boundsEnabled = false;
    return previous;
}

UINT DeviceContext::getBoundsRect(RECT* rect, UINT flags)
{
    const PixelBox& b = impl_->bounds;
    const bool empty = b.xMin >= b.xMax || b.yMin >= b.yMax;
    if (rect) {
        *rect = empty ? RECT{} : RECT{clampLong(b.xMin - impl_->viewportX), clampLong(b.yMin - impl_->viewportY),
                                      clampLong(b.xMax - impl_->viewportX), clampLong(b.yMax - impl_->viewportY)};
    }
    if (flags & DCB_RESET)
        impl_->bounds = PixelBox{};
    return (impl_->boundsEnabled ? DCB_ENABLE : DCB_DISABLE) | (empty ? DCB_RESET : DCB_SET);
}

bool DeviceContext::getTextExtentPointW(const char32_t* text, int count, SIZE* size) const
{
    if (!size || count < 0 || (count > 0 && !text) || !impl_->realiseDefaultFont())
        return false;
    Font::Impl& font = impl_->font->impl();
    int64_t width = 0;
    for (int i = 0; i < count; ++i)
        width += font.glyphForCharacter(text[i]).advance;
    size->cx = clampLong(width);
    size->cy = font.tm.tmHeight;
    return true;
}

std::vector<char32_t> DeviceContext::mappedCharacters() const
{
    std::vector<char32_t> characters;
    if (!impl_->realiseDefaultFont())
        return characters;
    Font::Impl& font = impl_->font->impl();
    auto lock = font.shared->lock();
    FT_Face f = font.shared->face();
    if (FT_Select_Charmap(f, font.design.symbol ? FT_ENCODING_MS_SYMBOL : FT_ENCODING_UNICODE) != 0)
        return characters;
    // About a character per glyph, as a start: a CJK face's list grown by doubling is copied over
    // and over.
    characters.reserve(static_cast<size_t>(std::clamp<FT_Long>(f->num_glyphs, 0, 0x10000)));
    FT_UInt index = 0;
    for (FT_ULong c = FT_Get_First_Char(f, &index); index != 0; c = FT_Get_Next_Char(f, c, &index))
        if (c <= 0x10FFFF)
            characters.push_back(static_cast<char32_t>(c));
    return characters;
}

bool DeviceContext::getTextExtentPoint(const char* text, int count, SIZE* size) const
{
    if (!size || count < 0 || (count > 0 && !text) || !impl_->realiseDefaultFont())
        return false;
    Font::Impl& font = impl_->font->impl();
    int64_t width = 0;
    for (int i = 0; i < count; ++i)
        width += font.glyphFor(static_cast<uint8_t>(text[i]), impl_->oemCodePage).advance;
    size->cx = clampLong(width);
    size->cy = font.tm.tmHeight;
    return true;
}

}  // namespace gdi
