// Byte codes of the 8-bit code pages to Unicode, as Windows' MultiByteToWideChar maps them. The
// tables are made from ICU's converters while the program is built (platform/generate), so that
// running it loads neither ICU nor its data.
#include "platform/CodePages.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cstddef>

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
