#include "platform/DeviceContext.h"

#include "platform/CodePages.h"
#include "platform/FontCatalog.h"
#include "platform/FaceFiles.h"
#include "platform/FaceMetrics.h"

#include FT_OUTLINE_H
#include FT_ADVANCES_H
#include FT_SIZES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace gdi {

namespace {

// Sizes are kept exact far beyond anything drawable, so a caller sizing its bitmaps from the
// metrics refuses an absurd size instead of getting a silently smaller font.
constexpr int64_t kMaxPpem = int64_t{1} << 24;
// FreeType keeps pixel sizes in 16 bits and its rasteriser works in bands of 16-bit rows: glyphs
// are drawn up to this size; larger ones are measured but not drawn.
constexpr int64_t kMaxDrawnPpem = 16383;
// Glyphs are rasterised in tiles of at most this many pixels a side, clipped to the bitmap, so a
// huge glyph never needs a bitmap of its own.
constexpr int64_t kTile = 2048;

constexpr LONG clampLong(int64_t v)
{
    return static_cast<LONG>(std::clamp<int64_t>(v, std::numeric_limits<LONG>::min(),
                                                 std::numeric_limits<LONG>::max()));
}

LONG gdiRound(double v)
{
    return clampLong(static_cast<int64_t>(std::floor(std::min(v, 4e18) + 0.5)));
}

// A colour on a monochrome surface: 1 (white) when it is nearer white than black.
bool monoBit(COLORREF colour)
{
    const unsigned r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    return r * 30 + g * 59 + b * 11 >= 128 * 100;
}

// FreeType's own pixel box for a monochrome rendering of an outline (what FT_Render_Glyph would
// allocate): rounded so that a pixel is inside when its centre is, widened to one pixel when it
// collapses. Drawing clipped to this box gives exactly FreeType's pixels.
struct PixelBox {
    int64_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

void roundAxis(FT_Pos lo, FT_Pos hi, int64_t* outLo, int64_t* outHi)
{
    int64_t a = (lo >> 6) + (((lo & 63) + 31) >> 6);
    int64_t b = (hi >> 6) + (((hi & 63) + 32) >> 6);
    if (a == b) {
        if ((((lo & 63) + 31) & 63) - 31 + (((hi & 63) + 32) & 63) - 32 < 0)
            --a;
        else
            ++b;
    }
    *outLo = a;
    *outHi = b;
}

PixelBox monoPixelBox(const FT_Outline& outline)
{
    FT_BBox cbox;
    FT_Outline_Get_CBox(&outline, &cbox);
    PixelBox box;
    roundAxis(cbox.xMin, cbox.xMax, &box.xMin, &box.xMax);
    roundAxis(cbox.yMin, cbox.yMax, &box.yMin, &box.yMax);
    return box;
}

}  // namespace

// ---- Font --------------------------------------------------------------------------------

// A glyph's outline copied out of the face's glyph slot, in storage that is reused once the
// glyph lets it go: a size's rendering copies every character's outline, and allocating and
// freeing four blocks for each cost more than the copying.
struct OutlineCopy {
    std::vector<FT_Vector> points;
    std::vector<std::remove_pointer_t<decltype(FT_Outline::tags)>> tags;
    std::vector<std::remove_pointer_t<decltype(FT_Outline::contours)>> contours;
    FT_Outline outline{};

    void assign(const FT_Outline& from)
    {
        const auto nPoints = static_cast<size_t>(from.n_points);
        const auto nContours = static_cast<size_t>(from.n_contours);
        points.assign(from.points, from.points + nPoints);
        tags.assign(from.tags, from.tags + nPoints);
        contours.assign(from.contours, from.contours + nContours);
        outline = from;
        outline.points = points.data();
        outline.tags = tags.data();
        outline.contours = contours.data();
        outline.flags = from.flags & ~FT_OUTLINE_OWNER;  // FreeType must never free our storage
    }
};

struct Font::Impl {
    struct Glyph {
        FT_UInt index = 0;
        int32_t advance = 0;        // whole pixels
        bool outlined = false;      // there is an outline to draw
        std::unique_ptr<OutlineCopy> image;  // the hinted (and synthesised) outline while it is kept
        PixelBox box;               // FreeType's pixel box, relative to the pen on the baseline
    };
    // Outlines kept for drawing again, oldest first. Advances and boxes are kept for every glyph;
    // the outlines of the last few only, as a size's rendering draws each glyph once and a
    // preview's text has few distinct characters: memory stays flat at any size.
    static constexpr size_t kKeptOutlines = 64;
    std::deque<FT_UInt> keptOutlines;
    std::unique_ptr<OutlineCopy> spareOutline;  // the storage of the last outline let go

    LOGFONT lf{};
    FaceInfo face;
    std::shared_ptr<ft::SharedFace> shared;
    ft::DesignMetrics design;
    int64_t ppem = 0;
    int64_t xppem = 0;  // horizontal pixels per em: ppem, stretched by lfWidth
    bool fromVdmx = false;  // ascent and descent come from the face's VDMX table
    ft::VdmxEntry vdmx;
    bool fakeBold = false;
    bool fakeItalic = false;
    TEXTMETRIC tm{};
    bool drawable = false;
    ft::SizePtr size;

    std::unordered_map<FT_UInt, Glyph> glyphs;
    std::array<FT_UInt, 256> byteIndices{};  // glyph index of each byte in the mapped code page
    std::array<Glyph*, 256> byteGlyphs{};    // loaded on first use
    std::unordered_map<char32_t, Glyph*> characterGlyphs;  // drawn by character, on first use
    unsigned mappedCodePage = 0;
    unsigned mappedOemCodePage = 0;  // the device context's OEM page the mapping was made under
    bool mapped = false;

    ~Impl()
    {
        if (size && shared) {
            auto lock = shared->lock();
            size.reset();
        }
    }

    void computeMetrics();
    Glyph& glyphFor(uint8_t byte, unsigned oemCodePage);
    Glyph& glyphForCharacter(char32_t c);
    Glyph& load(FT_UInt index);
    // The glyph's outline, loaded again if it was let go; null when there is nothing to draw.
    FT_Outline* outline(Glyph& glyph);
    void loadOutline(Glyph& glyph);
    void mapBytes(unsigned codePage, unsigned oemCodePage);
};

void Font::Impl::computeMetrics()
{
    const int64_t es = ft::emScale(ppem, design.unitsPerEm);
    if (fromVdmx) {
        // The face's own table of hinted extents for this size, as GDI uses it.
        tm.tmAscent = vdmx.yMax;
        tm.tmDescent = -vdmx.yMin;
        tm.tmHeight = tm.tmAscent + tm.tmDescent;
        tm.tmInternalLeading = clampLong(tm.tmHeight - ppem);
    } else {
        const int64_t ascent = ft::scaleRound(design.ascent, es);
        const int64_t descent = ft::scaleRound(design.descent, es);
        tm.tmAscent = clampLong(ascent);
        tm.tmDescent = clampLong(descent);
        tm.tmHeight = clampLong(ascent + descent);
        tm.tmInternalLeading =
            clampLong(ft::scaleRound(int64_t{design.ascent} + design.descent - design.unitsPerEm, es));
    }
    // GDI's external leading: the line gap less what the Windows ascent and descent already add
    // to the typographic ones.
    const int64_t gap = int64_t{design.lineGap} -
                        ((int64_t{design.ascent} + design.descent) - (design.hheaAscender - design.hheaDescender));
    tm.tmExternalLeading = clampLong(std::max<int64_t>(0, ft::scaleRound(gap, es)));
    int64_t average = ft::scaleRound(design.xAvgCharWidth, es);
    if (average == 0)
        average = 1;
    const int64_t maximum = ft::scaleRound(design.bboxWidth, es);
    xppem = ppem;
    if (lf.lfWidth != 0) {
        // lfWidth asks for an average character width: everything horizontal scales by its ratio
        // to the face's own average at this height.
        const double scaleX = std::abs(static_cast<double>(lf.lfWidth)) / static_cast<double>(average);
        tm.tmAveCharWidth = gdiRound(static_cast<double>(average) * scaleX);
        tm.tmMaxCharWidth = gdiRound(static_cast<double>(maximum) * scaleX);
        xppem = std::clamp<int64_t>(gdiRound(static_cast<double>(ppem) * scaleX), 1, kMaxPpem);
    } else {
        tm.tmAveCharWidth = clampLong(average);
        tm.tmMaxCharWidth = clampLong(maximum);
    }
    tm.tmWeight = fakeBold ? FW_BOLD : ft::reportedWeight(design);
    tm.tmOverhang = 0;
    tm.tmItalic = (face.italic || fakeItalic) ? 255 : 0;
    tm.tmUnderlined = lf.lfUnderline ? 255 : 0;
    tm.tmStruckOut = lf.lfStrikeOut ? 255 : 0;
    tm.tmPitchAndFamily = design.pitchAndFamily;
    if (tm.tmCharSet == SYMBOL_CHARSET && design.symbol) {
        // A symbol face covers the codes its (3,0) cmap has.
        tm.tmFirstChar = static_cast<BYTE>(design.symbolFirst);
        tm.tmLastChar = static_cast<BYTE>(design.symbolLast);
        tm.tmDefaultChar = static_cast<BYTE>(std::max(design.symbolFirst, 0x1F));
        tm.tmBreakChar = static_cast<BYTE>(std::clamp(0x20, design.symbolFirst, design.symbolLast));
    } else {
        // What GDI reports for every TrueType text face in an 8-bit code page.
        tm.tmFirstChar = 0x1E;
        tm.tmLastChar = 0xFF;
        tm.tmDefaultChar = 0x1F;
        tm.tmBreakChar = 0x20;
    }
    drawable = ppem <= kMaxDrawnPpem && xppem <= kMaxDrawnPpem;
}

void Font::Impl::mapBytes(unsigned codePage, unsigned oemCodePage)
{
    std::array<FT_UInt, 256>& indices = byteIndices;
    indices.fill(0);
    {
        auto lock = shared->lock();
        FT_Face f = shared->face();
        if (design.symbol) {
            // Symbol faces keep their codes at U+F000 + byte (some old ones at the byte itself).
            FT_Select_Charmap(f, FT_ENCODING_MS_SYMBOL);
            for (int b = 0; b < 256; ++b) {
                indices[b] = FT_Get_Char_Index(f, 0xF000u + b);
                if (indices[b] == 0)
                    indices[b] = FT_Get_Char_Index(f, b);
            }
        } else {
            // A face without a Unicode cmap has nothing to map characters through: the box only.
            const ByteMap characters = byteCharacters(tm.tmCharSet, oemCodePage);
            if (FT_Select_Charmap(f, FT_ENCODING_UNICODE) == 0) {
                for (int b = 0; b < 256; ++b) {
                    const char32_t c = characters[b];
                    // A byte without a character, or a character the face lacks, draws glyph 0,
                    // the face's missing-glyph box, as GDI does.
                    indices[b] = c == kUnmapped ? 0 : FT_Get_Char_Index(f, c);
                }
            }
        }
    }
    byteGlyphs.fill(nullptr);
    mappedCodePage = codePage;
    mappedOemCodePage = oemCodePage;
    mapped = true;
}

Font::Impl::Glyph& Font::Impl::glyphFor(uint8_t byte, unsigned oemCodePage)
{
    // Only the OEM page can change which code page a realised font maps through, so the mapping
    // is looked at again only when the device context's OEM page differs from the last one.
    if (!mapped || oemCodePage != mappedOemCodePage) {
        const unsigned codePage = codePageOfCharset(tm.tmCharSet, oemCodePage);
        if (!mapped || codePage != mappedCodePage)
            mapBytes(codePage, oemCodePage);
        mappedOemCodePage = oemCodePage;
    }
    if (!byteGlyphs[byte])
        byteGlyphs[byte] = &load(byteIndices[byte]);
    return *byteGlyphs[byte];
}

Font::Impl::Glyph& Font::Impl::glyphForCharacter(char32_t c)
{
    if (const auto known = characterGlyphs.find(c); known != characterGlyphs.end())
        return *known->second;
    FT_UInt index = 0;
    {
        // The charmap is the face's state, shared with the other fonts of this thread.
        auto lock = shared->lock();
        FT_Face f = shared->face();
        if (design.symbol) {
            if (FT_Select_Charmap(f, FT_ENCODING_MS_SYMBOL) == 0)
                index = FT_Get_Char_Index(f, c);
        } else if (FT_Select_Charmap(f, FT_ENCODING_UNICODE) == 0) {
            index = FT_Get_Char_Index(f, c);
        }
    }
    Glyph& glyph = load(index);
    characterGlyphs.emplace(c, &glyph);
    return glyph;
}

Font::Impl::Glyph& Font::Impl::load(FT_UInt index)
{
    auto [it, inserted] = glyphs.try_emplace(index);
    Glyph& glyph = it->second;
    if (inserted) {
        glyph.index = index;
        loadOutline(glyph);
    }
    return glyph;
}

FT_Outline* Font::Impl::outline(Glyph& glyph)
{
    if (!glyph.image && glyph.outlined)
        loadOutline(glyph);
    return glyph.image ? &glyph.image->outline : nullptr;
}

void Font::Impl::loadOutline(Glyph& glyph)
{
    auto lock = shared->lock();
    FT_Face f = shared->face();
    if (drawable && !size) {
        FT_Size created = nullptr;
        if (FT_New_Size(f, &created) == 0) {
            size.reset(created);
            FT_Activate_Size(created);
            if (FT_Set_Pixel_Sizes(f, static_cast<FT_UInt>(xppem), static_cast<FT_UInt>(ppem)) != 0)
                size.reset();
        }
        drawable = size != nullptr;
    }
    if (!drawable) {
        // Too large to draw (or no size to draw at): the advance is the face's, scaled linearly.
        FT_Fixed advance = 0;
        if (FT_Get_Advance(f, glyph.index, FT_LOAD_NO_SCALE, &advance) == 0)
            glyph.advance = clampLong(mulDiv(advance, xppem, design.unitsPerEm));
        return;
    }
    FT_Activate_Size(size.get());

    // The monochrome hinting of the face's own instructions, outlines only (the pixels come from
    // our clipped rasterisation, at any size). Loading again gives the same outline.
    const FT_Int32 flags = FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_GLOBAL_ADVANCE_WIDTH;
    if (FT_Load_Glyph(f, glyph.index, flags) != 0 && FT_Load_Glyph(f, glyph.index, flags | FT_LOAD_NO_HINTING) != 0)
        return;
    FT_GlyphSlot slot = f->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE)
        return;
    int64_t advance = (slot->advance.x + 32) >> 6;
    if (fakeBold) {
        // GDI's synthetic bold: the outline thickened by a 24th of the em, one pixel more advance.
        FT_Outline_Embolden(&slot->outline, FT_MulDiv(static_cast<FT_Long>(ppem), 64, 24));
        ++advance;
    }
    if (fakeItalic) {
        // GDI's synthetic italic: a shear of one in four.
        FT_Matrix shear{0x10000, 0x4000, 0, 0x10000};
        FT_Outline_Transform(&slot->outline, &shear);
    }
    glyph.advance = clampLong(advance);
    if (slot->outline.n_points > 0) {
        glyph.image = spareOutline ? std::move(spareOutline) : std::make_unique<OutlineCopy>();
        glyph.image->assign(slot->outline);
        glyph.box = monoPixelBox(glyph.image->outline);
        glyph.outlined = true;
        keptOutlines.push_back(glyph.index);
        if (keptOutlines.size() > kKeptOutlines) {
            spareOutline = std::move(glyphs[keptOutlines.front()].image);
            keptOutlines.pop_front();
        }
    }
}

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::~Font() = default;

namespace {

const FaceInfo* matchFace(const LOGFONT& lf)
{
    const std::string name(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE));
    return FontCatalog::instance().match(name, lf.lfWeight, lf.lfItalic != 0, lf.lfCharSet, lf.lfPitchAndFamily);
}

}  // namespace

std::shared_ptr<const void> Font::holdFile(const LOGFONT& lf, std::string* why)
{
    const FaceInfo* info = matchFace(lf);
    if (!info)
        return nullptr;
    return ft::holdFaceFile(*info, why);
}

std::shared_ptr<Font> Font::createFontIndirect(const LOGFONT& lf, std::string* why)
{
    const FaceInfo* info = matchFace(lf);
    if (!info)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->shared = ft::SharedFace::get(info->file, info->faceIndex, info, why);
    if (!impl->shared)
        return nullptr;
    impl->lf = lf;
    impl->face = *info;
    // lfHeight < 0: the em in pixels; > 0: the cell (ascent + descent), the largest em that fits
    // it; 0: GDI's default cell of 16 pixels.
    const int64_t height = lf.lfHeight == 0 ? 16 : lf.lfHeight;
    {
        auto lock = impl->shared->lock();
        impl->design = ft::readDesignMetrics(impl->shared->face());
        impl->fromVdmx = ft::vdmxLookup(impl->shared->face(), height, &impl->vdmx) && impl->vdmx.ppem > 0;
    }
    const ft::DesignMetrics& d = impl->design;

    int64_t ppem = 0;
    if (impl->fromVdmx) {
        ppem = impl->vdmx.ppem;
    } else if (height < 0) {
        ppem = -height;
    } else {
        const int64_t cell = int64_t{d.ascent} + d.descent > 0 ? int64_t{d.ascent} + d.descent
                                                               : int64_t{d.hheaAscender} - d.hheaDescender;
        ppem = mulDiv(d.unitsPerEm, height, std::max<int64_t>(cell, 1));
        if (ppem > 1 && mulDiv(cell, ppem, d.unitsPerEm) > height)
            --ppem;
    }
    impl->ppem = std::clamp<int64_t>(ppem, 1, kMaxPpem);

    impl->fakeBold = lf.lfWeight > 550 && info->weight <= 550;
    impl->fakeItalic = lf.lfItalic != 0 && !info->italic;

    // The character set realised: the one asked for when the face can draw it; DEFAULT_CHARSET
    // becomes the face's Western set (or its first one); a face substituted because it cannot
    // draw the set reports what it can.
    auto lists = [&](int cs) { return std::find(info->charsets.begin(), info->charsets.end(), cs) != info->charsets.end(); };
    const int fallback = info->symbol ? SYMBOL_CHARSET
                                      : (lists(ANSI_CHARSET) || info->charsets.empty() ? ANSI_CHARSET
                                                                                        : info->charsets.front());
    int charset = lf.lfCharSet;
    if (charset == DEFAULT_CHARSET || (charset == SYMBOL_CHARSET) != info->symbol)
        charset = fallback;
    impl->tm.tmCharSet = static_cast<BYTE>(charset);
    impl->computeMetrics();
    return std::shared_ptr<Font>(new Font(std::move(impl)));
}

std::shared_ptr<Font> Font::createPointFontIndirect(const LOGFONT& lf, const DeviceContext& dc, std::string* why)
{
    LOGFONT copy = lf;
    const int64_t y = int64_t{dc.getDeviceCaps(LOGPIXELSY)} * lf.lfHeight / 720;
    copy.lfHeight = clampLong(-std::llabs(y));
    return createFontIndirect(copy, why);
}

const LOGFONT& Font::logFont() const { return impl_->lf; }

std::string Font::faceName() const { return impl_->face.family; }

bool Font::fileChanged() const { return impl_->shared && impl_->shared->sourceChanged(); }

// ---- Bitmap ------------------------------------------------------------------------------

Bitmap::Bitmap(int width, int height)
    : width_(width), height_(height), widthBytes_((width + 15) / 16 * 2),
      bits_(new (std::nothrow) uint8_t[static_cast<size_t>(widthBytes_) * static_cast<size_t>(height)]())
{
}

std::shared_ptr<Bitmap> Bitmap::create(int width, int height, size_t maxBytes)
{
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int>::max() - 15)
        return nullptr;
    // Rows are padded to 16 bits.
    const uint64_t rowBytes = (static_cast<uint64_t>(width) + 15) / 16 * 2;
    if (rowBytes > static_cast<uint64_t>(std::numeric_limits<int>::max()) ||
        rowBytes * static_cast<uint64_t>(height) > maxBytes)
        return nullptr;
    std::shared_ptr<Bitmap> bitmap(new (std::nothrow) Bitmap(width, height));
    if (!bitmap || !bitmap->bits_)
        return nullptr;
    return bitmap;
}

BITMAP Bitmap::getObject() const
{
    BITMAP bm;
    bm.bmType = 0;
    bm.bmWidth = width_;
    bm.bmHeight = height_;
    bm.bmWidthBytes = widthBytes_;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 1;
    bm.bmBits = nullptr;
    return bm;
}

size_t Bitmap::getBitmapBits(size_t count, uint8_t* out) const
{
    if (!out)
        return 0;
    const size_t n = std::min(count, static_cast<size_t>(widthBytes_) * static_cast<size_t>(height_));
    std::memcpy(out, bits_.get(), n);
    return n;
}

// ---- DeviceContext -----------------------------------------------------------------------

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
