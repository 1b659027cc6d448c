// Byte-to-character tables of the 8-bit code pages, built once from ICU's converters and brought
// in line with what Windows' MultiByteToWideChar gives, since a font realised for a code page must
// map its bytes as the platform we stand in for does.
//
// Each page names its ICU converter explicitly: ICU's "cpNNN" aliases do not always pick Windows'
// table (its "cp874" is IBM's Thai table without the euro sign). ICU's IBM PC tables swap the
// control codes 0x1A, 0x1C and 0x7F (a relic of IBM's own control-code order); Windows maps all
// three to themselves, so they are put back. Where ICU's table differs from Windows' in a handful
// of bytes (a hole in one, or a different but similar character), the Windows value is listed with
// the page. Windows maps the undefined C1 bytes of its OEM tables to the same-numbered control
// characters; a byte that stays unmapped after that maps to no character (kUnmapped).
#include "platform/CodePages.h"
#include "platform/gdi.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <cstddef>
#include <map>
#include <memory>

namespace gdi {

namespace {

struct ByteFix {
    uint8_t byte;
    char32_t character;
};

struct PageSource {
    unsigned codePage;
    const char* converter;   // ICU converter name
    bool ibmControlSwap;     // ICU's table swaps 0x1A, 0x1C and 0x7F
    bool c1HolesToControls;  // undefined bytes 0x80..0x9F map to U+0080..U+009F
    const ByteFix* fixes;
    size_t fixCount;
};

// Windows writes the micro sign where IBM's 437 family has Greek mu.
constexpr ByteFix kMicroSign[] = {{0xE6, 0x00B5}};
// Windows fills the holes of some ANSI and OEM pages with private-use characters.
constexpr ByteFix kFixes1253[] = {{0xAA, 0xF8F9}, {0xD2, 0xF8FA}, {0xFF, 0xF8FB}};
constexpr ByteFix kFixes1255[] = {{0xCA, 0x05BA}, {0xD9, 0xF88D}, {0xDA, 0xF88E}, {0xDB, 0xF88F},
                                  {0xDC, 0xF890}, {0xDD, 0xF891}, {0xDE, 0xF892}, {0xDF, 0xF893},
                                  {0xFB, 0xF894}, {0xFC, 0xF895}, {0xFF, 0xF896}};
constexpr ByteFix kFixes1257[] = {{0xA1, 0xF8FC}, {0xA5, 0xF8FD}};
constexpr ByteFix kFixes852[] = {{0xAA, 0x00AC}};
constexpr ByteFix kFixes857[] = {{0xD5, 0xF8BB}, {0xE7, 0xF8BC}, {0xF2, 0xF8BD}};
constexpr ByteFix kFixes862[] = {{0xE6, 0x00B5}};
constexpr ByteFix kFixes864[] = {{0x9F, 0x009F}, {0xA6, 0xF8BE}, {0xA7, 0xF8BF}, {0xD7, 0xFEC1},
                                 {0xD8, 0xFEC5}, {0xF1, 0x0651}, {0xFF, 0xF8C0}};
constexpr ByteFix kFixes869[] = {{0x88, 0x00B7}, {0xEF, 0x0384}};

#define QF_FIXES(a) a, sizeof(a) / sizeof((a)[0])

constexpr PageSource kPages[] = {
    {1252, "windows-1252", false, false, nullptr, 0},
    {1250, "windows-1250", false, false, nullptr, 0},
    {1251, "windows-1251", false, false, nullptr, 0},
    {1253, "windows-1253", false, false, QF_FIXES(kFixes1253)},
    {1254, "windows-1254", false, false, nullptr, 0},
    {1255, "windows-1255", false, false, QF_FIXES(kFixes1255)},
    {1256, "windows-1256", false, false, nullptr, 0},
    {1257, "windows-1257", false, false, QF_FIXES(kFixes1257)},
    {1258, "windows-1258", false, false, nullptr, 0},
    {874, "windows-874-2000", false, false, nullptr, 0},
    {437, "ibm-437_P100-1995", true, true, QF_FIXES(kMicroSign)},
    {850, "ibm-850_P100-1995", true, true, nullptr, 0},
    {866, "ibm-866_P100-1995", true, true, nullptr, 0},
    {737, "ibm-737_P100-1997", true, true, nullptr, 0},
    {862, "ibm-862_P100-1995", true, true, QF_FIXES(kFixes862)},
    {864, "ibm-864_X110-1999", true, true, QF_FIXES(kFixes864)},
    {775, "ibm-775_P100-1996", true, true, nullptr, 0},
    {852, "ibm-852_P100-1995", true, true, QF_FIXES(kFixes852)},
    {860, "ibm-860_P100-1995", true, true, QF_FIXES(kMicroSign)},
    {861, "ibm-861_P100-1995", true, true, QF_FIXES(kMicroSign)},
    {863, "ibm-863_P100-1995", true, true, QF_FIXES(kMicroSign)},
    {865, "ibm-865_P100-1995", true, true, QF_FIXES(kMicroSign)},
    {855, "ibm-855_P100-1995", true, true, nullptr, 0},
    {869, "ibm-869_P100-1995", true, true, QF_FIXES(kFixes869)},
    {857, "ibm-857_P100-1995", true, true, QF_FIXES(kFixes857)},
    // ASMO 708: the 8-bit Arabic set (ISO 8859-6 layout) under ICU's name for it.
    {708, "ASMO-708", false, false, nullptr, 0},
    {720, "ibm-720_P100-1997", true, true, nullptr, 0},
};

#undef QF_FIXES

// Code pages with no converter anywhere, mapped through the nearest page that has one:
// - 709, ASMO 449+ (BCON V4), is the 7-bit ASMO 449 Arabic set with its extensions. ASMO 708
//   carries the same Arabic letters in the same order with the high bit set, and plain ASCII
//   below, so bytes mapped through it keep ASCII text readable and put every Arabic letter where
//   an 8-bit Arabic font has it. A literal 7-bit table would instead replace the Latin letters.
// - 710, Transparent Arabic, is an MS-DOS Arabic page that keeps the PC's Latin letters and
//   line-drawing characters in their places ("transparent"); 720, Transparent ASMO, is the
//   documented page built on that principle, so 710 maps as 720 does.
constexpr struct {
    unsigned codePage;
    unsigned mapsAs;
} kStandIns[] = {{709, 708}, {710, 720}};

std::unique_ptr<ByteMap> buildFromIcu(const PageSource& page)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open(page.converter, &status),
                                                                 &ucnv_close);
    if (U_FAILURE(status) || !converter)
        return nullptr;
    // Report unmapped bytes instead of substituting U+FFFD or U+001A for them.
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return nullptr;

    auto map = std::make_unique<ByteMap>();
    for (int b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        UChar out[4];
        status = U_ZERO_ERROR;
        ucnv_resetToUnicode(converter.get());
        const int32_t n = ucnv_toUChars(converter.get(), out, 4, &in, 1, &status);
        (*map)[b] = (U_SUCCESS(status) && n == 1) ? char32_t{out[0]} : kUnmapped;
    }
    if (page.ibmControlSwap) {
        (*map)[0x1A] = 0x1A;
        (*map)[0x1C] = 0x1C;
        (*map)[0x7F] = 0x7F;
    }
    if (page.c1HolesToControls)
        for (int b = 0x80; b < 0xA0; ++b)
            if ((*map)[b] == kUnmapped)
                (*map)[b] = static_cast<char32_t>(b);
    for (size_t i = 0; i < page.fixCount; ++i)
        (*map)[page.fixes[i].byte] = page.fixes[i].character;
    return map;
}

using Tables = std::map<unsigned, std::unique_ptr<ByteMap>>;

Tables buildTables()
{
    Tables tables;
    for (const PageSource& page : kPages)
        if (auto map = buildFromIcu(page))
            tables.emplace(page.codePage, std::move(map));
    for (const auto& standIn : kStandIns) {
        const auto it = tables.find(standIn.mapsAs);
        if (it != tables.end())
            tables.emplace(standIn.codePage, std::make_unique<ByteMap>(*it->second));
    }
    return tables;
}

// What TranslateCharsetInfo knows: character set, code page and font signature bit.
struct CharsetRow {
    unsigned charset;
    unsigned codePage;
    int signatureBit;
};

constexpr unsigned kCpSymbol = 42;

constexpr CharsetRow kCharsets[] = {
    {ANSI_CHARSET, 1252, 0},         {EASTEUROPE_CHARSET, 1250, 1}, {RUSSIAN_CHARSET, 1251, 2},
    {GREEK_CHARSET, 1253, 3},        {TURKISH_CHARSET, 1254, 4},    {HEBREW_CHARSET, 1255, 5},
    {ARABIC_CHARSET, 1256, 6},       {BALTIC_CHARSET, 1257, 7},     {VIETNAMESE_CHARSET, 1258, 8},
    {THAI_CHARSET, 874, 16},         {SHIFTJIS_CHARSET, 932, 17},   {GB2312_CHARSET, 936, 18},
    {HANGUL_CHARSET, 949, 19},       {CHINESEBIG5_CHARSET, 950, 20}, {130 /* JOHAB */, 1361, 21},
    {SYMBOL_CHARSET, kCpSymbol, 31},
};

// The OS/2 table's bits for the MS-DOS and other OEM pages, in its upper 32 bits.
constexpr struct {
    unsigned codePage;
    int bit;
} kOemSignatureBits[] = {{869, 48}, {866, 49}, {865, 50}, {864, 51}, {863, 52}, {862, 53},
                         {861, 54}, {860, 55}, {857, 56}, {855, 57}, {852, 58}, {775, 59},
                         {737, 60}, {708, 61}, {850, 62}, {437, 63}};

}  // namespace

ByteMap byteCharacters(unsigned charset, unsigned oemCodePage)
{
    ByteMap map;
    if (charset == SYMBOL_CHARSET) {
        for (int c = 0; c < 256; ++c)
            map[c] = 0xF000 + static_cast<char32_t>(c);
        return map;
    }
    if (const ByteMap* table = codePageMap(codePageOfCharset(charset, oemCodePage)))
        return *table;
    for (int c = 0; c < 256; ++c)
        map[c] = (c >= 0x20 && c < 0x7F) || c >= 0xA0 ? static_cast<char32_t>(c) : kUnmapped;
    return map;
}

std::string ansiToUtf8(std::string_view ansi)
{
    const ByteMap* map = codePageMap(1252);
    std::string out;
    out.reserve(ansi.size());
    for (const char c : ansi) {
        const auto byte = static_cast<uint8_t>(c);
        char32_t u = map ? (*map)[byte] : byte;
        if (u == kUnmapped)
            u = 0xFFFD;  // the replacement character: visible, and safe in a file name
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string utf8ToAnsi(std::string_view text)
{
    const ByteMap* map = codePageMap(1252);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t u = b;
        int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        if (b >= 0x80)
            u = b & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            u = (u << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += 1 + extra;
        char c = '?';
        for (int code = 0; code < 256; ++code) {
            const char32_t mapped = map ? (*map)[code] : static_cast<char32_t>(code);
            if (mapped == u) {
                c = static_cast<char>(code);
                break;
            }
        }
        out += c;
    }
    return out;
}

std::string encodeForCharset(std::u32string_view text, unsigned charset, unsigned oemCodePage)
{
    const ByteMap characters = byteCharacters(charset, oemCodePage);
    std::map<char32_t, char> bytes;
    for (int b = 255; b >= 0; --b)
        if (characters[static_cast<size_t>(b)] != kUnmapped)
            bytes[characters[static_cast<size_t>(b)]] = static_cast<char>(b);
    const bool ownTable = codePageOfCharset(charset, oemCodePage) != 0;
    std::string out;
    for (const char32_t c : text) {
        const auto it = bytes.find(c);
        if (it != bytes.end())
            out += it->second;
        else
            out += !ownTable && c < 0x100 ? static_cast<char>(c) : '?';
    }
    return out;
}

int codePageSignatureBit(unsigned codePage)
{
    for (const auto& row : kOemSignatureBits)
        if (row.codePage == codePage)
            return row.bit;
    for (const CharsetRow& row : kCharsets)
        if (row.codePage == codePage)
            return row.signatureBit;
    return -1;
}

std::vector<char32_t> codePageLetters(unsigned codePage)
{
    std::vector<char32_t> letters;
    if (const ByteMap* map = codePageMap(codePage))
        for (int b = 0x80; b < 0x100; ++b) {
            const char32_t c = (*map)[b];
            if (c != kUnmapped && u_isalpha(static_cast<UChar32>(c)))
                letters.push_back(c);
        }
    return letters;
}

const ByteMap* codePageMap(unsigned codePage)
{
    static const Tables tables = buildTables();
    const auto it = tables.find(codePage);
    return it == tables.end() ? nullptr : it->second.get();
}

unsigned codePageOfCharset(unsigned charset, unsigned oemCodePage)
{
    switch (charset) {
    case DEFAULT_CHARSET:
        return 1252;
    case OEM_CHARSET:
        return oemCodePage;
    case SYMBOL_CHARSET:
        return 0;
    default:
        break;
    }
    for (const CharsetRow& row : kCharsets)
        if (row.charset == charset)
            return codePageMap(row.codePage) ? row.codePage : 0;
    return 0;
}

bool TranslateCharsetInfo(DWORD source, CHARSETINFO* info, DWORD flags)
{
    if (!info)
        return false;
    for (const CharsetRow& row : kCharsets) {
        const bool match = (flags == TCI_SRCCODEPAGE && source == row.codePage) ||
                           (flags == TCI_SRCCHARSET && source == row.charset);
        if (!match)
            continue;
        info->ciCharset = row.charset;
        info->ciACP = row.codePage;
        info->fs = FONTSIGNATURE{};
        info->fs.fsCsb[0] = DWORD{1} << row.signatureBit;
        return true;
    }
    return false;
}

}  // namespace gdi
