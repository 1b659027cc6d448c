// Checks an OpenType bitmap font (.otb): an sfnt whose glyphs are bitmap strikes in EBLC/EBDT (or
// Apple's older bloc/bdat, or the colour CBLC/CBDT), with the tables FreeType, HarfBuzz and
// fontconfig read to show it in Pango. What FreeType refuses, or reads into the wrong glyphs, sizes
// or advances, is an error; what it works around is a warning.
//
// The table directory and every offset in it are untrusted: each structure is measured against
// the table holding it before it is read, and the work done on index structures is bounded by the
// file's size, since a hostile file can point many records at the same bytes.
#include "formats/FileCheck.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

namespace {

constexpr uint32_t tagOf(const char (&s)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}

constexpr uint32_t kTrue = tagOf("true"), kOtto = tagOf("OTTO");
constexpr uint32_t kHead = tagOf("head"), kBhed = tagOf("bhed"), kHhea = tagOf("hhea"), kHmtx = tagOf("hmtx"),
                   kVmtx = tagOf("vmtx"), kMaxp = tagOf("maxp"), kCmap = tagOf("cmap"), kName = tagOf("name"),
                   kOs2 = tagOf("OS/2"), kPost = tagOf("post"), kGlyf = tagOf("glyf"), kLoca = tagOf("loca"),
                   kCff = tagOf("CFF "), kCff2 = tagOf("CFF2"), kEblc = tagOf("EBLC"), kEbdt = tagOf("EBDT"),
                   kCblc = tagOf("CBLC"), kCbdt = tagOf("CBDT"), kBloc = tagOf("bloc"), kBdat = tagOf("bdat");

constexpr uint32_t kHeadMagic = 0x5F0F3CF5;
constexpr uint32_t kFileChecksum = 0xB1B0AFBA;

std::string tagText(uint32_t tag)
{
    std::string out = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<char>((tag >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "0x%08X", tag);
            return buffer;
        }
        out += c;
    }
    return out + "'";
}

// A table's name as findings place things in it: the tag, bare.
// How good a subtable is for Unicode: 2 for a full-repertoire one, 1 for a BMP one, 0 for none
// (or one of a format FreeType does not map Unicode with).
int unicodeRank(uint32_t platform, uint32_t encoding, uint32_t format)
{
    int rank = 0;
    if ((platform == 3 && encoding == 10) || (platform == 0 && (encoding == 4 || encoding == 6)))
        rank = 2;
    else if ((platform == 3 && encoding == 1) || (platform == 0 && encoding <= 3))
        rank = 1;
    if (rank != 0 && format != 4 && format != 12 && format != 0 && format != 6 && format != 10 && format != 13)
        rank = 0;
    return rank;
}

std::string tableName(uint32_t tag)
{
    std::string text = tagText(tag);
    return text[0] == '\'' ? text.substr(1, 4) : text;
}

std::string hex(uint64_t value, int digits = 8)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return buffer;
}

std::string num(uint64_t value) { return std::to_string(value); }

// "1 glyph", "2 glyphs"
std::string counted(uint64_t n, std::string_view thing) { return num(n) + " " + std::string(thing) + (n == 1 ? "" : "s"); }
std::string snum(int64_t value) { return std::to_string(value); }

// "field (byte N)"
std::string at(std::string_view what, uint64_t offset) { return std::string(what) + " (" + byteAt(offset) + ")"; }

// A 16.16 version as readers print it: 0x00020000 is "2.0", 0x00005000 "0.5".
std::string version(uint32_t v)
{
    const uint32_t minor = v & 0xFFFF;
    std::string out = num(v >> 16) + ".";
    if (minor == 0)
        return out + "0";
    if (minor % 0x1000 == 0 && minor / 0x1000 < 10)
        return out + num(minor / 0x1000);
    return hex(v);
}

// Pixels as a decimal with two places: how a font-unit length shows at a size.
std::string pixels(uint64_t hundredths) { return num(hundredths / 100) + "." + (hundredths % 100 < 10 ? "0" : "") + num(hundredths % 100); }

void appendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One finding standing for many glyphs or segments with the same fault: the first is described,
// the rest counted, so a broken strike of 60000 glyphs makes one line, not 60000.
class Tally {
public:
    // unit names what is counted, in the singular: "glyph".
    explicit Tally(bool error, const char* unit) : error_(error), unit_(unit) {}

    // Counts one more; describe(where, text) fills the finding the first time only.
    template <class Describe>
    void note(Describe&& describe)
    {
        if (count_++ == 0)
            describe(where_, text_);
    }
    size_t count() const { return count_; }

    void flush(CheckReport& report)
    {
        if (count_ == 0)
            return;
        std::string text = text_;
        if (count_ > 1)
            text += " (and " + num(count_ - 1) + " more " + unit_ + (count_ == 2 ? "" : "s") + " like it)";
        if (error_)
            report.error(where_, text);
        else
            report.warning(where_, text);
        count_ = 0;
        where_.clear();
        text_.clear();
    }

private:
    bool error_;
    const char* unit_;
    size_t count_ = 0;
    std::string where_, text_;
};

struct Entry {
    uint32_t tag = 0, checksum = 0, offset = 0, length = 0;
    size_t record = 0;  // where its directory record is
    size_t usable = 0;  // the bytes readers take from it; 0 when they skip it
    bool valid = false;
};

// A table as FreeType finds it: the first valid directory entry of the tag, a zero-length one
// counting as missing.
struct Table {
    uint32_t tag = 0;
    size_t offset = 0;
    size_t length = 0;
    bool present() const { return length != 0; }
    size_t end() const { return offset + length; }
};

// Glyph metrics as EBDT and EBLC hold them, small (5 bytes) or big (8).
struct GlyphMetrics {
    uint32_t height = 0, width = 0, advance = 0;
    int32_t bearingX = 0, bearingY = 0;
};

// A compound glyph's components, checked once the whole strike is known.
struct Compound {
    uint32_t glyph;
    size_t components;  // where the component records start
    uint32_t count;
    uint32_t width, height;  // the box FreeType draws the components into
};

// One strike as its bitmapSizeTable gives it, and what checking its glyphs gathers: the findings
// many glyphs share are tallied here and reported once the strike is done.
struct Strike {
    Strike(const Table& loc_, const Table& data_, const std::string& locName_, const std::string& dataName_, bool colour_,
           uint32_t index_)
        : loc(loc_), data(data_), locName(locName_), dataName(dataName_), colour(colour_), index(index_),
          name(locName_ + ", bitmapSizeTable " + num(index_)), record(loc_.offset + 8 + 48 * size_t{index_}), where(at(name, record))
    {
    }

    const Table& loc;
    const Table& data;
    const std::string& locName;
    const std::string& dataName;
    const bool colour;
    const uint32_t index;
    const std::string name;  // "EBLC, bitmapSizeTable 3"
    const size_t record;
    const std::string where;  // the name with the record's place

    uint64_t arrayOffset = 0, tablesSize = 0, count = 0;
    uint32_t startGlyph = 0, endGlyph = 0, ppemX = 0, depth = 0;
    uint64_t subtablesEnd = 0;  // from the table's start, past the furthest index subtable read
    uint32_t previousLast = 0;  // the last glyph of the subtable before
    bool orderSaid = false;
    size_t covered = 0;  // glyphs given a bitmap

    Tally pastEnd{true, "glyph"}, shortImage{true, "glyph"}, extra{false, "glyph"}, advance{false, "glyph"},
        twice{false, "glyph"}, backwards{true, "glyph"}, component{true, "component"}, png{false, "glyph"},
        aligned{false, "glyph"};
};

// One index subtable of a strike: the glyphs it covers and where their images are.
struct IndexSubtable {
    std::string name;   // "EBLC, bitmapSizeTable 3, index subtable 2"
    std::string where;  // the name with its header's place
    uint64_t headerAt = 0;  // from the location table's start
    size_t header = 0;
    uint32_t first = 0, last = 0;
    uint64_t n = 0;  // glyphs first to last
    uint32_t indexFormat = 0, imageFormat = 0;
    uint64_t imageData = 0, imageSize = 0, sparse = 0;
    GlyphMetrics shared;  // what index formats 2 and 5 give all their glyphs
};

class OtbCheck {
public:
    OtbCheck(std::span<const uint8_t> bytes, CheckReport& report)
        : bytes_(bytes), report_(report), r_(bytes), budget_(8 * bytes.size() + (size_t{1} << 20)),
          lookupBudget_(2 * bytes.size() + (size_t{1} << 20))
    {
    }

    void run();

private:
    bool readDirectory();
    // The directory's records (the first n), its tags given twice, and the tables that overlap
    // each other or the directory (which ends at directoryEnd).
    void readDirectoryRecords(size_t n);
    void checkDuplicateTags();
    void checkOverlaps(size_t directoryEnd);
    void checkChecksums();
    Table find(uint32_t tag) const;
    // Why a table is not there: "missing", "empty", or cut off by the end of the file.
    std::string absent(uint32_t tag) const;
    void checkHead();
    void checkMaxp();
    void checkHhea();
    void checkHmtx();
    // The cmap's header: false when the table has none to read; records, the encoding records
    // it holds.
    bool readCmapHeader(uint32_t& records);
    void checkCmap();
    // Each answers whether FreeType keeps the subtable.
    bool checkCmapFormat4(size_t sub, const std::string& where, bool chosen);
    // Format 4's header: false when FreeType ignores the subtable; segments, its segment count.
    bool readCmapFormat4Header(size_t sub, const std::string& where, uint32_t& segments);
    bool checkCmapFormat12(size_t sub, const std::string& where, bool chosen);
    // The formats FreeType reads but does not map Unicode with (and any other): whether it keeps
    // the subtable, its faults tallied.
    bool checkCmapSubtable(size_t sub, uint32_t format, const std::string& subWhere, Tally& unknown, Tally& tooLong);
    void checkName();
    void checkOs2();
    void checkPost();
    void checkOutlines();
    void checkBitmaps();
    void checkStrikes(const Table& loc, const Table& data, bool listFonts);
    // The strikes the header lets FreeType read, 0 when it reads none.
    uint32_t strikeCount(const Table& loc, const Table& data, const std::string& locName, const std::string& dataName,
                         bool colour);
    // Each answers whether the strike's or subtable's glyphs are read on.
    bool readStrikeRecord(Strike& st, bool listFonts);
    bool readIndexSubtable(Strike& st, uint64_t i, IndexSubtable& sub);
    bool readIndexHeader(Strike& st, IndexSubtable& sub);
    void walkIndexSubtable(Strike& st, const IndexSubtable& sub);
    // Checks one glyph's image: its place in the data table, its metrics and its size.
    void checkGlyphImage(Strike& st, const IndexSubtable& sub, uint32_t glyph, uint64_t start, uint64_t length, size_t locatedAt);
    uint64_t imageBytesNeeded(Strike& st, uint32_t imageFormat, uint32_t glyph, const GlyphMetrics& m, size_t p, size_t q,
                              uint64_t body, uint64_t byteAligned, uint64_t bitAligned);
    void checkBitmapAdvance(Strike& st, uint32_t glyph, uint32_t bitmapAdvance, size_t p);
    std::string imageWhere(const Strike& st, uint32_t glyph, size_t offset);
    void checkCompounds(Strike& st);
    // Reports the strike's tallies and the glyphs it gives no bitmap.
    void finishStrike(Strike& st);

    uint32_t u8(size_t offset) { return r_.seek(offset).u8("byte"); }
    uint32_t u16(size_t offset) { return r_.seek(offset).be16("16-bit field"); }
    uint32_t u32(size_t offset) { return r_.seek(offset).be32("32-bit field"); }
    int32_t s8(size_t offset) { return r_.seek(offset).s8("byte"); }
    int32_t s16(size_t offset) { return r_.seek(offset).sbe16("16-bit field"); }
    uint32_t sum(size_t offset, size_t length) const;

    // Spends n units of the work allowance; past it, says so once and answers false.
    bool spend(size_t n, const std::string& where);
    // "glyph 36 'A'": the glyph with the first character the Unicode cmap maps to it.
    std::string glyphName(uint32_t glyph);
    bool hmtxAdvance(uint32_t glyph, uint32_t& advance);
    std::string decodeName(size_t offset, size_t length, uint32_t platform);

    std::span<const uint8_t> bytes_;
    CheckReport& report_;
    ByteReader r_;
    size_t budget_;
    bool overBudget_ = false;

    uint32_t sfntVersion_ = 0;
    std::vector<Entry> entries_;
    Table head_, hhea_, hmtx_, maxp_, cmap_, name_, os2_, post_;

    bool headOk_ = false;
    uint32_t unitsPerEm_ = 0;
    int32_t indexToLocFormat_ = 0;
    bool maxpOk_ = false;
    uint32_t numGlyphs_ = 0;
    bool hheaOk_ = false;
    uint32_t numberOfHMetrics_ = 0;
    uint32_t advanceWidthMax_ = 0;
    bool hmtxOk_ = false;
    bool hmtxClipped_ = false;  // its directory length ran past the file

    // The Unicode cmap subtable glyph names are looked up in.
    uint32_t unicodeFormat_ = 0;
    size_t unicodeSubtable_ = 0;
    size_t cmapEnd_ = 0;
    int namesLookedUp_ = 0;
    size_t lookupBudget_ = 0;  // reads the reverse look-ups may still make

    std::string family_, subfamily_;
    std::vector<uint32_t> stamps_;  // per glyph, the strike that last gave it a bitmap
    std::vector<uint16_t> sizes_;   // per glyph, its bitmap's width and height in that strike
    uint32_t stamp_ = 0;
    std::vector<Compound> compounds_;
};

uint32_t OtbCheck::sum(size_t offset, size_t length) const
{
    // Big-endian words, the last padded with zeros; the caller has checked the range.
    uint32_t total = 0;
    const uint8_t* p = bytes_.data() + offset;
    size_t i = 0;
    for (; i + 4 <= length; i += 4)
        total += static_cast<uint32_t>(p[i]) << 24 | static_cast<uint32_t>(p[i + 1]) << 16 |
                 static_cast<uint32_t>(p[i + 2]) << 8 | p[i + 3];
    uint32_t last = 0;
    for (size_t k = 0; k < 4; ++k)
        last = last << 8 | (i + k < length ? p[i + k] : 0);
    return i < length ? total + last : total;
}

bool OtbCheck::spend(size_t n, const std::string& where)
{
    if (n <= budget_) {
        budget_ -= n;
        return true;
    }
    budget_ = 0;
    if (!overBudget_) {
        overBudget_ = true;
        report_.error(where, "the index structures point at the same bytes over and over, more lookups than a file "
                             "of " + num(bytes_.size()) + " bytes can hold; the rest was not checked");
    }
    return false;
}

Table OtbCheck::find(uint32_t tag) const
{
    for (const Entry& e : entries_)
        if (e.tag == tag && e.valid && e.usable != 0)
            return Table{tag, e.offset, e.usable};
    return Table{tag, 0, 0};
}

std::string OtbCheck::absent(uint32_t tag) const
{
    std::string why = "missing";
    for (const Entry& e : entries_)
        if (e.tag == tag)
            why = e.valid ? "empty (0 bytes)" : "cut off (its directory entry runs past the end of the file)";
    return why;
}

bool OtbCheck::readDirectory()
{
    const size_t size = bytes_.size();
    if (size < 12) {
        report_.error(byteAt(0), "the file ends at byte " + num(size) + ", inside the 12-byte sfnt header");
        return false;
    }
    sfntVersion_ = u32(0);
    const uint32_t numTables = u16(4), searchRange = u16(6), entrySelector = u16(8), rangeShift = u16(10);
    if (numTables == 0) {
        report_.error(at("numTables", 4), "is 0: the font has no tables");
        return false;
    }
    size_t n = numTables;
    if (12 + 16 * n > size) {
        n = (size - 12) / 16;
        report_.error(at("numTables", 4), "says " + num(numTables) + " tables; the file ends at byte " + num(size) +
                                              ", after the directory records of " + num(n));
        if (n == 0)
            return false;
    }
    uint32_t range = 16, selector = 0;
    while (range * 2 <= numTables * 16) {
        range *= 2;
        ++selector;
    }
    const uint32_t shift = numTables * 16 - range;
    if (searchRange != range || entrySelector != selector || rangeShift != shift)
        report_.warning(at("searchRange, entrySelector, rangeShift", 6),
                        "are " + num(searchRange) + ", " + num(entrySelector) + ", " + num(rangeShift) + "; " +
                            num(numTables) + " tables make them " + num(range) + ", " + num(selector) + ", " + num(shift));

    readDirectoryRecords(n);
    checkDuplicateTags();
    checkOverlaps(12 + 16 * n);
    return true;
}

void OtbCheck::readDirectoryRecords(size_t n)
{
    const size_t size = bytes_.size();
    entries_.reserve(n);
    // A directory that claims more tables than it has reads table data as records: one finding
    // per kind of fault, not one per record.
    Tally badTag(false, "table"), unsorted(false, "table"), pastEnd(true, "table"), unaligned(false, "table");
    for (size_t i = 0; i < n; ++i) {
        Entry e;
        e.record = 12 + 16 * i;
        r_.seek(e.record);
        e.tag = r_.be32("tableTag");
        e.checksum = r_.be32("checkSum");
        e.offset = r_.be32("offset");
        e.length = r_.be32("length");
        auto where = [&] { return at("table directory, entry " + num(i) + " " + tagText(e.tag), e.record); };
        if (tagText(e.tag)[0] != '\'')
            badTag.note([&](std::string& w, std::string& text) {
                w = where();
                text = "the tag has bytes outside printable ASCII";
            });
        if (i > 0 && e.tag < entries_.back().tag)
            unsorted.note([&](std::string& w, std::string& text) {
                w = where();
                text = "the tags are not in ascending order (" + tagText(e.tag) + " follows " + tagText(entries_.back().tag) +
                       "); readers that binary-search the directory miss tables";
            });
        if (e.offset > size || e.length > size - e.offset) {
            if (e.tag == kHmtx || e.tag == kVmtx) {
                // FreeType clips the metrics tables to the file and reads what is there.
                e.valid = e.offset <= size;
                e.usable = e.valid ? (size - e.offset) & ~size_t{3} : 0;
            }
            pastEnd.note([&](std::string& w, std::string& text) {
                w = where();
                text = "the table at byte " + num(e.offset) + ", " + num(e.length) + " bytes long, runs past the end of the file (" +
                       num(size) + " bytes)" + (e.valid ? "; FreeType reads the " + num(e.usable) + " bytes there" : "; FreeType ignores it");
            });
        } else {
            e.valid = true;
            e.usable = e.length;
        }
        if (e.length != 0 && e.offset % 4 != 0)
            unaligned.note([&](std::string& w, std::string& text) {
                w = where();
                text = "the table starts at byte " + num(e.offset) + ", not on a 4-byte boundary";
            });
        entries_.push_back(e);
    }
    badTag.flush(report_);
    unsorted.flush(report_);
    pastEnd.flush(report_);
    unaligned.flush(report_);
}

void OtbCheck::checkDuplicateTags()
{
    // Duplicates: FreeType and HarfBuzz use the first valid entry of a tag.
    std::vector<uint32_t> tags;
    tags.reserve(entries_.size());
    for (const Entry& e : entries_)
        tags.push_back(e.tag);
    std::sort(tags.begin(), tags.end());
    Tally twice(false, "tag");
    for (size_t i = 0; i + 1 < tags.size();) {
        size_t j = i + 1;
        while (j < tags.size() && tags[j] == tags[i])
            ++j;
        if (j - i > 1)
            twice.note([&](std::string& w, std::string& text) {
                w = "table directory (byte 12)";
                text = tagText(tags[i]) + " appears " + num(j - i) + " times; FreeType and HarfBuzz read the first valid one";
            });
        i = j;
    }
    twice.flush(report_);
}

void OtbCheck::checkOverlaps(size_t directoryEnd)
{
    // Overlaps, with each other and with the directory.
    std::vector<size_t> order;
    order.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].valid && entries_[i].usable != 0 && entries_[i].usable == entries_[i].length)
            order.push_back(i);
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return entries_[a].offset < entries_[b].offset; });
    size_t widest = SIZE_MAX;
    size_t widestEnd = 0;
    auto span = [](const Entry& e) { return "(bytes " + num(e.offset) + " to " + num(e.offset + e.usable - 1) + ")"; };
    Tally overlaps(true, "table");
    for (const size_t i : order) {
        const Entry& e = entries_[i];
        if (e.offset < directoryEnd || (widest != SIZE_MAX && e.offset < widestEnd))
            overlaps.note([&](std::string& w, std::string& text) {
                w = at("table directory, entry " + num(i) + " " + tagText(e.tag), e.record);
                text = "the table " + span(e) + " overlaps " +
                       (e.offset < directoryEnd ? "the table directory (bytes 0 to " + num(directoryEnd - 1) + ")"
                                                : tagText(entries_[widest].tag) + " " + span(entries_[widest]));
            });
        if (e.offset + e.usable > widestEnd || widest == SIZE_MAX) {
            widest = i;
            widestEnd = e.offset + e.usable;
        }
    }
    overlaps.flush(report_);
}

void OtbCheck::checkChecksums()
{
    // Overlapping tables could make this quadratic; past twice the file, the rest go unsummed
    // (the overlaps are errors already).
    size_t allowance = 2 * bytes_.size() + 4096;
    Tally mismatch(false, "table");
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (!e.valid || e.usable != e.length || e.length == 0 || e.length > allowance)
            continue;
        allowance -= e.length;
        uint32_t total = sum(e.offset, e.length);
        if (e.tag == kHead && e.length >= 12)
            total -= u32(e.offset + 8);  // the adjustment is summed as zero
        if (total != e.checksum)
            mismatch.note([&](std::string& w, std::string& text) {
                w = at("table directory, entry " + num(i) + " " + tagText(e.tag) + ", checkSum", e.record + 4);
                text = "is " + hex(e.checksum) + "; the table's bytes sum to " + hex(total);
            });
    }
    mismatch.flush(report_);
    if (head_.present() && head_.length >= 12) {
        const uint32_t adjustment = u32(head_.offset + 8);
        const uint32_t total = sum(0, bytes_.size());
        if (total != kFileChecksum)
            report_.warning(at("head.checkSumAdjustment", head_.offset + 8),
                            "is " + hex(adjustment) + "; the whole file sums to " + hex(kFileChecksum) + " with " +
                                hex(static_cast<uint32_t>(kFileChecksum - (total - adjustment))));
    }
}

void OtbCheck::checkHead()
{
    Table t = head_;
    if (!t.present()) {
        const Table bhed = find(kBhed);
        if (!bhed.present()) {
            report_.error("head", absent(kHead) + ": FreeType opens no TrueType or OpenType font without it");
            return;
        }
        t = bhed;  // Apple's bitmap-only fonts put the same header in 'bhed'
    }
    const std::string name = t.tag == kHead ? "head" : "bhed";
    if (t.length < 54) {
        report_.error(at(name, t.offset), "is " + num(t.length) +
                                              " bytes; FreeType takes one shorter than 54 bytes for a missing one and "
                                              "refuses the font");
        return;
    }
    const uint32_t v = u32(t.offset);
    if (v != 0x00010000)
        report_.warning(at(name + ".version", t.offset), "is " + hex(v) + "; expected 0x00010000 (1.0)");
    const uint32_t magic = u32(t.offset + 12);
    if (magic != kHeadMagic)
        report_.error(at(name + ".magicNumber", t.offset + 12), "is " + hex(magic) + "; expected " + hex(kHeadMagic));
    unitsPerEm_ = u16(t.offset + 18);
    if (unitsPerEm_ < 16 || unitsPerEm_ > 16384)
        report_.error(at(name + ".unitsPerEm", t.offset + 18),
                      "is " + num(unitsPerEm_) + "; FreeType refuses a font whose em is not 16 to 16384 units");
    else
        headOk_ = true;
    const int32_t xMin = s16(t.offset + 36), yMin = s16(t.offset + 38), xMax = s16(t.offset + 40), yMax = s16(t.offset + 42);
    if (xMin > xMax || yMin > yMax)
        report_.warning(at(name + ".xMin", t.offset + 36), "the bounding box (" + snum(xMin) + ", " + snum(yMin) + ") to (" +
                                                               snum(xMax) + ", " + snum(yMax) + ") is inside out");
    indexToLocFormat_ = s16(t.offset + 50);
}

void OtbCheck::checkMaxp()
{
    const Table& t = maxp_;
    if (!t.present()) {
        report_.error("maxp", absent(kMaxp) + ": without its glyph count FreeType and HarfBuzz see a font of no glyphs");
        return;
    }
    if (t.length < 6) {
        report_.error(at("maxp", t.offset), "is " + num(t.length) + " bytes; its version and numGlyphs need 6");
        return;
    }
    const uint32_t v = u32(t.offset);
    if (v == 0x00010000 && t.length < 32)
        report_.warning(at("maxp", t.offset), "is version 1.0 in " + num(t.length) + " bytes; version 1.0 has 32");
    else if (v != 0x00005000 && v != 0x00010000)
        report_.warning(at("maxp.version", t.offset), "is " + hex(v) + "; expected 0x00005000 (0.5) or 0x00010000 (1.0)");
    numGlyphs_ = u16(t.offset + 4);
    report_.glyphs = numGlyphs_;
    if (numGlyphs_ == 0) {
        report_.error(at("maxp.numGlyphs", t.offset + 4), "is 0: the font has no glyphs");
        return;
    }
    maxpOk_ = true;
}

void OtbCheck::checkHhea()
{
    const Table& t = hhea_;
    if (!t.present()) {
        report_.error("hhea", absent(kHhea) + (sfntVersion_ == kTrue ? ": FreeType takes the font for an old Mac one, but HarfBuzz "
                                                                       "(and so Pango) has no advance widths"
                                                                     : ": FreeType refuses a font without horizontal metrics"));
        return;
    }
    if (t.length < 36) {
        report_.error(at("hhea", t.offset), "is " + num(t.length) + " bytes; FreeType needs 36 and refuses the font");
        return;
    }
    const uint32_t v = u32(t.offset);
    if (v != 0x00010000)
        report_.warning(at("hhea.version", t.offset), "is " + hex(v) + "; expected 0x00010000 (1.0)");
    advanceWidthMax_ = u16(t.offset + 10);
    const int32_t format = s16(t.offset + 32);
    if (format != 0)
        report_.warning(at("hhea.metricDataFormat", t.offset + 32), "is " + snum(format) + "; expected 0");
    numberOfHMetrics_ = u16(t.offset + 34);
    if (numberOfHMetrics_ == 0) {
        report_.error(at("hhea.numberOfHMetrics", t.offset + 34), "is 0: every glyph gets no advance width");
        return;
    }
    if (maxpOk_ && numberOfHMetrics_ > numGlyphs_)
        report_.warning(at("hhea.numberOfHMetrics", t.offset + 34),
                        "is " + num(numberOfHMetrics_) + ", more than the " + num(numGlyphs_) + " glyphs (maxp.numGlyphs)");
    hheaOk_ = true;
}

void OtbCheck::checkHmtx()
{
    if (!hheaOk_)
        return;
    const Table& t = hmtx_;
    if (!t.present()) {
        report_.error("hmtx", absent(kHmtx) + ": FreeType refuses a font with hhea and no hmtx");
        return;
    }
    if (!maxpOk_)
        return;
    const uint64_t longMetrics = std::min(numberOfHMetrics_, numGlyphs_);
    const uint64_t needed = longMetrics * 4 + (numGlyphs_ - longMetrics) * 2;
    if (t.length < needed) {
        report_.error(at("hmtx", t.offset), "is " + num(t.length) + " bytes; " + counted(longMetrics, "advance") + " and " +
                                                counted(numGlyphs_ - longMetrics, "side bearing") + " need " + num(needed) +
                                                ", so the last glyphs get no advance width");
    } else if (t.length > needed && numberOfHMetrics_ <= numGlyphs_ && !hmtxClipped_) {
        report_.warning(at("hmtx", t.offset), "is " + num(t.length) + " bytes; " + counted(longMetrics, "advance") +
                                                  " (hhea.numberOfHMetrics) and " + counted(numGlyphs_ - longMetrics, "side bearing") +
                                                  " need " + num(needed) + ": " + counted(t.length - needed, "byte") + " of extra entries");
    }
    hmtxOk_ = true;
    uint32_t widest = 0;
    for (uint64_t g = 0; g < longMetrics && g * 4 + 2 <= t.length; ++g)
        widest = std::max(widest, u16(t.offset + 4 * g));
    if (widest > advanceWidthMax_)
        report_.warning(at("hhea.advanceWidthMax", hhea_.offset + 10),
                        "is " + num(advanceWidthMax_) + "; hmtx has an advance of " + num(widest));
}

bool OtbCheck::hmtxAdvance(uint32_t glyph, uint32_t& advance)
{
    if (!hmtxOk_ || glyph >= numGlyphs_)
        return false;
    const size_t index = std::min(glyph, numberOfHMetrics_ - 1);
    if (4 * index + 2 > hmtx_.length)
        return false;
    advance = u16(hmtx_.offset + 4 * index);
    return true;
}

std::string OtbCheck::glyphName(uint32_t glyph)
{
    std::string name = "glyph " + num(glyph);
    // A reverse look-up walks the cmap; a few findings name their character, the rest their number.
    if (glyph == 0 || unicodeFormat_ == 0 || namesLookedUp_ >= 40)
        return name;
    ++namesLookedUp_;
    uint32_t code = UINT32_MAX;
    const size_t sub = unicodeSubtable_;
    if (unicodeFormat_ == 4) {
        const uint32_t segments = u16(sub + 6) / 2;
        const size_t ends = sub + 14, starts = ends + 2 + 2 * segments, deltas = starts + 2 * segments,
                     offsets = deltas + 2 * segments;
        for (uint32_t s = 0; s < segments && code == UINT32_MAX && lookupBudget_ != 0; ++s, --lookupBudget_) {
            const uint32_t start = u16(starts + 2 * s), end = u16(ends + 2 * s), delta = u16(deltas + 2 * s),
                           offset = u16(offsets + 2 * s);
            if (start > end || (start == 0xFFFF && end == 0xFFFF))
                continue;
            if (offset == 0) {
                const uint32_t c = (glyph - delta) & 0xFFFF;
                if (c >= start && c <= end)
                    code = c;
                continue;
            }
            const size_t array = offsets + 2 * s + offset;
            for (uint32_t c = start; c <= end && array + 2 * (c - start) + 2 <= cmapEnd_ && lookupBudget_ != 0; ++c, --lookupBudget_) {
                const uint32_t g = u16(array + 2 * (c - start));
                if (g != 0 && ((g + delta) & 0xFFFF) == glyph) {
                    code = c;
                    break;
                }
            }
        }
    } else if (unicodeFormat_ == 12) {
        const uint32_t groups = u32(sub + 12);
        for (uint32_t i = 0; i < groups && code == UINT32_MAX && lookupBudget_ != 0; ++i, --lookupBudget_) {
            const size_t g = sub + 16 + 12 * size_t{i};
            const uint64_t start = u32(g), end = u32(g + 4), first = u32(g + 8);
            if (start <= end && glyph >= first && glyph - first <= end - start)
                code = static_cast<uint32_t>(start + (glyph - first));
        }
    }
    if (code == UINT32_MAX)
        return name;
    if (code >= 0x21 && code < 0x7F && code != '\'')
        return name + " '" + static_cast<char>(code) + "'";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, " U+%04X", code);
    return name + buffer;
}

bool OtbCheck::readCmapHeader(uint32_t& records)
{
    const Table& t = cmap_;
    if (!t.present()) {
        report_.error("cmap", absent(kCmap) + ": no character maps to a glyph, so fontconfig and Pango find nothing in the font");
        return false;
    }
    if (t.length < 4) {
        report_.error(at("cmap", t.offset), "is " + num(t.length) + " bytes; its header needs 4");
        return false;
    }
    cmapEnd_ = t.end();
    const uint32_t v = u16(t.offset);
    if (v != 0)
        report_.warning(at("cmap.version", t.offset), "is " + num(v) + "; expected 0");
    const uint32_t count = u16(t.offset + 2);
    records = count;
    if (4 + 8 * uint64_t{count} > t.length) {
        records = static_cast<uint32_t>((t.length - 4) / 8);
        report_.error(at("cmap.numTables", t.offset + 2), "says " + num(count) + " subtables; the table holds the records of " +
                                                              num(records));
    }
    return true;
}

void OtbCheck::checkCmap()
{
    const Table& t = cmap_;
    uint32_t records = 0;
    if (!readCmapHeader(records))
        return;
    // The subtable found for Unicode, best first: a full-repertoire one, then a BMP one.
    int bestRank = 0;
    bool unsortedSaid = false;
    uint32_t previous = 0;
    std::vector<std::pair<uint32_t, bool>> seen;  // subtables checked, by offset: usable or not
    bool sawUnicode = false;
    struct Pick {
        int rank;
        size_t sub;
        uint32_t format;
    };
    std::vector<Pick> unicode;
    // A cmap of garbage records makes one finding per kind of fault.
    Tally outside(true, "subtable"), unknown(false, "subtable"), tooLong(true, "subtable");
    for (uint32_t i = 0; i < records; ++i) {
        const size_t record = t.offset + 4 + 8 * size_t{i};
        const uint32_t platform = u16(record), encoding = u16(record + 2), offset = u32(record + 4);
        const std::string where = at("cmap, subtable " + num(i) + " (platform " + num(platform) + ", encoding " + num(encoding) + ")", record);
        const uint32_t key = platform << 16 | encoding;
        if (!unsortedSaid && i > 0 && key < previous) {
            unsortedSaid = true;
            report_.warning(where, "the encoding records are not sorted by platform and encoding");
        }
        previous = key;
        if (offset == 0 || offset > t.length - 2) {
            outside.note([&](std::string& w, std::string& text) {
                w = where;
                text = "its offset " + num(offset) + " is outside the " + num(t.length) + "-byte table; FreeType ignores the subtable";
            });
            continue;
        }
        const size_t sub = t.offset + offset;
        const uint32_t format = u16(sub);
        const std::string subWhere = at("cmap, subtable " + num(i) + " (platform " + num(platform) + ", encoding " +
                                            num(encoding) + ", format " + num(format) + ")",
                                        sub);
        int rank = unicodeRank(platform, encoding, format);
        const bool unicodeRecord = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
        // Records sharing a subtable share its verdict; it is checked once.
        const auto found = std::lower_bound(seen.begin(), seen.end(), std::pair<uint32_t, bool>{offset, false});
        if (found != seen.end() && found->first == offset) {
            if (!found->second)
                rank = 0;
        } else {
            if (!spend(1, subWhere))
                break;
            bool usable = true;
            if (format == 4) {
                usable = checkCmapFormat4(sub, subWhere, rank != 0);
            } else if (format == 12) {
                usable = checkCmapFormat12(sub, subWhere, rank != 0);
            } else {
                usable = checkCmapSubtable(sub, format, subWhere, unknown, tooLong);
            }
            seen.insert(found, {offset, usable});
            if (!usable)
                rank = 0;
        }
        if (unicodeRecord)
            sawUnicode = true;
        if (rank > bestRank)
            bestRank = rank;
        if (rank != 0)
            unicode.push_back({rank, sub, format});
    }
    outside.flush(report_);
    unknown.flush(report_);
    tooLong.flush(report_);
    if (overBudget_)
        return;
    if (bestRank == 0) {
        report_.error(at("cmap", t.offset), sawUnicode ? "has no Unicode subtable FreeType can use (see above): fontconfig finds no "
                                                         "characters in the font"
                                                       : "has no Unicode subtable (platform 3 encoding 1 or 10, or platform 0): "
                                                         "fontconfig finds no characters in the font");
        return;
    }
    for (const Pick& p : unicode)
        if (p.rank == bestRank && (p.format == 4 || p.format == 12)) {
            unicodeFormat_ = p.format;
            unicodeSubtable_ = p.sub;
            break;
        }
}

bool OtbCheck::checkCmapSubtable(size_t sub, uint32_t format, const std::string& subWhere, Tally& unknown, Tally& tooLong)
{
    // Other formats: that their arrays fit their length, and their length the table.
    bool usable = true;
    const size_t end = cmap_.end();
    auto field16 = [&](size_t at) -> uint64_t { return sub + at + 2 <= end ? u16(sub + at) : 0; };
    auto field32 = [&](size_t at) -> uint64_t { return sub + at + 4 <= end ? u32(sub + at) : 0; };
    uint64_t length = 0, needed = 0;
    switch (format) {
    case 0: length = field16(2), needed = 262; break;
    case 2: length = field16(2), needed = 518; break;
    case 6: length = field16(2), needed = 10 + 2 * field16(8); break;
    case 8: length = field32(4), needed = 8208 + 12 * field32(8204); break;
    case 10: length = field32(4), needed = 20 + 2 * field32(16); break;
    case 13: length = field32(4), needed = 16 + 12 * field32(12); break;
    case 14: length = field32(2), needed = 10 + 11 * field32(6); break;
    default:
        unknown.note([&](std::string& w, std::string& text) {
            w = subWhere;
            text = "is a format FreeType does not read; it ignores the subtable";
        });
        usable = false;
        break;
    }
    if (usable && (length < needed || sub + length > end)) {
        tooLong.note([&](std::string& w, std::string& text) {
            w = subWhere;
            text = "its length " + num(length) +
                   (length < needed ? " is short of the " + num(needed) + " bytes it holds"
                                    : " runs past the end of the cmap table (" + byteAt(end) + ")") +
                   "; FreeType ignores the subtable";
        });
        usable = false;
    }
    return usable;
}

bool OtbCheck::readCmapFormat4Header(size_t sub, const std::string& where, uint32_t& segments)
{
    // FreeType checks the subtable against the end of the cmap table, whatever its length says.
    const size_t limit = cmapEnd_;
    if (sub + 14 > limit) {
        report_.error(where, "the subtable's 14-byte header runs past the end of the cmap table (" + byteAt(limit) + ")");
        return false;
    }
    const uint32_t length = u16(sub + 2), segX2 = u16(sub + 6);
    segments = segX2 / 2;
    const uint64_t arrays = 16 + 8 * uint64_t{segments};
    if (sub + arrays > limit) {
        report_.error(where, "its " + num(segments) + " segments need " + num(arrays) + " bytes; the cmap table ends " +
                                 num(limit - sub) + " bytes on; FreeType ignores the subtable");
        return false;
    }
    if (sub + length > limit)
        report_.warning(at("cmap format 4 length", sub + 2),
                        "is " + num(length) + "; the cmap table ends " + num(limit - sub) + " bytes on");
    else if (length < arrays)
        report_.error(at("cmap format 4 length", sub + 2), "is " + num(length) + "; its " + num(segments) +
                                                               " segments need " + num(arrays) + ": HarfBuzz ignores the subtable");
    if (segX2 % 2 != 0)
        report_.warning(at("cmap format 4 segCountX2", sub + 6), "is " + num(segX2) + ", an odd number");
    uint32_t range = 2, selector = 0;
    while (range * 2 <= segX2) {
        range *= 2;
        ++selector;
    }
    if (segments != 0) {
        const uint32_t searchRange = u16(sub + 8), entrySelector = u16(sub + 10), rangeShift = u16(sub + 12);
        if (searchRange != range || entrySelector != selector || rangeShift != segX2 - range)
            report_.warning(at("cmap format 4 searchRange, entrySelector, rangeShift", sub + 8),
                            "are " + num(searchRange) + ", " + num(entrySelector) + ", " + num(rangeShift) + "; " +
                                num(segments) + " segments make them " + num(range) + ", " + num(selector) + ", " +
                                num(segX2 - range));
    }
    if (segments == 0) {
        report_.error(where, "has no segments: it maps no characters");
        return false;
    }
    return true;
}

bool OtbCheck::checkCmapFormat4(size_t sub, const std::string& where, bool chosen)
{
    const size_t limit = cmapEnd_;
    uint32_t segments = 0;
    if (!readCmapFormat4Header(sub, where, segments))
        return false;
    const size_t ends = sub + 14, starts = ends + 2 + 2 * size_t{segments}, deltas = starts + 2 * size_t{segments},
                 offsets = deltas + 2 * size_t{segments}, glyphIds = offsets + 2 * size_t{segments};
    if (u16(ends + 2 * (segments - 1)) != 0xFFFF)
        report_.warning(at("cmap format 4 endCode", ends + 2 * (segments - 1)),
                        "the last segment ends at " + hex(u16(ends + 2 * (segments - 1)), 4) + "; Windows expects 0xFFFF");
    Tally backwards(true, "segment"), unsorted(false, "segment"), outside(true, "segment"), badGlyph(true, "segment");
    uint32_t lastStart = 0, lastEnd = 0;
    uint64_t mapped = 0;
    for (uint32_t s = 0; s < segments; ++s) {
        const uint32_t start = u16(starts + 2 * s), end = u16(ends + 2 * s), delta = u16(deltas + 2 * s),
                       offset = u16(offsets + 2 * s);
        auto segment = [&] { return "cmap format 4 segment " + num(s); };
        if (start > end) {
            backwards.note([&](std::string& w, std::string& text) {
                w = at(segment(), starts + 2 * s);
                text = "starts at " + hex(start, 4) + ", after its end " + hex(end, 4) + "; FreeType ignores the subtable";
            });
            continue;
        }
        if (s > 0 && start <= lastEnd)
            unsorted.note([&](std::string& w, std::string& text) {
                w = at(segment(), starts + 2 * s);
                text = (lastStart > start || lastEnd > end ? "is out of order: " : "overlaps the one before: ") +
                       hex(start, 4) + " to " + hex(end, 4) + " after " + hex(lastStart, 4) + " to " + hex(lastEnd, 4);
            });
        lastStart = start;
        lastEnd = end;
        const bool closing = start == 0xFFFF && end == 0xFFFF;
        if (closing)
            continue;
        mapped += end - start + 1;
        if (offset == 0 || offset == 0xFFFF) {
            if (offset == 0xFFFF)
                continue;
            // Glyphs (code + delta) mod 65536: a run that wraps, or reaches numGlyphs, has glyphs
            // past the last.
            const uint32_t low = (start + delta) & 0xFFFF, span = end - start;
            if (maxpOk_ && low + span >= numGlyphs_ && !(low == 0 && span == 0)) {
                const uint32_t code = low >= numGlyphs_ ? start : start + (numGlyphs_ - low);
                const uint32_t glyph = (code + delta) & 0xFFFF;
                if (glyph != 0)
                    badGlyph.note([&](std::string& w, std::string& text) {
                        w = at(segment(), starts + 2 * s);
                        text = "maps U+" + hex(code, 4).substr(2) + " to glyph " + num(glyph) + "; the font has " +
                               num(numGlyphs_) + " (FreeType shows .notdef)";
                    });
            }
            continue;
        }
        const size_t array = offsets + 2 * size_t{s} + offset;
        const uint64_t count = end - start + 1;
        if (array < glyphIds || array + 2 * count > limit) {
            outside.note([&](std::string& w, std::string& text) {
                w = at(segment() + " idRangeOffset", offsets + 2 * s);
                text = "is " + num(offset) + ": the glyph ids of " + hex(start, 4) + " to " + hex(end, 4) +
                       " would lie outside the glyphIdArray; FreeType ignores the subtable";
            });
            continue;
        }
        if (!maxpOk_ || !spend(count, where))
            continue;
        for (uint32_t c = start; c <= end; ++c) {
            const uint32_t g = u16(array + 2 * (c - start));
            const uint32_t glyph = g == 0 ? 0 : (g + delta) & 0xFFFF;
            if (glyph >= numGlyphs_) {
                badGlyph.note([&](std::string& w, std::string& text) {
                    w = at(segment(), starts + 2 * s);
                    text = "maps U+" + hex(c, 4).substr(2) + " to glyph " + num(glyph) + "; the font has " +
                           num(numGlyphs_) + " (FreeType shows .notdef)";
                });
                break;
            }
        }
    }
    const bool kept = backwards.count() == 0 && outside.count() == 0;
    backwards.flush(report_);
    unsorted.flush(report_);
    outside.flush(report_);
    badGlyph.flush(report_);
    if (kept && chosen && mapped == 0)
        report_.error(where, "maps no characters");
    return kept;
}

bool OtbCheck::checkCmapFormat12(size_t sub, const std::string& where, bool chosen)
{
    const size_t limit = cmapEnd_;
    if (sub + 16 > limit) {
        report_.error(where, "the subtable's 16-byte header runs past the end of the cmap table (" + byteAt(limit) +
                                 "); FreeType ignores the subtable");
        return false;
    }
    const uint64_t length = u32(sub + 4), groups = u32(sub + 12);
    if (sub + length > limit || length < 16 || (length - 16) / 12 < groups) {
        report_.error(where, "its length " + num(length) + " and " + num(groups) + " groups (" + num(16 + 12 * groups) +
                                 " bytes) do not fit the " + num(limit - sub) + " bytes left in the cmap table; FreeType ignores the subtable");
        return false;
    }
    if (!spend(groups, where))
        return true;
    Tally order(true, "group"), badGlyph(true, "group"), beyond(false, "group");
    uint64_t lastEnd = 0, mapped = 0;
    for (uint64_t i = 0; i < groups; ++i) {
        const size_t g = sub + 16 + 12 * i;
        const uint64_t start = u32(g), end = u32(g + 4), first = u32(g + 8);
        auto group = [&] { return "cmap format 12 group " + num(i); };
        if (start > end || (i > 0 && start <= lastEnd)) {
            order.note([&](std::string& w, std::string& text) {
                w = at(group(), g);
                text = start > end ? "starts at U+" + hex(start, 4).substr(2) + ", after its end U+" + hex(end, 4).substr(2) +
                                         "; FreeType ignores the subtable"
                                   : "starts at U+" + hex(start, 4).substr(2) + ", not after the previous group's end U+" +
                                         hex(lastEnd, 4).substr(2) + "; FreeType ignores the subtable";
            });
            lastEnd = std::max(lastEnd, end);
            continue;
        }
        lastEnd = end;
        mapped += end - start + 1;
        if (end > 0x10FFFF)
            beyond.note([&](std::string& w, std::string& text) {
                w = at(group(), g);
                text = "ends at " + hex(end) + ", past the last Unicode character U+10FFFF";
            });
        if (maxpOk_ && first + (end - start) >= numGlyphs_)
            badGlyph.note([&](std::string& w, std::string& text) {
                w = at(group(), g);
                const uint64_t code = first >= numGlyphs_ ? start : start + (numGlyphs_ - first);
                text = "maps U+" + hex(code, 4).substr(2) + " to glyph " + num(first + (code - start)) +
                       "; the font has " + num(numGlyphs_) + " (FreeType shows .notdef)";
            });
    }
    const bool kept = order.count() == 0;
    order.flush(report_);
    badGlyph.flush(report_);
    beyond.flush(report_);
    if (kept && chosen && mapped == 0)
        report_.error(where, "maps no characters");
    return kept;
}

std::string OtbCheck::decodeName(size_t offset, size_t length, uint32_t platform)
{
    std::string out;
    length = std::min<size_t>(length, 512);  // a family name, not a book
    if (platform == 1) {
        for (size_t i = 0; i < length; ++i) {
            const uint32_t c = u8(offset + i);
            appendUtf8(out, c < 0x20 ? 0xFFFD : c < 0x80 ? c : 0xFFFD);
        }
        return out;
    }
    for (size_t i = 0; i + 1 < length; i += 2) {
        uint32_t c = u16(offset + i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < length) {
            const uint32_t low = u16(offset + i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c == 0)
            break;
        if ((c >= 0xD800 && c < 0xE000) || c < 0x20)
            c = 0xFFFD;
        appendUtf8(out, c);
    }
    return out;
}

void OtbCheck::checkName()
{
    const Table& t = name_;
    if (!t.present()) {
        report_.warning("name", absent(kName) + ": the font has no family name, and fontconfig names it after its file");
        return;
    }
    if (t.length < 6) {
        report_.warning(at("name", t.offset), "is " + num(t.length) + " bytes; its header needs 6, so FreeType reads no names");
        return;
    }
    const uint32_t format = u16(t.offset), count = u16(t.offset + 2), stringOffset = u16(t.offset + 4);
    if (format > 1)
        report_.warning(at("name.format", t.offset), "is " + num(format) + "; expected 0 or 1");
    const uint64_t storageStart = 6 + 12 * uint64_t{count};
    if (storageStart > t.length) {
        report_.warning(at("name.count", t.offset + 2), "says " + num(count) + " records (" + num(storageStart) + " bytes); the table is " +
                                                             num(t.length) + ", so FreeType reads no names");
        return;
    }
    if (stringOffset < storageStart && count != 0)
        report_.warning(at("name.stringOffset", t.offset + 4),
                        "is " + num(stringOffset) + ", inside the " + num(count) + " name records (which end at " + num(storageStart) + ")");
    Tally outside(false, "record"), odd(false, "record");
    // Best record for each of the names the fonts line is made of: Windows English first.
    struct Best {
        int rank = 0;
        size_t offset = 0, length = 0;
        uint32_t platform = 0;
    } best[4];  // family (1), subfamily (2), typographic family (16), subfamily (17)
    for (uint32_t i = 0; i < count; ++i) {
        const size_t record = t.offset + 6 + 12 * size_t{i};
        const uint32_t platform = u16(record), encoding = u16(record + 2), language = u16(record + 4),
                       nameId = u16(record + 6), length = u16(record + 8), offset = u16(record + 10);
        if (length == 0)
            continue;
        const uint64_t start = uint64_t{stringOffset} + offset;
        if (start < storageStart || start + length > t.length) {
            outside.note([&](std::string& w, std::string& text) {
                w = at("name record " + num(i) + " (name ID " + num(nameId) + ")", record);
                text = "its string (bytes " + num(start) + " to " + num(start + length - 1) +
                       " of the table) lies outside the string storage (bytes " + num(storageStart) + " to " +
                       num(t.length - 1) + "); FreeType ignores the record";
            });
            continue;
        }
        const bool utf16 = platform == 0 || (platform == 3 && (encoding == 0 || encoding == 1 || encoding == 10));
        if (utf16 && length % 2 != 0)
            odd.note([&](std::string& w, std::string& text) {
                w = at("name record " + num(i) + " (name ID " + num(nameId) + ")", record);
                text = "its UTF-16 string is " + num(length) + " bytes, an odd number";
            });
        const int slot = nameId == 1 ? 0 : nameId == 2 ? 1 : nameId == 16 ? 2 : nameId == 17 ? 3 : -1;
        if (slot < 0)
            continue;
        int rank = 0;
        if (platform == 3 && utf16)
            rank = language == 0x0409 ? 4 : 3;
        else if (platform == 0)
            rank = 2;
        else if (platform == 1 && encoding == 0)
            rank = 1;
        if (rank > best[slot].rank)
            best[slot] = {rank, t.offset + static_cast<size_t>(start), length, platform};
    }
    outside.flush(report_);
    odd.flush(report_);
    const Best& family = best[2].rank ? best[2] : best[0];
    const Best& subfamily = best[2].rank && best[3].rank ? best[3] : best[1];
    if (family.rank)
        family_ = decodeName(family.offset, family.length, family.platform);
    if (subfamily.rank)
        subfamily_ = decodeName(subfamily.offset, subfamily.length, subfamily.platform);
    if (family_.empty())
        report_.warning(at("name", t.offset), "has no family name (name ID 1): fontconfig names the font after its file");
}

void OtbCheck::checkOs2()
{
    const Table& t = os2_;
    if (!t.present()) {
        report_.warning("OS/2", absent(kOs2) + ": fontconfig and Pango read the weight, width and line spacing from defaults");
        return;
    }
    const uint32_t v = t.length >= 2 ? u16(t.offset) : 0;
    const size_t needed = v == 0 ? 78 : v == 1 ? 86 : v <= 4 ? 96 : 100;
    if (t.length < needed) {
        report_.warning(at("OS/2", t.offset), "is " + num(t.length) + " bytes; version " + num(v) + " has " + num(needed) +
                                                   ", so FreeType ignores the table");
        return;
    }
    if (v > 5)
        report_.warning(at("OS/2.version", t.offset), "is " + num(v) + "; the versions known are 0 to 5");
    const uint32_t weight = u16(t.offset + 4), width = u16(t.offset + 6);
    if (weight < 1 || weight > 1000)
        report_.warning(at("OS/2.usWeightClass", t.offset + 4), "is " + num(weight) + "; expected 1 to 1000");
    if (width < 1 || width > 9)
        report_.warning(at("OS/2.usWidthClass", t.offset + 6), "is " + num(width) + "; expected 1 to 9");
}

void OtbCheck::checkPost()
{
    const Table& t = post_;
    if (!t.present()) {
        report_.warning("post", absent(kPost) + ": readers take the font as proportional and without glyph names");
        return;
    }
    if (t.length < 32) {
        report_.warning(at("post", t.offset), "is " + num(t.length) + " bytes; its header needs 32, so FreeType ignores the table");
        return;
    }
    const uint32_t v = u32(t.offset);
    if (v != 0x00010000 && v != 0x00020000 && v != 0x00025000 && v != 0x00030000 && v != 0x00040000) {
        report_.warning(at("post.version", t.offset), "is " + hex(v) + "; expected 1.0, 2.0, 2.5, 3.0 or 4.0");
        return;
    }
    if (v != 0x00020000 || !maxpOk_)
        return;
    // Version 2.0: a name index per glyph, and the names past the 258 standard ones.
    if (t.length < 34) {
        report_.warning(at("post", t.offset), "is version 2.0 in " + num(t.length) + " bytes; it needs 34 for its glyph count");
        return;
    }
    const uint32_t glyphs = u16(t.offset + 32);
    if (glyphs != numGlyphs_)
        report_.warning(at("post.numGlyphs", t.offset + 32), "is " + num(glyphs) + "; maxp says " + num(numGlyphs_));
    const uint64_t indexEnd = 34 + 2 * uint64_t{glyphs};
    if (indexEnd > t.length) {
        report_.warning(at("post.glyphNameIndex", t.offset + 34), num(glyphs) + " indices need " + num(indexEnd) +
                                                                      " bytes; the table is " + num(t.length));
        return;
    }
    uint32_t names = 0;
    for (size_t p = t.offset + static_cast<size_t>(indexEnd); p < t.end(); p += 1 + u8(p))
        ++names;
    uint32_t highest = 0;
    for (uint32_t g = 0; g < glyphs; ++g)
        highest = std::max(highest, u16(t.offset + 34 + 2 * size_t{g}));
    if (highest >= 258 + names)
        report_.warning(at("post.glyphNameIndex", t.offset + 34), "uses name " + num(highest) + "; there are 258 standard names and " +
                                                                      num(names) + " in the table");
}

void OtbCheck::checkOutlines()
{
    const Table glyf = find(kGlyf), loca = find(kLoca);
    if (sfntVersion_ == kOtto && !find(kCff).present() && !find(kCff2).present())
        report_.error("sfntVersion (byte 0)", "is 'OTTO', which FreeType opens only with a CFF table; a bitmap-only font "
                                              "is 0x00010000");
    if (glyf.present() && !loca.present())
        report_.error("loca", absent(kLoca) + ": FreeType refuses a font with outlines in glyf and no loca to find them");
    if (glyf.present() && headOk_ && indexToLocFormat_ != 0 && indexToLocFormat_ != 1)
        report_.error(at("head.indexToLocFormat", head_.offset + 50), "is " + snum(indexToLocFormat_) + "; expected 0 or 1");
}

void OtbCheck::checkBitmaps()
{
    const Table cblc = find(kCblc), eblc = find(kEblc), bloc = find(kBloc);
    const Table cbdt = find(kCbdt), ebdt = find(kEbdt), bdat = find(kBdat);
    // FreeType takes the first location table of CBLC, EBLC, bloc, and, apart from it, the first
    // data table of CBDT, EBDT, bdat.
    const Table& used = cblc.present() ? cblc : eblc.present() ? eblc : bloc;
    const Table& usedData = cbdt.present() ? cbdt : ebdt.present() ? ebdt : bdat;
    if (!used.present()) {
        const bool outlines = find(kGlyf).present() || find(kCff).present() || find(kCff2).present();
        report_.error("EBLC", absent(kEblc) + (outlines ? ": the font has outlines and no bitmap strikes; it is not a bitmap font"
                                                        : ": the font has no bitmap strikes (EBLC, CBLC or bloc), so no glyph shows"));
        return;
    }
    const Table& partner = used.tag == kCblc ? cbdt : used.tag == kEblc ? ebdt : bdat;
    if (partner.present() && usedData.tag != partner.tag)
        report_.error(tableName(usedData.tag), "FreeType reads " + tagText(used.tag) + "'s glyph locations in " + tagText(usedData.tag) + ", not in " +
                                                 tagText(partner.tag) + ": its glyphs come out wrong");
    const Table* pairs[3][2] = {{&cblc, &cbdt}, {&eblc, &ebdt}, {&bloc, &bdat}};
    for (const auto& pair : pairs) {
        if (!pair[0]->present())
            continue;
        if (!pair[1]->present()) {
            report_.error(tableName(pair[1]->tag), absent(pair[1]->tag) + ": " + tagText(pair[0]->tag) + " locates bitmaps in it" +
                                                     (pair[0]->tag == used.tag ? ", so FreeType sees no strikes" : ""));
            continue;
        }
        checkStrikes(*pair[0], *pair[1], pair[0]->tag == used.tag);
    }
}

void OtbCheck::checkStrikes(const Table& loc, const Table& data, bool listFonts)
{
    const std::string locName = loc.tag == kCblc ? "CBLC" : loc.tag == kEblc ? "EBLC" : "bloc";
    const std::string dataName = data.tag == kCbdt ? "CBDT" : data.tag == kEbdt ? "EBDT" : "bdat";
    const bool colour = loc.tag == kCblc;
    const uint32_t strikes = strikeCount(loc, data, locName, dataName, colour);
    if (strikes == 0 || !maxpOk_)
        return;
    if (stamps_.size() != numGlyphs_) {
        stamps_.assign(numGlyphs_, 0);
        sizes_.assign(numGlyphs_, 0);
    }
    for (uint32_t s = 0; s < strikes; ++s) {
        Strike strike(loc, data, locName, dataName, colour, s);
        if (!spend(1, strike.where))
            return;
        if (!readStrikeRecord(strike, listFonts))
            continue;
        for (uint64_t i = 0; i < strike.count && !overBudget_; ++i) {
            IndexSubtable sub;
            if (readIndexSubtable(strike, i, sub) && readIndexHeader(strike, sub))
                walkIndexSubtable(strike, sub);
        }
        if (!overBudget_ && strike.arrayOffset + strike.tablesSize < strike.subtablesEnd)
            report_.warning(at(strike.name + ".indexTablesSize", strike.record + 4),
                            "is " + num(strike.tablesSize) + "; the index subtables reach " +
                                num(strike.subtablesEnd - strike.arrayOffset) + " bytes from the subtable array");
        checkCompounds(strike);
        finishStrike(strike);
    }
}

uint32_t OtbCheck::strikeCount(const Table& loc, const Table& data, const std::string& locName, const std::string& dataName,
                               bool colour)
{
    if (loc.length < 8) {
        report_.error(at(locName, loc.offset), "is " + num(loc.length) + " bytes; its header needs 8, so FreeType sees no strikes");
        return 0;
    }
    const uint32_t v = u32(loc.offset);
    const bool accepted = (v & 0xFFFF0000) == 0x00020000 || (v & 0xFFFF) == 0x0200 || (v & 0xFFFF0000) == 0x00030000 ||
                          (v & 0xFFFF) == 0x0300;
    const uint32_t expected = colour ? 0x00030000 : 0x00020000;
    if (!accepted) {
        report_.error(at(locName + ".version", loc.offset), "is " + hex(v) + "; expected " + hex(expected) + " (" + version(expected) +
                                                                "): FreeType ignores the table");
        return 0;
    }
    if (v != expected)
        report_.warning(at(locName + ".version", loc.offset), "is " + hex(v) + "; expected " + hex(expected) + " (" + version(expected) + ")");
    const uint32_t dataVersion = data.length >= 4 ? u32(data.offset) : 0;
    if (dataVersion != expected)
        report_.warning(at(dataName + ".version", data.offset), "is " + hex(dataVersion) + "; expected " + hex(expected) + " (" +
                                                                    version(expected) + ")");
    const uint32_t numSizes = u32(loc.offset + 4);
    if (numSizes >= 0x10000) {
        report_.error(at(locName + ".numSizes", loc.offset + 4), "is " + num(numSizes) + "; FreeType ignores a table of 65536 strikes or more");
        return 0;
    }
    uint32_t strikes = numSizes;
    if (8 + 48 * uint64_t{numSizes} > loc.length) {
        strikes = static_cast<uint32_t>((loc.length - 8) / 48);
        report_.error(at(locName + ".numSizes", loc.offset + 4), "says " + num(numSizes) + " strikes; the table holds " + num(strikes));
    }
    if (strikes == 0)
        report_.error(at(locName + ".numSizes", loc.offset + 4), "is 0: the font has no bitmap strikes");
    return strikes;
}

bool OtbCheck::readStrikeRecord(Strike& st, bool listFonts)
{
    const size_t record = st.record;
    const std::string& strike = st.name;
    st.arrayOffset = u32(record);
    st.tablesSize = u32(record + 4);
    st.count = u32(record + 8);
    const int32_t ascender = s8(record + 16), descender = s8(record + 17);
    const int32_t maxBeforeBL = s8(record + 24), minAfterBL = s8(record + 25);
    st.startGlyph = u16(record + 40);
    st.endGlyph = u16(record + 42);
    const uint32_t ppemX = u8(record + 44), ppemY = u8(record + 45), depth = u8(record + 46), flags = u8(record + 47);
    st.ppemX = ppemX;
    st.depth = depth;
    ++stamp_;
    compounds_.clear();

    if (listFonts) {
        std::string line = family_.empty() ? std::string("(no family name)") : family_;
        if (!subfamily_.empty())
            line += " " + subfamily_;
        line += ", " + num(ppemY) + " pixels per em";
        if (ppemX != ppemY)
            line += " (" + num(ppemX) + " wide)";
        if (depth != 1)
            line += ", " + num(depth) + " bits per pixel";
        report_.fonts.push_back(line);
    }
    if (ppemX == 0 || ppemY == 0)
        report_.error(at(strike + ".ppemX, ppemY", record + 44), "are " + num(ppemX) + " and " + num(ppemY) +
                                                                     ": FreeType drops a strike of no size");
    const bool depthOk = st.colour ? depth == 32 || depth == 1 || depth == 2 || depth == 4 || depth == 8
                                   : depth == 1 || depth == 2 || depth == 4 || depth == 8;
    if (!depthOk)
        report_.error(at(strike + ".bitDepth", record + 46), "is " + num(depth) + "; FreeType reads 1, 2, 4 or 8" +
                                                                 (st.colour ? " or 32" : "") + " bits per pixel");
    if (flags != 1 && flags != 2 && flags != 3)
        report_.warning(at(strike + ".flags", record + 47), "is " + hex(flags, 2) + "; expected 1 (horizontal metrics)");
    if (ascender == 0 && descender == 0)
        report_.warning(at(strike + " hori.ascender, descender", record + 16),
                        "are both 0; FreeType guesses the strike's line height" +
                            std::string(maxBeforeBL || minAfterBL ? " from maxBeforeBL and minAfterBL" : " as its ppem"));
    else if (descender > 0)
        report_.warning(at(strike + " hori.descender", record + 17), "is +" + snum(descender) +
                                                                         "; expected zero or less (below the baseline)");
    if (st.startGlyph > st.endGlyph || st.endGlyph >= numGlyphs_)
        report_.warning(at(strike + ".startGlyphIndex, endGlyphIndex", record + 40),
                        "are " + num(st.startGlyph) + " and " + num(st.endGlyph) + "; the font's glyphs are 0 to " + num(numGlyphs_ - 1));

    const size_t locLength = st.loc.length;
    if (st.arrayOffset > locLength || st.count > (locLength - st.arrayOffset) / 8) {
        report_.error(at(strike + ".indexSubTableArrayOffset", record),
                      "is " + num(st.arrayOffset) + " with " + num(st.count) + " index subtables (" + num(8 * st.count) +
                          " bytes); the " + st.locName + " table is " + num(locLength) + " bytes, so FreeType loads no glyph of the strike");
        return false;
    }
    if (st.count == 0)
        report_.error(at(strike + ".numberOfIndexSubTables", record + 8), "is 0: the strike has no glyphs");
    if (st.arrayOffset + st.tablesSize > locLength)
        report_.warning(at(strike + ".indexTablesSize", record + 4), "is " + num(st.tablesSize) + "; from byte " + num(st.arrayOffset) +
                                                                         " it runs past the end of " + st.locName);
    st.subtablesEnd = st.arrayOffset + 8 * st.count;
    return true;
}

bool OtbCheck::readIndexSubtable(Strike& st, uint64_t i, IndexSubtable& sub)
{
    const Table& loc = st.loc;
    const size_t entry = loc.offset + static_cast<size_t>(st.arrayOffset) + 8 * i;
    const uint32_t first = u16(entry), last = u16(entry + 2);
    const uint64_t additional = u32(entry + 4);
    sub.name = st.name + ", index subtable " + num(i);
    if (!spend(1, at(sub.name, entry)))
        return false;
    if (first > last) {
        report_.error(at(sub.name, entry), "its glyphs run from " + num(first) + " to " + num(last) +
                                               ", backwards: FreeType never finds them, and they come out blank");
        return false;
    }
    if (!st.orderSaid && i > 0 && first <= st.previousLast) {
        st.orderSaid = true;
        report_.warning(at(sub.name, entry), "glyphs " + num(first) + " to " + num(last) +
                                                 " are not after the previous subtable's (to " + num(st.previousLast) +
                                                 "); FreeType takes the first subtable that covers a glyph");
    }
    st.previousLast = last;
    if (last >= numGlyphs_)
        report_.warning(at(sub.name, entry), "covers glyphs " + num(first) + " to " + num(last) + "; the font has " +
                                                 num(numGlyphs_) + " (maxp.numGlyphs)");
    else if (first < st.startGlyph || last > st.endGlyph)
        report_.warning(at(sub.name, entry), "covers glyphs " + num(first) + " to " + num(last) + ", outside the strike's " +
                                                 num(st.startGlyph) + " to " + num(st.endGlyph));
    sub.headerAt = st.arrayOffset + additional;
    if (sub.headerAt + 8 > loc.length) {
        report_.error(at(sub.name + " additionalOffsetToIndexSubtable", entry + 4),
                      "is " + num(additional) + ": the subtable would start at byte " + num(sub.headerAt) + " of the " +
                          num(loc.length) + "-byte " + st.locName + "; its glyphs come out blank");
        return false;
    }
    sub.first = first;
    sub.last = last;
    sub.n = uint64_t{last} - first + 1;
    sub.header = loc.offset + static_cast<size_t>(sub.headerAt);
    sub.where = at(sub.name, sub.header);
    sub.indexFormat = u16(sub.header);
    sub.imageFormat = u16(sub.header + 2);
    sub.imageData = u32(sub.header + 4);
    const uint32_t imageFormat = sub.imageFormat;
    const bool ownMetrics = imageFormat == 1 || imageFormat == 2 || imageFormat == 6 || imageFormat == 7 ||
                            imageFormat == 8 || imageFormat == 9 || imageFormat == 17 || imageFormat == 18;
    const bool knownImage = ownMetrics || imageFormat == 5 || imageFormat == 19;
    // FreeType looks at the index format first.
    if (sub.indexFormat < 1 || sub.indexFormat > 5) {
        report_.error(sub.where, "index format " + num(sub.indexFormat) + " is not one of 1 to 5: its glyphs come out blank");
        return false;
    }
    if (!knownImage) {
        report_.error(sub.where, "image format " + num(imageFormat) +
                                     " is not one FreeType reads (1, 2, 5, 6, 7, 8, 9, 17, 18 or 19): it refuses its glyphs");
        return false;
    }
    if ((imageFormat >= 17) != st.colour)
        report_.warning(sub.where, "image format " + num(imageFormat) + (st.colour ? " is not a PNG format, expected in CBDT"
                                                                                   : " is a PNG format, which belongs in CBDT"));
    if (sub.imageData > st.data.length) {
        report_.error(at(sub.name + " imageDataOffset", sub.header + 4), "is " + num(sub.imageData) + ", past the end of the " +
                                                                             num(st.data.length) + "-byte " + st.dataName +
                                                                             ": its glyphs come out blank");
        return false;
    }
    return true;
}

bool OtbCheck::readIndexHeader(Strike& st, IndexSubtable& sub)
{
    const size_t header = sub.header;
    const uint32_t indexFormat = sub.indexFormat;
    const size_t room = st.loc.length - static_cast<size_t>(sub.headerAt);  // bytes from the subtable to the table's end
    bool sharedMetrics = false;
    uint64_t needed = 0;
    switch (indexFormat) {
    case 1:
        needed = 8 + 4 * (sub.n + 1);
        break;
    case 3:
        needed = 8 + 2 * (sub.n + 1);
        break;
    case 2:
    case 5:
        needed = indexFormat == 2 ? 20 : 24;
        if (room >= needed) {
            sub.imageSize = u32(header + 8);
            sub.shared = {u8(header + 12), u8(header + 13), u8(header + 16), s8(header + 14), s8(header + 15)};
            sharedMetrics = true;
            if (indexFormat == 5) {
                sub.sparse = u32(header + 20);
                needed = 24 + 2 * sub.sparse;
            }
        }
        break;
    case 4:
        needed = 12;
        if (room >= needed) {
            sub.sparse = u32(header + 8);
            needed = 12 + 4 * (sub.sparse + 1);
        }
        break;
    default:
        return false;
    }
    if (needed > room) {
        report_.error(sub.where, "index format " + num(indexFormat) + " for " +
                                     (indexFormat == 4 || indexFormat == 5 ? num(sub.sparse) : num(sub.n)) + " glyphs needs " +
                                     num(needed) + " bytes; " + st.locName + " ends " + num(room) +
                                     " bytes on, so FreeType finds none of its glyphs and they come out blank");
        return false;
    }
    st.subtablesEnd = std::max(st.subtablesEnd, sub.headerAt + needed);
    if ((indexFormat == 2 || indexFormat == 5) && sub.imageSize == 0) {
        report_.error(at(sub.name + " imageSize", header + 8), "is 0: FreeType refuses its glyphs");
        return false;
    }
    if (!sharedMetrics && (sub.imageFormat == 5 || sub.imageFormat == 19)) {
        report_.error(sub.where, "image format " + num(sub.imageFormat) + " has no metrics of its own, and index format " +
                                     num(indexFormat) + " gives none: its glyphs come out blank");
        return false;
    }
    const size_t glyphCount = static_cast<size_t>(indexFormat == 4 || indexFormat == 5 ? sub.sparse : sub.n);
    return spend(glyphCount, sub.where);
}

void OtbCheck::walkIndexSubtable(Strike& st, const IndexSubtable& sub)
{
    const size_t header = sub.header;
    const uint32_t first = sub.first, last = sub.last;
    switch (sub.indexFormat) {
    case 1:
    case 3: {
        const size_t width = sub.indexFormat == 1 ? 4 : 2;
        const size_t offsets = header + 8;
        uint64_t here = width == 4 ? u32(offsets) : u16(offsets);
        for (uint64_t k = 0; k < sub.n; ++k) {
            const size_t nextAt = offsets + width * static_cast<size_t>(k + 1);
            const uint64_t next = width == 4 ? u32(nextAt) : u16(nextAt);
            const auto glyph = static_cast<uint32_t>(first + k);
            if (next < here) {
                st.backwards.note([&](std::string& w, std::string& text) {
                    w = at(sub.name + " offsets", nextAt - width);
                    text = glyphName(glyph) + ": its image would end at " + num(next) + ", before its start " + num(here) +
                           "; the glyph comes out blank";
                });
            } else if (next > here) {
                checkGlyphImage(st, sub, glyph, here, next - here, nextAt - width);
            }
            here = next;
        }
        break;
    }
    case 2:
        for (uint64_t k = 0; k < sub.n; ++k)
            checkGlyphImage(st, sub, static_cast<uint32_t>(first + k), sub.imageSize * k, sub.imageSize, header);
        break;
    case 4:
    case 5: {
        // Sparse glyphs: format 4 pairs each id with its offset, format 5 lists the ids of images
        // of one size.
        const bool pairs = sub.indexFormat == 4;
        const size_t step = pairs ? 4 : 2;
        const size_t ids = header + (pairs ? 12 : 24);
        const char* field = pairs ? " glyphIdOffsetPair " : " glyphIdArray ";
        uint32_t previousGlyph = 0;
        bool idsSaid = false;
        for (uint64_t k = 0; k < sub.sparse; ++k) {
            const size_t id = ids + step * static_cast<size_t>(k);
            const uint32_t glyph = u16(id);
            if (!idsSaid && ((k > 0 && glyph <= previousGlyph) || glyph < first || glyph > last)) {
                idsSaid = true;
                report_.warning(at(sub.name + field + num(k), id),
                                "glyph " + num(glyph) + (glyph < first || glyph > last
                                                             ? " is outside the subtable's " + num(first) + " to " + num(last) + ": FreeType never finds it"
                                                             : " does not follow glyph " + num(previousGlyph) + "; the glyph ids should ascend"));
            }
            previousGlyph = glyph;
            if (glyph < first || glyph > last)
                continue;
            if (!pairs) {
                checkGlyphImage(st, sub, glyph, sub.imageSize * k, sub.imageSize, id);
                continue;
            }
            const uint32_t here = u16(id + 2), next = u16(id + 6);
            if (next < here)
                st.backwards.note([&](std::string& w, std::string& text) {
                    w = at(sub.name + field + num(k), id);
                    text = glyphName(glyph) + ": its image would end at " + num(next) + ", before its start " + num(here) +
                           "; the glyph comes out blank";
                });
            else if (next > here)
                checkGlyphImage(st, sub, glyph, here, next - here, id);
        }
        break;
    }
    default:
        break;
    }
}

std::string OtbCheck::imageWhere(const Strike& st, uint32_t glyph, size_t offset)
{
    // Findings about a glyph's image itself are placed at it.
    return at(st.dataName + ", strike " + num(st.index) + ", " + glyphName(glyph), offset);
}

void OtbCheck::checkGlyphImage(Strike& st, const IndexSubtable& sub, uint32_t glyph, uint64_t start, uint64_t length,
                               size_t locatedAt)
{
    if (glyph >= numGlyphs_)
        return;
    if (stamps_[glyph] == stamp_) {
        st.twice.note([&](std::string& w, std::string& text) {
            w = at(sub.name, locatedAt);
            text = glyphName(glyph) + " has a bitmap in an earlier subtable of the strike; FreeType uses that one";
        });
        return;
    }
    const Table& data = st.data;
    const uint64_t begin = sub.imageData + start;
    if (begin > data.length || length > data.length - begin) {
        st.pastEnd.note([&](std::string& w, std::string& text) {
            w = at(sub.name, locatedAt);
            text = glyphName(glyph) + ": its image (" + num(length) + " bytes at byte " + num(begin) + " of " + st.dataName +
                   ") runs past the end of the " + num(data.length) + "-byte table; the glyph comes out blank";
        });
        return;
    }
    stamps_[glyph] = stamp_;
    ++st.covered;
    const uint32_t imageFormat = sub.imageFormat;
    const size_t p = data.offset + static_cast<size_t>(begin);
    GlyphMetrics m = sub.shared;
    size_t metricsSize = 0;
    if (imageFormat == 1 || imageFormat == 2 || imageFormat == 8 || imageFormat == 17)
        metricsSize = 5;
    else if (imageFormat == 6 || imageFormat == 7 || imageFormat == 9 || imageFormat == 18)
        metricsSize = 8;
    if (length < metricsSize) {
        st.shortImage.note([&](std::string& w, std::string& text) {
            w = imageWhere(st, glyph, p);
            text = "its image is " + num(length) + " bytes, too short for its " + num(metricsSize) + "-byte metrics";
        });
        return;
    }
    if (metricsSize != 0)
        m = {u8(p), u8(p + 1), u8(p + 4), s8(p + 2), s8(p + 3)};
    sizes_[glyph] = static_cast<uint16_t>(m.width << 8 | m.height);
    const uint64_t body = length - metricsSize;
    const uint64_t rowBits = uint64_t{m.width} * st.depth;
    const uint64_t byteAligned = (rowBits + 7) / 8 * m.height, bitAligned = (rowBits * m.height + 7) / 8;
    const uint64_t want = imageBytesNeeded(st, imageFormat, glyph, m, p, p + metricsSize, body, byteAligned, bitAligned);
    if (body < want) {
        st.shortImage.note([&](std::string& w, std::string& text) {
            w = imageWhere(st, glyph, p);
            text = "its image (format " + num(imageFormat) + ", " + num(m.width) + " x " + num(m.height) + ") has " +
                   num(body) + " bytes of data; it needs " + num(want) + ", so the glyph comes out blank";
        });
    } else if (body > want && imageFormat <= 7 && !((imageFormat == 2 || imageFormat == 7) && body == byteAligned)) {
        st.extra.note([&](std::string& w, std::string& text) {
            w = imageWhere(st, glyph, p);
            text = "its image (format " + num(imageFormat) + ", " + num(m.width) + " x " + num(m.height) + ") has " +
                   num(body) + " bytes of data; it needs " + num(want);
        });
    }
    checkBitmapAdvance(st, glyph, m.advance, p);
}

uint64_t OtbCheck::imageBytesNeeded(Strike& st, uint32_t imageFormat, uint32_t glyph, const GlyphMetrics& m, size_t p, size_t q,
                                    uint64_t body, uint64_t byteAligned, uint64_t bitAligned)
{
    switch (imageFormat) {
    case 1:
    case 6:
        return byteAligned;
    case 2:
    case 7:
        // FreeType takes an image of exactly byte-aligned size for byte-aligned rows.
        if (bitAligned < byteAligned && body == byteAligned)
            st.aligned.note([&](std::string& w, std::string& text) {
                w = imageWhere(st, glyph, p);
                text = "its bit-aligned image (format " + num(imageFormat) + ") is " + num(body) +
                       " bytes, the size of byte-aligned rows, so FreeType reads it as byte-aligned";
            });
        return bitAligned;
    case 5:
        return bitAligned;
    case 8:
    case 9: {
        const size_t countAt = imageFormat == 8 ? q + 1 : q;
        const uint64_t headerBytes = imageFormat == 8 ? 3 : 2;
        const uint64_t components = body >= headerBytes ? u16(countAt) : 0;
        const uint64_t want = headerBytes + 4 * components;
        if (body >= want && components != 0)
            compounds_.push_back({glyph, countAt + 2, static_cast<uint32_t>(components), m.width, m.height});
        return want;
    }
    case 17:
    case 18:
    case 19: {
        const uint64_t pngLength = body >= 4 ? u32(q) : 0;
        const uint64_t want = 4 + pngLength;
        if (body >= want && (pngLength < 8 || u32(q + 4) != 0x89504E47))
            st.png.note([&](std::string& w, std::string& text) {
                w = imageWhere(st, glyph, p);
                text = "its image data is not a PNG";
            });
        return want;
    }
    default:
        return 0;
    }
}

void OtbCheck::checkBitmapAdvance(Strike& st, uint32_t glyph, uint32_t bitmapAdvance, size_t p)
{
    // HarfBuzz, and so Pango, spaces glyphs by hmtx; FreeType draws the bitmap's own advance. Off
    // by half a pixel or more, the two disagree even when rounded.
    const uint64_t ppem = st.ppemX;
    uint32_t units = 0;
    if (!headOk_ || !hmtxAdvance(glyph, units) || ppem == 0)
        return;
    const uint64_t scaled = uint64_t{units} * ppem, bitmap = uint64_t{bitmapAdvance} * unitsPerEm_;
    const uint64_t off = scaled > bitmap ? scaled - bitmap : bitmap - scaled;
    if (2 * off >= unitsPerEm_)
        st.advance.note([&](std::string& w, std::string& text) {
            w = imageWhere(st, glyph, p);
            text = "its hmtx advance, " + num(units) + " of " + num(unitsPerEm_) + " units, is " +
                   pixels((scaled * 100 + unitsPerEm_ / 2) / unitsPerEm_) + " pixels at " + num(ppem) +
                   " pixels per em; the bitmap advances " + num(bitmapAdvance) +
                   ": Pango spaces the glyphs by hmtx and FreeType draws them by the bitmap";
        });
}

void OtbCheck::checkCompounds(Strike& st)
{
    // Compound glyphs: each component needs a bitmap of its own in the same strike, and FreeType
    // draws it at its offset from the compound's top left corner, inside the compound's box.
    for (const Compound& c : compounds_) {
        if (!spend(c.count, st.where))
            break;
        for (uint32_t k = 0; k < c.count; ++k) {
            const size_t record = c.components + 4 * size_t{k};
            const uint32_t part = u16(record);
            const int32_t dx = s8(record + 2), dy = s8(record + 3);
            const bool found = part != c.glyph && part < numGlyphs_ && stamps_[part] == stamp_;
            const int32_t width = found ? sizes_[part] >> 8 : 0, height = found ? sizes_[part] & 0xFF : 0;
            const bool inside = dx >= 0 && dy >= 0 && dx + width <= static_cast<int32_t>(c.width) &&
                                dy + height <= static_cast<int32_t>(c.height);
            if (found && inside)
                continue;
            st.component.note([&](std::string& w, std::string& text) {
                w = at(st.dataName + ", strike " + num(st.index) + ", " + glyphName(c.glyph) + ", component " + num(k), record);
                text = "glyph " + num(part) +
                       (part == c.glyph ? " is the compound glyph itself"
                        : !found        ? " has no bitmap in this strike"
                                        : " (" + snum(width) + " x " + snum(height) + " at " + snum(dx) + ", " + snum(dy) +
                                              ") falls outside the compound's " + num(c.width) + " x " + num(c.height) + " box") +
                       ": FreeType refuses the glyph";
            });
        }
    }
}

void OtbCheck::finishStrike(Strike& st)
{
    st.twice.flush(report_);
    st.backwards.flush(report_);
    st.pastEnd.flush(report_);
    st.shortImage.flush(report_);
    st.aligned.flush(report_);
    st.extra.flush(report_);
    st.png.flush(report_);
    st.component.flush(report_);
    st.advance.flush(report_);
    if (overBudget_ || st.covered >= numGlyphs_)
        return;
    uint32_t firstMissing = 0;
    if (spend(numGlyphs_, st.where))
        while (firstMissing < numGlyphs_ && stamps_[firstMissing] == stamp_)
            ++firstMissing;
    report_.warning(st.where, num(numGlyphs_ - st.covered) + " of the " + num(numGlyphs_) + " glyphs " +
                                  (numGlyphs_ - st.covered == 1 ? "has" : "have") + " no bitmap in this strike (the first is " +
                                  glyphName(firstMissing) + "); FreeType draws them blank, as spaces of their hmtx advance");
}

void OtbCheck::run()
{
    if (!readDirectory())
        return;
    if (sfntVersion_ != 0x00010000 && sfntVersion_ != kTrue && sfntVersion_ != kOtto)
        report_.error("sfntVersion (byte 0)", "is " + hex(sfntVersion_) + "; expected 0x00010000, 'true' or 'OTTO'");
    head_ = find(kHead);
    hhea_ = find(kHhea);
    hmtx_ = find(kHmtx);
    for (const Entry& e : entries_)
        if (e.tag == kHmtx && e.valid && e.usable != 0) {
            hmtxClipped_ = e.usable != e.length;
            break;
        }
    maxp_ = find(kMaxp);
    cmap_ = find(kCmap);
    name_ = find(kName);
    os2_ = find(kOs2);
    post_ = find(kPost);
    checkChecksums();
    checkHead();
    checkMaxp();
    checkHhea();
    checkHmtx();
    checkCmap();
    checkName();
    checkOs2();
    checkPost();
    checkOutlines();
    checkBitmaps();
    if (!r_.ok())
        report_.error("", r_.error());
}

}  // namespace

void checkOtb(std::span<const uint8_t> bytes, CheckReport& report)
{
    report.format = "OTB";
    OtbCheck(bytes, report).run();
}

}  // namespace qf
