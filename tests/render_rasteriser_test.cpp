// Facts of the glyph rasteriser that every writer's output depends on.
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"
#include "tests/TestSupport.h"

#include "platform/FaceFiles.h"
#include "testkit/StatusText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using qf::GlyphRasteriser;
using qf::test::logFont;
using qf::test::testFontsInstalled;

TEST(RenderArithmetic, RenderingHeightTakesTheQuotientFirst)
{
    EXPECT_EQ(qf::renderingHeight(13, 300, 96), -40);  // 13 x 3.125 = 40.625
    EXPECT_EQ(qf::renderingHeight(13, 96, 96), -13);
    // 84 / 120 rounds to just under 0.7, so 90 x that is 62.99999999999999: -62, not -63.
    EXPECT_EQ(qf::renderingHeight(90, 84, 120), -62);
}

TEST(RenderArithmetic, RenderingWidthKeepsTheFontsAspectWhereItCan)
{
    // The device's own horizontal resolution: 0, whatever the vertical one.
    EXPECT_EQ(qf::renderingWidth(7, 96, 300, 96, 96), 0);
    // A square target on a square device: 0.
    EXPECT_EQ(qf::renderingWidth(7, 300, 300, 96, 96), 0);
    // Otherwise the point font's average width scaled: trunc(7 x 200 / 96) = trunc(14.58).
    EXPECT_EQ(qf::renderingWidth(7, 200, 100, 96, 96), 14);
    // A square target on a device that is not square is scaled too.
    EXPECT_EQ(qf::renderingWidth(7, 300, 300, 96, 120), 21);
    EXPECT_EQ(qf::renderingWidth(9, 84, 120, 120, 120), 6);  // 9 x 0.7 = 6.3
}

TEST(RenderScratch, RowsArePaddedToWholeWords)
{
    // The FNT builder's scratch for a 13-pixel cell: 130 x 13 pixels, 18 bytes a row, 234 bytes.
    const auto bitmap = gdi::Bitmap::create(130, 13);
    ASSERT_TRUE(bitmap);
    const gdi::BITMAP bm = bitmap->getObject();
    EXPECT_EQ(bm.bmWidthBytes, 18);
    EXPECT_EQ(bm.bmHeight, 13);
    EXPECT_EQ(bm.bmWidthBytes * bm.bmHeight, 234);
    EXPECT_EQ(gdi::Bitmap::create(16, 1)->getObject().bmWidthBytes, 2);
    EXPECT_EQ(gdi::Bitmap::create(17, 1)->getObject().bmWidthBytes, 4);
    EXPECT_FALSE(gdi::Bitmap::create(100000, 100000));  // over the allocation limit: refused
}

TEST(RenderRealise, SizesAndResolutionsOutsideTheLimitsAreRefused)
{
    gdi::DeviceContext dc;
    GlyphRasteriser rasteriser(dc);
    std::string why;
    EXPECT_FALSE(qf::test::done(rasteriser.realise(logFont("DejaVu Sans"), 0, 96, 96), why));
    EXPECT_NE(why.find("point size 0"), std::string::npos) << why;
    EXPECT_FALSE(qf::test::done(rasteriser.realise(logFont("DejaVu Sans"), 12, 96, 70000), why));
    EXPECT_NE(why.find("70000"), std::string::npos) << why;

    // Sizes that round to no pixels would be drawn at the default size instead: refused.
    ASSERT_TRUE(testFontsInstalled());
    EXPECT_FALSE(qf::test::done(rasteriser.realise(logFont("DejaVu Sans"), 12, 1, 1), why));
    EXPECT_NE(why.find("0 pixels high"), std::string::npos) << why;
    gdi::DeviceContext coarse;
    coarse.setResolution(8, 8);
    GlyphRasteriser onCoarse(coarse);
    EXPECT_FALSE(qf::test::done(onCoarse.realise(logFont("DejaVu Sans"), 3, 96, 96), why));
    EXPECT_NE(why.find("0 pixels high"), std::string::npos) << why;
    EXPECT_TRUE(qf::test::done(rasteriser.realise(logFont("DejaVu Sans"), 3, 96, 96), why)) << why;
    EXPECT_GT(rasteriser.metrics().tmHeight, 0);
    EXPECT_LT(rasteriser.metrics().tmHeight, 8);
}

TEST(RenderRealise, PointFontHeightFollowsTheDevicesResolution)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    {
        GlyphRasteriser rasteriser(dc);
        ASSERT_TRUE(rasteriser.realise(logFont("DejaVu Sans"), 10, 96, 96));
        EXPECT_EQ(rasteriser.pointFontHeight(), -13);  // trunc(96 x 100 / 720)
    }
    dc.setResolution(120, 120);
    GlyphRasteriser rasteriser(dc);
    ASSERT_TRUE(rasteriser.realise(logFont("DejaVu Sans"), 10, 120, 120));
    EXPECT_EQ(rasteriser.pointFontHeight(), -16);
}

TEST(RenderRealise, RenderingFontFromThePointFontsMetrics)
{
    ASSERT_TRUE(testFontsInstalled());
    // 12 points of Liberation Sans at 96 dpi: an ascent of 14 pixels and an average width of 9.
    // The font drawn from is that ascent scaled to the target's vertical resolution; its width is
    // the face's own (0) when the target's horizontal resolution is the screen's or the target is
    // square, and the average width scaled to it otherwise.
    struct Case {
        int resX, resY;
        int lfHeight, lfWidth;       // the rendering font asked for
        int tmHeight, tmAveCharWidth;  // and what it came out as
    };
    for (const Case& c : {Case{96, 96, -14, 0, 16, 8}, Case{300, 300, -43, 0, 48, 25}, Case{96, 300, -43, 0, 48, 25},
                          Case{200, 100, -14, 18, 16, 18}}) {
        SCOPED_TRACE(std::to_string(c.resX) + "x" + std::to_string(c.resY));
        gdi::DeviceContext dc;
        GlyphRasteriser rasteriser(dc);
        ASSERT_TRUE(rasteriser.realise(logFont("Liberation Sans"), 12, c.resX, c.resY));
        EXPECT_EQ(rasteriser.pointMetrics().tmAscent, 14);
        EXPECT_EQ(rasteriser.pointMetrics().tmAveCharWidth, 9);
        const gdi::LOGFONT& lf = rasteriser.renderingLogFont();
        EXPECT_EQ(lf.lfHeight, c.lfHeight);
        EXPECT_EQ(lf.lfWidth, c.lfWidth);
        EXPECT_EQ(rasteriser.metrics().tmHeight, c.tmHeight);
        EXPECT_EQ(rasteriser.metrics().tmAveCharWidth, c.tmAveCharWidth);
        EXPECT_STREQ(lf.lfFaceName, "Liberation Sans");  // everything else as the caller gave it
        EXPECT_EQ(rasteriser.metrics().tmFirstChar, 0x1E);
        EXPECT_EQ(rasteriser.metrics().tmLastChar, 0xFF);
    }
}

TEST(RenderGlyphs, ScratchOfTenCellsAndOneReadBackPerCharacter)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    GlyphRasteriser rasteriser(dc);
    ASSERT_TRUE(rasteriser.realise(logFont("DejaVu Sans"), 10, 96, 96));
    const int height = rasteriser.metrics().tmHeight;
    ASSERT_TRUE(rasteriser.prepare(10 * height));
    const gdi::BITMAP& bm = rasteriser.scratchBitmap();
    EXPECT_EQ(bm.bmWidth, 10 * height);
    EXPECT_EQ(bm.bmHeight, height);
    EXPECT_EQ(bm.bmWidthBytes, (10 * height + 15) / 16 * 2);

    // 'H' has ink and an advance; drawing a space afterwards leaves no trace of it.
    const qf::RenderedGlyph h = rasteriser.render('H', 0);
    EXPECT_GT(h.cx, 0);
    int ink = 0;
    for (int y = 0; y < h.height; ++y)
        for (int x = 0; x < h.width; ++x)
            ink += h.pixel(x, y);
    EXPECT_GT(ink, 0);
    const qf::RenderedGlyph space = rasteriser.render(' ', 0);
    EXPECT_GT(space.cx, 0);
    for (int y = 0; y < space.height; ++y)
        for (int x = 0; x < space.width; ++x)
            ASSERT_FALSE(space.pixel(x, y)) << x << "," << y;
    rasteriser.finish();
}

// Every character of a font at a size, as the writers get them: advance and rows, one after another.
std::string renderAll(gdi::DeviceContext& dc, const gdi::LOGFONT& lf, int32_t size, bool clearEachTime)
{
    GlyphRasteriser rasteriser(dc);
    std::string error;
    if (!qf::test::done(rasteriser.realise(lf, size, 96, 96), error))
        return "refused: " + error;
    const int width = 4 * rasteriser.metrics().tmMaxCharWidth + 64;
    std::string out;
    for (int code = rasteriser.metrics().tmFirstChar; code <= rasteriser.metrics().tmLastChar; ++code) {
        if ((clearEachTime || out.empty()) && !qf::test::done(rasteriser.prepare(width), error))
            return "no scratch: " + error;
        const qf::RenderedGlyph g = rasteriser.render(static_cast<uint8_t>(code), 32);
        // Ink only where the rasteriser says it may be.
        EXPECT_TRUE(g.inkKnown);
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                if (g.pixel(x, y) && !(x >= g.inkLeft && x < g.inkRight && y >= g.inkTop && y < g.inkBottom))
                    ADD_FAILURE() << "ink outside the box of " << code << " at " << x << "," << y;
        out += std::to_string(g.cx) + ":";
        out.append(reinterpret_cast<const char*>(g.rows), static_cast<size_t>(g.widthBytes) * g.height);
    }
    rasteriser.finish();
    return out;
}

TEST(RenderGlyphs, EachCharacterAsIfDrawnAlone)
{
    // Only what the previous character drew is cleared before the next; no pixel of it may stay.
    // Oblique and synthetic italic ink reaches beyond the cell on both sides.
    ASSERT_TRUE(testFontsInstalled());
    for (const auto& lf : {logFont("DejaVu Sans", 0, gdi::FW_BOLD, true), logFont("DejaVu Serif", 0, gdi::FW_NORMAL, true),
                           logFont("Liberation Mono")}) {
        for (const int32_t size : {9, 30}) {
            gdi::DeviceContext a, b;
            const std::string inSequence = renderAll(a, lf, size, false);
            EXPECT_EQ(inSequence, renderAll(b, lf, size, true)) << lf.lfFaceName << " " << size;
            EXPECT_GT(inSequence.size(), 1000u);
        }
    }
}

TEST(RenderThreads, EachThreadDrawsWithFacesOfItsOwn)
{
    ASSERT_TRUE(testFontsInstalled());
    const std::string file = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    const auto here = *gdi::ft::SharedFace::get(file, 0);
    ASSERT_TRUE(here);
    EXPECT_EQ(*gdi::ft::SharedFace::get(file, 0), here);  // one thread, one face
    std::shared_ptr<gdi::ft::SharedFace> there;
    std::thread([&] { there = *gdi::ft::SharedFace::get(file, 0); }).join();
    ASSERT_TRUE(there);
    EXPECT_NE(there->face(), here->face());

    // Threads drawing the same fonts at once draw what one thread alone does.
    const gdi::LOGFONT fonts[] = {logFont("DejaVu Sans"), logFont("Liberation Serif", 0, gdi::FW_BOLD)};
    std::vector<std::string> expected;
    for (const auto& lf : fonts)
        for (const int32_t size : {8, 12, 24}) {
            gdi::DeviceContext dc;
            expected.push_back(renderAll(dc, lf, size, false));
        }
    std::vector<std::vector<std::string>> drawn(4);
    std::vector<std::thread> threads;
    for (auto& result : drawn)
        threads.emplace_back([&fonts, &result] {
            gdi::DeviceContext dc;
            for (int round = 0; round < 2; ++round) {
                result.clear();
                for (const auto& lf : fonts)
                    for (const int32_t size : {8, 12, 24})
                        result.push_back(renderAll(dc, lf, size, false));
            }
        });
    for (auto& t : threads)
        t.join();
    for (const auto& result : drawn)
        EXPECT_TRUE(result == expected);
}

}  // namespace

TEST(RenderFaceFiles, AFaceIsDrawnFromTheFileTheListReadOrOneHoldingTheSameFace)
{
    qf::test::TempDir dir;
    std::filesystem::create_directory(dir.file("fonts"));
    const std::string file = dir.file("fonts/face.ttf"), incoming = dir.file("incoming.ttf");
    const std::string serif = "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf";
    std::filesystem::copy_file(serif, file);
    std::ofstream(dir.file("fonts.conf")) << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << dir.file("fonts")
                                          << "</dir><cachedir>" << dir.file("fc") << "</cachedir></fontconfig>\n";
    const gdi::FontCatalog list = gdi::FontCatalog::load({dir.file("fonts.conf"), ""});
    ASSERT_EQ(list.faces().size(), 1u);
    const gdi::FaceInfo& listed = list.faces()[0];
    auto replaceWith = [&](const std::string& from) {
        std::filesystem::copy_file(from, incoming, std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(std::rename(incoming.c_str(), file.c_str()), 0);
    };
    auto familyDrawn = [&](std::string* why) {
        const auto face = gdi::ft::SharedFace::get(file, 0, &listed);
        if (why)
            *why = face ? std::string() : face.failure().reason();
        return face ? std::string((*face)->face()->family_name) : std::string();
    };
    std::string why;

    // While a hold lasts, every face opened reads the version held, whatever replaced the file.
    auto held = gdi::ft::holdFaceFile(listed);
    ASSERT_TRUE(held) << held.failure().reason();
    auto hold = std::move(*held);
    held = qf::Failure{};
    replaceWith("/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf");
    EXPECT_EQ(familyDrawn(&why), "Liberation Serif") << why;
    std::string there;
    std::thread([&] { there = familyDrawn(nullptr); }).join();
    EXPECT_EQ(there, "Liberation Serif");

    // Without it, the file must still hold the face the list read from it.
    hold.reset();
    EXPECT_EQ(familyDrawn(&why), "");
    EXPECT_EQ(why, "its file changed since the list was read and now holds Liberation Mono Regular");
    EXPECT_FALSE(gdi::ft::holdFaceFile(listed));
    replaceWith(serif);  // the same face in a new file goes on
    EXPECT_EQ(familyDrawn(&why), "Liberation Serif") << why;
    std::ofstream(file, std::ios::trunc) << "not a font";
    EXPECT_EQ(familyDrawn(&why), "");
    EXPECT_EQ(why, "its file changed since the list was read and no longer holds a face that can be drawn");
}

TEST(RenderFaceFiles, AFileCutShortUnderAFaceIsToldNotFaulted)
{
    qf::test::TempDir dir;
    const std::string file = dir.file("face.ttf");
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", file);
    const auto face = *gdi::ft::SharedFace::get(file, 0);
    ASSERT_TRUE(face);
    EXPECT_FALSE(face->sourceChanged());
    const auto length = std::filesystem::file_size(file);
    ASSERT_EQ(::truncate(file.c_str(), 20000), 0);
    // The face tells how its file changed, for the report.
    EXPECT_EQ(face->sourceChange(), "it was cut short from " + std::to_string(length) + " to 20000 bytes");

    // Every glyph is read past the new end: zeros come back instead of a bus error.
    FT_Face f = face->face();
    FT_Set_Pixel_Sizes(f, 0, 40);
    for (FT_UInt glyph = 0; glyph < static_cast<FT_UInt>(f->num_glyphs); glyph += 7)
        FT_Load_Glyph(f, glyph, FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP);
    EXPECT_TRUE(face->sourceChanged());
    // The next to ask reads the file as it is now, which no longer holds a face.
    EXPECT_FALSE(gdi::ft::SharedFace::get(file, 0));

    // A bus error anywhere else is not ours to hide: it still ends the program.
    const std::string other = dir.file("other");
    std::ofstream(other) << std::string(1 << 16, 'x');
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(other.c_str(), O_RDONLY);
        auto* bytes = static_cast<const volatile char*>(::mmap(nullptr, 1 << 16, PROT_READ, MAP_SHARED, fd, 0));
        if (::ftruncate(::open(other.c_str(), O_WRONLY), 0) == 0 && bytes != MAP_FAILED)
            (void)bytes[1 << 15];
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the bus error was swallowed";
}
