// Writes the byte-to-character tables of the 8-bit code pages as C++ source, built from ICU's
// converters and brought in line with what Windows' MultiByteToWideChar gives, since a font
// realised for a code page must map its bytes as the platform we stand in for does. It runs while
// the program is built: the program itself carries the tables and never loads ICU or its data.
//
// Each page names its ICU converter explicitly: ICU's "cpNNN" aliases do not always pick Windows'
// table (its "cp874" is IBM's Thai table without the euro sign). ICU's IBM PC tables swap the
// control codes 0x1A, 0x1C and 0x7F (a relic of IBM's own control-code order); Windows maps all
// three to themselves, so they are put back. Where ICU's table differs from Windows' in a handful
// of bytes (a hole in one, or a different but similar character), the Windows value is listed with
// the page. Windows maps the undefined C1 bytes of its OEM tables to the same-numbered control
// characters; a byte that stays unmapped after that maps to no character.
//
// Usage: quenfold-codepage-tables OUTPUT
#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr char32_t kUnmapped = 0xFFFFFFFF;
using ByteMap = std::array<char32_t, 256>;

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

bool buildFromIcu(const PageSource& page, ByteMap& map)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open(page.converter, &status),
                                                                 &ucnv_close);
    if (U_FAILURE(status) || !converter)
        return false;
    // Report unmapped bytes instead of substituting U+FFFD or U+001A for them.
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return false;
    for (int b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        UChar out[4];
        status = U_ZERO_ERROR;
        ucnv_resetToUnicode(converter.get());
        const int32_t n = ucnv_toUChars(converter.get(), out, 4, &in, 1, &status);
        map[b] = (U_SUCCESS(status) && n == 1) ? char32_t{out[0]} : kUnmapped;
    }
    if (page.ibmControlSwap) {
        map[0x1A] = 0x1A;
        map[0x1C] = 0x1C;
        map[0x7F] = 0x7F;
    }
    if (page.c1HolesToControls)
        for (int b = 0x80; b < 0xA0; ++b)
            if (map[b] == kUnmapped)
                map[b] = static_cast<char32_t>(b);
    for (size_t i = 0; i < page.fixCount; ++i)
        map[page.fixes[i].byte] = page.fixes[i].character;
    return true;
}

void writeTable(std::FILE* out, unsigned codePage, const ByteMap& map)
{
    // The letters among the characters above ASCII, one bit per byte 0x80..0xFF.
    uint64_t letters[2] = {0, 0};
    for (int b = 0x80; b < 0x100; ++b)
        if (map[b] != kUnmapped && u_isalpha(static_cast<UChar32>(map[b])))
            letters[(b - 0x80) / 64] |= uint64_t{1} << ((b - 0x80) % 64);
    std::fprintf(out, "    {%u, {{", codePage);
    for (int b = 0; b < 256; ++b)
        std::fprintf(out, "%s0x%X,", b % 8 == 0 ? "\n        " : " ", static_cast<unsigned>(map[b]));
    std::fprintf(out, "\n    }},\n        {0x%llXull, 0x%llXull}},\n", static_cast<unsigned long long>(letters[0]),
                 static_cast<unsigned long long>(letters[1]));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::map<unsigned, ByteMap> tables;
    for (const PageSource& page : kPages) {
        ByteMap map;
        // A page ICU lacks stays out of the tables, as it would at run time.
        if (buildFromIcu(page, map))
            tables.emplace(page.codePage, map);
    }
    for (const auto& standIn : kStandIns)
        if (const auto it = tables.find(standIn.mapsAs); it != tables.end())
            tables.emplace(standIn.codePage, it->second);

    const std::string temporary = std::string(argv[1]) + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out)
        return 1;
    std::fprintf(out, "// Generated by quenfold-codepage-tables from ICU %s; do not edit.\n", U_ICU_VERSION);
    std::fprintf(out, "constexpr PageTable kPageTables[] = {\n");
    for (const auto& [codePage, map] : tables)
        writeTable(out, codePage, map);
    std::fprintf(out, "};\n");
    if (std::fclose(out) != 0 || std::rename(temporary.c_str(), argv[1]) != 0)
        return 1;
    return 0;
}
