#include "formats/BdfWriter.h"
#include "formats/InkScan.h"
#include "formats/PclSoftFontWriter.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"
#include "tests/PclDecoder.h"
#include "testkit/TestGlyphSource.h"
#include "tests/WriterTestSupport.h"
#include "testkit/StatusText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

using qf::PclSoftFontWriter;
using qf::test::decodePcl;
using qf::test::PclFont;
using qf::test::TestGlyphSource;

struct Packed {
    qf::OutputSink image;
    uint32_t length = 0;
    PclFont font;
};

constexpr int kRoman8 = 309;  // " 9U"

Packed pack(TestGlyphSource& source, bool landscape, int symbolSet = kRoman8, const char* name = "Test Face")
{
    Packed p;
    const qf::WriteProblem problem =
        PclSoftFontWriter::pack(source, qf::test::requestFor(name, 12, 300, 300, symbolSet), p.image, landscape);
    EXPECT_FALSE(problem) << problem.text;
    p.length = static_cast<uint32_t>(p.image.size());
    if (!problem) {
        p.font = decodePcl(p.image.data(), p.length);
        EXPECT_EQ(p.font.error, "");
    }
    return p;
}

TestGlyphSource barFont()
{
    // Cell 20 high, ascent 16; a space, a 1-pixel bar of height 10 at column 3, and a box.
    TestGlyphSource source(TestGlyphSource::metricsFor(0x20, 0x43, 20, 6, 9));
    source.tm().tmBreakChar = 0x20;
    source.tm().tmInternalLeading = 3;
    source.setGlyph(0x20, 5);
    std::vector<std::string> bar(16);
    for (int r = 6; r < 16; ++r)
        bar[r] = "...#";
    source.setGlyph('A', 6, bar);
    source.setGlyph('B', 9, {"", "", "", "", "", "", "", "", "", "", "#########", "#.......#", "#########"});
    return source;
}

TEST(PclWriter, FontHeader)
{
    TestGlyphSource source = barFont();
    source.setGlyph('C', 12);  // the widest advance, although blank
    const Packed p = pack(source, false, kRoman8, "A Long Font Name Over Sixteen");
    ASSERT_GE(p.length, 70u);
    EXPECT_EQ(std::memcmp(p.image.data(), "\x1b)s64W", 6), 0);
    const PclFont& f = p.font;
    EXPECT_EQ(f.descriptorSize, 64);
    EXPECT_EQ(f.headerFormat, 0);
    EXPECT_EQ(f.fontType, 2);
    EXPECT_EQ(f.baseline, 16);
    EXPECT_EQ(f.cellWidth, 12);
    EXPECT_EQ(f.cellHeight, 20);
    EXPECT_EQ(f.orientation, 0);
    EXPECT_EQ(f.spacing, 1);
    EXPECT_EQ(f.symbolSet, 309);
    EXPECT_EQ(f.pitch, 20);   // the space's advance of 5, in quarter-dots
    EXPECT_EQ(f.height, 68);  // the em: 4 x (20 - 3)
    EXPECT_EQ(f.firstCode, 0x20);
    EXPECT_EQ(f.lastCode, 0x43);
    EXPECT_EQ(f.name, "A Long Font Name");
    EXPECT_EQ(source.preparedWidth, 36 + 64);  // four widest characters and the margins
    // Everything else in the descriptor is zero.
    for (int offset : {4, 5, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 40, 41,
                       42, 43, 44, 45, 46, 47})
        EXPECT_EQ(f.descriptor[offset], 0) << "descriptor byte " << offset;

    EXPECT_EQ(pack(source, false, kRoman8, "Short").font.name, "Short           ");
}

TEST(PclWriter, SymbolSetFollowsTheCodePageRow)
{
    EXPECT_EQ(PclSoftFontWriter::symbolSetValue(" 9U"), 309);
    EXPECT_EQ(PclSoftFontWriter::symbolSetValue(" 8U"), 277);
    EXPECT_EQ(PclSoftFontWriter::symbolSetValue(" 3R"), 114);
    EXPECT_EQ(PclSoftFontWriter::symbolSetValue(" 0R"), 18);
    EXPECT_EQ(PclSoftFontWriter::symbolSetValue(" 8G"), 263);
    EXPECT_EQ(PclSoftFontWriter::symbolSetValue("19U"), 629);
    // Pages with a standard symbol set declare it; the others keep the nearest.
    const std::pair<int, const char*> sets[] = {
        {1252, " 9U"}, {1250, " 9E"}, {1251, " 9R"}, {1253, " 9G"}, {1254, " 5T"}, {1256, " 9V"},
        {1257, "19L"}, {437, "10U"}, {850, "12U"}, {852, "17U"}, {857, " 9T"}, {866, " 3R"},
        {1255, " 9U"}, {855, " 0R"}, {737, " 8G"}};
    for (const auto& [page, id] : sets) {
        const int row = qf::CodePageTable::rowOfCodePage(page);
        EXPECT_STREQ(qf::CodePageTable::row(row).pclSymbolSet, id) << page;
        EXPECT_EQ(qf::CodePageTable::pclSymbolSetValue(row), PclSoftFontWriter::symbolSetValue(id)) << page;
    }
    TestGlyphSource source = barFont();
    EXPECT_EQ(pack(source, false, 114).font.symbolSet, 114);  // what the writer is given
}

TEST(PclWriter, VerticalBarPortraitAndLandscape)
{
    TestGlyphSource source = barFont();
    const Packed portrait = pack(source, false);
    ASSERT_TRUE(portrait.font.characters.count('A'));
    const auto& a = portrait.font.characters.at('A');
    EXPECT_EQ(a.codeCommand, "\x1b*c65E");
    EXPECT_EQ(a.blockCounts, std::vector<int>{26});
    EXPECT_EQ(a.format, 4);
    EXPECT_EQ(a.continuation, 0);
    EXPECT_EQ(a.descriptorSize, 14);
    EXPECT_EQ(a.charClass, 1);
    EXPECT_EQ(a.orientation, 0);
    EXPECT_EQ(a.leftOffset, 3);
    EXPECT_EQ(a.topOffset, 10);  // ascent 16 - top row 6
    EXPECT_EQ(a.width, 1);
    EXPECT_EQ(a.height, 10);
    EXPECT_EQ(a.deltaX, 24);
    EXPECT_EQ(a.raster, std::vector<uint8_t>(10, 0x80));

    const Packed landscape = pack(source, true);
    const auto& l = landscape.font.characters.at('A');
    EXPECT_EQ(l.orientation, 1);
    EXPECT_EQ(l.leftOffset, 6 - 16);
    EXPECT_EQ(l.topOffset, 3);
    EXPECT_EQ(l.width, 10);
    EXPECT_EQ(l.height, 1);
    EXPECT_EQ(l.deltaX, 24);
    EXPECT_EQ(l.raster, (std::vector<uint8_t>{0xFF, 0xC0}));
}

TEST(PclWriter, PortraitAndLandscapeAgree)
{
    TestGlyphSource source = barFont();
    source.setGlyph('C', 7, {"", "", "", "", "#......", "##.....", "#.#....", "#..#...", "#...#..", "#######"});
    const Packed portrait = pack(source, false);
    const Packed landscape = pack(source, true);
    ASSERT_GT(portrait.length, 70u);
    EXPECT_EQ(portrait.font.order, landscape.font.order);
    // The descriptors differ in the orientation byte only.
    std::vector<uint8_t> a = portrait.font.descriptor, b = landscape.font.descriptor;
    EXPECT_EQ(a[12], 0);
    EXPECT_EQ(b[12], 1);
    b[12] = 0;
    EXPECT_EQ(a, b);
    for (int code : portrait.font.order) {
        SCOPED_TRACE(code);
        const auto& p = portrait.font.characters.at(code);
        const auto& l = landscape.font.characters.at(code);
        EXPECT_EQ(p.codeCommand, l.codeCommand);
        EXPECT_EQ(p.deltaX, l.deltaX);
        EXPECT_EQ(l.width, p.height);
        EXPECT_EQ(l.height, p.width);
        EXPECT_EQ(l.raster.size(), static_cast<size_t>(p.width) * ((p.height + 7) / 8));
        ASSERT_EQ(p.uprightWidth(), l.uprightWidth());
        ASSERT_EQ(p.uprightHeight(), l.uprightHeight());
        for (int y = 0; y < p.uprightHeight(); ++y)
            for (int x = 0; x < p.uprightWidth(); ++x)
                EXPECT_EQ(p.uprightPixel(x, y), l.uprightPixel(x, y)) << x << "," << y;
    }
}

TEST(PclWriter, BlankCodesAreNotDownloaded)
{
    TestGlyphSource blank(TestGlyphSource::metricsFor(0x1E, 0xFF, 12, 5, 8));
    blank.tm().tmBreakChar = 0x20;
    blank.setDefaultAdvance(5);
    const Packed p = pack(blank, false);
    EXPECT_EQ(p.length, 70u);
    EXPECT_TRUE(p.font.characters.empty());
    EXPECT_EQ(p.font.pitch, 20);  // the space exists, with an advance of 5

    // Without a break character in range, the average width stands in for the pitch.
    TestGlyphSource noSpace(TestGlyphSource::metricsFor(0x41, 0x5A, 12, 6, 8));
    noSpace.tm().tmBreakChar = 0x20;
    EXPECT_EQ(pack(noSpace, false).font.pitch, 24);
}

TEST(PclWriter, InkBoxEdges)
{
    // 4 x 13 + 64 = 116 columns: rows padded to 128 bits.
    TestGlyphSource source(TestGlyphSource::metricsFor(0x01, 0x06, 12, 5, 13));
    // Control codes are written like any other code.
    source.setGlyph(0x01, 4, {"#"});
    // Ink right of the advance is kept, and the offsets place it.
    source.setGlyph(0x02, 4, {"#...#", "#....#"});
    source.setGlyph(0x03, 4, {".....#"});
    // Ink left of the origin (an italic's descender), and ink of a character with no advance.
    source.setGlyph(0x04, 0, {"###"}, -2);
    source.setGlyph(0x05, 2, {"#", "", ".....#"}, -3);
    // Padding past the bitmap is never read.
    source.setGlyph(0x06, 12, {"", "############"});
    source.setInkInPadding(true);
    const Packed p = pack(source, false);
    EXPECT_EQ(p.font.order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(p.font.characters.at(1).codeCommand, "\x1b*c1E");
    struct Box {
        int code, left, top, width, height;
    };
    for (const Box& b : {Box{2, 0, 9, 6, 2}, Box{3, 5, 9, 1, 1}, Box{4, -2, 9, 3, 1}, Box{5, -3, 9, 6, 3},
                         Box{6, 0, 8, 12, 1}}) {
        const auto& c = p.font.characters.at(b.code);
        EXPECT_EQ(c.leftOffset, b.left) << b.code;
        EXPECT_EQ(c.topOffset, b.top) << b.code;
        EXPECT_EQ(c.width, b.width) << b.code;
        EXPECT_EQ(c.height, b.height) << b.code;
    }
    EXPECT_EQ(p.font.characters.at(4).deltaX, 0);
    EXPECT_EQ(p.font.characters.at(2).raster, (std::vector<uint8_t>{0x88, 0x84}));
    EXPECT_EQ(p.font.characters.at(6).raster, (std::vector<uint8_t>{0xFF, 0xF0}));
}

// A glyph whose raster does not fit one download goes on in continuation blocks that a printer
// joins back together.
void checkContinuation(int width, int height, std::vector<int> expectedCounts)
{
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    TestGlyphSource source(TestGlyphSource::metricsFor(0x41, 0x41, height, width, width));
    source.tm().tmInternalLeading = source.tm().tmAscent - 10;  // keeps the Height field small
    std::vector<std::string> rows(static_cast<size_t>(height));
    for (int r = 0; r < height; ++r) {
        rows[r].assign(static_cast<size_t>(width), '.');
        rows[r][0] = rows[r][width - 1] = '#';
        rows[r][r % width] = '#';
    }
    source.setGlyph('A', width, rows);
    for (bool landscape : {false, true}) {
        const Packed p = pack(source, landscape);
        ASSERT_TRUE(p.font.characters.count('A'));
        const auto& a = p.font.characters.at('A');
        if (!landscape) {
            EXPECT_EQ(a.blockCounts, expectedCounts);
        }
        for (int count : a.blockCounts) {
            EXPECT_LE(count, 32767);
            EXPECT_GE(count, 4);
        }
        ASSERT_EQ(a.uprightWidth(), width);
        ASSERT_EQ(a.uprightHeight(), height);
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                wrong += a.uprightPixel(x, y) != (rows[y][x] == '#');
        EXPECT_EQ(wrong, 0) << (landscape ? "landscape" : "portrait");
    }
}

TEST(PclWriter, ContinuationBlocks)
{
    // 900 x 300: 113 bytes a row, 33,900 bytes in all.
    checkContinuation(900, 300, {32767, 2 + 33900 - 32751});
    // 128 x 2047: 32,752 bytes, one more than the first block holds; the last block keeps 2.
    checkContinuation(128, 2047, {32766, 4});
    // Exactly what the first block holds.
    checkContinuation(8, 32751, {32767});
}

TEST(PclWriter, RefusesWhatDoesNotFitItsField)
{
    TestGlyphSource source(TestGlyphSource::metricsFor(0x41, 0x41, 12, 5, 8));
    source.setGlyph('A', 9000, {"#"});  // 4 x 9000 quarter-dots do not fit Delta X
    qf::OutputSink out;
    const qf::WriteProblem problem = PclSoftFontWriter::pack(source, qf::test::requestFor("X"), out, false);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_EQ(out.size(), 0u);
    EXPECT_NE(problem.text.find("Delta X"), std::string::npos) << problem.text;
}

// The glyphs of a BDF text in code order: ink box and hex rows.
struct BdfGlyph {
    int width = 0, height = 0, x = 0, y = 0;
    std::vector<std::string> rows;
};

std::vector<BdfGlyph> bdfGlyphs(const std::string& text)
{
    std::vector<BdfGlyph> glyphs;
    std::istringstream in(text);
    std::string line;
    bool bitmap = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("STARTCHAR", 0) == 0) {
            glyphs.emplace_back();
        } else if (line.rfind("BBX ", 0) == 0) {
            BdfGlyph& g = glyphs.back();
            std::sscanf(line.c_str(), "BBX %d %d %d %d", &g.width, &g.height, &g.x, &g.y);
        } else if (line == "BITMAP") {
            bitmap = true;
        } else if (line == "ENDCHAR") {
            bitmap = false;
        } else if (bitmap) {
            glyphs.back().rows.push_back(line);
        }
    }
    return glyphs;
}

std::string hexRows(const qf::test::PclCharacter& c)
{
    std::string out;
    char pair[3];
    for (uint8_t byte : c.raster) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        out += pair;
    }
    return out;
}

TEST(PclRealFont, DecodedCharactersAreWhatWasDrawnAndKeepTheBdfsInk)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    struct Case {
        const char* family;
        int weight;
        bool italic;
        int points;
        int codePage;
    };
    for (const Case& k : {Case{"DejaVu Sans", 400, false, 12, 1252}, Case{"DejaVu Sans", 400, true, 12, 1252},
                          Case{"DejaVu Sans", 700, true, 36, 866}, Case{"Liberation Mono", 400, false, 36, 866}}) {
        SCOPED_TRACE(std::string(k.family) + (k.italic ? " italic " : " ") + std::to_string(k.points));
        gdi::DeviceContext dc;
        const int row = qf::CodePageTable::rowOfCodePage(k.codePage);
        const int charset = qf::CodePageTable::prepareDeviceContext(row, dc);
        const int symbolSet = qf::CodePageTable::pclSymbolSetValue(row);
        gdi::LOGFONT lf = qf::test::logFontFor(k.family, charset);
        lf.lfWeight = k.weight;
        lf.lfItalic = k.italic ? 1 : 0;
        auto realised = [&](qf::GlyphRasteriser& r) {
            std::string why;
            EXPECT_TRUE(qf::test::done(r.realise(lf, k.points, 300, 300), why)) << why;
        };
        qf::GlyphRasteriser rasteriser(dc);
        realised(rasteriser);
        qf::test::RecordingSource recorded(rasteriser);
        qf::WriteRequest request = qf::test::requestFor(k.family, k.points, 300, 300, symbolSet, k.family);
        qf::OutputSink image;
        qf::WriteProblem problem = PclSoftFontWriter::pack(recorded, request, image, false);
        ASSERT_FALSE(problem) << problem.text;
        const PclFont font = decodePcl(image.data(), image.size());
        ASSERT_EQ(font.error, "");
        // The landscape font of the same size turns every character and nothing else.
        qf::GlyphRasteriser again(dc);
        realised(again);
        qf::OutputSink landscapeImage;
        problem = PclSoftFontWriter::pack(again, request, landscapeImage, true);
        ASSERT_FALSE(problem) << problem.text;
        const PclFont landscape = decodePcl(landscapeImage.data(), landscapeImage.size());
        ASSERT_EQ(landscape.error, "");
        ASSERT_EQ(landscape.order, font.order);
        // The BDF of the same font: every character's ink box and rows are the soft font's.
        qf::GlyphRasteriser third(dc);
        realised(third);
        qf::OutputSink bdf;
        problem = qf::BdfWriter::pack(third, gdi::byteCharacters(third.metrics().tmCharSet, dc.oemCodePage()),
                                      request, bdf);
        ASSERT_FALSE(problem) << problem.text;
        const std::vector<BdfGlyph> bdfInk = bdfGlyphs(std::string(reinterpret_cast<const char*>(bdf.data()), bdf.size()));

        const gdi::TEXTMETRIC& tm = rasteriser.metrics();
        EXPECT_EQ(font.symbolSet, symbolSet);
        EXPECT_EQ(font.height, 4 * (tm.tmHeight - tm.tmInternalLeading));
        EXPECT_EQ(font.pitch, 4 * recorded.glyphs.at(0x20).cx);
        EXPECT_FALSE(font.characters.count(0x20));
        EXPECT_GT(font.characters.size(), 150u);
        ASSERT_EQ(bdfInk.size(), static_cast<size_t>(tm.tmLastChar - tm.tmFirstChar + 1));
        int leftOfOrigin = 0;
        int rightOfAdvance = 0;
        for (int code = tm.tmFirstChar; code <= tm.tmLastChar; ++code) {
            SCOPED_TRACE(code);
            const BdfGlyph& b = bdfInk[static_cast<size_t>(code - tm.tmFirstChar)];
            ASSERT_EQ(font.characters.count(code), b.width > 0 ? 1u : 0u);
            if (b.width == 0)
                continue;
            const auto& c = font.characters.at(code);
            const auto& drawn = recorded.glyphs.at(code);
            EXPECT_EQ(c.deltaX, 4 * drawn.cx);
            ASSERT_EQ(c.width, b.width);
            ASSERT_EQ(c.height, b.height);
            EXPECT_EQ(c.leftOffset, b.x);
            EXPECT_EQ(c.topOffset, b.y + b.height);
            std::string rows;
            for (const std::string& r : b.rows)
                rows += r;
            EXPECT_EQ(hexRows(c), rows);
            leftOfOrigin += c.leftOffset < 0;
            rightOfAdvance += c.leftOffset + c.width > drawn.cx;

            const auto& turned = landscape.characters.at(code);
            ASSERT_EQ(turned.uprightWidth(), c.width);
            ASSERT_EQ(turned.uprightHeight(), c.height);
            EXPECT_EQ(turned.topOffset, c.leftOffset + c.width - 1);
            EXPECT_EQ(turned.leftOffset, -c.topOffset);
            // The box holds what was drawn there, upright and turned.
            const int left = c.leftOffset + qf::ink::kMargin;
            const int top = tm.tmAscent - c.topOffset;
            int wrong = 0;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x) {
                    wrong += c.storedPixel(x, y) != drawn.pixel(left + x, top + y);
                    wrong += turned.uprightPixel(x, y) != drawn.pixel(left + x, top + y);
                }
            EXPECT_EQ(wrong, 0);
        }
        // The italics reach past both edges of their advance, and keep that ink.
        if (k.italic) {
            EXPECT_GT(leftOfOrigin, 0);
            EXPECT_GT(rightOfAdvance, 10);
        }
    }
}

}  // namespace
