// The font library's layout byte for byte, around FNT images built from synthetic glyphs.
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "tests/FreeTypeReader.h"
#include "testkit/TestGlyphSource.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using qf::FonWriter;
using qf::OutputSink;
using qf::test::le16;
using qf::test::le32;
using qf::test::put16;
using qf::test::put32;
using qf::test::TestGlyphSource;

void putText(std::vector<uint8_t>& b, size_t at, const std::string& text)
{
    std::memcpy(&b.at(at), text.data(), text.size());
}

// A small real FNT image: characters 0x41 to 0x43, cell height growing with the size.
OutputSink fntImage(const char* face, int points, int res = 96)
{
    TestGlyphSource source(TestGlyphSource::metricsFor(0x41, 0x43, points + 2, points / 2, points));
    source.setGlyph(0x41, points / 2, {"#", "##", "###"});
    source.setGlyph(0x42, points, {std::string(points, '#')});
    source.setGlyph(0x43, 0);
    OutputSink slot;
    const qf::WriteProblem problem = qf::FntBuilder::pack(source, qf::test::requestFor(face, points, res, res), slot);
    EXPECT_FALSE(problem) << problem.text;
    return slot;
}

// An image of any length with just the header facts the library repeats.
OutputSink plainImage(uint32_t length, const char* face, int points)
{
    OutputSink slot;
    std::vector<uint8_t> b(std::max<size_t>(length, 118 + std::strlen(face) + 1), 0);
    put16(b, 0, 0x0200);
    put32(b, 2, length);
    put16(b, 68, uint32_t(points));
    put16(b, 70, 96);
    put16(b, 72, 96);
    put32(b, 105, 118);
    putText(b, 118, face);
    slot.append(b.data(), length);
    return slot;
}

struct Library {
    std::vector<uint8_t> bytes;
    uint32_t length = 0;
    bool ok = false;
    bool overBudget = false;
    std::string error;
};

Library build(const std::vector<OutputSink>& entries, int count = -1)
{
    Library out;
    qf::OutputSink library;
    const qf::WriteProblem problem =
        FonWriter::build(std::span(entries).first(count < 0 ? entries.size() : size_t(count)), library);
    out.ok = !problem;
    out.overBudget = problem.kind == qf::WriteProblem::Kind::NeedsConsent;
    out.error = problem.text;
    out.length = static_cast<uint32_t>(library.size());
    out.bytes.assign(library.data(), library.data() + library.size());
    return out;
}

std::string description(const Library& fon)
{
    const uint32_t at = le32(fon.bytes, 128 + 44);
    return std::string(reinterpret_cast<const char*>(&fon.bytes.at(at + 1)), fon.bytes.at(at));
}

uint32_t directoryOffset(const Library& fon) { return 16 * le16(fon.bytes, 202); }

TEST(FonLayout, WorkedLayoutOfFourSizesByteForByte)
{
    std::vector<OutputSink> entries;
    for (int points : {8, 10, 12, 14})
        entries.push_back(fntImage("Arial", points));
    const Library fon = build(entries);
    ASSERT_TRUE(fon.ok) << fon.error;

    std::vector<uint32_t> fontOffsets;
    uint32_t end = 832;
    for (const OutputSink& s : entries) {
        fontOffsets.push_back(end);
        end += (s.size() + 15) / 16 * 16;
    }
    std::vector<uint8_t> expected(end, 0);
    // MS-DOS header.
    const uint16_t dos[] = {0x5A4D, 0x00F1, 1, 0, 4, 0, 0xFFFF, 0, 0x00B8, 0, 0, 0, 0x0040, 0};
    for (size_t i = 0; i < std::size(dos); ++i)
        put16(expected, 2 * i, dos[i]);
    put32(expected, 60, 128);
    // MS-DOS stub.
    const uint8_t code[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    std::memcpy(&expected[64], code, sizeof code);
    putText(expected, 78, "This program cannot be run in DOS mode.\r\n$");
    // NE header.
    putText(expected, 128, "NE");
    expected[130] = 5;
    expected[131] = 60;
    put16(expected, 132, 164);         // ne_enttab
    put16(expected, 134, 1);           // ne_cbenttab
    put16(expected, 140, 0x8300);      // ne_flags
    put16(expected, 160, 38);          // ne_cbnrestab
    put16(expected, 162, 0x40);        // ne_segtab
    put16(expected, 164, 0x40);        // ne_rsrctab
    put16(expected, 166, 152);         // ne_restab
    put16(expected, 168, 164);         // ne_modtab
    put16(expected, 170, 164);         // ne_imptab
    put32(expected, 172, 293);         // ne_nrestab
    put16(expected, 178, 4);           // ne_align
    expected[182] = 2;                 // ne_exetyp
    put16(expected, 190, 0x0300);      // ne_expver
    // Resource table.
    put16(expected, 192, 4);
    put16(expected, 194, 0x8007);
    put16(expected, 196, 1);
    put16(expected, 202, 21);          // the directory at 336
    put16(expected, 204, 31);          // up to the first font at 832
    put16(expected, 206, 0x0C50);
    put16(expected, 208, 80);
    put16(expected, 214, 0x8008);
    put16(expected, 216, 4);
    for (size_t i = 0; i < 4; ++i) {
        put16(expected, 222 + 12 * i, fontOffsets[i] / 16);
        put16(expected, 224 + 12 * i, (entries[i].size() + 15) / 16);
        put16(expected, 226 + 12 * i, 0x1C30);
        put16(expected, 228 + 12 * i, 0x8010 + uint32_t(i));
    }
    expected[272] = 7;
    putText(expected, 273, "FONTDIR");
    // Resident names, entry table, non-resident names.
    expected[280] = 8;
    putText(expected, 281, "QUENFOLD");
    expected[293] = 34;
    putText(expected, 294, "FONTRES 100,96,96:Arial 8,10,12,14");
    // Font directory.
    put16(expected, 336, 4);
    for (size_t i = 0; i < 4; ++i) {
        const size_t entry = 338 + 122 * i;
        put16(expected, entry, 16 + uint32_t(i));
        std::memcpy(&expected[entry + 2], entries[i].data(), 99);
        put32(expected, entry + 107, le32(std::vector<uint8_t>(entries[i].data(), entries[i].data() + 118), 105));
        putText(expected, entry + 116, "Arial");
    }
    for (size_t i = 0; i < 4; ++i)
        std::memcpy(&expected[fontOffsets[i]], entries[i].data(), entries[i].size());

    EXPECT_EQ(fon.length, end);
    EXPECT_EQ(fon.bytes, expected);

    // FreeType finds the four fonts, in slot order.
    for (long i = 0; i < 4; ++i) {
        const qf::test::ReadFont read = qf::test::readWinFont(fon.bytes.data(), fon.bytes.size(), i);
        ASSERT_EQ(read.error, "") << i;
        EXPECT_EQ(read.numFaces, 4);
        EXPECT_EQ(read.header.nominal_point_size, std::vector<int>({8, 10, 12, 14})[size_t(i)]);
        EXPECT_EQ(read.familyName, "Arial");
    }
}

TEST(FonLayout, OneSize)
{
    std::vector<OutputSink> entries;
    entries.push_back(fntImage("Arial", 12));
    const Library fon = build(entries);
    ASSERT_TRUE(fon.ok) << fon.error;
    EXPECT_EQ(description(fon), "FONTRES 100,96,96:Arial 12");
    EXPECT_EQ(le16(fon.bytes, 208), 44u);              // directory id 12 + 32
    EXPECT_EQ(le16(fon.bytes, 228), 0x8010u);          // the font's id: ordinal 16
    EXPECT_EQ(le16(fon.bytes, directoryOffset(fon) + 2), 16u);
    EXPECT_EQ(fon.length % 16, 0u);
}

TEST(FonLayout, BudgetEdge)
{
    // 8,192 + 57,343 = 65,535: accepted, whatever the lengths are made of.
    std::vector<OutputSink> fits;
    fits.push_back(plainImage(50000, "Edge", 12));
    fits.push_back(plainImage(7343, "Edge", 14));
    const Library ok = build(fits);
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.length % 16, 0u);
    uint32_t position = 16 * le16(ok.bytes, 222);
    for (size_t i = 0; i < fits.size(); ++i) {
        EXPECT_EQ(le16(ok.bytes, 222 + 12 * i), position / 16);
        EXPECT_EQ(le16(ok.bytes, 224 + 12 * i), (fits[i].size() + 15) / 16);
        EXPECT_EQ(std::memcmp(&ok.bytes[position], fits[i].data(), fits[i].size()), 0);
        position += (fits[i].size() + 15) / 16 * 16;
    }
    EXPECT_EQ(position, ok.length);
    EXPECT_EQ(le16(ok.bytes, 202) * 16 + le16(ok.bytes, 204) * 16, 16 * le16(ok.bytes, 222));

    // One byte more: over the budget, a question for the person, and the total in the reason.
    std::vector<OutputSink> over;
    over.push_back(plainImage(50000, "Edge", 12));
    over.push_back(plainImage(7344, "Edge", 14));
    const Library refused = build(over);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.overBudget);
    EXPECT_EQ(refused.length, 0u);
    EXPECT_NE(refused.error.find("65536"), std::string::npos) << refused.error;
}

TEST(FonLayout, LongFaceNameCutInTheDirectoryOnly)
{
    const std::string face = "A Face Name Longer Than Sixty-Four Characters, As Some Fonts Have It";
    ASSERT_GT(face.size(), 64u);
    std::vector<OutputSink> entries;
    entries.push_back(fntImage(face.c_str(), 9));
    entries.push_back(fntImage(face.c_str(), 11));
    const Library fon = build(entries);
    ASSERT_TRUE(fon.ok) << fon.error;
    EXPECT_EQ(description(fon), "FONTRES 100,96,96:" + face + " 9,11");
    size_t entry = directoryOffset(fon) + 2;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fon.bytes[entry + 115], 0);  // no device name
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&fon.bytes[entry + 116])), face.substr(0, 64));
        entry += 116 + 64 + 1;
    }
    EXPECT_EQ(16 * le16(fon.bytes, 222), (entry + 15) / 16 * 16);  // the first font follows
}

TEST(FonLayout, DirectoryAfterTheNamesAtEveryAlignment)
{
    // Face names of 1 to 16 characters move the end of the non-resident names through every
    // position within 16 bytes; the ordinal and the closing zero byte always stay in the table.
    for (int n = 1; n <= 16; ++n) {
        const std::string face(n, 'F');
        std::vector<OutputSink> entries;
        entries.push_back(fntImage(face.c_str(), 10));
        const Library fon = build(entries);
        ASSERT_TRUE(fon.ok) << fon.error;
        const uint32_t table = le32(fon.bytes, 128 + 44);
        const uint32_t d = fon.bytes[table];
        EXPECT_EQ(le16(fon.bytes, 128 + 32), d + 4);
        const uint32_t tableEnd = table + 1 + d + 2 + 1;
        const uint32_t directory = directoryOffset(fon);
        EXPECT_EQ(directory % 16, 0u);
        EXPECT_GE(directory, tableEnd) << n;
        EXPECT_LT(directory - tableEnd, 16u) << n;
        for (uint32_t i = table + 1 + d; i < directory; ++i)
            EXPECT_EQ(fon.bytes[i], 0) << n << " at " << i;
        EXPECT_EQ(le16(fon.bytes, directory), 1u);
        EXPECT_EQ(qf::test::readWinFont(fon.bytes.data(), fon.bytes.size()).error, "") << n;
    }
}

TEST(FonLayout, HeaderAreaGrowsAndDescriptionIsCut)
{
    // Sixty sizes of a face with a long name: the tables and the directory need more than
    // 8,192 bytes, and the description runs past 255.
    const std::string face(100, 'L');
    std::vector<OutputSink> entries;
    for (int points = 3; points < 63; ++points)
        entries.push_back(fntImage(face.c_str(), points));
    const Library fon = build(entries);
    ASSERT_TRUE(fon.ok) << fon.error;

    std::string full = "FONTRES 100,96,96:" + face + " ";
    for (int points = 3; points < 63; ++points)
        full += std::to_string(points) + (points < 62 ? "," : "");
    ASSERT_GT(full.size(), 255u);
    EXPECT_EQ(description(fon), full.substr(0, 255));
    EXPECT_EQ(le16(fon.bytes, 128 + 32), 259u);  // ne_cbnrestab

    const uint32_t firstFont = 16 * le16(fon.bytes, 222);
    EXPECT_GT(firstFont, 8192u);
    for (long i = 0; i < 60; ++i) {
        const qf::test::ReadFont read = qf::test::readWinFont(fon.bytes.data(), fon.bytes.size(), i);
        ASSERT_EQ(read.error, "") << i;
        EXPECT_EQ(read.numFaces, 60);
        EXPECT_EQ(read.header.nominal_point_size, 3 + i);
        EXPECT_EQ(read.glyphs.size(), 3u);
    }
}

TEST(FonLayout, Refusals)
{
    std::vector<OutputSink> none;
    Library fon = build(none, 0);
    EXPECT_FALSE(fon.ok);
    EXPECT_EQ(fon.length, 0u);
    EXPECT_FALSE(fon.error.empty());

    std::vector<OutputSink> entries;
    entries.push_back(fntImage("Arial", 8));
    entries.push_back(OutputSink{});  // no image
    fon = build(entries);
    EXPECT_FALSE(fon.ok);
    EXPECT_NE(fon.error.find("font image 2 of 2"), std::string::npos) << fon.error;

    entries.pop_back();
    entries.push_back(plainImage(100, "", 8));  // too short for a header
    fon = build(entries);
    EXPECT_FALSE(fon.ok);
    EXPECT_EQ(fon.length, 0u);

    entries.pop_back();
    OutputSink unterminated = plainImage(124, "Abcdef", 8);  // the name fills the image to its end
    entries.push_back(std::move(unterminated));
    fon = build(entries);
    EXPECT_FALSE(fon.ok);
    EXPECT_NE(fon.error.find("face name"), std::string::npos) << fon.error;
}

}  // namespace
