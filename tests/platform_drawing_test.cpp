// Monochrome bitmaps and drawing on the memory device context: row padding, PatBlt, TextOut's
// pixels against a real GDI's (which equal FreeType's monochrome rendering), clipping, colours,
// the OEM code page of the device context, and glyphs far larger than the bitmap.
#include "platform_test_support.h"

#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "tests/FreeTypeReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <tuple>

using namespace platform_test;

namespace {

struct ReferenceGlyph {
    int code = 0;
    int advance = 0;
    std::vector<std::vector<uint8_t>> rows;  // the first ceil(advance / 8) bytes of each row
};

struct ReferenceGlyphs {
    std::string face;
    int weight = 400;
    int charset = 0;
    int height = 0, width = 0;  // the rendering font's lfHeight and lfWidth
    std::vector<ReferenceGlyph> glyphs;
};

ReferenceGlyphs readGlyphs(const char* file)
{
    ReferenceGlyphs ref;
    std::ifstream in(dataFile(file));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("render lfHeight=", 0) == 0) {
            std::sscanf(line.c_str(), "render lfHeight=%d lfWidth=%d", &ref.height, &ref.width);
        } else if (line.rfind("render face=", 0) == 0) {
            ref.face = line.substr(12, line.find(" height=") - 12);
            ref.weight = std::stoi(line.substr(line.find(" weight=") + 8));
            ref.charset = std::stoi(line.substr(line.find(" charset=") + 9));
        } else if (line.rfind("glyph ", 0) == 0) {
            std::istringstream s(line.substr(6));
            ReferenceGlyph g;
            s >> g.code >> g.advance;
            for (std::string hex; s >> hex;) {
                std::vector<uint8_t> row;
                for (size_t i = 0; i + 1 < hex.size(); i += 2)
                    row.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
                g.rows.push_back(row);
            }
            ref.glyphs.push_back(g);
        }
    }
    return ref;
}

// Draws every code of a reference file the way the rasteriser does and compares the pixels.
void compareWithReference(const char* file, unsigned codePage)
{
    const ReferenceGlyphs ref = readGlyphs(file);
    ASSERT_FALSE(ref.glyphs.empty());
    const gdi::ByteMap* map = gdi::codePageMap(codePage);

    gdi::DeviceContext dc;
    dc.selectObject(gdi::Font::createFontIndirect(logFont(ref.face, ref.height, ref.weight, false, ref.charset, ref.width)));
    gdi::TEXTMETRIC tm;
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    ASSERT_EQ(dc.currentFont()->faceName(), ref.face);
    auto scratch = gdi::Bitmap::create(10 * tm.tmHeight, tm.tmHeight);
    ASSERT_TRUE(scratch);
    dc.selectObject(scratch);
    dc.setBkColor(0x000000);
    dc.setTextColor(0xFFFFFF);

    int compared = 0, advanceDiffs = 0, overhanging = 0;
    for (const ReferenceGlyph& g : ref.glyphs) {
        // Without the code page's table only the bytes that agree with Latin-1 can be checked.
        if (!map && !((g.code >= 0x20 && g.code < 0x7F) || g.code >= 0xA0))
            continue;
        SCOPED_TRACE("code " + std::to_string(g.code));
        const char text[1] = {static_cast<char>(g.code)};
        dc.patBlt(0, 0, scratch->width() + 1, tm.tmHeight + 1, gdi::BLACKNESS);
        ASSERT_TRUE(dc.textOut(0, 0, text, 1));
        gdi::SIZE extent;
        ASSERT_TRUE(dc.getTextExtentPoint(text, 1, &extent));
        ASSERT_EQ(static_cast<int>(g.rows.size()), tm.tmHeight);
        for (int y = 0; y < tm.tmHeight; ++y)
            for (size_t i = 0; i < g.rows[y].size(); ++i)
                ASSERT_EQ(scratch->bits()[y * scratch->widthBytes() + i], g.rows[y][i]) << "row " << y << " byte " << i;
        // That GDI took its advances from FreeType's normal hinting; ours are the monochrome ones,
        // a pixel or two apart now and then, and they hold the ink drawn but for the odd accent or
        // hook that the design lets hang over.
        EXPECT_LE(std::abs(extent.cx - g.advance), 2);
        advanceDiffs += extent.cx != g.advance;
        int rightmost = -1;
        for (int y = 0; y < tm.tmHeight; ++y)
            for (int x = 0; x < scratch->width(); ++x)
                if (pixel(*scratch, x, y))
                    rightmost = std::max(rightmost, x);
        overhanging += rightmost >= extent.cx;
        ++compared;
    }
    EXPECT_GT(compared, 150);
    EXPECT_LT(advanceDiffs * 3, compared);
    EXPECT_LT(overhanging * 20, compared);
}

std::vector<std::string> drawText(gdi::DeviceContext& dc, int x, const char* text, int width)
{
    auto bm = dc.currentBitmap();
    dc.patBlt(0, 0, bm->width(), bm->height(), gdi::BLACKNESS);
    dc.textOut(x, 0, text, static_cast<int>(std::strlen(text)));
    return pixels(*bm, 0, width);
}

int inkCount(const gdi::Bitmap& bm)
{
    int n = 0;
    for (int y = 0; y < bm.height(); ++y)
        for (int x = 0; x < bm.width(); ++x)
            n += pixel(bm, x, y);
    return n;
}

// A device context with a white-on-black scratch bitmap and a font selected.
struct Scene {
    gdi::DeviceContext dc;
    std::shared_ptr<gdi::Bitmap> bitmap;
    gdi::TEXTMETRIC tm{};

    Scene(const gdi::LOGFONT& lf, int width, int height = 0)
    {
        dc.selectObject(gdi::Font::createFontIndirect(lf));
        dc.getTextMetrics(&tm);
        bitmap = gdi::Bitmap::create(width, height ? height : tm.tmHeight);
        dc.selectObject(bitmap);
        dc.setBkColor(0x000000);
        dc.setTextColor(0xFFFFFF);
    }
};

}  // namespace

TEST(PlatformBitmap, RowsPaddedToWords)
{
    auto bm = gdi::Bitmap::create(130, 13);
    ASSERT_TRUE(bm);
    const gdi::BITMAP info = bm->getObject();
    EXPECT_EQ(info.bmWidth, 130);
    EXPECT_EQ(info.bmHeight, 13);
    EXPECT_EQ(info.bmWidthBytes, 18);
    EXPECT_EQ(info.bmPlanes, 1);
    EXPECT_EQ(info.bmBitsPixel, 1);
    EXPECT_EQ(info.bmBits, nullptr);
    std::vector<uint8_t> out(300, 0xAA);
    EXPECT_EQ(bm->getBitmapBits(out.size(), out.data()), 234u);
    EXPECT_EQ(out[233], 0);
    EXPECT_EQ(out[234], 0xAA);
    EXPECT_EQ(bm->getBitmapBits(10, out.data()), 10u);

    EXPECT_EQ(gdi::Bitmap::create(16, 1)->widthBytes(), 2);
    EXPECT_EQ(gdi::Bitmap::create(17, 1)->widthBytes(), 4);
    EXPECT_FALSE(gdi::Bitmap::create(0, 5));
    EXPECT_FALSE(gdi::Bitmap::create(5, -1));
    // Nothing above the limit is allocated, whatever the size.
    EXPECT_FALSE(gdi::Bitmap::create(100, 100, 1000));
    EXPECT_FALSE(gdi::Bitmap::create(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()));
    EXPECT_FALSE(gdi::Bitmap::create(600000, 1000));
    EXPECT_TRUE(gdi::Bitmap::create(100, 100, 1600));
}

TEST(PlatformBitmap, PatBltClipsAndKeepsThePadding)
{
    gdi::DeviceContext dc;
    auto bm = gdi::Bitmap::create(21, 5);
    dc.selectObject(bm);
    EXPECT_TRUE(dc.patBlt(-4, -4, 100, 100, gdi::WHITENESS));
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(bm->bits()[y * 4 + 0], 0xFF);
        EXPECT_EQ(bm->bits()[y * 4 + 2], 0xF8);  // 21 pixels: the padding bits stay 0
        EXPECT_EQ(bm->bits()[y * 4 + 3], 0x00);
    }
    EXPECT_TRUE(dc.patBlt(3, 1, 10, 2, gdi::BLACKNESS));
    EXPECT_EQ(pixels(*bm, 0, 21)[1], "###..........########");
    EXPECT_EQ(pixels(*bm, 0, 21)[3], "#####################");
    // The viewport origin moves the rectangle; a negative size extends it the other way.
    dc.setViewportOrg(10, 0);
    EXPECT_TRUE(dc.patBlt(5, 4, -2, 1, gdi::BLACKNESS));
    EXPECT_EQ(pixels(*bm, 0, 21)[4], "#############..######");
    EXPECT_FALSE(dc.patBlt(0, 0, 1, 1, 0x00F00021 /* PATCOPY: no brushes here */));
}

TEST(PlatformBitmap, BoundsHoldEveryPixelDrawnOn)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    auto bm = gdi::Bitmap::create(120, 40);
    dc.selectObject(bm);
    gdi::RECT r{1, 2, 3, 4};
    EXPECT_EQ(dc.getBoundsRect(&r, 0), gdi::DCB_DISABLE | gdi::DCB_RESET);
    EXPECT_EQ(r.left | r.top | r.right | r.bottom, 0);
    dc.patBlt(0, 0, 10, 10, gdi::WHITENESS);  // not accumulated while disabled
    EXPECT_EQ(dc.setBoundsRect(nullptr, gdi::DCB_ENABLE | gdi::DCB_RESET), gdi::DCB_DISABLE | gdi::DCB_RESET);

    // Clipped to the bitmap, in logical coordinates.
    dc.patBlt(-5, 30, 20, 20, gdi::WHITENESS);
    dc.setViewportOrg(4, 1);
    EXPECT_EQ(dc.getBoundsRect(&r, 0), gdi::DCB_ENABLE | gdi::DCB_SET);
    EXPECT_EQ(std::make_tuple(r.left, r.top, r.right, r.bottom), std::make_tuple(-4, 29, 11, 39));
    dc.setViewportOrg(0, 0);
    dc.patBlt(200, 0, 5, 5, gdi::WHITENESS);  // wholly outside: nothing drawn, nothing added
    EXPECT_EQ(dc.getBoundsRect(&r, gdi::DCB_RESET), gdi::DCB_ENABLE | gdi::DCB_SET);
    EXPECT_EQ(std::make_tuple(r.left, r.top, r.right, r.bottom), std::make_tuple(0, 30, 15, 40));
    EXPECT_EQ(dc.getBoundsRect(&r, 0), gdi::DCB_ENABLE | gdi::DCB_RESET);

    // Text: the opaque cell and ink beyond it (an italic 'f' leans out of its cell both ways).
    dc.patBlt(0, 0, 120, 40, gdi::BLACKNESS);
    dc.setBkColor(0x000000);
    dc.setTextColor(0xFFFFFF);
    dc.selectObject(gdi::Font::createFontIndirect(logFont("DejaVu Serif", -30, gdi::FW_NORMAL, true)));
    dc.getBoundsRect(nullptr, gdi::DCB_RESET);
    ASSERT_TRUE(dc.textOut(40, 2, "f", 1));
    dc.getBoundsRect(&r, gdi::DCB_RESET);
    int inked = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x)
            if (pixel(*bm, x, y)) {
                ++inked;
                EXPECT_TRUE(x >= r.left && x < r.right && y >= r.top && y < r.bottom) << x << "," << y;
            }
    EXPECT_GT(inked, 0);
    gdi::SIZE extent;
    ASSERT_TRUE(dc.getTextExtentPoint("f", 1, &extent));
    EXPECT_LE(r.left, 40);
    EXPECT_GE(r.right, 40 + extent.cx);

    // DCB_ACCUMULATE adds a rectangle of the caller's; DCB_DISABLE stops accumulating.
    dc.setBoundsRect(nullptr, gdi::DCB_RESET);
    const gdi::RECT added{7, 9, 3, 5};
    dc.setBoundsRect(&added, gdi::DCB_ACCUMULATE | gdi::DCB_DISABLE);
    dc.patBlt(0, 0, 120, 40, gdi::BLACKNESS);
    EXPECT_EQ(dc.getBoundsRect(&r, 0), gdi::DCB_DISABLE | gdi::DCB_SET);
    EXPECT_EQ(std::make_tuple(r.left, r.top, r.right, r.bottom), std::make_tuple(3, 5, 7, 9));
}

TEST(PlatformDrawing, PixelsMatchTheReferenceGdiCp1252)
{
    ASSERT_TRUE(testFontsInstalled());
    compareWithReference("gdi-glyphs-dejavu-sans-12pt-96dpi-cp1252.txt", 1252);
}

TEST(PlatformDrawing, PixelsMatchTheReferenceGdiCp1251Bold)
{
    ASSERT_TRUE(testFontsInstalled());
    ASSERT_TRUE(gdi::codePageMap(1251)) << "the generated tables lack code page 1251";
    compareWithReference("gdi-glyphs-liberation-sans-bold-10pt-96dpi-cp1251.txt", 1251);
}

TEST(PlatformDrawing, PixelsAreFreeTypesMonochromeRendering)
{
    ASSERT_TRUE(testFontsInstalled());
    // Beyond the reference's sizes: FreeType's own rendering of the same glyph, placed by its
    // bitmap offsets, at several sizes including a large one.
    const gdi::FaceInfo* info = gdi::FontCatalog::instance().match("Liberation Serif", 400, false);
    ASSERT_TRUE(info);
    FT_Library lib = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    const qf::test::FtLibraryOwner libOwner(lib);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Face(lib, info->file.c_str(), info->faceIndex, &face), 0);
    const qf::test::FtFaceOwner faceOwner(face);
    for (const int ppem : {7, 13, 31, 150}) {
        Scene scene(logFont("Liberation Serif", -ppem), 4 * ppem);
        ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, ppem), 0);
        for (const char c : std::string("Wg&@jQ")) {
            SCOPED_TRACE(std::string(1, c) + " at " + std::to_string(ppem));
            const auto ours = drawText(scene.dc, ppem, std::string(1, c).c_str(), scene.bitmap->width());
            ASSERT_EQ(FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP), 0);
            ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO), 0);
            const FT_Bitmap& b = face->glyph->bitmap;
            std::vector<std::string> theirs(scene.tm.tmHeight, std::string(scene.bitmap->width(), '.'));
            for (unsigned r = 0; r < b.rows; ++r)
                for (unsigned k = 0; k < b.width; ++k) {
                    const int x = ppem + face->glyph->bitmap_left + static_cast<int>(k);
                    const int y = scene.tm.tmAscent - face->glyph->bitmap_top + static_cast<int>(r);
                    if ((b.buffer[r * b.pitch + k / 8] & (0x80 >> (k % 8))) && y >= 0 && y < scene.tm.tmHeight)
                        theirs[y][x] = '#';
                }
            EXPECT_EQ(ours, theirs);
        }
    }
}

TEST(PlatformDrawing, InkIsClippedAndShiftedExactly)
{
    ASSERT_TRUE(testFontsInstalled());
    Scene scene(logFont("DejaVu Sans", -20), 64);
    const auto atTen = drawText(scene.dc, 10, "W", 64);
    ASSERT_GT(inkCount(*scene.bitmap), 20);
    // Any column offset gives the same pixels moved (the glyph is blitted with byte shifts).
    for (int dx = -9; dx <= 40; ++dx) {
        const auto moved = drawText(scene.dc, 10 + dx, "W", 64);
        for (int y = 0; y < scene.tm.tmHeight; ++y)
            for (int x = 0; x < 64; ++x) {
                const int from = x - dx;
                const char want = (from >= 0 && from < 64) ? atTen[y][from] : '.';
                ASSERT_EQ(moved[y][x], want) << "dx " << dx << " at " << x << "," << y;
            }
    }
    // Rows above and below, columns past either edge: lost, never written elsewhere.
    auto bm = scene.bitmap;
    std::vector<uint8_t> before(bm->bits(), bm->bits() + bm->widthBytes() * bm->height());
    scene.dc.patBlt(0, 0, 64, scene.tm.tmHeight, gdi::BLACKNESS);
    EXPECT_TRUE(scene.dc.textOut(-1000, 0, "W", 1));
    EXPECT_TRUE(scene.dc.textOut(1000, 0, "W", 1));
    EXPECT_TRUE(scene.dc.textOut(0, -1000, "W", 1));
    EXPECT_TRUE(scene.dc.textOut(0, 1000, "W", 1));
    EXPECT_EQ(inkCount(*bm), 0);
    scene.dc.textOut(0, -5, "W", 1);
    const auto cut = pixels(*bm, 0, 64);
    const auto whole = drawText(scene.dc, 0, "W", 64);
    for (int y = 0; y + 5 < scene.tm.tmHeight; ++y)
        EXPECT_EQ(cut[y], whole[y + 5]);
}

TEST(PlatformDrawing, CellTopBaselineAndExtent)
{
    ASSERT_TRUE(testFontsInstalled());
    Scene scene(logFont("Liberation Sans", -30), 200, 60);
    scene.dc.setViewportOrg(0, 7);
    scene.dc.textOut(0, 3, "_H", 2);  // the cell's top at row 10
    // 'H' sits on the baseline: its lowest ink row is the one just above tmAscent.
    const auto rows = pixels(*scene.bitmap, 0, 200);
    int lowestH = -1, highestH = 1000;
    gdi::SIZE underscore;
    scene.dc.getTextExtentPoint("_", 1, &underscore);
    for (int y = 0; y < 60; ++y)
        if (rows[y].find('#', underscore.cx) != std::string::npos) {
            lowestH = y;
            highestH = std::min(highestH, y);
        }
    EXPECT_EQ(lowestH, 10 + scene.tm.tmAscent - 1);
    EXPECT_GT(highestH, 10);

    gdi::SIZE a, b, ab;
    ASSERT_TRUE(scene.dc.getTextExtentPoint("A", 1, &a));
    ASSERT_TRUE(scene.dc.getTextExtentPoint("b", 1, &b));
    ASSERT_TRUE(scene.dc.getTextExtentPoint("Ab", 2, &ab));
    EXPECT_EQ(ab.cx, a.cx + b.cx);
    EXPECT_EQ(ab.cy, scene.tm.tmHeight);
    gdi::SIZE none;
    ASSERT_TRUE(scene.dc.getTextExtentPoint("", 0, &none));
    EXPECT_EQ(none.cx, 0);
    EXPECT_FALSE(scene.dc.textOut(0, 0, nullptr, 3));
    EXPECT_FALSE(scene.dc.textOut(0, 0, "A", -1));
}

TEST(PlatformDrawing, OpaqueBackgroundAndInverseColours)
{
    ASSERT_TRUE(testFontsInstalled());
    Scene scene(logFont("DejaVu Sans", -16), 48);
    const auto normal = drawText(scene.dc, 4, "Ag", 48);
    gdi::SIZE extent;
    scene.dc.getTextExtentPoint("Ag", 2, &extent);

    // Black text on white: the cell becomes white, the ink black; outside the cell nothing changes.
    scene.dc.patBlt(0, 0, 48, scene.tm.tmHeight, gdi::BLACKNESS);
    scene.dc.setBkColor(0xFFFFFF);
    scene.dc.setTextColor(0x000000);
    scene.dc.textOut(4, 0, "Ag", 2);
    const auto inverse = pixels(*scene.bitmap, 0, 48);
    for (int y = 0; y < scene.tm.tmHeight; ++y)
        for (int x = 0; x < 48; ++x) {
            const bool inCell = x >= 4 && x < 4 + extent.cx;
            if (inCell)
                ASSERT_NE(inverse[y][x], normal[y][x]) << x << "," << y;
            else
                ASSERT_EQ(inverse[y][x], '.') << x << "," << y;
        }
}

TEST(PlatformDrawing, MissingCharactersDrawTheBox)
{
    ASSERT_TRUE(testFontsInstalled());
    Scene scene(logFont("DejaVu Sans", -16), 32);
    const auto box = drawText(scene.dc, 0, "\x1e", 32);  // no character for the byte in the face
    EXPECT_GT(inkCount(*scene.bitmap), 10);
    EXPECT_EQ(drawText(scene.dc, 0, "\x7f", 32), box);
    if (gdi::codePageMap(1252)) {
        EXPECT_EQ(drawText(scene.dc, 0, "\x81", 32), box);  // a byte cp1252 leaves undefined
    }
    EXPECT_NE(drawText(scene.dc, 0, "A", 32), box);

    // By character: one the face lacks, the last of Unicode, and values past it (kept apart from
    // the characters' table) all draw the box, each twice over as the font keeps what it found.
    auto drawCharacter = [&](char32_t c) {
        scene.dc.patBlt(0, 0, scene.bitmap->width(), scene.bitmap->height(), gdi::BLACKNESS);
        scene.dc.textOutW(0, 0, &c, 1);
        return pixels(*scene.bitmap, 0, 32);
    };
    for (const char32_t c : {char32_t{0xE000}, char32_t{0x10FFFF}, char32_t{0x110000}, char32_t{0xFFFFFFFF}}) {
        EXPECT_EQ(drawCharacter(c), box) << std::hex << uint32_t(c);
        EXPECT_EQ(drawCharacter(c), box) << std::hex << uint32_t(c) << " again";
    }
    EXPECT_EQ(drawCharacter(U'A'), drawText(scene.dc, 0, "A", 32));
}

TEST(PlatformDrawing, OemFontsUseTheDeviceContextsCodePage)
{
    ASSERT_TRUE(testFontsInstalled());
    for (const unsigned page : {437u, 866u, 1251u})
        ASSERT_TRUE(gdi::codePageMap(page)) << "the generated tables lack code page " << page;
    auto oem = gdi::Font::createFontIndirect(logFont("DejaVu Sans", -18, 400, false, gdi::OEM_CHARSET));
    auto ansi = gdi::Font::createFontIndirect(logFont("DejaVu Sans", -18, 400, false, gdi::ANSI_CHARSET));
    auto cyrillic = gdi::Font::createFontIndirect(logFont("DejaVu Sans", -18, 400, false, gdi::RUSSIAN_CHARSET));
    Scene scene(logFont("DejaVu Sans", -18), 40);
    gdi::TEXTMETRIC tm;
    scene.dc.selectObject(oem);
    ASSERT_TRUE(scene.dc.getTextMetrics(&tm));
    EXPECT_EQ(tm.tmCharSet, gdi::OEM_CHARSET);

    // Byte 0x80 is Ç in code page 437 (0xC7 in cp1252) and А in 866 (0xC0 in cp1251); the same
    // font follows the device context's page at the time of drawing.
    scene.dc.selectObject(ansi);
    const auto cedilla = drawText(scene.dc, 2, "\xc7", 40);
    scene.dc.selectObject(cyrillic);
    const auto cyrillicA = drawText(scene.dc, 2, "\xc0", 40);
    ASSERT_NE(cedilla, cyrillicA);
    scene.dc.selectObject(oem);
    scene.dc.setOemCodePage(437);
    EXPECT_EQ(drawText(scene.dc, 2, "\x80", 40), cedilla);
    scene.dc.setOemCodePage(866);
    EXPECT_EQ(drawText(scene.dc, 2, "\x80", 40), cyrillicA);
    gdi::SIZE box;
    scene.dc.getTextExtentPoint("\xdb", 1, &box);  // a full block in both MS-DOS pages
    EXPECT_GT(box.cx, 0);
}

TEST(PlatformDrawing, HugeGlyphsAreClippedNotRenderedWhole)
{
    ASSERT_TRUE(testFontsInstalled());
    // At 16000 pixels per em a glyph is far larger than the bitmap; only the part over the bitmap
    // is rasterised, tile by tile.
    Scene scene(logFont("DejaVu Sans", -16000), 300, 200);
    EXPECT_GT(scene.tm.tmHeight, 18000);
    EXPECT_TRUE(scene.dc.textOut(-2000, -3000, "W", 1));
    const int ink = inkCount(*scene.bitmap);
    EXPECT_GT(ink, 0);
    EXPECT_LT(ink, 300 * 200);
    gdi::SIZE extent;
    ASSERT_TRUE(scene.dc.getTextExtentPoint("W", 1, &extent));
    EXPECT_GT(extent.cx, 14000);
    // Same pixels whether the glyph is cut by the bitmap at one place or another.
    auto big = gdi::Bitmap::create(600, 200);
    scene.dc.selectObject(big);
    scene.dc.textOut(-1700, -3000, "W", 1);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            ASSERT_EQ(pixel(*big, x + 300, y), pixel(*scene.bitmap, x, y)) << x << "," << y;
}

TEST(PlatformDrawing, SyntheticBoldAndItalicChangeThePixels)
{
    ASSERT_TRUE(testFontsInstalled());
    Scene regular(logFont("DejaVu Serif", -24), 60);
    Scene bold(logFont("DejaVu Serif", -24, gdi::FW_BOLD), 60);
    Scene italic(logFont("DejaVu Serif", -24, gdi::FW_NORMAL, true), 60);
    drawText(regular.dc, 10, "l", 60);
    drawText(bold.dc, 10, "l", 60);
    const auto slanted = drawText(italic.dc, 10, "l", 60);
    EXPECT_GT(inkCount(*bold.bitmap), inkCount(*regular.bitmap));
    gdi::SIZE r, b;
    regular.dc.getTextExtentPoint("l", 1, &r);
    bold.dc.getTextExtentPoint("l", 1, &b);
    EXPECT_EQ(b.cx, r.cx + 1);
    // The stem leans right: its top row starts further right than its bottom row.
    int top = -1, bottom = -1;
    for (int y = 0; y < italic.tm.tmHeight; ++y)
        if (slanted[y].find('#') != std::string::npos) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    ASSERT_GE(top, 0);
    EXPECT_GT(slanted[top].find('#'), slanted[bottom].find('#'));
}

TEST(PlatformDrawing, StretchedFontsAreWider)
{
    ASSERT_TRUE(testFontsInstalled());
    Scene plain(logFont("DejaVu Sans", -12), 100);
    Scene wide(logFont("DejaVu Sans", -12, 400, false, 0, 14), 100);
    EXPECT_EQ(wide.tm.tmAveCharWidth, 14);
    EXPECT_EQ(wide.tm.tmHeight, plain.tm.tmHeight);
    gdi::SIZE p, w;
    plain.dc.getTextExtentPoint("MMMM", 4, &p);
    wide.dc.getTextExtentPoint("MMMM", 4, &w);
    EXPECT_GT(w.cx, p.cx * 2);
}

TEST(PlatformDrawing, UnderlineAndStrikeOutRunAcrossTheText)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::LOGFONT lf = logFont("Liberation Sans", -20);
    Scene plain(lf, 80);
    lf.lfUnderline = 1;
    Scene underlined(lf, 80);
    lf.lfUnderline = 0;
    lf.lfStrikeOut = 1;
    Scene struck(lf, 80);
    EXPECT_EQ(underlined.tm.tmUnderlined, 255);
    EXPECT_EQ(struck.tm.tmStruckOut, 255);
    gdi::SIZE extent;
    plain.dc.getTextExtentPoint("i i", 3, &extent);
    auto solidRows = [&](Scene& scene) {
        const auto rows = drawText(scene.dc, 0, "i i", 80);
        std::vector<int> solid;
        for (int y = 0; y < scene.tm.tmHeight; ++y)
            if (rows[y].substr(0, extent.cx) == std::string(extent.cx, '#') && rows[y][extent.cx] == '.')
                solid.push_back(y);
        return solid;
    };
    EXPECT_TRUE(solidRows(plain).empty());
    const auto under = solidRows(underlined);
    ASSERT_FALSE(under.empty());
    EXPECT_GE(under.front(), plain.tm.tmAscent);  // below the baseline
    const auto strike = solidRows(struck);
    ASSERT_FALSE(strike.empty());
    EXPECT_LT(strike.back(), plain.tm.tmAscent);  // above it
}
