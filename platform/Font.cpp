#include "platform/Font.h"

#include "platform/CodePages.h"
#include "platform/FontCatalog.h"
#include "platform/FontImpl.h"

#include FT_ADVANCES_H
#include FT_SIZES_H

#include <cmath>
#include <cstring>

namespace gdi {

namespace {

// Sizes are kept exact far beyond anything drawable, so a caller sizing its bitmaps from the
// metrics refuses an absurd size instead of getting a silently smaller font.
constexpr int64_t kMaxPpem = int64_t{1} << 24;
// FreeType keeps pixel sizes in 16 bits and its rasteriser works in bands of 16-bit rows: glyphs
// are drawn up to this size; larger ones are measured but not drawn.
constexpr int64_t kMaxDrawnPpem = 16383;

LONG gdiRound(double v)
{
    return clampLong(static_cast<int64_t>(std::floor(std::min(v, 4e18) + 0.5)));
}

// FreeType's rounding of an outline's control box to the pixels a monochrome rendering covers
// (PixelBox), one axis at a time.
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
    if (Glyph* const* known = characterGlyphs.find(c))
        return **known;
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
    characterGlyphs.tryEmplace(c).first = &glyph;
    return glyph;
}

Font::Impl::Glyph& Font::Impl::load(FT_UInt index)
{
    auto [glyph, inserted] = glyphs.tryEmplace(index);
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
            spareOutline = std::move(glyphs.find(keptOutlines.front())->image);
            keptOutlines.pop_front();
        }
    }
}

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::~Font() = default;

namespace {

qf::Failure& lastFailureHere()
{
    thread_local qf::Failure failure;
    return failure;
}

// Null, with the thread's last failure set, when no face at all is installed.
const FaceInfo* matchFace(const LOGFONT& lf)
{
    const std::string name(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE));
    lastFailureHere() = {};
    const FaceInfo* face =
        FontCatalog::instance().match(name, lf.lfWeight, lf.lfItalic != 0, lf.lfCharSet, lf.lfPitchAndFamily);
    if (!face)
        lastFailureHere() = {"no font is installed to stand in for it", {}, faceNameUtf8(lf), {}};
    return face;
}

// The thread's last failure: the face's file could not give what was asked of it (what and the
// cause under it as the file layer said them, the file and the font named).
std::nullptr_t failedFile(const FaceInfo& face, const LOGFONT& lf, const qf::Failure& failure)
{
    lastFailureHere() = {failure.what, face.file, faceNameUtf8(lf), failure.cause};
    return nullptr;
}

}  // namespace

const qf::Failure& Font::lastFailure() { return lastFailureHere(); }

std::string faceNameUtf8(const LOGFONT& lf)
{
    return ansiToUtf8(std::string_view(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE)));
}

std::shared_ptr<const void> Font::holdFile(const LOGFONT& lf)
{
    const FaceInfo* info = matchFace(lf);
    if (!info)
        return nullptr;
    auto hold = ft::holdFaceFile(*info);
    if (!hold)
        return failedFile(*info, lf, hold.failure());
    return *hold;
}

std::shared_ptr<Font> Font::createFontIndirect(const LOGFONT& lf)
{
    const FaceInfo* info = matchFace(lf);
    if (!info)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    auto shared = ft::SharedFace::get(info->file, info->faceIndex, info);
    if (!shared)
        return failedFile(*info, lf, shared.failure());
    impl->shared = std::move(*shared);
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


const LOGFONT& Font::logFont() const { return impl_->lf; }

std::string Font::faceName() const { return impl_->face.family; }

qf::Status Font::checkFile() const
{
    std::string change = impl_->shared ? impl_->shared->sourceChange() : std::string();
    if (change.empty())
        return qf::Status();
    return qf::Failure{"the font file changed while it was being read", impl_->face.file,
                       faceNameUtf8(impl_->lf),
                       std::move(change)};
}

}  // namespace gdi
