#include "platform/FaceNames.h"

#include "platform/CodePages.h"
#include "platform/gdi.h"

#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <set>
#include <utility>

namespace gdi::ft {

namespace {

// Reads UTF-16 units from big-endian bytes; false on an odd length (surrogates are judged by
// whoever converts the units).
bool decodeUtf16Be(const FT_Byte* bytes, FT_UInt length, std::u16string* out)
{
    if (length % 2 != 0)
        return false;
    out->clear();
    for (FT_UInt i = 0; i + 1 < length; i += 2)
        out->push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
    while (!out->empty() && out->back() == 0)
        out->pop_back();  // some fonts terminate their names
    return true;
}

std::u16string asciiToUtf16(const FT_Byte* bytes, FT_UInt length, bool* ascii)
{
    std::u16string text;
    *ascii = true;
    for (FT_UInt i = 0; i < length; ++i) {
        if (bytes[i] >= 0x80)
            *ascii = false;
        text.push_back(bytes[i]);
    }
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

}  // namespace

FaceNames readNames(FT_Face face)
{
    // Rank of a name record: 0 Microsoft US English, 1 Microsoft other English, 2 Unicode platform
    // or Macintosh English (ASCII only), 3 Microsoft other languages. Lower is better.
    struct Best {
        int rank = 99;
        std::u16string text;
    };
    Best best[7];
    const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt i = 0; i < count; ++i) {
        FT_SfntName name;
        if (FT_Get_Sfnt_Name(face, i, &name) != 0)
            continue;
        if (name.name_id != TT_NAME_ID_FONT_FAMILY && name.name_id != TT_NAME_ID_FONT_SUBFAMILY &&
            name.name_id != TT_NAME_ID_FULL_NAME)
            continue;
        int rank = 99;
        std::u16string text;
        if (name.platform_id == TT_PLATFORM_MICROSOFT &&
            (name.encoding_id == TT_MS_ID_UNICODE_CS || name.encoding_id == TT_MS_ID_UCS_4 ||
             name.encoding_id == TT_MS_ID_SYMBOL_CS)) {
            if (!decodeUtf16Be(name.string, name.string_len, &text))
                continue;
            if (name.language_id == 0x0409)
                rank = 0;
            else if ((name.language_id & 0x3FF) == 0x09)
                rank = 1;
            else
                rank = 3;
        } else if (name.platform_id == TT_PLATFORM_APPLE_UNICODE) {
            if (!decodeUtf16Be(name.string, name.string_len, &text))
                continue;
            rank = 2;
        } else if (name.platform_id == TT_PLATFORM_MACINTOSH && name.encoding_id == TT_MAC_ID_ROMAN &&
                   name.language_id == TT_MAC_LANGID_ENGLISH) {
            bool ascii = false;
            text = asciiToUtf16(name.string, name.string_len, &ascii);
            if (!ascii)
                continue;
            rank = 2;
        } else {
            continue;
        }
        if (text.empty())
            continue;
        Best& slot = best[name.name_id];
        if (rank < slot.rank) {
            slot.rank = rank;
            slot.text = std::move(text);
        }
    }

    FaceNames names;
    const char* ps = FT_Get_Postscript_Name(face);
    names.postscriptName = ps ? ps : "";
    // A name that cp1252 cannot hold, or that the face lacks, becomes the PostScript name; FreeType's
    // own names (and finally a neutral word) stand in for faces without a PostScript name either.
    auto take = [&](int id, const char* freetypeName, const char* lastResort) {
        std::string bytes;
        if (best[id].rank < 99 && utf16ToCp1252(best[id].text, &bytes) && !bytes.empty())
            return bytes;
        if (!names.postscriptName.empty())
            return names.postscriptName;
        bytes.clear();
        for (const char* p = freetypeName; p && *p; ++p)
            bytes.push_back((*p >= 0x20 && *p < 0x7F) ? *p : '?');
        return bytes.empty() ? std::string(lastResort) : bytes;
    };
    names.family = take(TT_NAME_ID_FONT_FAMILY, face->family_name, "Unnamed");
    names.style = take(TT_NAME_ID_FONT_SUBFAMILY, face->style_name, "Regular");
    names.fullName = take(TT_NAME_ID_FULL_NAME, face->family_name, "Unnamed");
    return names;
}

// ---- character sets ------------------------------------------------------------------------

namespace {

// Characters a face without code page ranges must have to be taken as covering a character set's
// page; which bit of the ranges stands for the set is the code page table's (charsetSignatureBit).
struct CharsetProbes {
    int charset;
    char32_t probes[4];
};

constexpr CharsetProbes kCharsetProbes[] = {
    {ANSI_CHARSET, {U'A', U'a', 0x00E9, 0}},
    {EASTEUROPE_CHARSET, {0x0150, 0x0151, 0x0165, 0}},
    {RUSSIAN_CHARSET, {0x0416, 0x0436, 0x0451, 0}},
    {GREEK_CHARSET, {0x0391, 0x03A9, 0x03C9, 0}},
    {TURKISH_CHARSET, {0x011E, 0x0130, 0x015F, 0}},
    {HEBREW_CHARSET, {0x05D0, 0x05EA, 0, 0}},
    {ARABIC_CHARSET, {0x0627, 0x0639, 0, 0}},
    {BALTIC_CHARSET, {0x0100, 0x0116, 0x0173, 0}},
    {VIETNAMESE_CHARSET, {0x01A0, 0x01AF, 0x20AB, 0}},
    {THAI_CHARSET, {0x0E01, 0x0E3F, 0, 0}},
};
// Box-drawing and shading characters stand for the MS-DOS pages.
constexpr char32_t kOemProbes[] = {0x2500, 0x2502, 0x2591, 0x2588};

bool hasAll(FT_Face face, const char32_t* probes, size_t n)
{
    for (size_t i = 0; i < n && probes[i] != 0; ++i)
        if (FT_Get_Char_Index(face, probes[i]) == 0)
            return false;
    return true;
}

}  // namespace

std::array<uint32_t, 2> codePageRanges(FT_Face face)
{
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (!os2 || os2->version == 0xFFFF || os2->version < 1)
        return {0, 0};
    return {static_cast<uint32_t>(os2->ulCodePageRange1), static_cast<uint32_t>(os2->ulCodePageRange2)};
}

std::vector<int> faceCharsets(FT_Face face, bool symbol)
{
    std::set<int> sets;
    const std::array<uint32_t, 2> ranges = codePageRanges(face);
    if (ranges[0] != 0 || ranges[1] != 0) {
        for (const CharsetProbes& p : kCharsetProbes)
            if (ranges[0] & (1u << charsetSignatureBit(static_cast<unsigned>(p.charset))))
                sets.insert(p.charset);
        // Bits 48 to 63 of the 64-bit range are the MS-DOS code pages (437, 850, 852, 866, ...).
        if (ranges[1] & 0xFFFF0000u)
            sets.insert(OEM_CHARSET);
    } else if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0) {
        for (const CharsetProbes& p : kCharsetProbes)
            if (hasAll(face, p.probes, 4))
                sets.insert(p.charset);
        if (hasAll(face, kOemProbes, 4))
            sets.insert(OEM_CHARSET);
    }
    // The symbol set (code page bit 31) only where the face has the symbol cmap to draw it with.
    if (symbol)
        sets.insert(SYMBOL_CHARSET);
    if (sets.empty())
        sets.insert(symbol ? SYMBOL_CHARSET : ANSI_CHARSET);  // listed all the same, as Western
    return std::vector<int>(sets.begin(), sets.end());
}

namespace {

constexpr uint8_t foldByte(uint8_t c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<uint8_t>(c - 'a' + 'A');
    // cp1252 letters: à..þ (not ÷) fold to À..Þ; š, œ, ž, ÿ to Š, Œ, Ž, Ÿ.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<uint8_t>(c - 0x20);
    switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
    }
}

// The folding as a table: sorting and finding a thousand families compares names tens of
// thousands of times.
struct FoldTable {
    uint8_t to[256];
    constexpr FoldTable() : to()
    {
        for (int c = 0; c < 256; ++c)
            to[c] = foldByte(static_cast<uint8_t>(c));
    }
};
constexpr FoldTable kFold;

}  // namespace

int compareNames(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint8_t x = kFold.to[static_cast<uint8_t>(a[i])];
        const uint8_t y = kFold.to[static_cast<uint8_t>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return 0;
}

bool sameName(std::string_view a, std::string_view b) { return compareNames(a, b) == 0; }

}  // namespace gdi::ft
