// Real fonts through the BDF writer, read back as the tools that use BDF read it: FreeType maps
// every encoded glyph by its Unicode character and gives the pixels that were drawn, and X11's
// bdftopcf accepts the file.
#include "formats/BdfWriter.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"
#include "tests/FreeTypeReader.h"
#include "tests/WriterTestSupport.h"
#include "testkit/StatusText.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using qf::BdfWriter;
using qf::CodePageTable;

struct Case {
    const char* family;
    int points;
    int dpi;
    int codePage;
};

std::string describe(const Case& c)
{
    return std::string(c.family) + " " + std::to_string(c.points) + " pt at " + std::to_string(c.dpi) +
           " dpi, code page " + std::to_string(c.codePage);
}

void checkRoundTrip(const Case& c)
{
    SCOPED_TRACE(describe(c));
    const int row = CodePageTable::rowOfCodePage(c.codePage);
    ASSERT_GE(row, 0);
    gdi::DeviceContext dc;
    const int charset = CodePageTable::prepareDeviceContext(row, dc);
    const gdi::LOGFONT lf = qf::test::logFontFor(c.family, charset);

    qf::GlyphRasteriser rasteriser(dc);
    std::string error;
    ASSERT_TRUE(qf::test::done(rasteriser.realise(lf, c.points, c.dpi, c.dpi), error)) << error;
    qf::test::RecordingSource recorded(rasteriser);
    const gdi::ByteMap characters = gdi::byteCharacters(rasteriser.metrics().tmCharSet, dc.oemCodePage());
    qf::OutputSink out;
    qf::WriteRequest request = qf::test::requestFor(c.family, c.points, c.dpi, c.dpi);
    request.font = lf;
    const qf::WriteProblem problem = BdfWriter::pack(recorded, characters, request, out);
    ASSERT_FALSE(problem) << problem.text;
    const std::string text(reinterpret_cast<const char*>(out.data()), out.size());
    const gdi::TEXTMETRIC tm = rasteriser.metrics();

    qf::test::expectBdftopcfAccepts(text);

    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    const qf::test::FtLibraryOwner libraryOwner(library);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(text.data()),
                                 static_cast<FT_Long>(text.size()), 0, &face),
              0);
    const qf::test::FtFaceOwner faceOwner(face);
    ASSERT_EQ(FT_Select_Charmap(face, FT_ENCODING_UNICODE), 0);

    std::set<char32_t> taken;
    int checked = 0;
    for (int code = tm.tmFirstChar; code <= tm.tmLastChar; ++code) {
        const char32_t u = characters[code];
        if (u == gdi::kUnmapped || !taken.insert(u).second)
            continue;
        SCOPED_TRACE("code " + std::to_string(code) + ", U+" + std::to_string(u));
        const FT_UInt index = FT_Get_Char_Index(face, u);
        ASSERT_NE(index, 0u);
        ASSERT_EQ(FT_Load_Glyph(face, index, FT_LOAD_DEFAULT), 0);
        const FT_GlyphSlot slot = face->glyph;
        const auto& drawn = recorded.glyphs.at(code);
        EXPECT_EQ(slot->advance.x >> 6, drawn.cx);
        const FT_Bitmap& bitmap = slot->bitmap;
        auto ftInk = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < static_cast<int>(bitmap.width) && y < static_cast<int>(bitmap.rows) &&
                   (bitmap.buffer[y * bitmap.pitch + x / 8] & (0x80 >> (x % 8))) != 0;
        };
        // Scratch pixel (x, y) is glyph pixel (x - 32 - left, y - (ascent - top)); every column
        // the writer searched must agree, ink and blank alike.
        const int lastColumn = std::min(drawn.cx + 2 * BdfWriter::kMargin - 1, drawn.width - 1);
        int mismatches = 0;
        for (int y = 0; y < drawn.height; ++y)
            for (int x = 0; x <= lastColumn; ++x)
                if (drawn.pixel(x, y) !=
                    ftInk(x - BdfWriter::kMargin - slot->bitmap_left, y - (tm.tmAscent - slot->bitmap_top)))
                    ++mismatches;
        EXPECT_EQ(mismatches, 0);
        ++checked;
    }
    EXPECT_GT(checked, 150);
}

TEST(BdfFreeType, EveryGlyphFoundByItsCharacterWithItsPixels)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    const Case cases[] = {
        {"DejaVu Sans", 12, 96, 1252},     {"DejaVu Sans", 8, 96, 1250},
        {"DejaVu Sans", 10, 96, 1251},     {"DejaVu Sans", 12, 96, 437},
        {"DejaVu Sans", 12, 96, 866},      {"Liberation Sans", 12, 96, 1252},
        {"Liberation Sans", 14, 96, 1251}, {"Liberation Sans", 8, 96, 866},
        {"Liberation Mono", 12, 96, 437},  {"Liberation Mono", 10, 96, 1250},
        {"DejaVu Sans", 12, 300, 1252},    {"Liberation Mono", 72, 96, 866},
    };
    for (const Case& c : cases)
        checkRoundTrip(c);
}

TEST(BdfFreeType, LargeSizes)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    checkRoundTrip({"DejaVu Sans", 72, 96, 1252});
    checkRoundTrip({"Liberation Sans", 36, 300, 1250});
}

TEST(BdfFreeType, WriteMakesTheWholeText)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    gdi::DeviceContext dc;
    qf::WriteRequest request = qf::test::requestFor("DejaVu Sans Book", 12);
    request.font = qf::test::logFontFor("DejaVu Sans", 0);
    qf::OutputSink out;
    const qf::WriteProblem problem = BdfWriter().write(dc, request, out);
    ASSERT_FALSE(problem) << problem.text;
    const std::string text(reinterpret_cast<const char*>(out.data()), out.size());
    EXPECT_EQ(text.rfind("STARTFONT 2.1\r\nFONT DejaVuSansBook\r\nSIZE 12 96 96\r\n", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 9), "ENDFONT\r\n");
    qf::test::expectBdftopcfAccepts(text);
}

}  // namespace
