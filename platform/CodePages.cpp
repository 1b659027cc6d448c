// Byte codes of the 8-bit code pages to Unicode, as Windows' MultiByteToWideChar maps them. The
// tables are made from ICU's converters while the program is built (platform/generate), so that
// running it loads neither ICU nor its data.
#include "platform/CodePages.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cstddef>
#include <map>

namespace gdi {

namespace {

struct PageTable {
    unsigned codePage;
    ByteMap characters;
    uint64_t letters[2];  // which bytes 0x80..0xFF are letters, bit (byte - 0x80) % 64 of word / 64
};

#include "CodePageTables.inc"

const PageTable* pageTable(unsigned codePage)
{
    for (const PageTable& table : kPageTables)
        if (table.codePage == codePage)
            return &table;
    return nullptr;
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
        appendUtf8(out, u);
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

// One character of UTF-8 text at i, which moves past it. A broken sequence (a stray continuation
// byte, one cut short, one whose bytes do not continue it) still gives a value and moves past the
// bytes its first one announces, but `valid` says it was broken.
char32_t nextUtf8(std::string_view text, size_t& i, bool* valid)
{
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t u = b;
    const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    *valid = b < 0x80 || (b >= 0xC0 && b < 0xF8);
    if (b >= 0x80)
        u = b & (0x3F >> extra);
    if (i + static_cast<size_t>(extra) >= text.size() && extra > 0)
        *valid = false;
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            *valid = false;
        u = (u << 6) | (next & 0x3F);
    }
    i += 1 + static_cast<size_t>(extra);
    return u;
}

// The printable cp1252 byte of a character; false for control characters and those the code
// page lacks.
bool encodeCp1252(char32_t c, char* byte)
{
    if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF)) {
        *byte = static_cast<char>(c);
        return true;
    }
    if (c < 0x100)
        return false;  // C0 and C1 controls, DEL
    if (const ByteMap* map = codePageMap(1252)) {
        for (int b = 0x80; b < 0xA0; ++b) {
            if ((*map)[b] == c) {
                *byte = static_cast<char>(b);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool utf16ToCp1252(std::u16string_view text, std::string* out)
{
    out->clear();
    for (const char16_t unit : text) {
        char byte = 0;
        // A surrogate (a character beyond the BMP) never fits cp1252.
        if (!encodeCp1252(unit, &byte))
            return false;
        out->push_back(byte);
    }
    return true;
}

bool utf8ToCp1252(std::string_view text, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) >= 0xF0)
            return false;  // beyond the BMP, or broken: cp1252 cannot hold it either way
        bool valid = false;
        const char32_t c = nextUtf8(text, i, &valid);
        char byte = 0;
        if (!valid || !encodeCp1252(c, &byte))
            return false;
        out->push_back(byte);
    }
    return true;
}

std::string utf8ToAnsi(std::string_view text)
{
    const ByteMap* map = codePageMap(1252);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        // Typed text: whatever a broken sequence decodes to, looked up like any character.
        bool valid = false;
        const char32_t u = nextUtf8(text, i, &valid);
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

int charsetSignatureBit(unsigned charset)
{
    for (const CharsetRow& row : kCharsets)
        if (row.charset == charset)
            return row.signatureBit;
    return -1;
}

std::vector<char32_t> codePageLetters(unsigned codePage)
{
    std::vector<char32_t> letters;
    if (const PageTable* table = pageTable(codePage))
        for (int b = 0x80; b < 0x100; ++b)
            if ((table->letters[(b - 0x80) / 64] >> ((b - 0x80) % 64)) & 1)
                letters.push_back(table->characters[b]);
    return letters;
}

const ByteMap* codePageMap(unsigned codePage)
{
    const PageTable* table = pageTable(codePage);
    return table ? &table->characters : nullptr;
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
