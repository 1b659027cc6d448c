// PCF and OTB files as their readers take them: FreeType gives every glyph the pixels and advance
// of the BDF made from the same glyphs; an X server opens the PCF by its XLFD name; HarfBuzz sets
// the OTB's text with the bitmap advances; fontconfig and fontTools read both.
#include "formats/Format.h"
#include "formats/BdfWriter.h"
#include "formats/OtbWriter.h"
#include "formats/PcfWriter.h"
#include "platform/DeviceContext.h"
#include "run/CharacterSet.h"
#include "tests/FreeTypeReader.h"
#include "tests/WriterTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

struct Made {
    std::string bdf, pcf, otb;
};

Made makeAll(const gdi::LOGFONT& lf, int points, const std::string& chars)
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
    Made made;
    const std::pair<const qf::FontWriter*, std::string*> writers[] = {
        {&qf::writerFor(qf::OutputFormat::BDF), &made.bdf},
        {&qf::writerFor(qf::OutputFormat::PCF), &made.pcf},
        {&qf::writerFor(qf::OutputFormat::OTB), &made.otb}};
    for (const auto& [writer, text] : writers) {
        qf::OutputSink out;
        const qf::WriteProblem problem = writer->write(dc, request, out);
        EXPECT_FALSE(problem) << problem.text;
        text->assign(reinterpret_cast<const char*>(out.data()), out.size());
    }
    return made;
}

TEST(UnicodeFormats, FreeTypeReadsEveryGlyphOfPcfAndOtbAsTheBdfOfTheSameGlyphs)
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
        const Made made = makeAll(c.lf, c.points, c.chars);
        FT_Face faces[3] = {};
        const std::string* files[3] = {&made.bdf, &made.pcf, &made.otb};
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(files[i]->data()),
                                         static_cast<FT_Long>(files[i]->size()), 0, &faces[i]),
                      0);
            ASSERT_EQ(FT_Select_Charmap(faces[i], FT_ENCODING_UNICODE), 0);
            ASSERT_EQ(FT_Select_Size(faces[i], 0), 0);
        }
        const qf::test::FtFaceOwner bdfOwner(faces[0]), pcfOwner(faces[1]), otbOwner(faces[2]);
        for (int i = 1; i < 3; ++i) {
            EXPECT_EQ(faces[i]->num_glyphs, faces[0]->num_glyphs);
            EXPECT_EQ(faces[i]->available_sizes[0].height, faces[0]->available_sizes[0].height);
            EXPECT_STREQ(faces[i]->family_name, faces[0]->family_name);
        }
        size_t checked = 0, differing = 0;
        FT_UInt index = 0;
        for (FT_ULong ch = FT_Get_First_Char(faces[0], &index); index != 0; ch = FT_Get_Next_Char(faces[0], ch, &index)) {
            std::string drawn[3];
            for (int i = 0; i < 3; ++i) {
                ASSERT_EQ(FT_Load_Char(faces[i], ch, FT_LOAD_DEFAULT), 0) << ch;
                const FT_GlyphSlot g = faces[i]->glyph;
                drawn[i] = std::to_string(g->advance.x) + " " + std::to_string(g->bitmap_left) + " " +
                           std::to_string(g->bitmap_top) + " " + std::to_string(g->bitmap.width) + "x" +
                           std::to_string(g->bitmap.rows) + ":";
                for (unsigned y = 0; y < g->bitmap.rows; ++y)
                    for (unsigned x = 0; x < g->bitmap.width; ++x)
                        drawn[i] += (g->bitmap.buffer[y * g->bitmap.pitch + x / 8] & (0x80 >> (x % 8))) ? '#' : '.';
            }
            differing += drawn[0] == drawn[1] && drawn[0] == drawn[2] ? 0 : 1;
            ++checked;
        }
        EXPECT_EQ(differing, 0u);
        EXPECT_GT(checked, 200u);
    }
}

TEST(UnicodeFormats, AnXServerOpensThePcfByNameAndFontconfigListsBoth)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    const Made made = makeAll(qf::test::logFont("DejaVu Sans"), 12, "latin1, U+0400-U+04FF");
    qf::test::TempDir dir;
    std::ofstream(dir.file("DejaVu-Sans_12.pcf"), std::ios::binary) << made.pcf;
    std::ofstream(dir.file("DejaVu Sans_12.otb"), std::ios::binary) << made.otb;
    for (const char* file : {"DejaVu-Sans_12.pcf", "DejaVu Sans_12.otb"})
        EXPECT_EQ(std::system(("fc-query " + qf::test::shellQuote(dir.file(file)) +
                               " | grep -q 'family: \"DejaVu Sans\"'")
                                  .c_str()),
                  0)
            << file;
    if (!qf::test::haveXServer())
        GTEST_SKIP() << "Xvfb, mkfontdir or xlsfonts is not installed (xvfb, xfonts-utils, x11-utils)";
    std::filesystem::remove(dir.file("DejaVu Sans_12.otb"));
    const std::string listed =
        qf::test::xlsfontsFrom(dir.path(), "-misc-dejavu sans-regular-r-normal--16-120-96-96-p-*-iso10646-1", "-ll");
    // The server read the file: its properties come back with the font.
    EXPECT_NE(listed.find("FACE_NAME"), std::string::npos) << listed;
    EXPECT_NE(listed.find("DEFAULT_CHAR"), std::string::npos) << listed;
}

}  // namespace

namespace {

// What a shell command prints on both streams, and whether it succeeded.
std::pair<bool, std::string> run(const std::string& command)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return {false, ""};
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    return {pclose(pipe) == 0, output};
}

TEST(UnicodeFormats, HarfBuzzAndPangoSetTheOtbWithTheBitmapAdvancesAndFontToolsReadsItCleanly)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    for (const bool mono : {false, true}) {
        const gdi::LOGFONT lf = qf::test::logFont(mono ? "Liberation Mono" : "DejaVu Sans", 0, gdi::FW_NORMAL, !mono);
        for (const int points : {8, 12}) {
            SCOPED_TRACE(std::string(lf.lfFaceName) + " " + std::to_string(points));
            const Made made = makeAll(lf, points, "latin1");
            qf::test::TempDir dir;
            const std::string otb = dir.file("font.otb");
            std::ofstream(otb, std::ios::binary) << made.otb;

            // The advances HarfBuzz gives at the strike's size are the BDF's DWIDTHs.
            const size_t pixelSize = made.bdf.find("PIXEL_SIZE ") + 11;
            const std::string ppem = made.bdf.substr(pixelSize, made.bdf.find('\n', pixelSize) - pixelSize);
            const std::string text = "AWay, fi!";
            std::string expected;
            for (const char c : text) {
                char name[16];
                std::snprintf(name, sizeof name, "uni%04X\n", static_cast<unsigned char>(c));
                const size_t at = made.bdf.find(name);
                ASSERT_NE(at, std::string::npos) << name;
                const size_t dwidth = made.bdf.find("DWIDTH ", at) + 7;
                expected += "+" + made.bdf.substr(dwidth, made.bdf.find(' ', dwidth) - dwidth);
            }
            const auto [shaped, output] = run("hb-shape --no-glyph-names --no-clusters --font-size=" + ppem + " " +
                                              qf::test::shellQuote(otb) + " " + qf::test::shellQuote(text));
            if (!shaped && output.find("not found") != std::string::npos)
                GTEST_SKIP() << "hb-shape is not installed (libharfbuzz-bin)";
            std::string advances;  // "[34+10|56+15]" -> "+10+15"
            for (size_t at = output.find('+'); at != std::string::npos; at = output.find('+', at + 1))
                advances += output.substr(at, output.find_first_of("|]", at) - at);
            EXPECT_EQ(advances, expected) << output;

            // Pango, with a configuration that lists only the file, sets a line exactly as wide as
            // the sum of the BDF's advances.
            const std::string line = "Hello, World";
            int64_t sum = 0;
            for (const char c : line) {
                char name[16];
                std::snprintf(name, sizeof name, "uni%04X\n", static_cast<unsigned char>(c));
                const size_t dwidth = made.bdf.find("DWIDTH ", made.bdf.find(name)) + 7;
                sum += std::stoll(made.bdf.substr(dwidth, made.bdf.find(' ', dwidth) - dwidth));
            }
            std::ofstream(dir.file("fonts.conf")) << "<fontconfig><dir>" << dir.path() << "</dir><cachedir>"
                                                  << dir.file("cache") << "</cachedir></fontconfig>\n";
            const auto [drawn, pangoSaid] =
                run("FONTCONFIG_FILE=" + qf::test::shellQuote(dir.file("fonts.conf")) +
                    " pango-view --no-display --pixels --hinting=full --antialias=none --margin=0 -q --font=" +
                    qf::test::shellQuote(std::string(lf.lfFaceName) + " " + ppem + "px") + " -o " +
                    qf::test::shellQuote(dir.file("line.png")) + " --text=" + qf::test::shellQuote(line));
            if (!drawn && pangoSaid.find("not found") != std::string::npos)
                GTEST_SKIP() << "pango-view is not installed (pango1.0-tools)";
            ASSERT_TRUE(drawn) << pangoSaid;
            const std::string png = qf::test::readFile(dir.file("line.png"));
            ASSERT_GE(png.size(), 24u);
            const int64_t width = static_cast<uint8_t>(png[16]) << 24 | static_cast<uint8_t>(png[17]) << 16 |
                                  static_cast<uint8_t>(png[18]) << 8 | static_cast<uint8_t>(png[19]);
            EXPECT_EQ(width, sum);

            // fontTools reads every table without a word; fontconfig calls a monospaced face so.
            const auto [parsed, said] = run("ttx -q -o /dev/null " + qf::test::shellQuote(otb));
            EXPECT_TRUE(parsed) << said;
            EXPECT_EQ(said, "");
            const auto [queried, pattern] = run("fc-query " + qf::test::shellQuote(otb));
            EXPECT_TRUE(queried);
            EXPECT_EQ(pattern.find("spacing: 100") != std::string::npos, mono) << pattern;
        }
    }
}

}  // namespace

namespace {

// A PSF2 file as the console reads it: its cell, glyphs and which glyph each character draws.
struct Psf {
    uint32_t length = 0, charsize = 0, height = 0, width = 0;
    std::vector<uint8_t> glyphs;
    std::map<uint32_t, uint32_t> glyphOf;
    bool read(const std::string& bytes)
    {
        auto le = [&](size_t at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                                         static_cast<uint8_t>(bytes[at + 2]) << 16 |
                                         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
        };
        if (bytes.size() < 32 || le(0) != 0x864AB572 || le(4) != 0 || le(8) != 32 || le(12) != 1)
            return false;
        length = le(16), charsize = le(20), height = le(24), width = le(28);
        if (charsize != height * ((width + 7) / 8) || bytes.size() < 32 + size_t{length} * charsize)
            return false;
        glyphs.assign(bytes.begin() + 32, bytes.begin() + 32 + static_cast<long>(length) * charsize);
        size_t at = 32 + size_t{length} * charsize;
        for (uint32_t g = 0; g < length; ++g) {
            const size_t end = bytes.find('\xFF', at);
            if (end == std::string::npos)
                return false;
            for (size_t i = at; i < end;) {  // UTF-8
                const auto c = static_cast<uint8_t>(bytes[i]);
                const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
                uint32_t cp = n == 1 ? c : c & (0xFF >> (n + 1));
                for (size_t k = 1; k < n; ++k)
                    cp = cp << 6 | (static_cast<uint8_t>(bytes[i + k]) & 0x3F);
                glyphOf.emplace(cp, g);
                i += n;
            }
            at = end + 1;
        }
        return at == bytes.size();
    }
    bool pixel(uint32_t glyph, uint32_t x, uint32_t y) const
    {
        return glyphs[glyph * charsize + y * ((width + 7) / 8) + x / 8] & (0x80 >> (x % 8));
    }
};

TEST(UnicodeFormats, ConsoleFontCellsAreTheBdfsGlyphsWithinTheConsolesLimits)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    const qf::test::FtLibraryOwner libraryOwner(library);
    const char* consoleSet = "cp437, cp1250, cp1251, cp1252, cp1253";
    for (const char* family : {"DejaVu Sans Mono", "DejaVu Sans"}) {
        SCOPED_TRACE(family);
        const gdi::LOGFONT lf = qf::test::logFont(family);
        const Made made = makeAll(lf, 12, consoleSet);
        gdi::DeviceContext dc;
        qf::WriteRequest request = qf::test::requestFor(family, 12);
        request.font = lf;
        qf::CharacterSelection selection;
        std::string error;
        ASSERT_TRUE(qf::parseCharacterSelection(consoleSet, selection, error));
        dc.selectObject(gdi::Font::createFontIndirect(qf::test::logFont(family, -32)));
        request.repertoire = std::make_shared<qf::Repertoire>(qf::unicodeRepertoire(selection, dc.mappedCharacters()));
        qf::OutputSink out;
        const qf::WriteProblem problem = qf::writerFor(qf::OutputFormat::PSF).write(dc, request, out);
        ASSERT_FALSE(problem) << problem.text;
        Psf psf;
        ASSERT_TRUE(psf.read(std::string(reinterpret_cast<const char*>(out.data()), out.size())));
        EXPECT_EQ(psf.length, 512u);
        EXPECT_LE(psf.width, 32u);
        EXPECT_LE(psf.height, 32u);

        // Every character's cell: the BDF glyph, centred by its advance, the baseline at its ascent.
        FT_Face bdf = nullptr;
        ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(made.bdf.data()),
                                     static_cast<FT_Long>(made.bdf.size()), 0, &bdf),
                  0);
        const qf::test::FtFaceOwner owner(bdf);
        ASSERT_EQ(FT_Select_Charmap(bdf, FT_ENCODING_UNICODE), 0);
        ASSERT_EQ(FT_Select_Size(bdf, 0), 0);
        const int ascent = static_cast<int>(bdf->size->metrics.ascender >> 6);
        size_t differing = 0, clipped = 0;
        for (const auto& [c, glyph] : psf.glyphOf) {
            ASSERT_EQ(FT_Load_Char(bdf, c, FT_LOAD_DEFAULT), 0);
            const FT_GlyphSlot g = bdf->glyph;
            const int x0 = (static_cast<int>(psf.width) - static_cast<int>(g->advance.x >> 6)) / 2;
            std::set<std::pair<int, int>> want, got;
            for (unsigned y = 0; c != 0x20 && y < g->bitmap.rows; ++y)
                for (unsigned x = 0; x < g->bitmap.width; ++x)
                    if (g->bitmap.buffer[y * g->bitmap.pitch + x / 8] & (0x80 >> (x % 8)))
                        want.emplace(x0 + g->bitmap_left + static_cast<int>(x), ascent - g->bitmap_top + static_cast<int>(y));
            const size_t all = want.size();
            std::erase_if(want, [&](const auto& p) {
                return p.first < 0 || p.second < 0 || p.first >= static_cast<int>(psf.width) ||
                       p.second >= static_cast<int>(psf.height);
            });
            clipped += want.size() != all;
            for (uint32_t y = 0; y < psf.height; ++y)
                for (uint32_t x = 0; x < psf.width; ++x)
                    if (psf.pixel(glyph, x, y))
                        got.emplace(x, y);
            differing += got != want;
        }
        EXPECT_EQ(psf.glyphOf.size(), 500u);
        EXPECT_EQ(differing, 0u);
        EXPECT_EQ(clipped > 0, !problem.warning.empty()) << problem.warning;
        if (clipped > 0) {
            EXPECT_EQ(problem.warning.rfind(std::to_string(clipped) + " glyph(s) reach outside the ", 0), 0u)
                << problem.warning;
        }
    }

    // A small set is padded with blank glyphs to 256; a cell past 32 pixels is refused.
    gdi::DeviceContext dc;
    qf::WriteRequest request = qf::test::requestFor("DejaVu Sans", 12);
    request.font = qf::test::logFont("DejaVu Sans");
    auto ascii = std::make_shared<qf::Repertoire>();
    ascii->space = qf::CodeSpace::Unicode;
    for (char32_t c = 0x20; c < 0x7F; ++c)
        ascii->entries.push_back({c, c});
    request.repertoire = ascii;
    qf::OutputSink out;
    ASSERT_FALSE(qf::writerFor(qf::OutputFormat::PSF).write(dc, request, out));
    Psf psf;
    ASSERT_TRUE(psf.read(std::string(reinterpret_cast<const char*>(out.data()), out.size())));
    EXPECT_EQ(psf.length, 256u);
    // The console erases the screen with position 32, so the space's blank glyph is there.
    EXPECT_EQ(psf.glyphOf.at(0x20), 32u);
    EXPECT_TRUE(std::all_of(psf.glyphs.begin() + 95 * psf.charsize, psf.glyphs.end(), [](uint8_t b) { return b == 0; }));
    request.pointSize = 24;
    const qf::WriteProblem refused = qf::writerFor(qf::OutputFormat::PSF).write(dc, request, out);
    EXPECT_EQ(refused.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_NE(refused.text.find("the console takes cells of 1 to 32 x 32"), std::string::npos) << refused.text;
}

}  // namespace
