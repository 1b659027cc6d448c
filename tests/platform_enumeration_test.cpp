// The font catalogue and the two enumeration calls over the test fonts: order, names, character
// sets per style, what the enumeration callbacks of the font list make of them, and the older path.
#include "platform_test_support.h"

#include "platform/FontCatalog.h"
#include "platform/FontEnumeration.h"
#include "run/FontList.h"

#include <gtest/gtest.h>


#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

using namespace platform_test;

namespace {

struct Seen {
    std::string face, fullName, style, script;
    int charset, weight, italic, pitchAndFamily;
    gdi::DWORD type;
};

int record(const gdi::ENUMLOGFONTEX* elf, const gdi::TEXTMETRIC*, gdi::DWORD type, gdi::LPARAM lParam)
{
    auto& seen = *reinterpret_cast<std::vector<Seen>*>(lParam);
    seen.push_back({elf->elfLogFont.lfFaceName, elf->elfFullName, elf->elfStyle, elf->elfScript,
                    elf->elfLogFont.lfCharSet, elf->elfLogFont.lfWeight, elf->elfLogFont.lfItalic,
                    elf->elfLogFont.lfPitchAndFamily, type});
    return 1;
}

std::vector<Seen> enumerate(const char* face, int charset = gdi::DEFAULT_CHARSET)
{
    gdi::DeviceContext dc;
    gdi::LOGFONT lf{};
    lf.lfCharSet = static_cast<gdi::BYTE>(charset);
    std::strncpy(lf.lfFaceName, face, gdi::LF_FACESIZE - 1);
    std::vector<Seen> seen;
    EXPECT_EQ(gdi::EnumFontFamiliesExA(dc, &lf, record, reinterpret_cast<gdi::LPARAM>(&seen), 0), 1);
    return seen;
}

using Sets = std::vector<int>;
const Sets kDejaVuSansFull = {0, 161, 162, 163, 177, 178, 186, 204, 238, 255};
const Sets kDejaVuSansOblique = {0, 161, 162, 163, 177, 186, 204, 238, 255};
const Sets kDejaVuSansMono = {0, 161, 162, 163, 178, 186, 204, 238, 255};
const Sets kWesternAndNeighbours = {0, 161, 162, 186, 204, 238, 255};

struct Style {
    const char* fullName;
    Sets charsets;
};
// The test fonts' styles in enumeration order: families by name, styles by weight, then italic.
const std::vector<Style> kStyles = {
    {"DejaVu Sans", kDejaVuSansFull},
    {"DejaVu Sans Oblique", kDejaVuSansOblique},
    {"DejaVu Sans Bold", kDejaVuSansFull},
    {"DejaVu Sans Bold Oblique", kDejaVuSansOblique},
    {"DejaVu Sans Mono", kDejaVuSansMono},
    {"DejaVu Serif", kWesternAndNeighbours},
    {"Liberation Mono", kWesternAndNeighbours},
    {"Liberation Sans", kWesternAndNeighbours},
    {"Liberation Sans Bold", kWesternAndNeighbours},
    {"Liberation Serif", kWesternAndNeighbours},
};

}  // namespace

TEST(PlatformEnumeration, CatalogueOfTheTestFonts)
{
    ASSERT_TRUE(testFontsInstalled());
    const auto& faces = gdi::FontCatalog::instance().faces();
    ASSERT_EQ(faces.size(), kStyles.size());
    for (size_t i = 0; i < faces.size(); ++i) {
        EXPECT_EQ(faces[i].fullName, kStyles[i].fullName) << i;
        EXPECT_EQ(faces[i].charsets, kStyles[i].charsets) << faces[i].fullName;
    }
    const gdi::FaceInfo& book = faces[0];
    EXPECT_EQ(book.family, "DejaVu Sans");
    EXPECT_EQ(book.style, "Book");
    EXPECT_EQ(book.postscriptName, "DejaVuSans");
    EXPECT_EQ(book.weight, 400);
    EXPECT_FALSE(book.italic);
    EXPECT_FALSE(book.symbol);
    EXPECT_NE(book.file.find("DejaVuSans.ttf"), std::string::npos);
    EXPECT_EQ(faces[3].style, "Bold Oblique");
    EXPECT_EQ(faces[3].weight, 700);
    EXPECT_TRUE(faces[3].italic);
}

TEST(PlatformEnumeration, FamiliesOnePerCharacterSet)
{
    ASSERT_TRUE(testFontsInstalled());
    const std::vector<Seen> seen = enumerate("");
    // Each family once per character set its styles support, sets ascending, named by the family's
    // first style.
    const std::vector<std::pair<std::string, Sets>> families = {
        {"DejaVu Sans", kDejaVuSansFull},      {"DejaVu Sans Mono", kDejaVuSansMono},
        {"DejaVu Serif", kWesternAndNeighbours}, {"Liberation Mono", kWesternAndNeighbours},
        {"Liberation Sans", kWesternAndNeighbours}, {"Liberation Serif", kWesternAndNeighbours}};
    size_t at = 0;
    for (const auto& [family, sets] : families) {
        for (const int cs : sets) {
            ASSERT_LT(at, seen.size());
            EXPECT_EQ(seen[at].face, family);
            EXPECT_EQ(seen[at].fullName, family);
            EXPECT_EQ(seen[at].charset, cs);
            EXPECT_EQ(seen[at].type, gdi::TRUETYPE_FONTTYPE);
            ++at;
        }
    }
    EXPECT_EQ(at, seen.size());

    // A character set other than DEFAULT_CHARSET selects it alone.
    const std::vector<Seen> hebrew = enumerate("", gdi::HEBREW_CHARSET);
    ASSERT_EQ(hebrew.size(), 1u);
    EXPECT_EQ(hebrew[0].face, "DejaVu Sans");
    EXPECT_EQ(hebrew[0].script, "Hebrew");
}

TEST(PlatformEnumeration, StylesWithTheirCharacterSetsTogether)
{
    ASSERT_TRUE(testFontsInstalled());
    const std::vector<Seen> seen = enumerate("dejavu sans");  // names compare without case
    size_t at = 0;
    for (size_t style = 0; style < 4; ++style) {
        for (const int cs : kStyles[style].charsets) {
            ASSERT_LT(at, seen.size());
            const Seen& s = seen[at++];
            EXPECT_EQ(s.face, "DejaVu Sans");
            EXPECT_EQ(s.fullName, kStyles[style].fullName);
            EXPECT_EQ(s.charset, cs);
        }
    }
    EXPECT_EQ(at, seen.size());
    EXPECT_EQ(seen.front().style, "Book");
    EXPECT_EQ(seen.front().script, "Western");
    EXPECT_EQ(seen.back().style, "Bold Oblique");
    EXPECT_EQ(seen.back().script, "OEM/DOS");
    EXPECT_EQ(seen.back().weight, 700);
    EXPECT_EQ(seen.back().italic, 255);
    // LOGFONT pitch values: variable (2) for a proportional face, fixed (1) for a monospaced one.
    EXPECT_EQ(seen.front().pitchAndFamily, 2 | gdi::FF_SWISS);
    EXPECT_EQ(enumerate("DejaVu Sans Mono").front().pitchAndFamily, 1 | gdi::FF_MODERN);
    // A face's full name selects that face alone; an unknown name selects nothing.
    EXPECT_EQ(enumerate("DejaVu Sans Bold").size(), kDejaVuSansFull.size());
    EXPECT_TRUE(enumerate("No Such Face").empty());
}

TEST(PlatformEnumeration, AgreesWithTheReferenceGdi)
{
    ASSERT_TRUE(testFontsInstalled());
    // Reference style lines: "  style <TAB> face <TAB> full <TAB> style <TAB> charset=N <TAB> weight=W <TAB> italic=I ..."
    std::map<std::tuple<std::string, std::string, std::string>, std::tuple<std::set<int>, int, int>> reference;
    std::ifstream in(dataFile("gdi-enumeration.txt"));
    ASSERT_TRUE(in);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("  style\t", 0) != 0)
            continue;
        std::vector<std::string> f;
        std::istringstream s(line.substr(8));
        for (std::string field; std::getline(s, field, '\t');)
            f.push_back(field);
        ASSERT_GE(f.size(), 6u);
        auto& [sets, weight, italic] = reference[{f[0], f[1], f[2]}];
        sets.insert(std::stoi(f[3].substr(8)));
        weight = std::stoi(f[4].substr(7));
        italic = std::stoi(f[5].substr(7));
    }
    ASSERT_FALSE(reference.empty());

    std::map<std::tuple<std::string, std::string, std::string>, std::tuple<std::set<int>, int, int>> ours;
    for (const gdi::FaceInfo& family : gdi::FontCatalog::instance().faces())
        for (const Seen& s : enumerate(family.family.c_str())) {
            auto& [sets, weight, italic] = ours[{s.face, s.fullName, s.style}];
            sets.insert(s.charset);
            weight = s.weight;
            italic = s.italic;
        }
    ASSERT_EQ(ours.size(), kStyles.size());
    for (auto& [key, value] : ours) {
        SCOPED_TRACE(std::get<1>(key));
        ASSERT_TRUE(reference.count(key));
        // We add OEM_CHARSET for faces covering the MS-DOS code pages; that GDI lists none.
        std::get<0>(value).erase(gdi::OEM_CHARSET);
        EXPECT_EQ(value, reference.at(key));
    }
}

TEST(PlatformEnumeration, StopsWhenTheCallbackSaysSo)
{
    ASSERT_TRUE(testFontsInstalled());
    gdi::DeviceContext dc;
    int calls = 0;
    gdi::LOGFONT lf{};
    lf.lfCharSet = gdi::DEFAULT_CHARSET;
    auto stop = [](const gdi::ENUMLOGFONTEX*, const gdi::TEXTMETRIC*, gdi::DWORD, gdi::LPARAM p) {
        ++*reinterpret_cast<int*>(p);
        return 0;
    };
    EXPECT_EQ(gdi::EnumFontFamiliesExA(dc, &lf, stop, reinterpret_cast<gdi::LPARAM>(&calls), 0), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(gdi::EnumFontFamiliesA(dc, "Liberation Sans", stop, reinterpret_cast<gdi::LPARAM>(&calls)), 0);
    EXPECT_EQ(calls, 2);
}

TEST(PlatformEnumeration, FontListOneEntryPerStyleOnBothPaths)
{
    ASSERT_TRUE(testFontsInstalled());
    std::vector<qf::FontListEntry> fonts;
    gdi::SetOsMajorVersionOverride(6);
    qf::BuildFontList(fonts, gdi::OsMajorVersion());
    ASSERT_EQ(fonts.size(), kStyles.size());
    for (size_t i = 0; i < fonts.size(); ++i) {
        EXPECT_EQ(fonts[i].name, kStyles[i].fullName);
        EXPECT_EQ(std::vector<int>(fonts[i].charsets.begin(), fonts[i].charsets.end()), kStyles[i].charsets);
    }
    EXPECT_STREQ(fonts[2].logFont.lfFaceName, "DejaVu Sans");
    EXPECT_EQ(fonts[2].logFont.lfWeight, 700);

    // The older call: one report per style with its first character set.
    gdi::SetOsMajorVersionOverride(3);
    EXPECT_EQ(gdi::OsMajorVersion(), 3u);
    qf::BuildFontList(fonts, gdi::OsMajorVersion());
    gdi::SetOsMajorVersionOverride(0);
    ASSERT_EQ(fonts.size(), kStyles.size());
    for (size_t i = 0; i < fonts.size(); ++i) {
        EXPECT_EQ(fonts[i].name, kStyles[i].fullName);
        EXPECT_EQ(fonts[i].charsets, std::vector<int32_t>{0});
    }
}

TEST(PlatformEnumeration, OsMajorVersionIsTheGdisNotTheKernels)
{
    // Whatever kernel the host runs, the extended enumeration is taken.
    gdi::SetOsMajorVersionOverride(0);
    EXPECT_EQ(gdi::OsMajorVersion(), gdi::kGdiMajorVersion);
    EXPECT_GE(gdi::OsMajorVersion(), 4u);
    gdi::SetOsMajorVersionOverride(3);
    EXPECT_EQ(gdi::OsMajorVersion(), 3u);
    gdi::SetOsMajorVersionOverride(0);
}

TEST(PlatformCatalog, OrderAndMatchingRules)
{
    auto face = [](std::string family, std::string style, int weight, bool italic) {
        gdi::FaceInfo f;
        f.family = std::move(family);
        f.style = style;
        f.fullName = f.family + " " + style;
        f.weight = weight;
        f.italic = italic;
        f.charsets = {0};
        return f;
    };
    const std::string longFamily = "An Uncommonly Long Family Name Here";  // 35 bytes
    const gdi::FontCatalog catalog({face("gamma", "Regular", 400, false), face("Beta", "Bold", 700, false),
                                    face("alpha", "Bold", 700, false), face("alpha", "Italic", 400, true),
                                    face("alpha", "Regular", 400, false), face("alpha", "Light", 300, false),
                                    face(longFamily.substr(0, 31), "Regular", 400, false)});
    std::vector<std::string> order;
    for (const auto& f : catalog.faces())
        order.push_back(f.fullName);
    EXPECT_EQ(order, (std::vector<std::string>{"alpha Light", "alpha Regular", "alpha Italic", "alpha Bold",
                                               longFamily.substr(0, 31) + " Regular", "Beta Bold",
                                               "gamma Regular"}));

    EXPECT_EQ(catalog.match("ALPHA", 400, false)->style, "Regular");
    EXPECT_EQ(catalog.match("alpha", 600, false)->style, "Bold");
    EXPECT_EQ(catalog.match("alpha", 0, true)->style, "Italic");
    EXPECT_EQ(catalog.match("alpha", 700, true)->style, "Bold");  // nearest: bold, italic synthesised
    EXPECT_EQ(catalog.match("alpha", 250, false)->style, "Light");
    // A name cut to 31 bytes for lfFaceName still finds its face, and so does the whole name.
    EXPECT_EQ(catalog.match(longFamily.substr(0, 31), 400, false)->family, longFamily.substr(0, 31));
    EXPECT_EQ(catalog.match(longFamily, 400, false)->family, longFamily.substr(0, 31));
    EXPECT_EQ(catalog.match("alpha Italic", 400, false)->style, "Italic");  // a full name
    // Nothing here is a known substitute: an unknown family ends at the first face.
    EXPECT_EQ(catalog.match("No Such Face", 400, false)->family, "alpha");
    EXPECT_EQ(gdi::FontCatalog({}).match("alpha", 400, false), nullptr);
}

TEST(PlatformCatalog, UnknownFacesGoToTheDefaultFace)
{
    ASSERT_TRUE(testFontsInstalled());
    const gdi::FontCatalog& catalog = gdi::FontCatalog::instance();
    EXPECT_EQ(catalog.match("No Such Face", 400, false)->fullName, "Liberation Sans");
    EXPECT_EQ(catalog.match("No Such Face", 700, false)->fullName, "Liberation Sans Bold");
    EXPECT_EQ(catalog.match("", 400, false)->fullName, "Liberation Sans");
    EXPECT_EQ(catalog.match("DejaVu Sans", 700, true)->fullName, "DejaVu Sans Bold Oblique");
    EXPECT_EQ(catalog.match("Liberation Sans", 400, true)->fullName, "Liberation Sans");
}

TEST(PlatformCatalog, OneFacePerStylePreferringTrueTypeFiles)
{
    auto face = [](std::string family, std::string style, std::string file) {
        gdi::FaceInfo f;
        f.family = std::move(family);
        f.style = std::move(style);
        f.file = std::move(file);
        return f;
    };
    const auto kept = gdi::FontCatalog::oneFacePerStyle({face("Sample", "Bold", "/b/sample.ttc"),
                                                         face("Sample", "Regular", "/z/sample.pfb.woff"),
                                                         face("SAMPLE", "bold", "/c/SampleBold.TTF"),
                                                         face("Sample", "Regular", "/y/sample.otf"),
                                                         face("Sample", "Regular", "/a/sample.woff2"),
                                                         face("Other", "Regular", "/o/other.ttc")});
    ASSERT_EQ(kept.size(), 3u);
    std::set<std::string> files;
    for (const auto& f : kept)
        files.insert(f.file);
    EXPECT_EQ(files, (std::set<std::string>{"/c/SampleBold.TTF", "/y/sample.otf", "/o/other.ttc"}));
}
