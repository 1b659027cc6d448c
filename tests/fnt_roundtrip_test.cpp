// Real fonts through the rasteriser into FNT and FON images, read back by FreeType's Windows font
// driver: every character's advance and pixels as they were drawn.
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"
#include "tests/FreeTypeReader.h"
#include "tests/WriterTestSupport.h"
#include "testkit/StatusText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using qf::FntBuilder;
using qf::GlyphRasteriser;
using qf::test::logFont;
using qf::test::RecordingSource;
using qf::test::testFontsInstalled;

struct Rendered {
    std::string error;
    gdi::TEXTMETRIC tm;
    std::map<int, RecordingSource::Glyph> drawn;
    qf::OutputSink slot;
};

Rendered renderFnt(const char* face, int points, int res)
{
    Rendered out;
    gdi::DeviceContext dc;
    GlyphRasteriser rasteriser(dc);
    if (!qf::test::done(rasteriser.realise(logFont(face), points, res, res), out.error))
        return out;
    out.tm = rasteriser.metrics();
    RecordingSource recorder(rasteriser);
    out.error = FntBuilder::pack(recorder, qf::test::requestFor(face, points, res, res), out.slot).text;
    out.drawn = std::move(recorder.glyphs);
    return out;
}

// Every character read back equals the drawing: the advance, and each pixel of its byte columns
// (past the scratch bitmap's edge the drawing has none).
void expectSameGlyphs(const Rendered& r, const qf::test::ReadFont& read, const std::string& what)
{
    ASSERT_EQ(read.error, "") << what;
    EXPECT_EQ(read.header.pixel_height, r.tm.tmHeight) << what;
    EXPECT_EQ(read.header.ascent, r.tm.tmAscent) << what;
    EXPECT_EQ(read.header.first_char, r.tm.tmFirstChar) << what;
    EXPECT_EQ(read.header.last_char, r.tm.tmLastChar) << what;
    ASSERT_EQ(read.glyphs.size(), r.drawn.size()) << what;
    int mismatches = 0;
    for (int code = r.tm.tmFirstChar; code <= r.tm.tmLastChar; ++code) {
        const auto& drawn = r.drawn.at(code);
        const auto& glyph = read.glyphs[code - r.tm.tmFirstChar];
        ASSERT_EQ(glyph.advance, drawn.cx) << what << " code " << code;
        if (drawn.cx == 0) {
            EXPECT_FALSE(glyph.hasBitmap);
            continue;
        }
        ASSERT_TRUE(glyph.hasBitmap) << what << " code " << code;
        ASSERT_EQ(glyph.rows, r.tm.tmHeight) << what << " code " << code;
        ASSERT_EQ(glyph.pitch, (drawn.cx + 7) / 8) << what << " code " << code;
        for (int y = 0; y < glyph.rows; ++y)
            for (int x = 0; x < glyph.pitch * 8; ++x)
                if (glyph.pixel(x, y) != drawn.pixel(x, y) && ++mismatches <= 5)
                    ADD_FAILURE() << what << " code " << code << " pixel " << x << "," << y;
    }
    EXPECT_EQ(mismatches, 0) << what;
}

TEST(FntRoundTrip, EveryGlyphReadsBackAsDrawn)
{
    ASSERT_TRUE(testFontsInstalled());
    struct Case {
        int points, res;
    };
    const Case cases[] = {{8, 96}, {10, 96}, {12, 96}, {14, 96}, {24, 96}, {36, 96}, {8, 300}, {12, 300}};
    for (const char* face : {"DejaVu Sans", "Liberation Sans"}) {
        for (const Case& c : cases) {
            const std::string what = std::string(face) + " " + std::to_string(c.points) + "pt " +
                                     std::to_string(c.res) + "dpi";
            const Rendered r = renderFnt(face, c.points, c.res);
            ASSERT_TRUE(r.slot.size()) << what << ": " << r.error;
            const auto read = qf::test::readWinFont(r.slot.data(), r.slot.size());
            expectSameGlyphs(r, read, what);
            EXPECT_EQ(read.familyName, face);
            EXPECT_EQ(read.header.nominal_point_size, c.points);
            EXPECT_EQ(read.header.vertical_resolution, c.res);
            EXPECT_EQ(read.header.horizontal_resolution, c.res);
            // A variable-pitch sans serif raster font, not a TrueType one.
            EXPECT_EQ(read.header.pitch_and_family, 0x21) << what;
            EXPECT_EQ(read.header.pixel_width, 0) << what;
        }
    }
    // A monospaced face states its one width.
    const Rendered mono = renderFnt("DejaVu Sans Mono", 12, 96);
    ASSERT_TRUE(mono.slot.size()) << mono.error;
    const auto read = qf::test::readWinFont(mono.slot.data(), mono.slot.size());
    expectSameGlyphs(mono, read, "DejaVu Sans Mono");
    EXPECT_EQ(read.header.pitch_and_family & 0x0F, 0);
    EXPECT_EQ(read.header.pixel_width, mono.drawn.at('M').cx);
}

TEST(FntRoundTrip, BuildMatchesThePackedRendering)
{
    ASSERT_TRUE(testFontsInstalled());
    const Rendered r = renderFnt("Liberation Sans", 12, 96);
    ASSERT_TRUE(r.slot.size()) << r.error;
    gdi::DeviceContext dc;
    qf::WriteRequest request = qf::test::requestFor("Liberation Sans", 12);
    request.font = logFont("Liberation Sans");
    qf::OutputSink image;
    const qf::WriteProblem problem = FntBuilder().write(dc, request, image);
    ASSERT_FALSE(problem) << problem.text;
    ASSERT_EQ(image.size(), r.slot.size());
    EXPECT_EQ(std::memcmp(image.data(), r.slot.data(), image.size()), 0);
}

TEST(FntRoundTrip, LatinFaceAt72PointsAt96DpiIsRefused)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    qf::WriteRequest request = qf::test::requestFor("DejaVu Sans", 72);
    request.font = logFont("DejaVu Sans");
    qf::OutputSink image;
    const qf::WriteProblem problem = FntBuilder().write(dc, request, image);
    const std::string& error = problem.text;
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_EQ(image.size(), 0u);
    EXPECT_NE(error.find("DejaVu Sans"), std::string::npos) << error;
    EXPECT_NE(error.find("72 points"), std::string::npos) << error;
    EXPECT_NE(error.find("bytes"), std::string::npos) << error;
}

TEST(FonRoundTrip, FourSizesReadBackAsDrawn)
{
    ASSERT_TRUE(testFontsInstalled());
    for (const char* face : {"DejaVu Sans", "Liberation Sans"}) {
        std::vector<Rendered> sizes;
        std::vector<qf::OutputSink> entries;
        for (int points : {8, 10, 12, 14}) {
            sizes.push_back(renderFnt(face, points, 96));
            ASSERT_TRUE(sizes.back().slot.size()) << sizes.back().error;
        }
        for (Rendered& r : sizes)
            entries.push_back(std::move(r.slot));
        qf::OutputSink fon;
        const qf::WriteProblem problem = qf::FonWriter::build(entries, fon);
        ASSERT_FALSE(problem) << problem.text;
        for (long i = 0; i < 4; ++i) {
            const auto read = qf::test::readWinFont(fon.data(), fon.size(), i);
            EXPECT_EQ(read.numFaces, 4);
            expectSameGlyphs(sizes[size_t(i)], read, std::string(face) + " face " + std::to_string(i));
        }
    }
}

TEST(FonRoundTrip, ThirtySixAndFortyEightPointsExceedTheBudget)
{
    ASSERT_TRUE(testFontsInstalled());
    // Both sizes of Liberation Sans make FNT resources of their own, but not one library.
    std::vector<qf::OutputSink> entries;
    uint64_t lengths = 0;
    for (int points : {36, 48}) {
        Rendered r = renderFnt("Liberation Sans", points, 96);
        ASSERT_TRUE(r.slot.size()) << r.error;
        lengths += r.slot.size();
        entries.push_back(std::move(r.slot));
    }
    qf::OutputSink fon;
    const qf::WriteProblem problem = qf::FonWriter::build(entries, fon);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::NeedsConsent);
    EXPECT_EQ(fon.size(), 0u);
    EXPECT_GT(8192 + lengths, 65535u);
    EXPECT_NE(problem.text.find(std::to_string(8192 + lengths)), std::string::npos) << problem.text;
}

}  // namespace
