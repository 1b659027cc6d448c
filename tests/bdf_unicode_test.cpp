// A Unicode repertoire's BDF as its readers see it: FreeType finds every character, astral ones
// included, with the pixels and advance FreeType itself renders from the source face at that em;
// bdftopcf accepts it; an X server lists it by an XLFD pattern.
#include "formats/BdfWriter.h"
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"
#include "run/CharacterSet.h"
#include "tests/FreeTypeReader.h"
#include "tests/WriterTestSupport.h"
#include "testkit/StatusText.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

struct Made {
    std::string text;
    qf::Repertoire repertoire;
    int em = 0;  // of the rendering font, which draws the glyphs
};

// The BDF of `family` at `points` (96 dpi) holding `chars` as far as the face maps them.
Made makeUnicodeBdf(const std::string& family, int points, const std::string& chars, bool italic = false)
{
    Made made;
    qf::CharacterSelection selection;
    std::string error;
    EXPECT_TRUE(qf::parseCharacterSelection(chars, selection, error)) << error;
    gdi::DeviceContext dc;
    gdi::LOGFONT lf = qf::test::logFont(family, -32, gdi::FW_NORMAL, italic);
    dc.selectObject(gdi::Font::createFontIndirect(lf));
    made.repertoire = qf::unicodeRepertoire(selection, dc.mappedCharacters());
    qf::WriteRequest request = qf::test::requestFor(family, points);
    request.font = qf::test::logFont(family, 0, gdi::FW_NORMAL, italic);
    request.repertoire = std::make_shared<qf::Repertoire>(made.repertoire);
    qf::OutputSink out;
    const qf::WriteProblem problem = qf::BdfWriter().write(dc, request, out);
    EXPECT_FALSE(problem) << problem.text;
    made.text.assign(reinterpret_cast<const char*>(out.data()), out.size());
    qf::GlyphRasteriser rasteriser(dc);
    EXPECT_TRUE(qf::test::done(rasteriser.realise(request.font, points, 96, 96), error)) << error;
    made.em = -rasteriser.renderingLogFont().lfHeight;
    return made;
}

TEST(BdfUnicode, FreeTypeReadsEveryCharacterAsItRendersTheSourceFace)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    struct Case {
        const char* family;
        const char* file;
        int points;
        bool italic;
    } cases[] = {{"DejaVu Sans", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 12, false},
                 {"DejaVu Sans", "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf", 9, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        const Made made = makeUnicodeBdf(c.family, c.points, "all", c.italic);
        const size_t count = made.repertoire.entries.size();
        ASSERT_GT(count, 3000u);
        EXPECT_GT(made.repertoire.entries.back().code, 0xFFFFu) << "no astral character";

        FT_Library library = nullptr;
        ASSERT_EQ(FT_Init_FreeType(&library), 0);
        const qf::test::FtLibraryOwner libraryOwner(library);
        FT_Face bdf = nullptr, source = nullptr;
        ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(made.text.data()),
                                     static_cast<FT_Long>(made.text.size()), 0, &bdf),
                  0);
        const qf::test::FtFaceOwner bdfOwner(bdf);
        ASSERT_EQ(FT_New_Face(library, c.file, 0, &source), 0);
        const qf::test::FtFaceOwner sourceOwner(source);
        ASSERT_EQ(FT_Select_Charmap(bdf, FT_ENCODING_UNICODE), 0);
        EXPECT_EQ(bdf->num_glyphs, static_cast<FT_Long>(count) + 1);  // FreeType adds its .notdef
        const int em = made.em;
        ASSERT_GT(em, 0);
        ASSERT_EQ(FT_Set_Pixel_Sizes(source, 0, static_cast<FT_UInt>(em)), 0);

        size_t differing = 0;
        std::string first;
        for (const auto& entry : made.repertoire.entries) {
            const FT_UInt index = FT_Get_Char_Index(bdf, entry.code);
            if (index == 0 || FT_Load_Glyph(bdf, index, FT_LOAD_DEFAULT) != 0) {
                ++differing;
                continue;
            }
            const FT_GlyphSlot read = bdf->glyph;
            const qf::test::ReadGlyph ours{static_cast<int>(read->advance.x >> 6), read->bitmap.buffer != nullptr,
                                           static_cast<int>(read->bitmap.width), static_cast<int>(read->bitmap.rows),
                                           read->bitmap.pitch,
                                           std::vector<uint8_t>(read->bitmap.buffer, read->bitmap.buffer +
                                                                    read->bitmap.rows * read->bitmap.pitch)};
            const int ourLeft = read->bitmap_left, ourTop = read->bitmap_top;
            ASSERT_EQ(FT_Load_Char(source, entry.code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO), 0);
            const FT_GlyphSlot drawn = source->glyph;
            const FT_Bitmap& b = drawn->bitmap;
            auto theirs = [&](int x, int y) {  // in the source's bitmap, from the origin
                const int bx = x - drawn->bitmap_left, by = drawn->bitmap_top - y;
                return bx >= 0 && by >= 0 && bx < static_cast<int>(b.width) && by < static_cast<int>(b.rows) &&
                       (b.buffer[by * b.pitch + bx / 8] & (0x80 >> (bx % 8))) != 0;
            };
            auto mine = [&](int x, int y) { return ours.pixel(x - ourLeft, ourTop - y); };
            bool same = ours.advance == (drawn->advance.x + 32) >> 6;
            for (int y = -2 * em; same && y <= 2 * em; ++y)
                for (int x = -2 * em; same && x <= 3 * em; ++x)
                    same = mine(x, y) == theirs(x, y);
            if (!same && first.empty())
                first = std::to_string(entry.code);
            differing += same ? 0 : 1;
        }
        EXPECT_EQ(differing, 0u) << "the first at character " << first;
    }
}

TEST(BdfUnicode, BdftopcfAndAnXServerTakeIt)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    const Made made = makeUnicodeBdf("DejaVu Sans", 12, "latin1, U+0400-U+04FF, U+2500-U+257F");
    EXPECT_EQ(made.text.rfind("STARTFONT 2.1\nFONT -misc-DejaVu Sans-Regular-R-Normal--16-120-96-96-P-", 0), 0u);
    EXPECT_NE(made.text.find("\nSTARTCHAR uni0416\nENCODING 1046\n"), std::string::npos);
    EXPECT_EQ(made.text.find('\r'), std::string::npos);
    qf::test::expectBdftopcfAccepts(made.text);

    // An X server with the folder on its font path lists the font by a pattern.
    if (!qf::test::haveXServer())
        GTEST_SKIP() << "Xvfb, mkfontdir or xlsfonts is not installed (xvfb, xfonts-utils, x11-utils)";
    qf::test::TempDir dir;
    std::ofstream(dir.file("DejaVu-Sans_12.bdf"), std::ios::binary) << made.text;
    const std::string listed =
        qf::test::xlsfontsFrom(dir.path(), "-misc-dejavu sans-regular-r-normal--16-120-96-96-p-*-iso10646-1");
    const size_t at = made.text.find("FONT -") + 5;
    std::string xlfd = made.text.substr(at, made.text.find('\n', at) - at);
    for (char& ch : xlfd)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    // The server may offer scaled versions beside it; the font itself is listed by its name.
    EXPECT_NE(listed.find(xlfd + "\n"), std::string::npos) << listed;
}

TEST(BdfUnicode, ACharacterDrawsAsTheByteThatStandsForIt)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    for (const auto& lf : {qf::test::logFont("DejaVu Sans"), qf::test::logFont("DejaVu Serif", 0, gdi::FW_NORMAL, true),
                           qf::test::logFont("Liberation Mono", 0, gdi::FW_BOLD)})
        for (const int points : {8, 30}) {
            gdi::DeviceContext dc;
            qf::GlyphRasteriser rasteriser(dc);
            std::string error;
            ASSERT_TRUE(qf::test::done(rasteriser.realise(lf, points, 96, 96), error)) << error;
            ASSERT_TRUE(qf::test::done(rasteriser.prepare(4 * rasteriser.metrics().tmMaxCharWidth + 64), error));
            const gdi::ByteMap characters = gdi::byteCharacters(rasteriser.metrics().tmCharSet, dc.oemCodePage());
            for (int code = 0x20; code <= 0xFF; ++code) {
                if (characters[code] == gdi::kUnmapped)
                    continue;
                const qf::RenderedGlyph byte = rasteriser.render(static_cast<uint8_t>(code), 32);
                const std::vector<uint8_t> rows(byte.rows, byte.rows + byte.widthBytes * byte.height);
                const qf::RenderedGlyph character = rasteriser.renderCharacter(characters[code], 32);
                EXPECT_EQ(character.cx, byte.cx) << lf.lfFaceName << " " << points << " " << code;
                EXPECT_TRUE(std::equal(rows.begin(), rows.end(), character.rows))
                    << lf.lfFaceName << " " << points << " " << code;
            }
            rasteriser.finish();
        }
}

}  // namespace

TEST(CharacterSelection, ItemsAreReadOrNamedAndFacesKeepWhatTheyMap)
{
    qf::CharacterSelection s;
    std::string error;
    ASSERT_TRUE(qf::parseCharacterSelection(" U+0041, u+0400-U+0402 ,ascii,cp437, latin1", s, error)) << error;
    EXPECT_FALSE(s.all);
    EXPECT_EQ(s.ranges.front(), (std::pair<char32_t, char32_t>(0x41, 0x41)));
    EXPECT_EQ(s.ranges[1], (std::pair<char32_t, char32_t>(0x400, 0x402)));
    ASSERT_TRUE(qf::parseCharacterSelection("all", s, error));
    EXPECT_TRUE(s.all);
    for (const char* bad : {"U+110000", "U+12G4", "U+0042-U+0041", "cp9999", "greek", "", " , "})
        EXPECT_FALSE(qf::parseCharacterSelection(bad, s, error)) << bad;
    EXPECT_EQ(error, "no characters given");
    qf::parseCharacterSelection("U+0041, greek", s, error);
    EXPECT_EQ(error.rfind("cannot read \"greek\"", 0), 0u) << error;

    // Overlapping items count a character once; what the face lacks is counted, not kept.
    ASSERT_TRUE(qf::parseCharacterSelection("U+0041-U+0045, U+0043-U+0048, U+1F600", s, error));
    const qf::Repertoire r = qf::unicodeRepertoire(s, {0x20, 0x41, 0x43, 0x47, 0xFFFD, 0x1F600});
    ASSERT_EQ(r.entries.size(), 4u);
    EXPECT_EQ(r.entries.back().code, 0x1F600u);
    EXPECT_EQ(r.leftOut, 5u);
    EXPECT_EQ(r.defaultCharacter, U'A');  // no U+FFFD, '?' or space among the characters kept
    ASSERT_TRUE(qf::parseCharacterSelection("all", s, error));
    EXPECT_EQ(qf::unicodeRepertoire(s, {0x20, 0x41, 0xFFFD}).defaultCharacter, 0xFFFDu);
}
