// Real fonts through the rasteriser into FNT and FON images, read back by FreeType's Windows font
// driver: every character's advance and pixels as they were drawn.
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "platform/DeviceContext.h"
#include "platform/FontCatalog.h"
#include "render/GlyphRasteriser.h"
#include "tests/FreeTypeReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using qf::FntBuilder;
using qf::GlyphRasteriser;

bool haveFonts() { return !gdi::FontCatalog::instance().faces().empty(); }

gdi::LOGFONT logFont(const char* face)
{
    gdi::LOGFONT lf;
    std::strncpy(lf.lfFaceName, face, sizeof lf.lfFaceName - 1);
    lf.lfWeight = gdi::FW_NORMAL;
    lf.lfCharSet = gdi::ANSI_CHARSET;
    return lf;
}

// Passes the rasteriser's glyphs on to the builder and keeps a copy of each as drawn.
class Recorder : public qf::GlyphSource {
public:
    struct Drawn {
        int cx = 0;
        int width = 0;
        int height = 0;
        int widthBytes = 0;
        std::vector<uint8_t> rows;

        bool pixel(int x, int y) const
        {
            return x >= 0 && y >= 0 && x < width && y < height &&
                   (rows[static_cast<size_t>(y) * widthBytes + x / 8] & (0x80 >> (x % 8))) != 0;
        }
    };

    explicit Recorder(qf::GlyphSource& inner) : inner_(inner) {}
    const gdi::TEXTMETRIC& metrics() const override { return inner_.metrics(); }
    bool prepare(int width, std::string* error) override { return inner_.prepare(width, error); }
    void finish() override { inner_.finish(); }
    qf::RenderedGlyph render(uint8_t code, int originX) override
    {
        const qf::RenderedGlyph glyph = inner_.render(code, originX);
        Drawn& d = drawn[code];
        d.cx = glyph.cx;
        d.width = glyph.width;
        d.height = glyph.height;
        d.widthBytes = glyph.widthBytes;
        if (glyph.rows)
            d.rows.assign(glyph.rows, glyph.rows + static_cast<size_t>(glyph.widthBytes) * glyph.height);
        else
            d.rows.assign(static_cast<size_t>(glyph.widthBytes) * glyph.height, 0);
        return glyph;
    }

    std::map<int, Drawn> drawn;

private:
    qf::GlyphSource& inner_;
};

struct Rendered {
    std::string error;
    gdi::TEXTMETRIC tm;
    std::map<int, Recorder::Drawn> drawn;
    qf::ImageSlot slot;
};

Rendered renderFnt(const char* face, int points, int res)
{
    Rendered out;
    gdi::DeviceContext dc;
    GlyphRasteriser rasteriser(dc);
    if (!rasteriser.realise(logFont(face), points, res, res, &out.error))
        return out;
    out.tm = rasteriser.metrics();
    Recorder recorder(rasteriser);
    out.slot.image = FntBuilder::pack(recorder, points, res, res, out.slot.length, face, &out.error);
    out.drawn = std::move(recorder.drawn);
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
    if (!haveFonts())
        GTEST_SKIP() << "no installed fonts from the platform layer";
    struct Case {
        int points, res;
    };
    const Case cases[] = {{8, 96}, {10, 96}, {12, 96}, {14, 96}, {24, 96}, {36, 96}, {8, 300}, {12, 300}};
    for (const char* face : {"DejaVu Sans", "Liberation Sans"}) {
        for (const Case& c : cases) {
            const std::string what = std::string(face) + " " + std::to_string(c.points) + "pt " +
                                     std::to_string(c.res) + "dpi";
            const Rendered r = renderFnt(face, c.points, c.res);
            ASSERT_TRUE(r.slot.image) << what << ": " << r.error;
            const auto read = qf::test::readWinFont(r.slot.image.get(), r.slot.length);
            expectSameGlyphs(r, read, what);
            EXPECT_EQ(read.familyName, face);
            EXPECT_EQ(read.header.nominal_point_size, c.points);
            EXPECT_EQ(read.header.vertical_resolution, c.res);
            EXPECT_EQ(read.header.horizontal_resolution, c.res);
        }
    }
}

TEST(FntRoundTrip, BuildMatchesThePackedRendering)
{
    if (!haveFonts())
        GTEST_SKIP() << "no installed fonts from the platform layer";
    const Rendered r = renderFnt("Liberation Sans", 12, 96);
    ASSERT_TRUE(r.slot.image) << r.error;
    gdi::DeviceContext dc;
    uint32_t length = 0;
    std::string error;
    const qf::Image image = FntBuilder::build(dc, logFont("Liberation Sans"), 12, 96, 96, length,
                                              "Liberation Sans", &error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(length, r.slot.length);
    EXPECT_EQ(std::memcmp(image.get(), r.slot.image.get(), length), 0);
}

TEST(FntRoundTrip, LatinFaceAt72PointsAt96DpiIsRefused)
{
    if (!haveFonts())
        GTEST_SKIP() << "no installed fonts from the platform layer";
    gdi::DeviceContext dc;
    uint32_t length = 99;
    std::string error;
    const qf::Image image = FntBuilder::build(dc, logFont("DejaVu Sans"), 72, 96, 96, length,
                                              "DejaVu Sans", &error);
    EXPECT_FALSE(image);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(error.find("DejaVu Sans"), std::string::npos) << error;
    EXPECT_NE(error.find("72 points"), std::string::npos) << error;
    EXPECT_NE(error.find("bytes"), std::string::npos) << error;
}

TEST(FonRoundTrip, FourSizesReadBackAsDrawn)
{
    if (!haveFonts())
        GTEST_SKIP() << "no installed fonts from the platform layer";
    for (const char* face : {"DejaVu Sans", "Liberation Sans"}) {
        std::vector<Rendered> sizes;
        std::vector<qf::ImageSlot> slots;
        for (int points : {8, 10, 12, 14}) {
            sizes.push_back(renderFnt(face, points, 96));
            ASSERT_TRUE(sizes.back().slot.image) << sizes.back().error;
        }
        for (Rendered& r : sizes)
            slots.push_back(std::move(r.slot));
        uint32_t length = 0;
        std::string error;
        const qf::Image fon = qf::FonWriter::build(slots.data(), 4, length, &error);
        ASSERT_TRUE(fon) << error;
        for (long i = 0; i < 4; ++i) {
            const auto read = qf::test::readWinFont(fon.get(), length, i);
            EXPECT_EQ(read.numFaces, 4);
            expectSameGlyphs(sizes[size_t(i)], read, std::string(face) + " face " + std::to_string(i));
        }
    }
}

TEST(FonRoundTrip, ThirtySixAndFortyEightPointsExceedTheBudget)
{
    if (!haveFonts())
        GTEST_SKIP() << "no installed fonts from the platform layer";
    // Both sizes of Liberation Sans make FNT resources of their own, but not one library.
    std::vector<qf::ImageSlot> slots;
    uint64_t lengths = 0;
    for (int points : {36, 48}) {
        Rendered r = renderFnt("Liberation Sans", points, 96);
        ASSERT_TRUE(r.slot.image) << r.error;
        lengths += r.slot.length;
        slots.push_back(std::move(r.slot));
    }
    uint32_t length = 0;
    std::string error;
    const qf::Image fon = qf::FonWriter::build(slots.data(), 2, length, &error);
    EXPECT_FALSE(fon);
    EXPECT_EQ(length, 8192 + lengths);
    EXPECT_GT(length, 65535u);
    EXPECT_NE(error.find(std::to_string(length)), std::string::npos) << error;
}

}  // namespace
