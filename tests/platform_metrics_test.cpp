// TEXTMETRIC of realised fonts against a real GDI's answers for the Debian test fonts, case by case
// from the reference file: the point font and the rendering font, the lfWidth cases, other
// character sets and an unknown face.
#include "platform_test_support.h"

#include "platform/DeviceContext.h"
#include "platform/FontCatalog.h"
#include "platform/FaceMetrics.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace platform_test;

namespace {

struct Expected {
    std::string face;
    std::map<std::string, long> values;
};

struct Case {
    std::string face;
    int weight = 0, italic = 0, charset = 0, points = 0, xres = 0, yres = 0;
    int dpiX = 96, dpiY = 96;
    int pointHeight = 0;
    Expected point;
    int renderHeight = 0, renderWidth = 0;
    Expected render;
};

Expected parseMetrics(const std::string& line)
{
    // "point face=DejaVu Sans height=11 ascent=9 ..."; the face name runs up to " height=".
    Expected e;
    const size_t faceAt = line.find("face=") + 5;
    const size_t heightAt = line.find(" height=");
    e.face = line.substr(faceAt, heightAt - faceAt);
    std::istringstream rest(line.substr(heightAt + 1));
    std::string field;
    while (rest >> field) {
        const size_t eq = field.find('=');
        e.values[field.substr(0, eq)] = std::stol(field.substr(eq + 1));
    }
    return e;
}

std::vector<Case> readCases()
{
    std::vector<Case> cases;
    std::ifstream in(dataFile("gdi-metrics.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) {
            // "== FACE WEIGHT ITALIC CHARSET POINTS XRES YRES": the face is all but the last six.
            std::vector<std::string> words;
            std::istringstream s(line.substr(3));
            for (std::string w; s >> w;)
                words.push_back(w);
            Case c;
            const size_t n = words.size();
            for (size_t i = 0; i + 6 < n; ++i)
                c.face += (i ? " " : "") + words[i];
            c.weight = std::stoi(words[n - 6]);
            c.italic = std::stoi(words[n - 5]);
            c.charset = std::stoi(words[n - 4]);
            c.points = std::stoi(words[n - 3]);
            c.xres = std::stoi(words[n - 2]);
            c.yres = std::stoi(words[n - 1]);
            cases.push_back(c);
        } else if (line.rfind("dpi ", 0) == 0) {
            std::sscanf(line.c_str(), "dpi %d %d pointfont lfHeight=%d", &cases.back().dpiX, &cases.back().dpiY,
                        &cases.back().pointHeight);
        } else if (line.rfind("point face=", 0) == 0) {
            cases.back().point = parseMetrics(line);
        } else if (line.rfind("render lfHeight=", 0) == 0) {
            std::sscanf(line.c_str(), "render lfHeight=%d lfWidth=%d", &cases.back().renderHeight,
                        &cases.back().renderWidth);
        } else if (line.rfind("render face=", 0) == 0) {
            cases.back().render = parseMetrics(line);
        }
    }
    return cases;
}

std::map<std::string, long> actualValues(const gdi::TEXTMETRIC& tm)
{
    return {{"height", tm.tmHeight},         {"ascent", tm.tmAscent},
            {"descent", tm.tmDescent},       {"intlead", tm.tmInternalLeading},
            {"extlead", tm.tmExternalLeading}, {"avgw", tm.tmAveCharWidth},
            {"maxw", tm.tmMaxCharWidth},     {"weight", tm.tmWeight},
            {"overhang", tm.tmOverhang},     {"aspx", tm.tmDigitizedAspectX},
            {"aspy", tm.tmDigitizedAspectY}, {"first", tm.tmFirstChar},
            {"last", tm.tmLastChar},         {"default", tm.tmDefaultChar},
            {"break", tm.tmBreakChar},       {"italic", tm.tmItalic},
            {"underlined", tm.tmUnderlined}, {"struck", tm.tmStruckOut},
            {"pitchfamily", tm.tmPitchAndFamily}, {"charset", tm.tmCharSet}};
}

// Where we depart from that GDI on purpose: every TrueType text face reports 0x1E..0xFF with
// default 0x1F and break 0x20, and a font realised for OEM_CHARSET keeps it.
void applyDepartures(const Case& c, Expected* e)
{
    e->values["first"] = 0x1E;
    e->values["default"] = 0x1F;
    e->values["break"] = 0x20;
    e->values["last"] = 0xFF;
    if (c.charset == gdi::OEM_CHARSET)
        e->values["charset"] = gdi::OEM_CHARSET;
}

// Whether the style the case asks for is installed in the test configuration. When it is not, the
// font is synthesised from another style, and the widths that depend on the missing face's own
// design (average and maximum width) cannot be the reference's.
bool styleInstalled(const Case& c)
{
    for (const gdi::FaceInfo& f : gdi::FontCatalog::instance().faces())
        if (f.family == c.face && (f.weight > 550) == (c.weight > 550) && f.italic == (c.italic != 0))
            return true;
    return c.face == "No Such Face";
}

void compare(const char* which, const Expected& expected, const gdi::DeviceContext& dc, bool averageComparable,
             bool maximumComparable)
{
    gdi::TEXTMETRIC tm;
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    EXPECT_EQ(dc.currentFont()->faceName(), expected.face) << which;
    const auto actual = actualValues(tm);
    for (const auto& [name, value] : expected.values) {
        if ((!averageComparable && name == "avgw") || (!maximumComparable && name == "maxw"))
            continue;
        ASSERT_TRUE(actual.count(name)) << name;
        EXPECT_EQ(actual.at(name), value) << which << " " << name;
    }
}

}  // namespace

TEST(PlatformMetrics, ReferenceCasesMatchGdi)
{
    ASSERT_TRUE(testFontsInstalled());
    const std::vector<Case> cases = readCases();
    ASSERT_EQ(cases.size(), 78u);
    int compared = 0;
    for (Case c : cases) {
        SCOPED_TRACE(c.face + " " + std::to_string(c.weight) + " " + std::to_string(c.italic) + " cs " +
                     std::to_string(c.charset) + " " + std::to_string(c.points) + "pt " + std::to_string(c.xres) +
                     "x" + std::to_string(c.yres));
        applyDepartures(c, &c.point);
        applyDepartures(c, &c.render);
        const bool widths = styleInstalled(c);

        gdi::DeviceContext dc;
        dc.setResolution(c.dpiX, c.dpiY);
        gdi::LOGFONT lf = logFont(c.face, 10 * c.points, c.weight, c.italic != 0, c.charset);
        auto point = gdi::Font::createPointFontIndirect(lf, dc);
        ASSERT_TRUE(point);
        EXPECT_EQ(point->logFont().lfHeight, c.pointHeight);
        dc.selectObject(point);
        compare("point", c.point, dc, widths, widths);

        lf.lfHeight = c.renderHeight;
        lf.lfWidth = c.renderWidth;
        auto render = gdi::Font::createFontIndirect(lf);
        ASSERT_TRUE(render);
        dc.selectObject(render);
        // With lfWidth the average width is what was asked for, whatever the face.
        compare("render", c.render, dc, widths || c.renderWidth != 0, widths);
        ++compared;
    }
    EXPECT_EQ(compared, 78);
}

TEST(PlatformMetrics, CellHeightAndDefaultHeight)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    // A positive height is the cell: the largest em whose ascent + descent fits it.
    for (int cell : {10, 16, 17, 40, 113}) {
        dc.selectObject(gdi::Font::createFontIndirect(logFont("DejaVu Sans", cell)));
        gdi::TEXTMETRIC tm;
        ASSERT_TRUE(dc.getTextMetrics(&tm));
        EXPECT_LE(tm.tmHeight, cell + 1) << cell;
        EXPECT_GE(tm.tmHeight, cell - 2) << cell;
        EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    }
    // lfHeight 0 is GDI's default cell of 16 pixels.
    gdi::TEXTMETRIC zero, sixteen;
    dc.selectObject(gdi::Font::createFontIndirect(logFont("Liberation Sans", 0)));
    ASSERT_TRUE(dc.getTextMetrics(&zero));
    dc.selectObject(gdi::Font::createFontIndirect(logFont("Liberation Sans", 16)));
    ASSERT_TRUE(dc.getTextMetrics(&sixteen));
    EXPECT_EQ(zero.tmHeight, sixteen.tmHeight);
    EXPECT_EQ(zero.tmAscent, sixteen.tmAscent);
}

TEST(PlatformMetrics, PointFontFollowsTheDeviceResolution)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    gdi::LOGFONT lf = logFont("DejaVu Sans", 100);
    EXPECT_EQ(gdi::Font::createPointFontIndirect(lf, dc)->logFont().lfHeight, -13);
    dc.setResolution(120, 144);
    EXPECT_EQ(gdi::Font::createPointFontIndirect(lf, dc)->logFont().lfHeight, -20);
    dc.setResolution(120, 120);
    EXPECT_EQ(gdi::Font::createPointFontIndirect(lf, dc)->logFont().lfHeight, -16);
    // The digitised aspect is the device's resolution.
    gdi::TEXTMETRIC tm;
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    EXPECT_EQ(tm.tmDigitizedAspectX, 120);
    EXPECT_EQ(tm.tmDigitizedAspectY, 120);
    // The caller's record is a copy: its other fields survive, its height is not touched.
    lf.lfWeight = gdi::FW_BOLD;
    auto font = gdi::Font::createPointFontIndirect(lf, dc);
    EXPECT_EQ(font->logFont().lfWeight, gdi::FW_BOLD);
    EXPECT_EQ(lf.lfHeight, 100);
}

TEST(PlatformMetrics, SyntheticStylesAndUnknownFaces)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    gdi::TEXTMETRIC tm;
    // DejaVu Serif has no bold in the test fonts: GDI emboldens the regular face.
    dc.selectObject(gdi::Font::createFontIndirect(logFont("DejaVu Serif", -16, gdi::FW_BOLD, true)));
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    EXPECT_EQ(dc.currentFont()->faceName(), "DejaVu Serif");
    EXPECT_EQ(tm.tmWeight, gdi::FW_BOLD);
    EXPECT_EQ(tm.tmItalic, 255);
    // Unknown faces go to the default face of their pitch and family.
    gdi::LOGFONT serif = logFont("No Such Serif", -16);
    serif.lfPitchAndFamily = gdi::FF_ROMAN;
    EXPECT_EQ(gdi::Font::createFontIndirect(serif)->faceName(), "Liberation Serif");
    gdi::LOGFONT fixed = logFont("No Such Mono", -16);
    fixed.lfPitchAndFamily = 1 /* FIXED_PITCH */ | gdi::FF_MODERN;
    EXPECT_EQ(gdi::Font::createFontIndirect(fixed)->faceName(), "Liberation Mono");
    // A text face asked for in the symbol character set gives way to the default face, which
    // reports the set it can draw.
    dc.selectObject(gdi::Font::createFontIndirect(logFont("DejaVu Sans", -16, 400, false, gdi::SYMBOL_CHARSET)));
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    EXPECT_EQ(dc.currentFont()->faceName(), "Liberation Sans");
    EXPECT_EQ(tm.tmCharSet, gdi::ANSI_CHARSET);
    // A text set the face does not list keeps the face (its missing characters draw as the box).
    dc.selectObject(gdi::Font::createFontIndirect(logFont("DejaVu Serif", -16, 400, false, gdi::HEBREW_CHARSET)));
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    EXPECT_EQ(dc.currentFont()->faceName(), "DejaVu Serif");
    EXPECT_EQ(tm.tmCharSet, gdi::HEBREW_CHARSET);
}

TEST(PlatformMetrics, AbsurdSizesStayExactAndSafe)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    gdi::TEXTMETRIC tm;
    // A rendering font for 4000 points at 65535 dpi: metrics stay exact (no silent shrinking), so
    // the bitmap a caller sizes from them is refused.
    dc.selectObject(gdi::Font::createFontIndirect(logFont("DejaVu Sans", -3600000)));
    ASSERT_TRUE(dc.getTextMetrics(&tm));
    EXPECT_GT(tm.tmHeight, 4000000);
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_FALSE(gdi::Bitmap::create(10 * 4000, tm.tmHeight));
    gdi::SIZE extent;
    ASSERT_TRUE(dc.getTextExtentPoint("W", 1, &extent));
    EXPECT_GT(extent.cx, 3000000);
    // Drawing such a font draws nothing and touches nothing outside the bitmap.
    dc.selectObject(gdi::Bitmap::create(64, 64));
    EXPECT_TRUE(dc.textOut(0, 0, "W", 1));

    // Extremes of the record itself.
    for (const int height : {std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), -1, 1}) {
        auto font = gdi::Font::createFontIndirect(logFont("Liberation Sans", height, 400, false, 0,
                                                          std::numeric_limits<int>::max()));
        ASSERT_TRUE(font);
        dc.selectObject(font);
        ASSERT_TRUE(dc.getTextMetrics(&tm));
        EXPECT_GE(tm.tmHeight, 1);
        EXPECT_GE(tm.tmMaxCharWidth, 1);
        EXPECT_TRUE(dc.textOut(3, 3, "Ab", 2));
    }
}

TEST(PlatformMetrics, VdmxTableGivesTheExtentsOfASize)
{
    // A table with a "no subset" record GDI passes over, a catch-all 1:1 record, and a group of
    // three sizes from 10 to 20 pixels per em.
    const std::vector<uint8_t> table = {
        0, 1, 0, 1, 0, 2,          // version 1, one group, two ratio records
        0, 1, 1, 1, 1, 0, 0, 0,    // charset 0 (passed over); charset 1, 0:0:0 (any ratio)
        0, 0, 0, 18,               // group offsets
        0, 3, 10, 20,              // three records, sizes 10..20
        0, 10, 0, 9, 0xFF, 0xFD,   // ppem 10: yMax 9, yMin -3
        0, 12, 0, 11, 0xFF, 0xFD,  // ppem 12: yMax 11, yMin -3
        0, 14, 0, 13, 0xFF, 0xFC,  // ppem 14: yMax 13, yMin -4
    };
    gdi::ft::VdmxEntry e;
    ASSERT_TRUE(gdi::ft::vdmxLookup(table.data(), table.size(), -12, &e));
    EXPECT_EQ(e.ppem, 12);
    EXPECT_EQ(e.yMax, 11);
    EXPECT_EQ(e.yMin, -3);
    EXPECT_FALSE(gdi::ft::vdmxLookup(table.data(), table.size(), -11, &e));  // no record of its own
    EXPECT_FALSE(gdi::ft::vdmxLookup(table.data(), table.size(), -25, &e));  // outside the group
    // A cell height takes the record whose extents make it, or the last one that fits.
    ASSERT_TRUE(gdi::ft::vdmxLookup(table.data(), table.size(), 14, &e));
    EXPECT_EQ(e.ppem, 12);
    ASSERT_TRUE(gdi::ft::vdmxLookup(table.data(), table.size(), 16, &e));
    EXPECT_EQ(e.ppem, 12);
    EXPECT_FALSE(gdi::ft::vdmxLookup(table.data(), table.size(), 11, &e));
    // A table cut short anywhere is read only as far as it goes.
    for (size_t n = 0; n < table.size(); ++n) {
        std::vector<uint8_t> cut(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(n));
        gdi::ft::VdmxEntry ignored;
        if (gdi::ft::vdmxLookup(cut.data(), cut.size(), -14, &ignored))
            ADD_FAILURE() << "read past " << n << " bytes";
    }
}
