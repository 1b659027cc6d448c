#include "formats/BdfWriter.h"
#include "formats/FontWriter.h"
#include "platform/FileLayer.h"
#include "testkit/TestGlyphSource.h"
#include "tests/WriterTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

namespace {

using qf::BdfWriter;
using qf::test::expectBdftopcfAccepts;
using qf::test::TestGlyphSource;

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));  // an unterminated last line
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The lines of one character's block, from STARTCHAR to ENDCHAR.
std::vector<std::string> blockOf(const std::string& text, const std::string& startchar)
{
    const auto lines = linesOf(text);
    std::vector<std::string> block;
    bool in = false;
    for (const auto& line : lines) {
        if (line == "STARTCHAR " + startchar)
            in = true;
        if (in)
            block.push_back(line);
        if (in && line == "ENDCHAR")
            break;
    }
    return block;
}

gdi::ByteMap identityMap()
{
    gdi::ByteMap map;
    for (int c = 0; c < 256; ++c)
        map[c] = static_cast<char32_t>(c);
    return map;
}

std::string packed(TestGlyphSource& source, int points = 12, int dpi = 96, const char* name = "Test Face",
                   const gdi::ByteMap& map = identityMap())
{
    qf::OutputSink out;
    const qf::WriteProblem problem =
        BdfWriter::pack(source, map, qf::test::requestFor(name, points, dpi, dpi, 309, "TestFace"), out);
    EXPECT_FALSE(problem) << problem.text;
    return std::string(reinterpret_cast<const char*>(out.data()), out.size());
}

TestGlyphSource smallFont()
{
    // Cell 10 high, ascent 8; codes 0x20 to 0x42.
    TestGlyphSource source(TestGlyphSource::metricsFor(0x20, 0x42, 10, 5, 9));
    source.tm().tmInternalLeading = 2;
    source.setDefaultAdvance(6);
    source.setGlyph(0x20, 5);
    source.setGlyph('A', 7,
                    {"", "", "..#..", ".#.#.", "#...#", "#####", "#...#", "#...#"});
    return source;
}

TEST(BdfWriter, HeaderPropertiesAndLineEnds)
{
    TestGlyphSource source = smallFont();
    const std::string text = packed(source);
    const auto lines = linesOf(text);
    const std::vector<std::string> header(lines.begin(), lines.begin() + 16);
    const std::vector<std::string> expected = {
        "STARTFONT 2.1",
        "FONT TestFace",
        "SIZE 12 96 96",
        "FONTBOUNDINGBOX 9 10 0 -2",
        "STARTPROPERTIES 8",
        "FONT_ASCENT 8",
        "FONT_DESCENT 2",
        "POINT_SIZE 120",
        "PIXEL_SIZE 8",
        "RESOLUTION_X 96",
        "RESOLUTION_Y 96",
        "CHARSET_REGISTRY \"ISO10646\"",
        "CHARSET_ENCODING \"1\"",
        "ENDPROPERTIES",
        "CHARS 35",
        "STARTCHAR uni0020.0020",
    };
    EXPECT_EQ(header, expected);
    EXPECT_EQ(lines.back(), "ENDFONT");
    // Every line ends in CR LF, the last included; no bare LF anywhere, no empty line.
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    for (const auto& line : lines)
        EXPECT_FALSE(line.empty());
    // One block per code, blank ones included.
    size_t blocks = 0;
    for (const auto& line : lines)
        blocks += line.rfind("STARTCHAR ", 0) == 0;
    EXPECT_EQ(blocks, 35u);
    EXPECT_EQ(source.preparedWidth, 4 * 9 + 64);
    expectBdftopcfAccepts(text);
}

TEST(BdfWriter, GlyphBlocks)
{
    TestGlyphSource source = smallFont();
    const std::string text = packed(source);
    // The space: its real widths, no box, no rows.
    EXPECT_EQ(blockOf(text, "uni0020.0020"),
              (std::vector<std::string>{"STARTCHAR uni0020.0020", "ENCODING 32", "SWIDTH 312 0",
                                        "DWIDTH 5 0", "BBX 0 0 0 0", "BITMAP", "ENDCHAR"}));
    // A: its ink box, bottom row on the baseline (y offset 0), rows from the box's left edge.
    EXPECT_EQ(blockOf(text, "uni0041.0041"),
              (std::vector<std::string>{"STARTCHAR uni0041.0041", "ENCODING 65", "SWIDTH 437 0",
                                        "DWIDTH 7 0", "BBX 5 6 0 0", "BITMAP", "20", "50", "88",
                                        "F8", "88", "88", "ENDCHAR"}));
}

TEST(BdfWriter, OffsetsAndRowWidths)
{
    TestGlyphSource source(TestGlyphSource::metricsFor(0x41, 0x45, 10, 5, 9));
    // Ink from 3 columns left of the origin, down to the row below the baseline.
    source.setGlyph('A', 4, {"", "", "", "", "", "", "", "####", "", ""}, -3);
    source.setGlyph('B', 4, {"", "", "", "", "", "", "", "", "#", ""});
    // 40 columns left of the origin: the 8 farthest are cut off by the bitmap's edge.
    source.setGlyph('C', 4, {"", "", "", "##########"}, -40);
    source.setGlyph('D', 9, {"#########", "#.......#"});
    source.setGlyph('E', 8, {"########"});
    const std::string text = packed(source);
    EXPECT_EQ(blockOf(text, "uni0041.0041")[4], "BBX 4 1 -3 0");
    EXPECT_EQ(blockOf(text, "uni0042.0042")[4], "BBX 1 1 0 -1");
    EXPECT_EQ(blockOf(text, "uni0043.0043")[4], "BBX 2 1 -32 4");
    const auto d = blockOf(text, "uni0044.0044");
    EXPECT_EQ(d[4], "BBX 9 2 0 6");
    EXPECT_EQ(d[6], "FF80");  // 9 columns: two bytes a row
    EXPECT_EQ(d[7], "8080");
    const auto e = blockOf(text, "uni0045.0045");
    EXPECT_EQ(e[6], "FF");    // 8 columns: exactly one byte
    expectBdftopcfAccepts(text);
}

TEST(BdfWriter, InkFarRightOfTheAdvance)
{
    // 4 x 21 + 64 = 148 columns: rows padded to 160 bits.
    TestGlyphSource source(TestGlyphSource::metricsFor(0x41, 0x41, 10, 5, 21));
    // A dot inside the box, and one 40 columns right of the advance, two rows lower: outside the
    // column search, but it still decides the rows.
    std::vector<std::string> rows(10);
    rows[2] = "#";
    rows[4] = std::string(44, '.') + "#";
    source.setGlyph('A', 4, rows);
    source.setInkInPadding(true);  // never read past the bitmap's last column
    const auto block = blockOf(packed(source), "uni0041.0041");
    ASSERT_GE(block.size(), 10u);
    EXPECT_EQ(block[4], "BBX 1 3 0 3");
    EXPECT_EQ(block[6], "80");
    EXPECT_EQ(block[7], "00");
    EXPECT_EQ(block[8], "00");
}

TEST(BdfWriter, ScalableWidthTruncates)
{
    TestGlyphSource source(TestGlyphSource::metricsFor(0x41, 0x42, 10, 5, 9));
    source.setGlyph('A', 7);
    source.setGlyph('B', 5);
    EXPECT_EQ(blockOf(packed(source, 12, 96), "uni0041.0041")[2], "SWIDTH 437 0");  // 437.5
    EXPECT_EQ(blockOf(packed(source, 12, 96), "uni0042.0042")[2], "SWIDTH 312 0");
    EXPECT_EQ(blockOf(packed(source, 10, 96), "uni0041.0041")[2], "SWIDTH 525 0");
}

TEST(BdfWriter, FontNameFiltering)
{
    EXPECT_EQ(BdfWriter::fontName("Sans Serif Bold", "Face"), "SansSerifBold");
    EXPECT_EQ(BdfWriter::fontName("Caf\xE9 Noir\x01", "Face"), "CafNoir");
    // Nothing left: the face name, then a fixed name, so the FONT line is never empty.
    EXPECT_EQ(BdfWriter::fontName("   ", "DejaVu Sans"), "DejaVuSans");
    EXPECT_EQ(BdfWriter::fontName("\xC0\xC1", "\xE9"), BdfWriter::kFallbackName);
    TestGlyphSource source = smallFont();
    const std::string text = packed(source, 12, 96, "   ");
    EXPECT_EQ(linesOf(text)[1], "FONT TestFace");
    expectBdftopcfAccepts(text);
}

TEST(BdfWriter, EncodingsFollowTheCharacters)
{
    TestGlyphSource source(TestGlyphSource::metricsFor(0x80, 0x83, 10, 5, 9));
    gdi::ByteMap map = identityMap();
    map[0x80] = 0x0410;          // Cyrillic A
    map[0x81] = gdi::kUnmapped;  // no character
    map[0x82] = 0x0410;          // taken by 0x80 already
    const std::string text = packed(source, 12, 96, "X", map);
    EXPECT_EQ(blockOf(text, "uni0410.0410")[1], "ENCODING 1040");
    EXPECT_EQ(blockOf(text, "uniFFFD.0081")[1], "ENCODING -1");
    const auto lines = linesOf(text);
    int encodings = 0;
    for (const auto& line : lines)
        encodings += line == "ENCODING 1040";
    EXPECT_EQ(encodings, 1);  // the second 0x0410 is written with -1
    EXPECT_EQ(blockOf(text, "uni0083.0083")[1], "ENCODING 131");
    expectBdftopcfAccepts(text);
}

TEST(BdfWriter, SymbolFontsUsePrivateUseCharacters)
{
    const gdi::ByteMap map = gdi::byteCharacters(gdi::SYMBOL_CHARSET, 437);
    EXPECT_EQ(map[0x41], U'\uF041');
    EXPECT_EQ(gdi::byteCharacters(gdi::OEM_CHARSET, 866)[0x80], U'\u0410');
    EXPECT_EQ(gdi::byteCharacters(gdi::ANSI_CHARSET, 866)[0x80], U'\u20AC');
    const gdi::ByteMap noPage = gdi::byteCharacters(gdi::SHIFTJIS_CHARSET, 437);
    EXPECT_EQ(noPage[0x41], U'A');
    EXPECT_EQ(noPage[0xE9], U'\u00E9');
    EXPECT_EQ(noPage[0x85], gdi::kUnmapped);
}

// A source whose every glyph fills its whole scratch bitmap, to reach the size limit fast.
class SolidSource : public qf::GlyphSource {
public:
    explicit SolidSource(const gdi::TEXTMETRIC& tm) : tm_(tm) {}
    const gdi::TEXTMETRIC& metrics() const override { return tm_; }
    qf::Status prepare(int width, int = 0) override
    {
        width_ = width;
        widthBytes_ = (width + 15) / 16 * 2;
        bits_.assign(static_cast<size_t>(widthBytes_) * tm_.tmHeight, 0xFF);
        return qf::Status();
    }
    qf::RenderedGlyph render(uint8_t code, int) override
    {
        qf::RenderedGlyph g;
        g.code = code;
        g.cx = tm_.tmMaxCharWidth;
        g.rows = bits_.data();
        g.width = width_;
        g.height = tm_.tmHeight;
        g.widthBytes = widthBytes_;
        return g;
    }
    qf::RenderedGlyph renderCharacter(char32_t c, int x) override { return render(static_cast<uint8_t>(c), x); }
    void finish() override {}

private:
    gdi::TEXTMETRIC tm_;
    int width_ = 0, widthBytes_ = 0;
    std::vector<uint8_t> bits_;
};

TEST(BdfWriter, RefusesTextBeyondTheMemoryLimit)
{
    // 256 glyphs of 2064 x 1500 solid pixels: about 780 KB of text each, 200 MB in all.
    SolidSource source(TestGlyphSource::metricsFor(0, 255, 1500, 1000, 2000));
    qf::OutputSink out;
    const qf::WriteProblem problem =
        BdfWriter::pack(source, identityMap(), qf::test::requestFor("Big", 500, 300, 300, 309, "Big"), out);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_NE(problem.text.find("64 MiB"), std::string::npos) << problem.text;
    EXPECT_EQ(out.size(), 0u);
}

// A text file past what memory should hold streams: it is given back whole and unchanged (also
// after its pages were let go), and a file past the streamed cap is still refused, not cut short.
TEST(OutputSink, StreamsPastWhatMemoryHoldsAndStillRefusesPastItsCap)
{
    constexpr size_t piece = qf::OutputSink::kStreamPiece;
    qf::OutputSink out;
    out.streamUpTo(3 * piece);
    std::string made;
    for (int n = 0; made.size() < 2 * piece + 12345; ++n) {
        const std::string line = "ENCODING " + std::to_string(n) + "\n";
        ASSERT_TRUE(out.append(line.data(), line.size()));
        made += line;
    }
    EXPECT_TRUE(out.streamed());
    ASSERT_EQ(out.size(), made.size());
    EXPECT_EQ(std::memcmp(out.data(), made.data(), made.size()), 0);
    out.releaseBefore(out.size());
    EXPECT_EQ(std::memcmp(out.data(), made.data(), made.size()), 0);

    const std::string more(1 << 20, 'x');
    while (out.append(more.data(), more.size()))
        ASSERT_LE(out.size(), 3 * piece);
    EXPECT_TRUE(out.overflowed());
    EXPECT_LE(out.size(), 3 * piece);

    out.clear();  // the next file is held whole again
    EXPECT_FALSE(out.streamed());
    EXPECT_EQ(out.size(), 0u);
    EXPECT_EQ(out.cap(), qf::kMaxAllocation);
}

TEST(BdfWriter, WriteRefusesASizeThatCannotBeRealised)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    gdi::DeviceContext dc;
    qf::WriteRequest request = qf::test::requestFor("DejaVu Sans", 4000, 65535, 65535);
    request.font = qf::test::logFontFor("DejaVu Sans", 0);
    qf::OutputSink out;
    const qf::WriteProblem problem = BdfWriter().write(dc, request, out);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_NE(problem.text.find("DejaVu Sans at 4000 points"), std::string::npos) << problem.text;
    EXPECT_EQ(out.size(), 0u);
}

}  // namespace
