// PCF files as X11's readers take them: FreeType's PCF driver gives every glyph the pixels and
// advance of the BDF made from the same glyphs, an X server opens the file by its XLFD name, and
// fontconfig lists it.
#include "formats/BdfWriter.h"
#include "formats/PcfWriter.h"
#include "platform/DeviceContext.h"
#include "run/CharacterSet.h"
#include "tests/FreeTypeReader.h"
#include "tests/WriterTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

struct Pair {
    std::string bdf, pcf;
};

Pair makeBoth(const gdi::LOGFONT& lf, int points, const std::string& chars)
{
    qf::CharacterSelection selection;
    std::string error;
    EXPECT_TRUE(qf::parseCharacterSelection(chars, selection, error)) << error;
    gdi::DeviceContext dc;
    gdi::LOGFONT probe = lf;
    probe.lfHeight = -32;
    dc.selectObject(gdi::Font::createFontIndirect(probe));
    auto repertoire = std::make_shared<qf::Repertoire>(qf::unicodeRepertoire(selection, dc.mappedCharacters()));
    // Both hold the characters a PCF can: those of the Basic Multilingual Plane.
    repertoire->entries.erase(std::find_if(repertoire->entries.begin(), repertoire->entries.end(),
                                           [](const qf::Repertoire::Slot& s) { return s.code > 0xFFFF; }),
                              repertoire->entries.end());
    qf::WriteRequest request = qf::test::requestFor(lf.lfFaceName, points);
    request.font = lf;
    request.repertoire = repertoire;
    Pair made;
    for (const bool pcf : {false, true}) {
        qf::OutputSink out;
        const qf::WriteProblem problem =
            pcf ? qf::PcfWriter().write(dc, request, out) : qf::BdfWriter().write(dc, request, out);
        EXPECT_FALSE(problem) << problem.text;
        (pcf ? made.pcf : made.bdf).assign(reinterpret_cast<const char*>(out.data()), out.size());
    }
    return made;
}

TEST(Pcf, FreeTypeReadsEveryGlyphAsTheBdfOfTheSameGlyphs)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    struct Case {
        gdi::LOGFONT lf;
        int points;
        const char* chars;
    } cases[] = {
        {qf::test::logFont("DejaVu Sans"), 12, "all"},
        {qf::test::logFont("DejaVu Sans", 0, gdi::FW_NORMAL, true), 8, "latin1, U+0400-U+04FF"},
        {qf::test::logFont("Liberation Mono"), 24, "cp437, U+2500-U+257F"},
    };
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    const qf::test::FtLibraryOwner libraryOwner(library);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lf.lfFaceName) + " " + std::to_string(c.points));
        const Pair made = makeBoth(c.lf, c.points, c.chars);
        FT_Face faces[2] = {};
        for (int i = 0; i < 2; ++i) {
            const std::string& bytes = i ? made.pcf : made.bdf;
            ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(bytes.data()),
                                         static_cast<FT_Long>(bytes.size()), 0, &faces[i]),
                      0);
            ASSERT_EQ(FT_Select_Charmap(faces[i], FT_ENCODING_UNICODE), 0);
        }
        const qf::test::FtFaceOwner bdfOwner(faces[0]), pcfOwner(faces[1]);
        EXPECT_EQ(faces[1]->num_glyphs, faces[0]->num_glyphs);
        EXPECT_EQ(faces[1]->available_sizes[0].height, faces[0]->available_sizes[0].height);
        EXPECT_STREQ(faces[1]->family_name, faces[0]->family_name);
        size_t checked = 0, differing = 0;
        FT_UInt index = 0;
        for (FT_ULong ch = FT_Get_First_Char(faces[0], &index); index != 0; ch = FT_Get_Next_Char(faces[0], ch, &index)) {
            std::string drawn[2];
            for (int i = 0; i < 2; ++i) {
                ASSERT_EQ(FT_Load_Char(faces[i], ch, FT_LOAD_DEFAULT), 0) << ch;
                const FT_GlyphSlot g = faces[i]->glyph;
                drawn[i] = std::to_string(g->advance.x) + " " + std::to_string(g->bitmap_left) + " " +
                           std::to_string(g->bitmap_top) + " " + std::to_string(g->bitmap.width) + "x" +
                           std::to_string(g->bitmap.rows) + ":";
                for (unsigned y = 0; y < g->bitmap.rows; ++y)
                    for (unsigned x = 0; x < g->bitmap.width; ++x)
                        drawn[i] += (g->bitmap.buffer[y * g->bitmap.pitch + x / 8] & (0x80 >> (x % 8))) ? '#' : '.';
            }
            differing += drawn[0] == drawn[1] ? 0 : 1;
            ++checked;
        }
        EXPECT_EQ(differing, 0u);
        EXPECT_GT(checked, 200u);
    }
}

TEST(Pcf, AnXServerOpensItByNameAndFontconfigListsIt)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    const Pair made = makeBoth(qf::test::logFont("DejaVu Sans"), 12, "latin1, U+0400-U+04FF");
    qf::test::TempDir dir;
    std::ofstream(dir.file("DejaVu-Sans_12.pcf"), std::ios::binary) << made.pcf;
    EXPECT_EQ(std::system(("fc-query " + qf::test::shellQuote(dir.file("DejaVu-Sans_12.pcf")) +
                           " | grep -q 'family: \"DejaVu Sans\"'")
                              .c_str()),
              0);
    if (std::system("command -v Xvfb >/dev/null && command -v xlsfonts >/dev/null && command -v mkfontdir >/dev/null") != 0)
        GTEST_SKIP() << "Xvfb, mkfontdir or xlsfonts is not installed (xvfb, xfonts-utils, x11-utils)";
    const std::string display = ":" + std::to_string(600 + getpid() % 300);
    const std::string script =
        "cd " + qf::test::shellQuote(dir.path()) + " && mkfontdir . && (Xvfb " + display +
        " -nolisten tcp -fp \"$PWD/\",built-ins >/dev/null 2>&1 & echo $! > xvfb.pid) && for i in $(seq 100); do "
        "DISPLAY=" + display + " xlsfonts >/dev/null 2>&1 && break; sleep 0.1; done; DISPLAY=" + display +
        " xlsfonts -ll -fn '-misc-dejavu sans-regular-r-normal--16-120-96-96-p-*-iso10646-1' > listed 2>&1; "
        "kill $(cat xvfb.pid)";
    EXPECT_EQ(std::system(script.c_str()), 0);
    const std::string listed = qf::test::readFile(dir.file("listed"));
    // The server read the file: its properties come back with the font.
    EXPECT_NE(listed.find("FACE_NAME"), std::string::npos) << listed;
    EXPECT_NE(listed.find("DEFAULT_CHAR"), std::string::npos) << listed;
}

}  // namespace
