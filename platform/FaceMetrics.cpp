#include "platform/FaceMetrics.h"

#include "platform/ByteReader.h"

#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

namespace gdi::ft {

namespace {

bool hasCharmap(FT_Face face, FT_Encoding encoding)
{
    for (int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->encoding == encoding)
            return true;
    return false;
}

// tmPitchAndFamily as GDI derives it for an sfnt face: the pitch bit (set for proportional faces)
// from the face's fixed-width flag and PANOSE proportion, the family from PANOSE (family kind, then
// serif style), with the OS/2 family class where PANOSE says nothing.
BYTE pitchAndFamilyOf(FT_Face face, const TT_OS2* os2)
{
    const bool haveOs2 = os2 && os2->version != 0xFFFF;
    const BYTE familyKind = haveOs2 ? os2->panose[0] : 0;
    const BYTE serifStyle = haveOs2 ? os2->panose[1] : 0;
    const BYTE proportion = haveOs2 ? os2->panose[3] : 0;
    constexpr BYTE kPanoseMonospaced = 9;

    BYTE bits = 0;
    if (!FT_IS_FIXED_WIDTH(face) && (!haveOs2 || proportion != kPanoseMonospaced))
        bits = TMPF_FIXED_PITCH;

    BYTE family = FF_DONTCARE;
    if (familyKind == 3) {
        family = FF_SCRIPT;
    } else if (familyKind == 4) {
        family = FF_DECORATIVE;
    } else if (bits == 0 || proportion == kPanoseMonospaced) {
        family = FF_MODERN;
    } else if (serifStyle >= 2 && serifStyle <= 10) {
        family = FF_ROMAN;
    } else if (serifStyle >= 11 && serifStyle <= 15) {
        family = FF_SWISS;
    } else if (haveOs2) {
        switch (static_cast<uint16_t>(os2->sFamilyClass) >> 8) {
        case 1: case 2: case 3: case 4: case 5: case 7: family = FF_ROMAN; break;
        case 8: family = FF_SWISS; break;
        case 9: case 12: family = FF_DECORATIVE; break;
        case 10: family = FF_SCRIPT; break;
        default: break;
        }
    }
    bits |= family;
    bits |= TMPF_VECTOR;
    // PostScript-flavoured OpenType is reported as a device font, TrueType outlines as TrueType.
    FT_ULong length = 0;
    const bool cff = FT_Load_Sfnt_Table(face, TTAG_CFF, 0, nullptr, &length) == 0 ||
                     FT_Load_Sfnt_Table(face, TTAG_CFF2, 0, nullptr, &length) == 0;
    bits |= cff ? TMPF_DEVICE : TMPF_TRUETYPE;
    return bits;
}

}  // namespace

DesignMetrics readDesignMetrics(FT_Face face)
{
    DesignMetrics m;
    m.unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
    const bool haveOs2 = os2 && os2->version != 0xFFFF;

    m.hheaAscender = hhea ? hhea->Ascender : face->ascender;
    m.hheaDescender = hhea ? hhea->Descender : face->descender;
    m.lineGap = hhea ? hhea->Line_Gap : 0;
    // Some fonts store usWinDescent as a negative signed value; GDI takes its magnitude.
    const int winAscent = haveOs2 ? os2->usWinAscent : 0;
    const int winDescent = haveOs2 ? std::abs(static_cast<int16_t>(os2->usWinDescent)) : 0;
    if (winAscent + winDescent == 0) {
        m.ascent = m.hheaAscender;
        m.descent = -m.hheaDescender;
    } else {
        m.ascent = winAscent;
        m.descent = winDescent;
    }
    if (haveOs2 && os2->xAvgCharWidth > 0)
        m.xAvgCharWidth = os2->xAvgCharWidth;
    else
        m.xAvgCharWidth = (hhea ? hhea->advance_Width_Max : face->max_advance_width) / 2;
    m.bboxWidth = static_cast<int>(face->bbox.xMax - face->bbox.xMin);

    int weight = haveOs2 ? os2->usWeightClass : 0;
    if (weight >= 1 && weight <= 9)
        weight *= 100;  // fonts made for the old 1-9 scale
    m.boldStyle = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    if (weight == 0)
        weight = m.boldStyle ? FW_BOLD : FW_NORMAL;
    m.weightClass = weight;
    m.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0 ||
               (haveOs2 && (os2->fsSelection & 0x0201) != 0);  // ITALIC or OBLIQUE
    m.pitchAndFamily = pitchAndFamilyOf(face, os2);
    m.symbol = hasCharmap(face, FT_ENCODING_MS_SYMBOL) &&
               ((haveOs2 && (os2->ulCodePageRange1 & 0x80000000u) != 0) ||
                !hasCharmap(face, FT_ENCODING_UNICODE));
    if (m.symbol) {
        FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL);
        int first = -1, last = -1;
        for (int c = 0; c < 256; ++c) {
            if (FT_Get_Char_Index(face, 0xF000u + c) != 0 || FT_Get_Char_Index(face, c) != 0) {
                if (first < 0)
                    first = c;
                last = c;
            }
        }
        if (first >= 0) {
            m.symbolFirst = first;
            m.symbolLast = last;
        }
    }
    m.underlineThickness = post && post->underlineThickness > 0 ? post->underlineThickness : m.unitsPerEm / 20;
    m.underlinePosition = post ? post->underlinePosition : -m.unitsPerEm / 10;
    if (haveOs2 && os2->yStrikeoutSize > 0) {
        m.strikeoutThickness = os2->yStrikeoutSize;
        m.strikeoutPosition = os2->yStrikeoutPosition;
    } else {
        m.strikeoutThickness = m.underlineThickness;
        m.strikeoutPosition = m.unitsPerEm / 4;
    }
    return m;
}

int reportedWeight(const DesignMetrics& m)
{
    // GDI believes the weight class only when it agrees with the face's own bold flag.
    constexpr int kMedium = 500;
    if (m.boldStyle)
        return m.weightClass > kMedium ? m.weightClass : FW_NORMAL;
    return m.weightClass <= kMedium ? m.weightClass : FW_NORMAL;
}

int64_t emScale(int64_t ppem, int unitsPerEm)
{
    const int64_t upem = unitsPerEm > 0 ? unitsPerEm : 2048;
    return (ppem * 65536 + upem / 2) / upem;
}

int64_t scaleRound(int64_t value, int64_t emScale16)
{
    const bool negative = (value < 0) != (emScale16 < 0);
    const int64_t magnitude = (std::llabs(value) * std::llabs(emScale16) + 0x8000) >> 16;
    return negative ? -magnitude : magnitude;
}

// ---- VDMX --------------------------------------------------------------------------------

bool vdmxLookup(const uint8_t* t, size_t size, int64_t height, VdmxEntry* entry)
{
    if (!t || size < 6 || height == 0)
        return false;
    // Offsets and counts come from the table: every field is read through a bounded reader, and a
    // read past its end (its error sticks) ends the lookup.
    qf::ByteReader in(std::span<const uint8_t>(t, size));
    const auto numRatios = static_cast<size_t>(in.seek(4).be16("numRatios"));
    // Ratio records (bCharSet, xRatio, yStartRatio, yEndRatio) follow the header, then one 16-bit
    // group offset per ratio. GDI takes the first record for a 1:1 device (or the catch-all 0:0)
    // and passes over records for the "no subset" character set.
    std::optional<size_t> group;
    for (size_t i = 0; i < numRatios && !group; ++i) {
        in.seek(6 + 4 * i);
        const uint32_t charset = in.u8("bCharSet"), x = in.u8("xRatio"), yStart = in.u8("yStartRatio"),
                       yEnd = in.u8("yEndRatio");
        if (!in.ok())
            return false;
        if (charset != 0 && ((x == 0 && yStart == 0 && yEnd == 0) || (x == 1 && yStart <= 1 && yEnd >= 1)))
            group = in.seek(6 + 4 * numRatios + 2 * i).be16("offset");
    }
    if (!group || !in.ok())
        return false;
    const int records = static_cast<int>(in.seek(*group).be16("recs"));
    const int startSize = static_cast<int>(in.u8("startsz")), endSize = static_cast<int>(in.u8("endsz"));
    if (!in.ok())
        return false;
    auto record = [&](int i, VdmxEntry* e) {
        in.seek(*group + 4 + 6 * static_cast<size_t>(i));
        e->ppem = static_cast<int>(in.be16("yPelHeight"));
        e->yMax = in.sbe16("yMax");
        e->yMin = in.sbe16("yMin");
        return in.ok();
    };
    VdmxEntry e;
    if (height > 0) {
        for (int i = 0; i < records; ++i) {
            if (!record(i, &e))
                return false;
            const int64_t cell = int64_t{e.yMax} - e.yMin;
            if (cell == height) {
                *entry = e;
                return true;
            }
            if (cell > height) {
                if (i == 0 || !record(i - 1, &e))
                    return false;
                *entry = e;
                return true;
            }
        }
        return false;
    }
    const int64_t ppem = -height;
    if (ppem < startSize || ppem > endSize)
        return false;
    for (int i = 0; i < records; ++i) {
        if (!record(i, &e) || e.ppem > ppem)
            return false;
        if (e.ppem == ppem) {
            *entry = e;
            return true;
        }
    }
    return false;
}

bool vdmxLookup(FT_Face face, int64_t height, VdmxEntry* entry)
{
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(face, TTAG_VDMX, 0, nullptr, &length) != 0 || length < 6 || length > (1u << 20))
        return false;
    std::vector<uint8_t> table(length);
    if (FT_Load_Sfnt_Table(face, TTAG_VDMX, 0, table.data(), &length) != 0)
        return false;
    return vdmxLookup(table.data(), table.size(), height, entry);
}

}  // namespace gdi::ft
