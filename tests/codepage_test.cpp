#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "platform/gdi.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"
#include "run/FontList.h"
#include "tests/TestSupport.h"
#include "testkit/StatusText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>
#include <string>

namespace {

using qf::CodePageTable;

TEST(CodePageTable, RowsInListOrderWithTheirSymbolSets)
{
    // The Windows pages come first, Western at the top, then the MS-DOS pages; each page once,
    // and each row found again by its page.
    ASSERT_EQ(CodePageTable::rowCount(), 28);
    std::set<int> pages;
    for (int i = 0; i < CodePageTable::rowCount(); ++i) {
        SCOPED_TRACE(i);
        const int page = CodePageTable::row(i).codePage;
        EXPECT_EQ(page >= 1250 && page <= 1257, i < 8) << page;
        EXPECT_TRUE(pages.insert(page).second) << page;
        EXPECT_EQ(CodePageTable::rowOfCodePage(page), i);
        // A PCL symbol set: a number right-aligned in three places and a capital letter.
        const std::string set = CodePageTable::row(i).pclSymbolSet;
        ASSERT_EQ(set.size(), 3u);
        EXPECT_TRUE(set[2] >= 'A' && set[2] <= 'Z') << set;
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(set[1]))) << set;
        EXPECT_TRUE(set[0] == ' ' || std::isdigit(static_cast<unsigned char>(set[0]))) << set;
    }
    EXPECT_EQ(CodePageTable::row(0).codePage, 1252);
    EXPECT_EQ(CodePageTable::rowOfCodePage(1258), -1);

    // The pages a printer knows by their own symbol set carry it: PCL's Windows 3.1 Latin 1,
    // Latin 2, Cyrillic, Greek, Latin 5 and Baltic, and its PC-8, PC-850, PC-852, PC-Turkish and
    // PC Cyrillic sets.
    const struct {
        int codePage;
        const char* symbolSet;
    } known[] = {{1252, " 9U"}, {1250, " 9E"}, {1251, " 9R"}, {1253, " 9G"}, {1254, " 5T"}, {1257, "19L"},
                 {437, "10U"},  {850, "12U"},  {852, "17U"},  {857, " 9T"},  {866, " 3R"}};
    for (const auto& k : known)
        EXPECT_STREQ(CodePageTable::row(CodePageTable::rowOfCodePage(k.codePage)).pclSymbolSet, k.symbolSet)
            << k.codePage;

    EXPECT_STREQ(CodePageTable::row(0).description, "Windows Latin 1 (US, Western Europe)");
    EXPECT_STREQ(CodePageTable::row(10).description, "MS-DOS Russian (former USSR)");
    EXPECT_STREQ(CodePageTable::row(11).description, "Greek (formerly 437G)");
    EXPECT_STREQ(CodePageTable::row(25).description, "Arabic (ASMO 449+, BCON V4)");
    EXPECT_STREQ(CodePageTable::row(27).description, "Arabic (Transparent ASMO)");
}

TEST(CodePageTable, OemRowsFollowTheCodePagesTheFaceIsMadeFor)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    const int r437 = CodePageTable::rowOfCodePage(437);
    const int r866 = CodePageTable::rowOfCodePage(866);
    const int r720 = CodePageTable::rowOfCodePage(720);
    qf::FontListEntry e;
    e.logFont = qf::test::logFont("Liberation Sans");
    e.charsets = {0, 255};
    e.codePageRanges[0] = 1u;           // Latin 1
    e.codePageRanges[1] = 0x80000000u;  // and MS-DOS 437, nothing else of the MS-DOS pages
    EXPECT_TRUE(CodePageTable::fontSupportsRow(e, r437));
    EXPECT_FALSE(CodePageTable::fontSupportsRow(e, r866));
    // Rows with a character set of their own go by the listed sets.
    EXPECT_TRUE(CodePageTable::fontSupportsRow(e, 0));
    EXPECT_FALSE(CodePageTable::fontSupportsRow(e, CodePageTable::rowOfCodePage(1251)));
    // A face that states no pages, or a page without a bit: the page's letters decide.
    EXPECT_FALSE(CodePageTable::fontSupportsRow(e, r720));  // no Arabic in Liberation Sans
    e.codePageRanges[0] = e.codePageRanges[1] = 0;
    EXPECT_TRUE(CodePageTable::fontSupportsRow(e, r866));   // it has Cyrillic
    EXPECT_FALSE(CodePageTable::fontSupportsRow(e, r720));
    EXPECT_EQ(gdi::codePageSignatureBit(866), 49);
    EXPECT_EQ(gdi::codePageSignatureBit(720), -1);

    // The enumeration hands every style the ranges its face states.
    std::vector<qf::FontListEntry> fonts;
    qf::BuildFontList(fonts, gdi::kGdiMajorVersion);
    ASSERT_FALSE(fonts.empty());
    for (const qf::FontListEntry& f : fonts) {
        EXPECT_TRUE(f.codePageRanges[1] & 0x80000000u) << f.name;  // every test face has 437
        EXPECT_TRUE(CodePageTable::fontSupportsRow(f, r437)) << f.name;
    }
}

TEST(CodePageTable, CharacterSetOfEachRow)
{
    const int ansi[] = {0, 238, 204, 161, 162, 177, 178, 186};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(CodePageTable::charsetOfRow(i), ansi[i]) << "row " << i;
    for (int i = 8; i < 28; ++i)
        EXPECT_EQ(CodePageTable::charsetOfRow(i), i == 15 ? gdi::THAI_CHARSET : gdi::OEM_CHARSET)
            << "row " << i << ", code page " << CodePageTable::row(i).codePage;
}

TEST(CodePageTable, OemRowsCarryTheirPageOnTheDeviceContext)
{
    gdi::DeviceContext dc;
    dc.setOemCodePage(437);
    EXPECT_EQ(CodePageTable::prepareDeviceContext(2, dc), gdi::RUSSIAN_CHARSET);
    EXPECT_EQ(dc.oemCodePage(), 437u);  // an ANSI row leaves it alone

    ASSERT_EQ(CodePageTable::prepareDeviceContext(10, dc), gdi::OEM_CHARSET);
    EXPECT_EQ(dc.oemCodePage(), 866u);
    // A font realised for the row maps its bytes through the row's page: Cyrillic A at 0x80.
    const gdi::ByteMap* map = gdi::codePageMap(gdi::codePageOfCharset(gdi::OEM_CHARSET, dc.oemCodePage()));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ((*map)[0x80], U'\u0410');

    ASSERT_EQ(CodePageTable::prepareDeviceContext(8, dc), gdi::OEM_CHARSET);
    map = gdi::codePageMap(gdi::codePageOfCharset(gdi::OEM_CHARSET, dc.oemCodePage()));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ((*map)[0xA3], U'\u00FA');  // u acute in MS-DOS United States
}

TEST(CodePageTranslate, CharsetAndCodePageBothWays)
{
    gdi::CHARSETINFO info;
    ASSERT_TRUE(gdi::TranslateCharsetInfo(874, &info, gdi::TCI_SRCCODEPAGE));
    EXPECT_EQ(info.ciCharset, gdi::THAI_CHARSET);
    EXPECT_EQ(info.ciACP, 874u);
    EXPECT_EQ(info.fs.fsCsb[0], 1u << 16);
    ASSERT_TRUE(gdi::TranslateCharsetInfo(gdi::EASTEUROPE_CHARSET, &info, gdi::TCI_SRCCHARSET));
    EXPECT_EQ(info.ciACP, 1250u);

    // What it cannot translate leaves the record as it was.
    gdi::CHARSETINFO untouched;
    untouched.ciCharset = 77;
    EXPECT_FALSE(gdi::TranslateCharsetInfo(437, &untouched, gdi::TCI_SRCCODEPAGE));
    EXPECT_FALSE(gdi::TranslateCharsetInfo(gdi::OEM_CHARSET, &untouched, gdi::TCI_SRCCHARSET));
    EXPECT_FALSE(gdi::TranslateCharsetInfo(1252, &untouched, gdi::TCI_SRCFONTSIG));
    EXPECT_EQ(untouched.ciCharset, 77u);

    // Fonts map their bytes through these pages; OEM fonts through the device context's.
    EXPECT_EQ(gdi::codePageOfCharset(gdi::DEFAULT_CHARSET, 437), 1252u);
    EXPECT_EQ(gdi::codePageOfCharset(gdi::OEM_CHARSET, 866), 866u);
    EXPECT_EQ(gdi::codePageOfCharset(gdi::SYMBOL_CHARSET, 437), 0u);
    EXPECT_EQ(gdi::codePageOfCharset(gdi::SHIFTJIS_CHARSET, 437), 0u);  // no single-byte page
}

// Names from faces and fontconfig are taken only when every character has a printable cp1252
// byte; text a person typed becomes '?' where it has none. Both go through the one 1252 table.
TEST(CodePageText, NamesStrictTypedTextLenient)
{
    std::string bytes;
    EXPECT_TRUE(gdi::utf8ToCp1252("Caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8", &bytes));
    EXPECT_EQ(bytes, "Caf\xE9 \x80\x9F");
    EXPECT_TRUE(gdi::utf16ToCp1252(u"\u0152uvre", &bytes));
    EXPECT_EQ(bytes, "\x8Cuvre");
    for (const char* refused : {"\xE4\xB8\x80", "a\tb", "\xC2\x81", "\xF0\x9F\x98\x80", "\xC3", "\xC3" "A", "\xA9"})
        EXPECT_FALSE(gdi::utf8ToCp1252(refused, &bytes)) << refused;
    EXPECT_FALSE(gdi::utf16ToCp1252(u"\u4E00", &bytes));
    EXPECT_EQ(gdi::utf8ToAnsi("\xE4\xB8\x80\xE2\x82\xAC"), "?\x80");
    EXPECT_EQ(gdi::ansiToUtf8("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");

    // Character sets and their bit of a face's code page ranges, from the one table.
    EXPECT_EQ(gdi::charsetSignatureBit(gdi::ANSI_CHARSET), 0);
    EXPECT_EQ(gdi::charsetSignatureBit(gdi::THAI_CHARSET), 16);
    EXPECT_EQ(gdi::charsetSignatureBit(gdi::SYMBOL_CHARSET), 31);
    EXPECT_EQ(gdi::charsetSignatureBit(gdi::OEM_CHARSET), -1);
}

// What Windows' MultiByteToWideChar gives at four bytes of every row's page (0 where the page
// has no character there). 0x1A and 0x7F are the control codes IBM's tables move about.
TEST(CodePageMap, EveryRowAtFourBytesAsWindowsMapsThem)
{
    const struct {
        int codePage;
        char32_t at80, atA3;
    } expected[] = {
        {1252, 0x20AC, 0x00A3}, {1250, 0x20AC, 0x0141}, {1251, 0x0402, 0x0408},
        {1253, 0x20AC, 0x00A3}, {1254, 0x20AC, 0x00A3}, {1255, 0x20AC, 0x00A3},
        {1256, 0x20AC, 0x00A3}, {1257, 0x20AC, 0x00A3}, {437, 0x00C7, 0x00FA},
        {850, 0x00C7, 0x00FA},  {866, 0x0410, 0x0433},  {737, 0x0391, 0x03BC},
        {862, 0x05D0, 0x00FA},  {864, 0x00B0, 0x00A3},  {775, 0x0106, 0x017B},
        {874, 0x20AC, 0x0E03},  {852, 0x00C7, 0x00FA},  {860, 0x00C7, 0x00FA},
        {861, 0x00C7, 0x00FA},  {863, 0x00C7, 0x00FA},  {865, 0x00C7, 0x00FA},
        {855, 0x0452, 0x0411},  {869, 0x0080, 0x03CD},  {857, 0x00C7, 0x00FA},
        // ASMO 708 (ISO 8859-6 layout): C1 controls at 0x80, nothing at 0xA3; 709 maps as 708.
        {708, 0x0080, gdi::kUnmapped}, {709, 0x0080, gdi::kUnmapped},
        // 720 has no character at 0x80 (a C1 control, as Windows leaves its OEM holes); 710 as 720.
        {710, 0x0080, 0x062B}, {720, 0x0080, 0x062B},
    };
    ASSERT_EQ(std::size(expected), 28u);
    for (int i = 0; i < 28; ++i) {
        const int cp = CodePageTable::row(i).codePage;
        SCOPED_TRACE("code page " + std::to_string(cp));
        ASSERT_EQ(expected[i].codePage, cp);
        const gdi::ByteMap* map = gdi::codePageMap(static_cast<unsigned>(cp));
        ASSERT_NE(map, nullptr);
        EXPECT_EQ((*map)[0x1A], U'\x1A');
        EXPECT_EQ((*map)[0x1C], U'\x1C');
        EXPECT_EQ((*map)[0x7F], U'\x7F');
        EXPECT_EQ((*map)[0x80], expected[i].at80);
        EXPECT_EQ((*map)[0xA3], expected[i].atA3);
        for (int b = 0x20; b < 0x7F; ++b)  // every page keeps ASCII
            EXPECT_EQ((*map)[b], static_cast<char32_t>(b)) << "byte " << b;
    }
}

TEST(CodePageMap, WindowsValuesWhereIcuTablesDiffer)
{
    auto at = [](unsigned cp, int b) { return (*gdi::codePageMap(cp))[b]; };
    EXPECT_EQ(at(437, 0xE6), U'\u00B5');   // micro sign, not Greek mu
    EXPECT_EQ(at(865, 0xE6), U'\u00B5');
    EXPECT_EQ(at(1253, 0xAA), U'\uF8F9');  // holes filled with private-use characters
    EXPECT_EQ(at(1255, 0xCA), U'\u05BA');
    EXPECT_EQ(at(857, 0xD5), U'\uF8BB');
    EXPECT_EQ(at(852, 0xAA), U'\u00AC');
    EXPECT_EQ(at(864, 0x9F), U'\u009F');
    EXPECT_EQ(at(869, 0x88), U'\u00B7');
    EXPECT_EQ(at(874, 0x80), U'\u20AC');   // Windows' Thai table, with the euro sign
    // Hebrew's zero-width direction marks.
    EXPECT_EQ(at(1255, 0xFD), U'\u200E');
    EXPECT_EQ(at(1255, 0xFE), U'\u200F');
}

TEST(CodePageMap, PagesWithoutConverterMapAsTheirNearestNeighbour)
{
    const gdi::ByteMap* asmo449 = gdi::codePageMap(709);
    const gdi::ByteMap* asmo708 = gdi::codePageMap(708);
    const gdi::ByteMap* transparentArabic = gdi::codePageMap(710);
    const gdi::ByteMap* transparentAsmo = gdi::codePageMap(720);
    ASSERT_TRUE(asmo449 && asmo708 && transparentArabic && transparentAsmo);
    EXPECT_EQ(*asmo449, *asmo708);
    EXPECT_EQ(*transparentArabic, *transparentAsmo);
    // Latin letters stay Latin; the Arabic letters sit where 8-bit Arabic fonts have them.
    EXPECT_EQ((*asmo449)['A'], U'A');
    EXPECT_EQ((*asmo449)[0xC7], U'\u0627');  // alef
    EXPECT_EQ((*asmo449)[0xAC], U'\u060C');  // Arabic comma
    // Transparent: the PC's line drawing keeps its place.
    EXPECT_EQ((*transparentArabic)[0xB3], U'\u2502');
    EXPECT_EQ((*transparentArabic)[0xC8], U'\u255A');
    EXPECT_EQ((*transparentArabic)[0x9F], U'\u0627');
}

// A byte that two codes shared would leave a BDF glyph unreachable by its character.
TEST(CodePageMap, NoCharacterTwiceInAPage)
{
    for (int i = 0; i < CodePageTable::rowCount(); ++i) {
        const int cp = CodePageTable::row(i).codePage;
        const gdi::ByteMap* map = gdi::codePageMap(static_cast<unsigned>(cp));
        ASSERT_NE(map, nullptr);
        std::set<char32_t> seen;
        for (int b = 0; b < 256; ++b) {
            if ((*map)[b] != gdi::kUnmapped) {
                EXPECT_TRUE(seen.insert((*map)[b]).second) << "code page " << cp << " byte " << b;
            }
        }
    }
}

// The pixels and advance a font realised for a code page row draws for one byte.
std::vector<uint8_t> drawn(int row, const char* family, uint8_t code, int32_t* advance = nullptr)
{
    gdi::DeviceContext dc;
    const int charset = CodePageTable::prepareDeviceContext(row, dc);
    qf::GlyphRasteriser rasteriser(dc);
    std::string error;
    EXPECT_TRUE(qf::test::done(rasteriser.realise(qf::test::logFontFor(family, charset), 12, 96, 96), error)) << error;
    EXPECT_TRUE(qf::test::done(rasteriser.prepare(4 * rasteriser.metrics().tmMaxCharWidth), error)) << error;
    const qf::RenderedGlyph g = rasteriser.render(code, 0);
    if (advance)
        *advance = g.cx;
    return g.rows ? std::vector<uint8_t>(g.rows, g.rows + static_cast<size_t>(g.widthBytes) * g.height)
                  : std::vector<uint8_t>();
}

TEST(CodePageRendering, RowsDrawTheirOwnCharacters)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    for (const char* family : {"DejaVu Sans", "Liberation Mono"}) {
        SCOPED_TRACE(family);
        // MS-DOS Russian 0x80 is Windows Cyrillic 0xC0: Cyrillic A.
        EXPECT_EQ(drawn(10, family, 0x80), drawn(2, family, 0xC0));
        EXPECT_NE(drawn(10, family, 0x80), drawn(0, family, 0x80));
        // MS-DOS United States 0xA3 is Windows Latin 1 0xFA: u acute.
        EXPECT_EQ(drawn(8, family, 0xA3), drawn(0, family, 0xFA));
    }
    // Windows Hebrew 0xFD and 0xFE are the zero-width direction marks: no advance, no ink.
    for (uint8_t code : {uint8_t{0xFD}, uint8_t{0xFE}}) {
        int32_t advance = -1;
        const std::vector<uint8_t> pixels = drawn(5, "DejaVu Sans", code, &advance);
        EXPECT_EQ(advance, 0) << int{code};
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), static_cast<long>(pixels.size())) << int{code};
    }
}

}  // namespace
