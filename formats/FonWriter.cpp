#include "formats/FonWriter.h"

#include "formats/ByteWriter.h"
#include "formats/FntBuilder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

namespace qf {

namespace {

constexpr char kModuleName[] = "QUENFOLD";
constexpr int64_t kModuleNameLength = sizeof kModuleName - 1;
constexpr size_t kMaxDescription = 255;       // its length is stored in one byte
constexpr size_t kMaxDirectoryFaceName = 64;  // face names are cut to this in the font directory
constexpr int64_t kNeHeaderOffset = 128;
constexpr int64_t kFirstFontOrdinal = 16;

// Set DS to CS, print the message at offset 14 of the stub (DOS function 9), exit with code 1.
constexpr uint8_t kStubCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
constexpr char kStubMessage[] = "This program cannot be run in DOS mode.";
constexpr uint8_t kStubMessageEnd[] = {0x0D, 0x0A, '$'};

// The font directory repeats each font's header from dfVersion through dfBreakChar.
constexpr size_t kFntDirectoryPrefix = fnt::kDfWidthBytes;

int64_t roundUp16(int64_t value) { return (value + 15) / 16 * 16; }

uint32_t readLe16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
uint32_t readLe32(const uint8_t* p) { return readLe16(p) | readLe16(p + 2) << 16; }

// What the library takes from one FNT image.
struct FontFacts {
    const uint8_t* image = nullptr;
    int64_t length = 0;
    uint32_t face = 0;           // dfFace
    std::string_view faceName;   // the zero-terminated name at dfFace
};

qf::Result<FontFacts> readFacts(const OutputSink& font)
{
    if (font.size() < static_cast<size_t>(FntBuilder::kHeaderSize))
        return qf::Failure{std::to_string(font.size()) + " bytes cannot hold the " +
                           std::to_string(FntBuilder::kHeaderSize) + "-byte header"};
    FontFacts facts;
    facts.image = font.data();
    facts.length = static_cast<int64_t>(font.size());
    facts.face = readLe32(facts.image + fnt::kDfFace);
    if (facts.face >= font.size())
        return qf::Failure{"its face name offset " + std::to_string(facts.face) + " lies past its " +
                           std::to_string(font.size()) + " bytes"};
    const auto* name = reinterpret_cast<const char*>(facts.image + facts.face);
    const void* terminator = std::memchr(name, 0, font.size() - facts.face);
    if (!terminator)
        return qf::Failure{"its face name is not terminated within the image"};
    facts.faceName = std::string_view(name, static_cast<const char*>(terminator) - name);
    return facts;
}

std::string describe(const std::vector<FontFacts>& fonts)
{
    const uint8_t* first = fonts.front().image;
    std::string text = "FONTRES 100," + std::to_string(readLe16(first + fnt::kDfVertRes)) + "," +
                       std::to_string(readLe16(first + fnt::kDfHorizRes)) + ":" +
                       std::string(fonts.front().faceName) + " ";
    for (size_t i = 0; i < fonts.size(); ++i) {
        if (i > 0)
            text += ",";
        text += std::to_string(readLe16(fonts[i].image + fnt::kDfPoints));
        if (text.size() > kMaxDescription)
            break;
    }
    if (text.size() > kMaxDescription)
        text.resize(kMaxDescription);
    return text;
}

// Where everything goes. The tables come first, at positions fixed by the font count c, the
// module name's length m and the description's length d; the font directory and the fonts follow,
// each on a 16-byte boundary. The area before the fonts is as large as they need.
struct LibraryPlan {
    int64_t c = 0;
    int64_t m = 0;
    int64_t d = 0;
    int64_t residentNames = 0;     // NE-relative
    int64_t entryTable = 0;        // NE-relative
    int64_t nonResidentNames = 0;  // a file offset, as every offset below
    int64_t nonResidentEnd = 0;
    int64_t directory = 0;
    int64_t directorySize = 0;
    int64_t firstFont = 0;
    std::vector<int64_t> fontUnits;  // each font's length in 16-byte units
    int64_t end = 0;
};

constexpr int64_t kNeHeaderSize = 64;

LibraryPlan planLibrary(const std::vector<FontFacts>& fonts, const std::string& description)
{
    LibraryPlan plan;
    plan.c = static_cast<int64_t>(fonts.size());
    plan.m = kModuleNameLength;
    plan.d = static_cast<int64_t>(description.size());
    // The resource table: its alignment shift, the directory's type with one entry, the fonts'
    // type with c entries, the end of types and the directory's name.
    plan.residentNames = kNeHeaderSize + 2 + 20 + 8 + 12 * plan.c + 2 + 8;
    plan.entryTable = plan.residentNames + 1 + plan.m + 2 + 1;
    plan.nonResidentNames = kNeHeaderOffset + plan.entryTable + 1;
    plan.nonResidentEnd = plan.nonResidentNames + 1 + plan.d + 2 + 1;
    plan.directory = roundUp16(plan.nonResidentEnd);
    plan.directorySize = 2;
    for (const FontFacts& font : fonts)
        plan.directorySize += 116 + static_cast<int64_t>(std::min(font.faceName.size(), kMaxDirectoryFaceName)) + 1;
    plan.firstFont = roundUp16(plan.directory + plan.directorySize);
    plan.fontUnits.resize(fonts.size());
    plan.end = plan.firstFont;
    for (size_t i = 0; i < fonts.size(); ++i) {
        plan.fontUnits[i] = (fonts[i].length + 15) / 16;
        plan.end += 16 * plan.fontUnits[i];
    }
    return plan;
}

// Whether the writer, having written a block whole, stands where the block should have ended; the
// reason if not.
qf::Status at(const ByteWriter& w, int64_t expected, const char* block)
{
    if (w.position() != static_cast<size_t>(expected))
        return qf::Failure{std::string(block) + " came out ending at byte " + std::to_string(w.position()) +
                           " instead of " + std::to_string(expected)};
    return qf::Status();
}

bool writeDosHeaderAndStub(ByteWriter& w)
{
    w.le16("e_magic", 0x5A4D)
        .le16("e_cblp", 0x00F1)
        .le16("e_cp", 1)
        .le16("e_crlc", 0)
        .le16("e_cparhdr", 4)
        .le16("e_minalloc", 0)
        .le16("e_maxalloc", 0xFFFF)
        .le16("e_ss", 0)
        .le16("e_sp", 0x00B8)
        .le16("e_csum", 0)
        .le16("e_ip", 0)
        .le16("e_cs", 0)
        .le16("e_lfarlc", 0x0040)
        .le16("e_ovno", 0)
        .zeros("e_res, e_oemid, e_oeminfo, e_res2", 32)
        .le32("e_lfanew", kNeHeaderOffset);
    w.bytes("stub code", kStubCode, sizeof kStubCode)
        .bytes("stub message", kStubMessage, sizeof kStubMessage - 1)
        .bytes("stub message end", kStubMessageEnd, sizeof kStubMessageEnd)
        .zeros("stub padding", 8);
    return w.ok();
}

bool writeNeHeader(ByteWriter& w, const LibraryPlan& plan)
{
    w.le16("ne_magic", 0x454E)
        .u8("ne_ver", 5)
        .u8("ne_rev", 60)
        .le16("ne_enttab", plan.entryTable)
        .le16("ne_cbenttab", 1)
        .le32("ne_crc", 0)
        .le16("ne_flags", 0x8300)
        .le16("ne_autodata", 0)
        .le16("ne_heap", 0)
        .le16("ne_stack", 0)
        .le32("ne_csip", 0)
        .le32("ne_sssp", 0)
        .le16("ne_cseg", 0)
        .le16("ne_cmod", 0)
        .le16("ne_cbnrestab", plan.d + 4)
        .le16("ne_segtab", kNeHeaderSize)
        .le16("ne_rsrctab", kNeHeaderSize)
        .le16("ne_restab", plan.residentNames)
        .le16("ne_modtab", plan.entryTable)
        .le16("ne_imptab", plan.entryTable)
        .le32("ne_nrestab", plan.nonResidentNames)
        .le16("ne_cmovent", 0)
        .le16("ne_align", 4)
        .le16("ne_cres", 0)
        .u8("ne_exetyp", 2)
        .u8("ne_flagsothers", 0)
        .le16("ne_pretthunks", 0)
        .le16("ne_psegrefbytes", 0)
        .le16("ne_swaparea", 0)
        .le16("ne_expver", 0x0300);
    return w.ok();
}

// The font directory's resource, then the fonts'.
bool writeResourceTable(ByteWriter& w, const LibraryPlan& plan)
{
    const int64_t directoryNameOffset = 12 * plan.c + 32;  // from the start of the resource table
    w.le16("rscAlignShift", 4)
        .le16("rtTypeID", 0x8007)
        .le16("rtResourceCount", 1)
        .le32("rtReserved", 0)
        .le16("rnOffset", plan.directory / 16)
        .le16("rnLength", plan.firstFont / 16 - plan.directory / 16)
        .le16("rnFlags", 0x0C50)
        .le16("rnID", directoryNameOffset)
        .le16("rnHandle", 0)
        .le16("rnUsage", 0)
        .le16("rtTypeID", 0x8008)
        .le16("rtResourceCount", plan.c)
        .le32("rtReserved", 0);
    int64_t position = plan.firstFont;
    for (size_t i = 0; i < plan.fontUnits.size(); ++i) {
        w.le16("rnOffset", position / 16)
            .le16("rnLength", plan.fontUnits[i])
            .le16("rnFlags", 0x1C30)
            .le16("rnID", 0x8000 + kFirstFontOrdinal + static_cast<int64_t>(i))
            .le16("rnHandle", 0)
            .le16("rnUsage", 0);
        position += 16 * plan.fontUnits[i];
    }
    w.le16("rscEndTypes", 0)
        .u8("rscResourceNameLength", 7)
        .bytes("rscResourceName", "FONTDIR", 7);
    return w.ok();
}

// Resident names (the module), the empty entry table, non-resident names (the description).
bool writeNames(ByteWriter& w, const LibraryPlan& plan, const std::string& description)
{
    w.u8("resident name length", plan.m)
        .bytes("resident name", kModuleName, static_cast<size_t>(plan.m))
        .le16("resident name ordinal", 0)
        .u8("resident names end", 0)
        .u8("entry table", 0)
        .u8("non-resident name length", plan.d)
        .bytes("non-resident name", description.data(), description.size())
        .le16("non-resident name ordinal", 0)
        .u8("non-resident names end", 0);
    return w.ok();
}

// The count, then per font its ordinal and the header facts a loader lists fonts by, without
// loading them.
bool writeDirectory(ByteWriter& w, const LibraryPlan& plan, const std::vector<FontFacts>& fonts)
{
    w.zeros("font directory alignment", static_cast<size_t>(plan.directory - plan.nonResidentEnd))
        .le16("font count", plan.c);
    for (size_t i = 0; i < fonts.size(); ++i) {
        const FontFacts& font = fonts[i];
        const size_t nameLength = std::min(font.faceName.size(), kMaxDirectoryFaceName);
        w.le16("font ordinal", kFirstFontOrdinal + static_cast<int64_t>(i))
            .bytes("dfVersion to dfBreakChar", font.image, kFntDirectoryPrefix)
            .le16("dfWidthBytes", 0)
            .le32("dfDevice", 0)
            .le32("dfFace", font.face)
            .le32("dfReserved", 0)
            .u8("device name", 0)
            .bytes("face name", font.faceName.data(), nameLength)
            .u8("face name end", 0);
    }
    return w.ok();
}

// The fonts, unchanged, each padded to whole 16-byte units.
bool writeFonts(ByteWriter& w, const LibraryPlan& plan, const std::vector<FontFacts>& fonts)
{
    w.zeros("fonts alignment", static_cast<size_t>(plan.firstFont - (plan.directory + plan.directorySize)));
    for (size_t i = 0; i < fonts.size(); ++i)
        w.bytes("font", fonts[i].image, static_cast<size_t>(fonts[i].length))
            .zeros("font padding", static_cast<size_t>(16 * plan.fontUnits[i] - fonts[i].length));
    return w.ok();
}

WriteProblem refuse(std::string why)
{
    return WriteProblem::refused(std::move(why));
}

}  // namespace

WriteProblem FonWriter::build(std::span<const OutputSink> images, OutputSink& out)
{
    out.clear();
    const auto count = static_cast<int64_t>(images.size());
    if (count < 1)
        return refuse("a font library needs at least one font image, and none was given");

    std::vector<FontFacts> fonts(images.size());
    uint64_t lengths = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        qf::Result<FontFacts> facts = readFacts(images[i]);
        if (!facts)
            return refuse("font image " + std::to_string(i + 1) + " of " + std::to_string(count) +
                          " is not a usable FNT resource: " + facts.failure().reason());
        fonts[i] = *facts;
        lengths += images[i].size();
    }

    // The 64 KB budget: the images plus a fixed 8,192 bytes for everything around them.
    const uint64_t total = kHeaderArea + lengths;
    if (total > kBudgetLimit)
        return {WriteProblem::Kind::NeedsConsent,
                "the font library would need " + std::to_string(total) + " bytes (" +
                          std::to_string(kHeaderArea) + " + " + std::to_string(lengths) +
                          " of fonts), more than the " + std::to_string(kBudgetLimit) + " allowed",
                kOverBudgetNotice, kOverBudgetQuestion, {}, {}};

    const std::string description = describe(fonts);
    const LibraryPlan plan = planLibrary(fonts, description);
    uint8_t* image =
        static_cast<uint64_t>(plan.end) <= out.cap() ? out.extend(static_cast<size_t>(plan.end)) : nullptr;
    if (!image)
        return refuse("the font library would need " + std::to_string(plan.end) + " bytes, more than the " +
                      std::to_string(out.cap()) + " allowed");
    ByteWriter w(image, static_cast<size_t>(plan.end));
    // Each block ends where the plan, and the offsets already written into earlier blocks, say.
    // A block whose fields do not fit leaves the writer failed; one that fits must end where planned.
    qf::Status placed;
    const bool made = writeDosHeaderAndStub(w) && (placed = at(w, kNeHeaderOffset, "the MS-DOS header")) &&
                      writeNeHeader(w, plan) && (placed = at(w, kNeHeaderOffset + kNeHeaderSize, "the NE header")) &&
                      writeResourceTable(w, plan) &&
                      (placed = at(w, kNeHeaderOffset + plan.residentNames, "the resource table")) &&
                      writeNames(w, plan, description) && (placed = at(w, plan.nonResidentEnd, "the names")) &&
                      writeDirectory(w, plan, fonts) &&
                      (placed = at(w, plan.directory + plan.directorySize, "the font directory")) &&
                      writeFonts(w, plan, fonts) && (placed = at(w, plan.end, "the font library"));
    if (!made) {
        out.clear();
        return refuse(w.ok() ? placed.failure().reason() : "the font library cannot be written: " + w.error());
    }
    return {};
}

}  // namespace qf
