// The enumeration callbacks turn the platform's reports into one entry per style.
#include "run/FontList.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using qf::FontEnumContext;
using qf::FontListEntry;

gdi::ENUMLOGFONTEX report(const char* face, const char* full, const char* style, int charset)
{
    gdi::ENUMLOGFONTEX elf{};
    std::strncpy(elf.elfLogFont.lfFaceName, face, sizeof elf.elfLogFont.lfFaceName - 1);
    std::strncpy(elf.elfFullName, full, sizeof elf.elfFullName - 1);
    std::strncpy(elf.elfStyle, style, sizeof elf.elfStyle - 1);
    elf.elfLogFont.lfCharSet = static_cast<gdi::BYTE>(charset);
    elf.elfLogFont.lfHeight = 16;
    elf.elfLogFont.lfWidth = 7;
    elf.elfLogFont.lfWeight = 700;
    elf.elfLogFont.lfItalic = 255;
    elf.elfLogFont.lfPitchAndFamily = 0x22;
    elf.elfLogFont.lfQuality = 3;
    elf.elfLogFont.lfOutPrecision = 3;
    elf.elfLogFont.lfClipPrecision = 2;
    elf.elfLogFont.lfEscapement = 5;
    elf.elfLogFont.lfOrientation = 5;
    return elf;
}

struct Enumeration {
    std::vector<FontListEntry> fonts;
    FontEnumContext context;
    explicit Enumeration(bool extended)
    {
        context.fonts = &fonts;
        context.extended = extended;
    }
    void style(const char* style, int charset, const char* full = "Face Style")
    {
        auto elf = report("Face", full, style, charset);
        qf::EnumStyleProc(&elf, nullptr, gdi::TRUETYPE_FONTTYPE, reinterpret_cast<gdi::LPARAM>(&context));
    }
    void newFamily()
    {
        // What EnumFamilyProc does before it asks for the styles.
        context.lastStyle[0] = '\0';
        context.lastCharset = -1;
        context.currentIndex = -1;
    }
};

TEST(FontListCallbacks, ConsecutiveReportsOfOneStyleMakeOneEntry)
{
    Enumeration e(true);
    e.newFamily();
    e.style("Regular", 0, "Face");
    e.style("Regular", 161, "Face");
    e.style("Regular", 162, "Face");
    e.style("Bold", 0, "Face Bold");
    e.style("Bold", 0, "Face Bold");  // the same set twice in a row is kept once
    e.style("Regular", 204, "Face");  // interleaved: a run of its own
    e.style("Regular", 238, "Face");
    ASSERT_EQ(e.fonts.size(), 3u);
    EXPECT_EQ(e.fonts[0].name, "Face");
    EXPECT_EQ(e.fonts[0].charsets, (std::vector<int32_t>{0, 161, 162}));
    EXPECT_EQ(e.fonts[1].name, "Face Bold");
    EXPECT_EQ(e.fonts[1].charsets, (std::vector<int32_t>{0}));
    EXPECT_EQ(e.fonts[2].charsets, (std::vector<int32_t>{204, 238}));
}

TEST(FontListCallbacks, EachStyleKeepsEverySetEvenWhenItRepeatsThePreviousStylesLast)
{
    Enumeration e(true);
    e.newFamily();
    e.style("Regular", 0, "Face");
    e.style("Regular", 238, "Face");
    e.style("Bold", 0, "Face Bold");
    e.style("Bold", 238, "Face Bold");
    ASSERT_EQ(e.fonts.size(), 2u);
    EXPECT_EQ(e.fonts[1].charsets, (std::vector<int32_t>{0, 238}));
}

TEST(FontListCallbacks, EntryKeepsIdentityFieldsAndClearsTheRest)
{
    Enumeration e(true);
    e.newFamily();
    e.style("Bold Italic", 238, "Face Bold Italic");
    ASSERT_EQ(e.fonts.size(), 1u);
    const gdi::LOGFONT& lf = e.fonts[0].logFont;
    EXPECT_EQ(lf.lfHeight, 16);
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 255);
    EXPECT_EQ(lf.lfCharSet, 238);
    EXPECT_STREQ(lf.lfFaceName, "Face");
    EXPECT_EQ(lf.lfWidth, 0);
    EXPECT_EQ(lf.lfEscapement, 0);
    EXPECT_EQ(lf.lfOrientation, 0);
    EXPECT_EQ(lf.lfOutPrecision, 0);
    EXPECT_EQ(lf.lfClipPrecision, 0);
    EXPECT_EQ(lf.lfQuality, 0);
    EXPECT_EQ(lf.lfPitchAndFamily, 0);
    EXPECT_EQ(e.fonts[0].selected, 0);
}

TEST(FontListCallbacks, EmptyStyleBeforeFirstEntryIsIgnoredUnderExtendedEnumeration)
{
    Enumeration extended(true);
    extended.newFamily();
    extended.style("", 0);
    extended.style("", 238);
    EXPECT_TRUE(extended.fonts.empty());

    Enumeration older(false);
    older.newFamily();
    older.style("", 0);
    older.style("", 238);
    older.style("Regular", 0);
    older.style("Regular", 161);
    ASSERT_EQ(older.fonts.size(), 4u);  // every report is an entry with one character set
    for (const auto& entry : older.fonts)
        EXPECT_EQ(entry.charsets.size(), 1u);
}

TEST(FontListCallbacks, FullNameIsCutTo63Characters)
{
    Enumeration e(true);
    e.newFamily();
    const std::string longName(63, 'n');
    auto elf = report("Face", (longName + "x").c_str(), "Regular", 0);
    qf::EnumStyleProc(&elf, nullptr, 4, reinterpret_cast<gdi::LPARAM>(&e.context));
    ASSERT_EQ(e.fonts.size(), 1u);
    EXPECT_EQ(e.fonts[0].name, longName);
}

TEST(FontListNames, AnsiBytesBecomeUtf8)
{
    EXPECT_EQ(gdi::ansiToUtf8("Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(gdi::ansiToUtf8("plain"), "plain");
}

}  // namespace
