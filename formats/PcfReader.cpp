// Checks a PCF file (X11's Portable Compiled Format) the way its two real readers take it: the X
// server's libXfont and FreeType. Both read the table of contents and then walk the tables front
// to back without ever seeking back, each table first giving its own format word (bytes and bits
// order, glyph row padding, scan unit, compressed metrics). What either refuses or draws wrongly is
// an error; what they put up with (accelerators the glyphs contradict, ink metrics that are not the
// bitmaps' ink, missing optional tables) is a warning.
#include "formats/FileCheck.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

namespace {

constexpr uint32_t kProperties = 1u << 0;
constexpr uint32_t kAccelerators = 1u << 1;
constexpr uint32_t kMetrics = 1u << 2;
constexpr uint32_t kBitmaps = 1u << 3;
constexpr uint32_t kInkMetrics = 1u << 4;
constexpr uint32_t kEncodings = 1u << 5;
constexpr uint32_t kScalableWidths = 1u << 6;
constexpr uint32_t kGlyphNames = 1u << 7;
constexpr uint32_t kBdfAccelerators = 1u << 8;
constexpr size_t kTypeCount = 9;
constexpr std::array<const char*, kTypeCount> kTableNames = {
    "PROPERTIES", "ACCELERATORS", "METRICS", "BITMAPS", "INK_METRICS",
    "BDF_ENCODINGS", "SWIDTHS", "GLYPH_NAMES", "BDF_ACCELERATORS"};

// The format word: the high 24 bits say which layout a table has, the low 8 how its numbers and
// bitmaps are stored.
constexpr uint32_t kLayoutMask = 0xFFFFFF00u;
constexpr uint32_t kDefaultLayout = 0;
constexpr uint32_t kWithInkBounds = 0x100;      // accelerators
constexpr uint32_t kCompressedMetrics = 0x100;  // metrics and ink metrics

// FreeType reads at most this many entries of the table of contents, one per table type.
constexpr size_t kFreeTypeMaxTables = 9;
// FreeType keeps the first 256 properties and the first 65534 glyphs.
constexpr uint32_t kFreeTypeMaxProperties = 256;
constexpr uint32_t kFreeTypeMaxGlyphs = 65534;
constexpr uint16_t kNoGlyph = 0xFFFF;
// Per-glyph problems of one kind: this many are named, the rest counted.
constexpr size_t kNamedPerKind = 3;

uint32_t layout(uint32_t format) { return format & kLayoutMask; }
bool bigEndian(uint32_t format) { return (format & 4) != 0; }
bool bitsMsbFirst(uint32_t format) { return (format & 8) != 0; }
uint32_t padIndex(uint32_t format) { return format & 3; }
size_t glyphPad(uint32_t format) { return size_t{1} << padIndex(format); }
size_t scanUnit(uint32_t format) { return size_t{1} << ((format >> 4) & 3); }

// Bytes in one row of a glyph width pixels wide, padded as the bitmaps say.
int64_t rowBytes(int64_t width, size_t pad)
{
    if (width <= 0)
        return 0;
    const auto padBits = static_cast<int64_t>(8 * pad);
    return (width + padBits - 1) / padBits * static_cast<int64_t>(pad);
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string at(const std::string& what, uint64_t offset) { return what + " (" + byteAt(offset) + ")"; }

std::string plural(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Text from the file, quoted in a finding: control and non-ASCII bytes become '?', long text is cut.
std::string printable(std::string_view text)
{
    std::string out;
    for (const char c : text.substr(0, 60))
        out += c >= 0x20 && c < 0x7F ? c : '?';
    if (text.size() > 60)
        out += "...";
    return out;
}

constexpr std::array<uint8_t, 256> kReversedBits = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            r |= ((v >> bit) & 1u) << (7 - bit);
        table[v] = static_cast<uint8_t>(r);
    }
    return table;
}();

// X11's xCharInfo.
struct Metric {
    int16_t leftSideBearing = 0, rightSideBearing = 0, characterWidth = 0, ascent = 0, descent = 0;
    uint16_t attributes = 0;

    int32_t width() const { return int32_t{rightSideBearing} - leftSideBearing; }
    int32_t height() const { return int32_t{ascent} + descent; }
    int32_t field(size_t i) const
    {
        const std::array<int16_t, 5> v = {leftSideBearing, rightSideBearing, characterWidth, ascent, descent};
        return v[i];
    }
    // The X server leaves glyphs with no metrics at all out of the font's bounds.
    bool empty() const
    {
        return leftSideBearing == 0 && rightSideBearing == 0 && characterWidth == 0 && ascent == 0 && descent == 0;
    }
};
constexpr std::array<const char*, 5> kMetricFields = {"leftSideBearing", "rightSideBearing", "characterWidth",
                                                      "ascent", "descent"};

// Fields at p, which the caller has checked the file holds.
uint32_t get16(const uint8_t* p, bool big)
{
    return big ? uint32_t{p[0]} << 8 | p[1] : uint32_t{p[1]} << 8 | p[0];
}
uint32_t get32(const uint8_t* p, bool big)
{
    return big ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
               : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// One xCharInfo record: six 16-bit fields, or five bytes offset by 0x80 when compressed.
Metric decodeMetric(const uint8_t* p, bool big, bool compressed)
{
    Metric m;
    if (compressed) {
        m.leftSideBearing = static_cast<int16_t>(p[0] - 0x80);
        m.rightSideBearing = static_cast<int16_t>(p[1] - 0x80);
        m.characterWidth = static_cast<int16_t>(p[2] - 0x80);
        m.ascent = static_cast<int16_t>(p[3] - 0x80);
        m.descent = static_cast<int16_t>(p[4] - 0x80);
        return m;
    }
    m.leftSideBearing = static_cast<int16_t>(get16(p, big));
    m.rightSideBearing = static_cast<int16_t>(get16(p + 2, big));
    m.characterWidth = static_cast<int16_t>(get16(p + 4, big));
    m.ascent = static_cast<int16_t>(get16(p + 6, big));
    m.descent = static_cast<int16_t>(get16(p + 8, big));
    m.attributes = static_cast<uint16_t>(get16(p + 10, big));
    return m;
}

Metric readMetric(ByteReader& r, std::string_view field, bool big)
{
    const auto record = r.bytes(field, 12);
    return record.empty() ? Metric{} : decodeMetric(record.data(), big, false);
}

struct TocEntry {
    uint32_t type = 0, format = 0, size = 0, offset = 0;
    size_t entry = 0;
    int kind = -1;     // index into kTableNames, or -1 for a type no reader knows
    bool cut = false;  // the file ends before it does
    uint64_t next = 0;  // where the next table in the file starts, or the file's end
};

struct Accelerators {
    bool present = false;
    uint32_t format = 0;
    size_t offset = 0;
    bool noOverlap = false, constantMetrics = false, terminalFont = false, constantWidth = false,
         inkInside = false;
    int32_t fontAscent = 0, fontDescent = 0, maxOverlap = 0;
    Metric minBounds, maxBounds, inkMinBounds, inkMaxBounds;
    bool inkBounds = false;
};

struct Property {
    std::string_view name;
    bool isString = false;
    int32_t value = 0;
    std::string_view text;
    size_t offset = 0;  // of its record
};

// The bounds of a set of glyphs, as the X server works them out for the accelerators.
struct Bounds {
    bool any = false;
    std::array<int32_t, 5> min{}, max{};
    std::array<size_t, 5> minGlyph{}, maxGlyph{};
    int32_t maxOverlap = INT32_MIN;
    size_t overlapGlyph = 0;
};

// One kind of per-glyph problem: the first few are reported as they come, the rest counted and
// summed up once, so a font with every glyph wrong still gives a readable report.
class Repeated {
public:
    Repeated(CheckReport& report, bool isError) : report_(report), isError_(isError) {}
    // where and text make the finding's strings, only for the problems named.
    template <class Where, class Text>
    void add(Where where, Text text)
    {
        if (++count_ > kNamedPerKind)
            return;
        if (isError_)
            report_.error(where(), text());
        else
            report_.warning(where(), text());
    }
    void finish(const std::string& where, const std::string& what)
    {
        if (count_ <= kNamedPerKind)
            return;
        const std::string text = std::to_string(count_ - kNamedPerKind) + " more " + what;
        if (isError_)
            report_.error(where, text);
        else
            report_.warning(where, text);
    }

private:
    CheckReport& report_;
    bool isError_;
    size_t count_ = 0;
};

class PcfCheck {
public:
    PcfCheck(std::span<const uint8_t> bytes, CheckReport& report) : bytes_(bytes), report_(report) {}
    void run();

private:
    bool readTableOfContents();
    void checkTableExtents();
    void readProperties(const TocEntry& t);
    // The property records, kept in properties_ when sound, and the checks on their names.
    void readPropertyRecords(size_t recordsAt, uint32_t count, bool big, size_t stringsAt, uint32_t stringSize);
    void checkPropertyNames(const TocEntry& t);
    void readAccelerators(const TocEntry& t, Accelerators& a);
    bool readMetrics(const TocEntry& t, std::vector<Metric>& out, size_t& recordsAt, size_t& recordSize);
    void readBitmaps(const TocEntry& t);
    void readEncodings(const TocEntry& t);
    void readScalableWidths(const TocEntry& t);
    void readGlyphNames(const TocEntry& t);
    void checkGlyphs();
    // How the bitmap data is to be read, and what a glyph's bitmap holds.
    struct BitmapLayout {
        const uint8_t* data;
        size_t scan;
        bool swap, reverse, plain;
    };
    struct GlyphInk {
        int32_t left = INT32_MAX, right = -1, top = -1, bottom = -1;  // top < 0: no ink
        bool inkInPadding = false;
    };
    void checkInk();
    GlyphInk scanGlyphInk(const BitmapLayout& layout, uint64_t offset, int32_t width, int32_t height, int64_t rb) const;
    void compareInkMetrics(size_t i, const Metric& m, const GlyphInk& g, Repeated& wrongInk);
    void checkAccelerators(const Accelerators& a, const char* name);
    void checkPropertiesAgainstAccelerators();
    void checkReadingOrder();
    void describeFont();

    const TocEntry* table(uint32_t type) const
    {
        const int kind = std::countr_zero(type);
        return first_[static_cast<size_t>(kind)] ? &toc_[*first_[static_cast<size_t>(kind)]] : nullptr;
    }
    // The bytes of a table the file holds (the last table's size may run past the end).
    size_t available(const TocEntry& t) const { return t.offset < bytes_.size() ? bytes_.size() - t.offset : 0; }
    // Reads a table's format word and says whether the layout is one of those given.
    bool layoutIs(const TocEntry& t, uint32_t format, std::initializer_list<uint32_t> layouts, const char* readers);
    void ended(const TocEntry& t, size_t end) { contentEnd_[static_cast<size_t>(t.kind)] = end; }
    bool failed(const ByteReader& r, const char* table);
    std::string glyph(size_t index) const;
    std::string code(uint32_t row, uint32_t col) const;
    const Property* property(std::string_view name) const;
    std::string_view stringAt(size_t start, size_t size, size_t offset) const;

    std::span<const uint8_t> bytes_;
    CheckReport& report_;

    std::vector<TocEntry> toc_;
    size_t tocEnd_ = 8;
    std::array<std::optional<size_t>, kTypeCount> first_{};
    std::array<size_t, kTypeCount> contentEnd_{};

    std::vector<Property> properties_;
    Accelerators accelerators_, bdfAccelerators_;
    std::vector<Metric> metrics_, inkMetrics_;
    bool haveMetrics_ = false, haveInkMetrics_ = false;
    // Where the first record of each metrics table is, and each record's size.
    size_t metricsAt_ = 0, metricSize_ = 0, inkMetricsAt_ = 0, inkMetricSize_ = 0;

    bool haveBitmaps_ = false;
    uint32_t bitmapFormat_ = 0;
    size_t offsetsStart_ = 0, dataStart_ = 0;
    uint32_t dataSize_ = 0;
    std::array<uint32_t, 4> bitmapSizes_{};
    std::vector<uint32_t> bitmapOffsets_;

    bool haveEncodings_ = false;
    std::vector<uint8_t> encoded_;  // per glyph: some code reaches it

    std::vector<uint32_t> nameOffsets_;
    size_t namesStart_ = 0, namesSize_ = 0;
};

bool PcfCheck::failed(const ByteReader& r, const char* table)
{
    if (r.ok())
        return false;
    report_.error(std::string(table) + ", " + r.error().substr(0, r.error().find(':')),
                  r.error().substr(r.error().find(':') + 2));
    return true;
}

std::string_view PcfCheck::stringAt(size_t start, size_t size, size_t offset) const
{
    if (offset >= size)
        return {};
    const auto* begin = reinterpret_cast<const char*>(bytes_.data() + start + offset);
    const std::string_view area(begin, size - offset);
    return area.substr(0, area.find('\0'));
}

std::string PcfCheck::glyph(size_t index) const
{
    std::string s = "glyph " + std::to_string(index);
    if (index < nameOffsets_.size()) {
        const std::string_view name = stringAt(namesStart_, namesSize_, nameOffsets_[index]);
        if (!name.empty())
            s += " '" + printable(name) + "'";
    }
    return s;
}

const Property* PcfCheck::property(std::string_view name) const
{
    for (const Property& p : properties_)
        if (p.name == name)
            return &p;
    return nullptr;
}

std::string PcfCheck::code(uint32_t row, uint32_t col) const
{
    const Property* registry = property("CHARSET_REGISTRY");
    std::string name = registry && registry->isString ? std::string(registry->text) : std::string();
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    char text[24];
    if (name == "ISO10646")
        std::snprintf(text, sizeof text, "U+%04X", (row << 8) | col);
    else
        std::snprintf(text, sizeof text, "code %u", (row << 8) | col);
    return text;
}

bool PcfCheck::layoutIs(const TocEntry& t, uint32_t format, std::initializer_list<uint32_t> layouts,
                        const char* readers)
{
    if (std::find(layouts.begin(), layouts.end(), layout(format)) != layouts.end())
        return true;
    std::string known;
    for (const uint32_t l : layouts)
        known += (known.empty() ? "" : " or ") + hex(l);
    report_.error(at(std::string(kTableNames[static_cast<size_t>(t.kind)]) + ", format", t.offset),
                  "format " + hex(format) + " has layout " + hex(layout(format)) + "; " + readers +
                      " only layout " + known);
    return false;
}

bool PcfCheck::readTableOfContents()
{
    ByteReader r(bytes_);
    const auto magic = r.bytes("header", 4);
    if (magic.size() == 4 && !(magic[0] == 1 && magic[1] == 'f' && magic[2] == 'c' && magic[3] == 'p')) {
        report_.error(at("header", 0), "not a PCF file: it does not begin with \\1fcp");
        return false;
    }
    const uint32_t count = r.le32("table_count");
    if (failed(r, "header"))
        return false;
    if (count == 0) {
        report_.error(at("table_count", 4), "0 tables: FreeType refuses a PCF file without tables, and the X "
                                            "server finds none of those it needs");
        return false;
    }
    if (count > (bytes_.size() - 8) / 16) {
        report_.error(at("table_count", 4),
                      plural(count, "table", "tables") + " would need a table of contents up to " +
                          byteAt(8 + 16 * uint64_t{count}) + ", past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return false;
    }
    if (count > kFreeTypeMaxTables)
        report_.warning(at("table_count", 4), plural(count, "table", "tables") +
                                                  " listed; there are 9 table types, and FreeType reads only the "
                                                  "first 9 entries");
    tocEnd_ = 8 + 16 * size_t{count};
    toc_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        TocEntry e;
        e.entry = i;
        e.type = r.le32("type");
        e.format = r.le32("format");
        e.size = r.le32("size");
        e.offset = r.le32("offset");
        auto where = [&] { return at("table of contents, entry " + std::to_string(i), 8 + 16 * size_t{i}); };
        if (e.type != 0 && std::has_single_bit(e.type) && std::countr_zero(e.type) < static_cast<int>(kTypeCount))
            e.kind = std::countr_zero(e.type);
        else
            report_.warning(where(), "PCF readers know no table of type " + hex(e.type) + " and skip it");
        if (e.kind >= 0) {
            auto& slot = first_[static_cast<size_t>(e.kind)];
            if (!slot) {
                slot = toc_.size();
                if (i >= kFreeTypeMaxTables)
                    report_.error(where(), std::string(kTableNames[static_cast<size_t>(e.kind)]) +
                                             " is listed past the 9th entry, which FreeType does not read");
            } else {
                const TocEntry& earlier = toc_[*slot];
                // The X server takes the first entry of a type, FreeType the one nearest the start of the file.
                if (e.offset < earlier.offset)
                    report_.error(where(), std::string("a second ") + kTableNames[static_cast<size_t>(e.kind)] +
                                             " table, before the first (entry " + std::to_string(earlier.entry) +
                                             ") in the file: FreeType reads this one, the X server the other");
                else
                    report_.warning(where(), std::string("a second ") + kTableNames[static_cast<size_t>(e.kind)] +
                                               " table; readers use the first (entry " +
                                               std::to_string(earlier.entry) + ")");
            }
        }
        toc_.push_back(e);
    }
    return true;
}

void PcfCheck::checkTableExtents()
{
    std::vector<TocEntry*> byOffset;
    byOffset.reserve(toc_.size());
    for (TocEntry& e : toc_)
        byOffset.push_back(&e);
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [](const TocEntry* a, const TocEntry* b) { return a->offset < b->offset; });
    const uint64_t fileSize = bytes_.size();
    auto name = [](const TocEntry& e) {
        return e.kind >= 0 ? std::string(kTableNames[static_cast<size_t>(e.kind)]) : "table type " + hex(e.type);
    };
    auto where = [&](const TocEntry& e) {
        return at("table of contents, entry " + std::to_string(e.entry) + ": " + name(e), 8 + 16 * e.entry);
    };
    std::vector<const TocEntry*> pastEnd;
    for (size_t i = 0; i < byOffset.size(); ++i) {
        TocEntry& e = *byOffset[i];
        const bool last = i + 1 == byOffset.size();
        e.next = last ? fileSize : byOffset[i + 1]->offset;
        const uint64_t end = uint64_t{e.offset} + e.size;
        if (e.offset < tocEnd_)
            report_.error(where(e), "offset " + std::to_string(e.offset) +
                                        " lies inside the header and table of contents, which end at " +
                                        byteAt(tocEnd_));
        // An empty table may sit at the very end; FreeType accepts that.
        if (e.offset > fileSize || (e.offset == fileSize && e.size > 0)) {
            e.cut = true;
            pastEnd.push_back(&e);
            continue;
        }
        // FreeType lets the last table run past the end (bdftopcf gives every accelerator table 100
        // bytes however long it is), and checks what it reads of it instead.
        if (!last && end > fileSize) {
            e.cut = true;
            report_.error(where(e), "the table runs from " + byteAt(e.offset) + " to " + byteAt(end) +
                                        ", past the end of the file (" + std::to_string(fileSize) + " bytes)");
        }
        if (!last && end > byOffset[i + 1]->offset)
            report_.error(where(e), "the table (" + byteAt(e.offset) + " to " + byteAt(end) + ") overlaps " +
                                        name(*byOffset[i + 1]) + ", which starts at " +
                                        byteAt(byOffset[i + 1]->offset));
        // Readers take each table's layout from the table's own format word; the two must agree.
        if (e.kind >= 0 && uint64_t{e.offset} + 4 <= fileSize) {
            ByteReader r(bytes_, e.offset);
            const uint32_t own = r.le32("format");
            if (own != e.format)
                report_.error(at(name(e) + ", format", e.offset),
                              "the table's format word is " + hex(own) + "; the table of contents says " +
                                  hex(e.format));
        }
    }
    // A file cut short loses every table from some point on: one finding says so.
    if (!pastEnd.empty()) {
        std::string text = "offset " + std::to_string(pastEnd.front()->offset) +
                           " points past the end of the file (" + std::to_string(fileSize) + " bytes)";
        if (pastEnd.size() > 1) {
            text += pastEnd.size() == 2 ? ", and so does 1 more table ("
                                        : ", and so do " + std::to_string(pastEnd.size() - 1) + " more tables (";
            for (size_t i = 1; i < pastEnd.size(); ++i)
                text += (i > 1 ? ", " : "") + name(*pastEnd[i]);
            text += "): the file looks cut short";
        }
        report_.error(where(*pastEnd.front()), text);
    }
}

void PcfCheck::readProperties(const TocEntry& t)
{
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, "PROPERTIES"))
        return;
    if (!layoutIs(t, format, {kDefaultLayout}, "the X server refuses any other, FreeType then ignores the "
                                               "properties; both take"))
        return;
    const bool big = bigEndian(format);
    const size_t countAt = r.position();
    const uint32_t count = r.u32("nprops", big);
    if (failed(r, "PROPERTIES"))
        return;
    if (count == 0 || count > INT32_MAX) {
        report_.error(at("PROPERTIES, nprops", countAt), "nprops is " + std::to_string(static_cast<int32_t>(count)) +
                                                             ": the X server refuses a font without properties");
        return;
    }
    const size_t room = available(t) - 8;
    if (count > room / 9) {
        report_.error(at("PROPERTIES, nprops", countAt),
                      std::to_string(count) + " properties of 9 bytes cannot fit in the " + std::to_string(room) +
                          " bytes the file holds from there");
        return;
    }
    if (count > kFreeTypeMaxProperties)
        report_.warning(at("PROPERTIES, nprops", countAt),
                        std::to_string(count) + " properties; FreeType reads only the first 256");
    const size_t recordsAt = r.position();
    r.skip("props", 9 * size_t{count}).skip("padding", (4 - count % 4) % 4);
    const size_t sizeAt = r.position();
    const uint32_t stringSize = r.u32("string_size", big);
    if (failed(r, "PROPERTIES"))
        return;
    if (stringSize > INT32_MAX || stringSize > r.remaining()) {
        report_.error(at("PROPERTIES, string_size", sizeAt),
                      "string_size " + std::to_string(stringSize) + " runs past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    const size_t stringsAt = r.position();
    ended(t, stringsAt + stringSize);
    // FreeType weighs both counts against the size the table of contents gives.
    const uint64_t size = std::min<uint64_t>(t.size, available(t));
    if (uint64_t{count} * 9 > size || stringSize > size - uint64_t{count} * 9)
        report_.error(at("PROPERTIES, string_size", sizeAt),
                      std::to_string(count) + " properties of 9 bytes and " + std::to_string(stringSize) +
                          " bytes of strings do not fit in the table's " + std::to_string(t.size) +
                          " bytes; FreeType refuses the font");

    readPropertyRecords(recordsAt, count, big, stringsAt, stringSize);
    checkPropertyNames(t);
}

void PcfCheck::readPropertyRecords(size_t recordsAt, uint32_t count, bool big, size_t stringsAt, uint32_t stringSize)
{
    properties_.reserve(count);
    ByteReader p(bytes_, recordsAt);
    for (uint32_t i = 0; i < count; ++i) {
        Property prop;
        prop.offset = p.position();
        const int32_t name = p.s32("name", big);
        const uint32_t isString = p.u8("isStringProp");
        prop.value = p.s32("value", big);
        auto where = [&] { return at("PROPERTIES, property " + std::to_string(i), prop.offset); };
        if (isString > 1) {
            report_.error(where(), "isStringProp is " + std::to_string(isString) +
                                     "; the X server refuses anything but 0 or 1");
            continue;
        }
        prop.isString = isString == 1;
        if (name < 0 || static_cast<uint32_t>(name) >= stringSize) {
            report_.error(where(), "name offset " + std::to_string(name) + " lies outside the " +
                                     std::to_string(stringSize) + "-byte string area");
            continue;
        }
        prop.name = stringAt(stringsAt, stringSize, static_cast<size_t>(name));
        if (prop.isString) {
            if (prop.value < 0 || static_cast<uint32_t>(prop.value) >= stringSize) {
                report_.error(where(), "the value of " + printable(prop.name) + " is at string offset " +
                                         std::to_string(prop.value) + ", outside the " + std::to_string(stringSize) +
                                         "-byte string area");
                continue;
            }
            prop.text = stringAt(stringsAt, stringSize, static_cast<size_t>(prop.value));
        }
        properties_.push_back(prop);
    }
    if (stringSize > 0 && bytes_[stringsAt + stringSize - 1] != 0)
        report_.warning(at("PROPERTIES, strings", stringsAt),
                        "the string area does not end with a NUL; its last string runs into what follows");
}

void PcfCheck::checkPropertyNames(const TocEntry& t)
{
    // A name given twice: readers look names up and find the first.
    std::vector<std::string_view> names;
    names.reserve(properties_.size());
    for (const Property& prop : properties_)
        names.push_back(prop.name);
    std::sort(names.begin(), names.end());
    for (size_t i = 1; i < names.size(); ++i)
        if (names[i] == names[i - 1] && (i == 1 || names[i] != names[i - 2]))
            report_.warning(at("PROPERTIES", t.offset),
                            "property " + printable(names[i]) + " is given more than once; readers use the first");

    static constexpr std::array<std::string_view, 9> textual = {"FONT", "FOUNDRY", "FAMILY_NAME", "WEIGHT_NAME",
                                                                "SLANT", "SETWIDTH_NAME", "SPACING",
                                                                "CHARSET_REGISTRY", "CHARSET_ENCODING"};
    static constexpr std::array<std::string_view, 8> numeric = {"PIXEL_SIZE", "POINT_SIZE", "RESOLUTION_X",
                                                                "RESOLUTION_Y", "AVERAGE_WIDTH", "FONT_ASCENT",
                                                                "FONT_DESCENT", "DEFAULT_CHAR"};
    for (const Property& prop : properties_) {
        const bool wantText = std::find(textual.begin(), textual.end(), prop.name) != textual.end();
        const bool wantNumber = std::find(numeric.begin(), numeric.end(), prop.name) != numeric.end();
        if ((wantText && !prop.isString) || (wantNumber && prop.isString))
            report_.warning(at("PROPERTIES, " + std::string(prop.name), prop.offset),
                            std::string("is ") + (prop.isString ? "a string" : "a number") + "; readers expect " +
                                (wantText ? "a string" : "a number") + " and ignore it");
    }
}

void PcfCheck::readAccelerators(const TocEntry& t, Accelerators& a)
{
    const char* name = kTableNames[static_cast<size_t>(t.kind)];
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, name))
        return;
    if (!layoutIs(t, format, {kDefaultLayout, kWithInkBounds},
                  "the X server refuses any other (FreeType ignores the table); both take"))
        return;
    const bool big = bigEndian(format);
    a.format = format;
    a.offset = t.offset;
    a.noOverlap = r.u8("noOverlap") != 0;
    a.constantMetrics = r.u8("constantMetrics") != 0;
    a.terminalFont = r.u8("terminalFont") != 0;
    a.constantWidth = r.u8("constantWidth") != 0;
    a.inkInside = r.u8("inkInside") != 0;
    r.skip("inkMetrics", 1).skip("drawDirection", 1).skip("padding", 1);
    const size_t ascentAt = r.position();
    a.fontAscent = r.s32("fontAscent", big);
    a.fontDescent = r.s32("fontDescent", big);
    a.maxOverlap = r.s32("maxOverlap", big);
    a.minBounds = readMetric(r, "minbounds", big);
    a.maxBounds = readMetric(r, "maxbounds", big);
    a.inkBounds = layout(format) == kWithInkBounds;
    if (a.inkBounds) {
        a.inkMinBounds = readMetric(r, "ink_minbounds", big);
        a.inkMaxBounds = readMetric(r, "ink_maxbounds", big);
    }
    if (failed(r, name))
        return;
    a.present = true;
    ended(t, r.position());
    if (a.fontAscent > 0x7FFF || a.fontAscent < -0x7FFF || a.fontDescent > 0x7FFF || a.fontDescent < -0x7FFF)
        report_.warning(at(std::string(name) + ", fontAscent", ascentAt),
                        "fontAscent " + std::to_string(a.fontAscent) + " and fontDescent " +
                            std::to_string(a.fontDescent) + " must lie within +-32767; FreeType cuts them there");
}

bool PcfCheck::readMetrics(const TocEntry& t, std::vector<Metric>& out, size_t& recordsAt, size_t& recordSize)
{
    const char* name = kTableNames[static_cast<size_t>(t.kind)];
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, name))
        return false;
    if (!layoutIs(t, format, {kDefaultLayout, kCompressedMetrics},
                  t.type == kMetrics ? "the X server and FreeType refuse any other; they take"
                                     : "the X server refuses any other; it takes"))
        return false;
    const bool big = bigEndian(format);
    const bool compressed = layout(format) == kCompressedMetrics;
    const size_t countAt = r.position();
    const uint32_t count = compressed ? r.u16("metrics_count", big) : r.u32("metrics_count", big);
    if (failed(r, name))
        return false;
    const size_t record = compressed ? 5 : 12;
    const std::string where = at(std::string(name) + ", metrics_count", countAt);
    if (count == 0 && t.type == kMetrics) {
        report_.error(where, "0 glyphs: FreeType refuses a font without glyphs");
        return false;
    }
    if (count > INT32_MAX || count > r.remaining() / record) {
        report_.error(where, std::to_string(count) + " glyphs of " + std::to_string(record) + " bytes run past the "
                                                                                               "end of the file (" +
                                 std::to_string(bytes_.size()) + " bytes)");
        return false;
    }
    if (t.type == kMetrics && count > std::min<uint64_t>(t.size, available(t)) / record)
        report_.error(where, std::to_string(count) + " glyphs of " + std::to_string(record) +
                                 " bytes do not fit in the table's " + std::to_string(t.size) +
                                 " bytes; FreeType refuses the font");
    recordsAt = r.position();
    recordSize = record;
    out.reserve(count);
    const auto records = r.bytes("metrics", count * record);
    for (size_t i = 0; i < count; ++i)
        out.push_back(decodeMetric(records.data() + i * record, big, compressed));
    ended(t, r.position());
    if (t.type == kMetrics && count > kFreeTypeMaxGlyphs)
        report_.warning(where, std::to_string(count) + " glyphs; FreeType reads only the first 65534");
    return true;
}

void PcfCheck::readBitmaps(const TocEntry& t)
{
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, "BITMAPS"))
        return;
    if (!layoutIs(t, format, {kDefaultLayout}, "the X server and FreeType refuse any other; they take"))
        return;
    const bool big = bigEndian(format);
    const size_t countAt = r.position();
    const uint32_t count = r.u32("glyph_count", big);
    if (failed(r, "BITMAPS"))
        return;
    if (haveMetrics_ && count != metrics_.size()) {
        report_.error(at("BITMAPS, glyph_count", countAt),
                      plural(count, "bitmap", "bitmaps") + " for " + plural(metrics_.size(), "glyph", "glyphs") +
                          " in METRICS; the X server and FreeType refuse a font where they differ");
        return;
    }
    if (count > r.remaining() / 4) {
        report_.error(at("BITMAPS, glyph_count", countAt),
                      std::to_string(count) + " bitmap offsets run past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    offsetsStart_ = r.position();
    bitmapOffsets_.reserve(count);
    const uint8_t* offsets = r.bytes("offsets", 4 * size_t{count}).data();
    for (size_t i = 0; i < count; ++i)
        bitmapOffsets_.push_back(get32(offsets + 4 * i, big));
    for (uint32_t& size : bitmapSizes_)
        size = r.u32("bitmapSizes", big);
    if (failed(r, "BITMAPS"))
        return;
    dataStart_ = r.position();
    dataSize_ = bitmapSizes_[padIndex(format)];
    bitmapFormat_ = format;
    if (dataSize_ > r.remaining()) {
        report_.error(at("BITMAPS, bitmapSizes[" + std::to_string(padIndex(format)) + "]",
                         dataStart_ - 16 + 4 * padIndex(format)),
                      "the bitmap data (" + std::to_string(dataSize_) + " bytes at " +
                          std::to_string(glyphPad(format)) + "-byte padding) would run past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    ended(t, dataStart_ + dataSize_);
    haveBitmaps_ = true;

    const size_t scan = scanUnit(format);
    if (bigEndian(format) != bitsMsbFirst(format) && scan == 8)
        report_.error(at("BITMAPS, format", t.offset),
                      "format " + hex(format) + " gives a scan unit of 8 bytes with byte order unlike bit order; "
                                                "readers swap bytes in units of 2 or 4 only and misdraw every glyph");
}

void PcfCheck::readEncodings(const TocEntry& t)
{
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, "BDF_ENCODINGS"))
        return;
    if (!layoutIs(t, format, {kDefaultLayout}, "the X server and FreeType refuse any other; they take"))
        return;
    const bool big = bigEndian(format);
    const uint32_t firstCol = r.u16("min_char_or_byte2", big);
    const uint32_t lastCol = r.u16("max_char_or_byte2", big);
    const uint32_t firstRow = r.u16("min_byte1", big);
    const uint32_t lastRow = r.u16("max_byte1", big);
    const size_t defaultAt = r.position();
    const uint32_t defaultChar = r.u16("default_char", big);
    if (failed(r, "BDF_ENCODINGS"))
        return;
    if (firstCol > lastCol || firstRow > lastRow || lastCol > 0xFF || lastRow > 0xFF) {
        report_.error(at("BDF_ENCODINGS, min_char_or_byte2", t.offset + 4),
                      "columns " + std::to_string(firstCol) + " to " + std::to_string(lastCol) + " and rows " +
                          std::to_string(firstRow) + " to " + std::to_string(lastRow) +
                          ": each must run upwards within 0 to 255, or the X server and FreeType refuse the font");
        return;
    }
    const size_t cols = lastCol - firstCol + 1, rows = lastRow - firstRow + 1;
    const size_t arrayAt = r.position();
    if (2 * cols * rows > r.remaining()) {
        report_.error(at("BDF_ENCODINGS, glyphindeces", arrayAt),
                      std::to_string(cols * rows) + " glyph indices run past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    ended(t, arrayAt + 2 * cols * rows);
    haveEncodings_ = true;
    const size_t glyphs = haveMetrics_ ? metrics_.size() : SIZE_MAX;
    if (haveMetrics_)
        encoded_.assign(glyphs, 0);
    Repeated pastEnd(report_, true);
    size_t mapped = 0;
    const uint8_t* indices = bytes_.data() + arrayAt;
    for (size_t row = 0; row < rows; ++row)
        for (size_t col = 0; col < cols; ++col) {
            const size_t at_ = arrayAt + 2 * (row * cols + col);
            const uint32_t index = get16(indices + 2 * (row * cols + col), big);
            if (index == kNoGlyph)
                continue;
            ++mapped;
            if (index >= glyphs) {
                const auto charRow = firstRow + static_cast<uint32_t>(row);
                const auto charCol = firstCol + static_cast<uint32_t>(col);
                pastEnd.add([&] { return at("BDF_ENCODINGS, " + code(charRow, charCol), at_); },
                            [&] {
                                return "maps to glyph " + std::to_string(index) + "; the font has " +
                                       plural(glyphs, "glyph", "glyphs") + " (the X server refuses the font)";
                            });
                continue;
            }
            if (haveMetrics_)
                encoded_[index] = 1;
        }
    pastEnd.finish(at("BDF_ENCODINGS", t.offset), "codes map past the last glyph");
    if (mapped == 0)
        report_.warning(at("BDF_ENCODINGS", t.offset), "no code maps to a glyph: the font draws nothing");

    // The default character stands in for codes the font lacks.
    if (defaultChar != kNoGlyph) {
        const uint32_t row = defaultChar >> 8, col = defaultChar & 0xFF;
        std::string problem;
        if (row < firstRow || row > lastRow || col < firstCol || col > lastCol) {
            problem = "lies outside the codes the font covers";
        } else {
            const uint32_t index = get16(indices + 2 * ((row - firstRow) * cols + (col - firstCol)), big);
            if (index == kNoGlyph)
                problem = "has no glyph";
            else if (index >= glyphs)
                problem = "maps past the last glyph";
        }
        if (!problem.empty())
            report_.warning(at("BDF_ENCODINGS, default_char", defaultAt),
                            "default_char " + code(row, col) + " " + problem +
                                ": the X server draws nothing for missing characters, FreeType the first glyph");
    }
}

void PcfCheck::readScalableWidths(const TocEntry& t)
{
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, "SWIDTHS"))
        return;
    if (!layoutIs(t, format, {kDefaultLayout}, "PCF-to-BDF converters refuse any other; they take"))
        return;
    const size_t countAt = r.position();
    const uint32_t count = r.u32("glyph_count", bigEndian(format));
    if (failed(r, "SWIDTHS"))
        return;
    if (haveMetrics_ && count != metrics_.size())
        report_.error(at("SWIDTHS, glyph_count", countAt),
                      plural(count, "width", "widths") + " for " + plural(metrics_.size(), "glyph", "glyphs") +
                          "; PCF-to-BDF converters refuse a font where they differ");
    if (count > r.remaining() / 4) {
        report_.error(at("SWIDTHS, swidths", r.position()),
                      std::to_string(count) + " widths run past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    ended(t, r.position() + 4 * size_t{count});
}

void PcfCheck::readGlyphNames(const TocEntry& t)
{
    ByteReader r(bytes_, t.offset);
    const uint32_t format = r.le32("format");
    if (failed(r, "GLYPH_NAMES"))
        return;
    if (!layoutIs(t, format, {kDefaultLayout}, "PCF-to-BDF converters refuse any other; they take"))
        return;
    const bool big = bigEndian(format);
    const size_t countAt = r.position();
    const uint32_t count = r.u32("glyph_count", big);
    if (failed(r, "GLYPH_NAMES"))
        return;
    if (haveMetrics_ && count != metrics_.size()) {
        report_.error(at("GLYPH_NAMES, glyph_count", countAt),
                      plural(count, "name", "names") + " for " + plural(metrics_.size(), "glyph", "glyphs") +
                          "; PCF-to-BDF converters refuse a font where they differ");
        return;
    }
    if (count > r.remaining() / 4) {
        report_.error(at("GLYPH_NAMES, glyph_count", countAt),
                      std::to_string(count) + " name offsets run past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    const size_t offsetsAt = r.position();
    r.skip("offsets", 4 * size_t{count});
    const size_t sizeAt = r.position();
    const uint32_t stringSize = r.u32("string_size", big);
    if (failed(r, "GLYPH_NAMES"))
        return;
    if (stringSize > r.remaining()) {
        report_.error(at("GLYPH_NAMES, string_size", sizeAt),
                      "string_size " + std::to_string(stringSize) + " runs past the end of the file (" +
                          std::to_string(bytes_.size()) + " bytes)");
        return;
    }
    namesStart_ = r.position();
    namesSize_ = stringSize;
    ended(t, namesStart_ + namesSize_);
    Repeated outside(report_, true);
    nameOffsets_.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t entryAt = offsetsAt + 4 * i;
        const uint32_t offset = get32(bytes_.data() + entryAt, big);
        if (offset >= stringSize)
            outside.add([&] { return at("GLYPH_NAMES, glyph " + std::to_string(i), entryAt); },
                        [&] {
                            return "name offset " + std::to_string(offset) + " lies outside the " +
                                   std::to_string(stringSize) +
                                   "-byte string area; PCF-to-BDF converters refuse the font";
                        });
        nameOffsets_.push_back(offset);
    }
    outside.finish(at("GLYPH_NAMES", t.offset), "glyph names lie outside the string area");
}

// Each glyph's box, and where its bitmap lies in the bitmap data.
void PcfCheck::checkGlyphs()
{
    if (!haveMetrics_)
        return;
    const TocEntry* metricsTable = table(kMetrics);
    Repeated negative(report_, true);
    for (size_t i = 0; i < metrics_.size(); ++i) {
        const Metric& m = metrics_[i];
        if (m.width() < 0 || m.height() < 0)
            negative.add([&] { return at("METRICS, " + glyph(i), metricsAt_ + i * metricSize_); },
                         [&] {
                             return "rightSideBearing " + std::to_string(m.rightSideBearing) +
                                    " and leftSideBearing " + std::to_string(m.leftSideBearing) + ", ascent " +
                                    std::to_string(m.ascent) + " and descent " + std::to_string(m.descent) +
                                    " give a negative width or height; the X server refuses the font, FreeType draws "
                                    "the glyph blank";
                         });
    }
    negative.finish(at("METRICS", metricsTable->offset), "glyphs with a negative width or height");

    // FreeType draws nothing of a glyph more than 4 times the font's size across or high.
    const Property* pixelSize = property("PIXEL_SIZE");
    if (pixelSize && !pixelSize->isString && pixelSize->value > 0 && pixelSize->value <= 0x7FFF) {
        const int64_t yppem = pixelSize->value;
        int64_t xppem = yppem;
        const Property* rx = property("RESOLUTION_X");
        const Property* ry = property("RESOLUTION_Y");
        if (rx && ry && !rx->isString && !ry->isString && rx->value > 0 && ry->value > 0 && rx->value <= 0x7FFF &&
            ry->value <= 0x7FFF)
            xppem = yppem * rx->value / ry->value;
        Repeated huge(report_, false);
        for (size_t i = 0; i < metrics_.size(); ++i) {
            const Metric& m = metrics_[i];
            if (m.height() > 4 * yppem || m.width() > 4 * xppem)
                huge.add([&] { return at("METRICS, " + glyph(i), metricsAt_ + i * metricSize_); },
                         [&] {
                             return std::to_string(m.width()) + " x " + std::to_string(m.height()) +
                                    " pixels, over 4 times PIXEL_SIZE " + std::to_string(yppem) +
                                    "; FreeType draws it blank";
                         });
        }
        huge.finish(at("METRICS", metricsTable->offset), "glyphs over 4 times PIXEL_SIZE");
    }

    if (!haveBitmaps_)
        return;
    const size_t pad = glyphPad(bitmapFormat_);
    std::array<uint64_t, 4> needed{};
    Repeated outside(report_, true);
    Repeated atEnd(report_, true);
    for (size_t i = 0; i < metrics_.size(); ++i) {
        const Metric& m = metrics_[i];
        for (size_t p = 0; p < needed.size(); ++p)
            needed[p] += static_cast<uint64_t>(rowBytes(m.width(), size_t{1} << p) * std::max(m.height(), 0));
        const uint64_t size = static_cast<uint64_t>(rowBytes(m.width(), pad) * std::max(m.height(), 0));
        const uint64_t offset = bitmapOffsets_[i];
        auto where = [&] { return at("BITMAPS, " + glyph(i), offsetsStart_ + 4 * i); };
        if (offset > dataSize_ || size > dataSize_ - offset)
            outside.add(where,
                        [&] {
                            return "the bitmap at data offset " + std::to_string(offset) + " (" +
                                   std::to_string(size) + " bytes for " + std::to_string(m.width()) + " x " +
                                   std::to_string(m.height()) + " pixels) runs past the " +
                                   std::to_string(dataSize_) + " bytes of bitmap data; the X server refuses the font";
                        });
        else if (offset == dataSize_ && padIndex(bitmapFormat_) == 2)
            // The X server pads rows to 4 bytes, and when the file does too it wants every offset,
            // even an empty glyph's, inside the data.
            atEnd.add(where,
                      [&] {
                          return dataSize_ == 0
                                     ? "the bitmap data is empty, and the X server (libXfont2) wants even an empty "
                                       "glyph's offset inside it: give the data a few zero bytes"
                                     : "data offset " + std::to_string(offset) +
                                           " is the end of the bitmap data; the X server (libXfont2) wants even an "
                                           "empty glyph's offset inside it, at 0 say";
                      });
    }
    outside.finish(at("BITMAPS", table(kBitmaps)->offset), "glyphs whose bitmaps run past the bitmap data");
    atEnd.finish(at("BITMAPS", table(kBitmaps)->offset), "empty glyphs at the end of the bitmap data");

    // The sizes at the paddings the file does not use: X servers that pad otherwise repad into a
    // buffer of that size (older libXfont trusts it), so it must not be short.
    for (size_t p = 0; p < needed.size(); ++p) {
        if (p == padIndex(bitmapFormat_) || bitmapSizes_[p] >= needed[p])
            continue;
        const std::string where = at("BITMAPS, bitmapSizes[" + std::to_string(p) + "]", dataStart_ - 16 + 4 * p);
        const std::string bytes = std::to_string(size_t{1} << p);
        const std::string text = "says " + std::to_string(bitmapSizes_[p]) + " bytes of bitmaps at " + bytes +
                                 "-byte padding, but the glyphs need " + std::to_string(needed[p]) +
                                 ": older X servers that pad glyphs to " + bytes +
                                 " bytes repad them into a buffer of the smaller size";
        // X servers almost everywhere pad glyphs to 4 bytes.
        if (p == 2)
            report_.error(where, text);
        else
            report_.warning(where, text);
    }
    checkInk();
}

// Scans every bitmap once for its ink: bits set in the row padding, glyphs FreeType would draw from
// bytes swapped otherwise than the X server, and ink metrics that are not the bitmap's ink.
void PcfCheck::checkInk()
{
    const uint32_t format = bitmapFormat_;
    const size_t pad = glyphPad(format);
    const size_t scan = scanUnit(format);
    const bool swap = bigEndian(format) != bitsMsbFirst(format) && scan > 1;
    if (swap && scan == 8)
        return;  // already an error; no reader's reading to compare with
    const bool reverse = !bitsMsbFirst(format);
    const bool plain = !swap && !reverse;
    const BitmapLayout layout{bytes_.data() + dataStart_, scan, swap, reverse, plain};
    const bool compareInk = haveInkMetrics_ && inkMetrics_.size() == metrics_.size();
    const TocEntry* bitmapsTable = table(kBitmaps);
    Repeated padBits(report_, false);
    Repeated wrongInk(report_, false);
    size_t misaligned = 0, firstMisaligned = 0;
    // Glyphs may share bitmap bytes; a hostile file could make every glyph a large one at offset 0.
    // Each byte is looked at about once in a sound file, so a few times the data is plenty.
    uint64_t budget = 4 * uint64_t{dataSize_} + 65536;

    for (size_t i = 0; i < metrics_.size(); ++i) {
        const Metric& m = metrics_[i];
        const int32_t width = m.width(), height = m.height();
        const int64_t rb = rowBytes(width, pad);
        const uint64_t offset = bitmapOffsets_[i];
        const uint64_t size = static_cast<uint64_t>(rb * std::max(height, 0));
        if (offset > dataSize_ || size > dataSize_ - offset)
            continue;  // already an error
        if (width <= 0 || height <= 0) {
            if (compareInk && width >= 0 && height >= 0) {
                const Metric& ink = inkMetrics_[i];
                if (ink.width() > 0 && ink.height() > 0)
                    wrongInk.add([&] { return at("INK_METRICS, " + glyph(i), inkMetricsAt_ + i * inkMetricSize_); },
                                 [&] {
                                     return "give ink " + std::to_string(ink.width()) + " x " +
                                            std::to_string(ink.height()) + " pixels to a glyph whose bitmap is empty";
                                 });
            }
            continue;
        }
        // FreeType (and bdftopcf writing) swap each glyph's bytes from the glyph's start, the X
        // server the whole bitmap data from its start: they agree only on glyphs aligned to the
        // scan unit, and on the others there is no one ink to compare with.
        if (swap && (offset % scan != 0 || size % scan != 0)) {
            if (misaligned++ == 0)
                firstMisaligned = i;
            continue;
        }

        if (size > budget)
            break;
        budget -= size;
        const GlyphInk g = scanGlyphInk(layout, offset, width, height, rb);
        if (g.inkInPadding)
            padBits.add([&] { return at("BITMAPS, " + glyph(i), dataStart_ + offset); },
                        [&] {
                            return "bits are set past the glyph's " + std::to_string(width) +
                                   "-pixel width, in the row padding; readers that copy whole rows show them";
                        });
        if (compareInk)
            compareInkMetrics(i, m, g, wrongInk);
    }
    padBits.finish(at("BITMAPS", bitmapsTable->offset), "glyphs with bits set in the row padding");
    if (compareInk)
        wrongInk.finish(at("INK_METRICS", table(kInkMetrics)->offset), "glyphs whose ink metrics are not their ink");
    if (misaligned)
        report_.error(at("BITMAPS, " + glyph(firstMisaligned), offsetsStart_ + 4 * firstMisaligned),
                      "byte order differs from bit order with a " + std::to_string(scan) + "-byte scan unit but " +
                          std::to_string(pad) + "-byte row padding: FreeType swaps bytes from each glyph's start, "
                                                "the X server from the start of the data, and they disagree on " +
                          plural(misaligned, "glyph", "glyphs") + " like this one, whose bitmap is not aligned to " +
                          std::to_string(scan) + " bytes");
}

PcfCheck::GlyphInk PcfCheck::scanGlyphInk(const BitmapLayout& layout, uint64_t offset, int32_t width, int32_t height,
                                          int64_t rb) const
{
    const uint8_t* data = layout.data;
    const size_t scan = layout.scan;
    const bool swap = layout.swap, reverse = layout.reverse, plain = layout.plain;
    const size_t usedBytes = (static_cast<size_t>(width) + 7) / 8;
    const unsigned tailBits = static_cast<unsigned>(width) % 8;
    const uint8_t tailMask = tailBits ? static_cast<uint8_t>(0xFF00u >> tailBits) : uint8_t{0xFF};
    int32_t left = INT32_MAX, right = -1, top = -1, bottom = -1;
    bool inkInPadding = false;
    for (int32_t row = 0; row < height; ++row) {
        const uint64_t rowStart = offset + static_cast<uint64_t>(row) * static_cast<uint64_t>(rb);
        // The row's j-th byte, leftmost pixel in the top bit.
        auto byte = [&](size_t j) {
            if (plain)  // every file of ours and most of others': read the bytes as they are
                return data[rowStart + j];
            uint64_t at_ = rowStart + j;
            if (swap)
                at_ = (at_ & ~uint64_t{scan - 1}) + (scan - 1 - (at_ & (scan - 1)));
            return reverse ? kReversedBits[data[at_]] : data[at_];
        };
        for (size_t j = usedBytes; j < static_cast<size_t>(rb); ++j)
            inkInPadding = inkInPadding || byte(j) != 0;
        const uint8_t tail = byte(usedBytes - 1);
        inkInPadding = inkInPadding || (tail & static_cast<uint8_t>(~tailMask)) != 0;
        auto pixels = [&](size_t j) {
            return j + 1 == usedBytes ? static_cast<uint8_t>(tail & tailMask) : byte(j);
        };
        // The leftmost and rightmost bytes with ink are all a row's extent needs.
        size_t first = 0;
        uint8_t v = 0;
        while (first < usedBytes && (v = pixels(first)) == 0)
            ++first;
        if (first == usedBytes)
            continue;
        size_t last = usedBytes - 1;
        uint8_t w = pixels(last);
        while (w == 0)
            w = pixels(--last);
        left = std::min(left, static_cast<int32_t>(8 * first) + std::countl_zero(v));
        right = std::max(right, static_cast<int32_t>(8 * last) + 7 - std::countr_zero(w));
        if (top < 0)
            top = row;
        bottom = row;
    }
    return {left, right, top, bottom, inkInPadding};
}

void PcfCheck::compareInkMetrics(size_t i, const Metric& m, const GlyphInk& g, Repeated& wrongInk)
{
    const Metric& ink = inkMetrics_[i];
    std::string found;
    if (g.top < 0) {
        if (ink.width() > 0 && ink.height() > 0)
            found = "a blank bitmap";
    } else {
        const int32_t inkLeft = m.leftSideBearing + g.left, inkRight = m.leftSideBearing + g.right + 1;
        const int32_t inkAscent = m.ascent - g.top, inkDescent = g.bottom + 1 - m.ascent;
        if (ink.leftSideBearing != inkLeft || ink.rightSideBearing != inkRight || ink.ascent != inkAscent ||
            ink.descent != inkDescent)
            found = "ink from x " + std::to_string(inkLeft) + " to " + std::to_string(inkRight) + ", ascent " +
                    std::to_string(inkAscent) + ", descent " + std::to_string(inkDescent);
    }
    if (!found.empty())
        wrongInk.add([&] { return at("INK_METRICS, " + glyph(i), inkMetricsAt_ + i * inkMetricSize_); },
                     [&] {
                         return "say x " + std::to_string(ink.leftSideBearing) + " to " +
                                std::to_string(ink.rightSideBearing) + ", ascent " + std::to_string(ink.ascent) +
                                ", descent " + std::to_string(ink.descent) + "; the bitmap has " + found;
                     });
}

// The accelerators say things of the whole font that the X server and clients act on: bounds
// that cells are sized by, flags that pick fast paths. Bounds the glyphs exceed, or flags they
// contradict, draw clipped or misplaced text.
void PcfCheck::checkAccelerators(const Accelerators& a, const char* name)
{
    if (!a.present || !haveMetrics_)
        return;
    // The X server works the bounds out over all glyphs for ACCELERATORS, over the glyphs some
    // code reaches for BDF_ACCELERATORS.
    const bool encodedOnly = std::string_view(name) == "BDF_ACCELERATORS" && encoded_.size() == metrics_.size();
    auto boundsOf = [&](const std::vector<Metric>& glyphs) {
        Bounds b;
        for (size_t i = 0; i < glyphs.size(); ++i) {
            if (encodedOnly && !encoded_[i])
                continue;
            const Metric& m = glyphs[i];
            const int32_t overlap = int32_t{m.rightSideBearing} - m.characterWidth;
            if (overlap > b.maxOverlap) {
                b.maxOverlap = overlap;
                b.overlapGlyph = i;
            }
            if (m.empty())
                continue;
            for (size_t f = 0; f < 5; ++f) {
                const int32_t v = m.field(f);
                if (!b.any || v < b.min[f]) {
                    b.min[f] = v;
                    b.minGlyph[f] = i;
                }
                if (!b.any || v > b.max[f]) {
                    b.max[f] = v;
                    b.maxGlyph[f] = i;
                }
            }
            b.any = true;
        }
        return b;
    };
    const Bounds b = boundsOf(metrics_);
    if (!b.any)
        return;
    // A few contradictions name the trouble; a garbled table would list every field.
    std::string contradicted;
    size_t contradictions = 0;
    auto note = [&](const std::string& text) {
        if (++contradictions <= 4)
            contradicted += (contradicted.empty() ? "" : "; ") + text;
    };
    auto compare = [&](const Bounds& bounds, const Metric& min, const Metric& max, const char* prefix) {
        for (size_t f = 0; f < 5; ++f) {
            if (min.field(f) > bounds.min[f])
                note(std::string(prefix) + "minbounds." + kMetricFields[f] + " is " + std::to_string(min.field(f)) +
                     ", " + glyph(bounds.minGlyph[f]) + " has " + std::to_string(bounds.min[f]));
            if (max.field(f) < bounds.max[f])
                note(std::string(prefix) + "maxbounds." + kMetricFields[f] + " is " + std::to_string(max.field(f)) +
                     ", " + glyph(bounds.maxGlyph[f]) + " has " + std::to_string(bounds.max[f]));
        }
    };
    compare(b, a.minBounds, a.maxBounds, "");
    if (a.maxOverlap < b.maxOverlap)
        note("maxOverlap is " + std::to_string(a.maxOverlap) + ", " + glyph(b.overlapGlyph) + " reaches " +
             std::to_string(b.maxOverlap) + " past its advance");
    if (a.inkBounds) {
        const bool haveInk = haveInkMetrics_ && inkMetrics_.size() == metrics_.size();
        const Bounds ink = haveInk ? boundsOf(inkMetrics_) : b;
        if (ink.any)
            compare(ink, a.inkMinBounds, a.inkMaxBounds, "ink ");
    }
    if (contradictions > 4)
        contradicted += "; and " + std::to_string(contradictions - 4) + " more";
    if (!contradicted.empty())
        report_.warning(at(name, a.offset), "the glyphs exceed the font's bounds: " + contradicted);

    std::string flags;
    auto flag = [&](const std::string& text) { flags += (flags.empty() ? "" : "; ") + text; };
    bool constantMetrics = true;
    for (size_t f = 0; f < 5; ++f)
        constantMetrics = constantMetrics && b.min[f] == b.max[f];
    if (a.constantWidth && b.min[2] != b.max[2])
        flag("constantWidth is set, yet widths run from " + std::to_string(b.min[2]) + " to " +
             std::to_string(b.max[2]) + " (FreeType and fontconfig take the font for monospaced)");
    if (a.constantMetrics && !constantMetrics)
        flag("constantMetrics is set, yet the glyphs' metrics differ");
    if (a.terminalFont && !(constantMetrics && b.max[0] == 0 && b.max[1] == b.max[2] && b.max[3] == a.fontAscent &&
                            b.max[4] == a.fontDescent))
        flag("terminalFont is set, yet the glyphs do not all fill the same cell of fontAscent " +
             std::to_string(a.fontAscent) + " and fontDescent " + std::to_string(a.fontDescent));
    if (a.noOverlap && b.maxOverlap > b.min[0])
        flag("noOverlap is set, yet the greatest overlap, " + std::to_string(b.maxOverlap) +
             " pixels past the advance (" + glyph(b.overlapGlyph) + "), exceeds the smallest left bearing, " +
             std::to_string(b.min[0]) + " (" + glyph(b.minGlyph[0]) + ")");
    const int64_t ascent = a.fontAscent, descent = a.fontDescent;  // the file's, which may be INT32_MIN
    if (a.inkInside && !(b.min[0] >= 0 && b.maxOverlap <= 0 && b.min[3] >= -descent && b.max[3] <= ascent &&
                         -b.min[4] <= ascent && b.max[4] <= descent))
        flag("inkInside is set, yet some glyph's ink lies outside its advance or the font's ascent and descent");
    if (!flags.empty())
        report_.warning(at(name, a.offset), "the glyphs contradict its flags: " + flags);
}

void PcfCheck::checkPropertiesAgainstAccelerators()
{
    // Readers take the BDF accelerators when there are any.
    const Accelerators& a = bdfAccelerators_.present ? bdfAccelerators_ : accelerators_;
    if (!a.present)
        return;
    const char* name = bdfAccelerators_.present ? "BDF_ACCELERATORS" : "ACCELERATORS";
    for (const auto& [property_, value] : {std::pair<const char*, int32_t>{"FONT_ASCENT", a.fontAscent},
                                           std::pair<const char*, int32_t>{"FONT_DESCENT", a.fontDescent}}) {
        const Property* p = property(property_);
        if (p && !p->isString && p->value != value)
            report_.warning(at(std::string("PROPERTIES, ") + property_, p->offset),
                            std::string(property_) + " is " + std::to_string(p->value) + "; " + name + " say " +
                                (property_ == std::string_view("FONT_ASCENT") ? "fontAscent " : "fontDescent ") +
                                std::to_string(value) + " (X clients see the one, FreeType the other)");
    }
}

// libXfont and FreeType read the tables in one order and only ever move forwards; a table that
// lies before the end of the one read before it cannot be read.
void PcfCheck::checkReadingOrder()
{
    const bool bdfAccelerators = table(kBdfAccelerators) != nullptr;
    std::vector<uint32_t> order = {kProperties};
    if (!bdfAccelerators)
        order.push_back(kAccelerators);
    order.insert(order.end(), {kMetrics, kBitmaps, kInkMetrics, kEncodings});
    if (bdfAccelerators)
        order.push_back(kBdfAccelerators);
    uint64_t position = tocEnd_;
    const char* previous = "the table of contents";
    for (const uint32_t type : order) {
        const TocEntry* t = table(type);
        if (!t)
            continue;
        const auto kind = static_cast<size_t>(t->kind);
        if (t->offset < position) {
            report_.error(at(kTableNames[kind], t->offset),
                          std::string("starts before the end of ") + previous + " (" + byteAt(position) +
                              "): the X server and FreeType read PROPERTIES, ACCELERATORS, METRICS, BITMAPS, "
                              "INK_METRICS, BDF_ENCODINGS and BDF_ACCELERATORS in that order and never go back");
            return;
        }
        // A table that could not be read moves the reading no further than its start.
        position = contentEnd_[kind] ? contentEnd_[kind] : t->offset;
        previous = kTableNames[kind];
    }
}

void PcfCheck::describeFont()
{
    auto text = [&](std::string_view name) {
        const Property* p = property(name);
        return p && p->isString ? std::string(p->text) : std::string();
    };
    auto number = [&](std::string_view name) {
        const Property* p = property(name);
        return p && !p->isString ? p->value : 0;
    };
    std::string line = text("FAMILY_NAME");
    const std::string weight = text("WEIGHT_NAME");
    if (!line.empty() && !weight.empty()) {
        std::string lower = weight;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        if (lower != "regular" && lower != "medium" && lower != "normal" && lower != "book" && lower != "roman")
            line += " " + weight;
    }
    const std::string slant = text("SLANT");
    if (!line.empty() && (slant == "I" || slant == "i"))
        line += " Italic";
    else if (!line.empty() && (slant == "O" || slant == "o"))
        line += " Oblique";
    if (line.empty())
        line = text("FONT");
    line = line.empty() ? "unnamed font" : printable(line);
    const int32_t points = number("POINT_SIZE");
    if (points > 0)
        line += " " + std::to_string(points / 10) + (points % 10 ? "." + std::to_string(points % 10) : "") + " pt";
    const int32_t rx = number("RESOLUTION_X"), ry = number("RESOLUTION_Y");
    if (rx > 0 && ry > 0)
        line += " (" + std::to_string(rx) + " x " + std::to_string(ry) + " dpi)";
    const int32_t pixels = number("PIXEL_SIZE");
    if (pixels > 0)
        line += ", " + plural(static_cast<uint32_t>(pixels), "pixel", "pixels") + " high";
    report_.fonts.push_back(line);
}

void PcfCheck::run()
{
    report_.format = "PCF";
    if (!readTableOfContents())
        return;
    checkTableExtents();

    const std::string contents = at("table of contents", 8);
    for (const uint32_t type : {kProperties, kMetrics, kBitmaps, kEncodings})
        if (!table(type))
            report_.error(contents, std::string("no ") + kTableNames[static_cast<size_t>(std::countr_zero(type))] +
                                        " table; the X server and FreeType need one");
    if (!table(kAccelerators) && !table(kBdfAccelerators))
        report_.error(contents, "neither an ACCELERATORS nor a BDF_ACCELERATORS table; the X server and FreeType "
                                "need one");
    if (!table(kScalableWidths))
        report_.warning(contents, "no SWIDTHS table; converters back to BDF make up the scalable widths");
    if (!table(kGlyphNames))
        report_.warning(contents, "no GLYPH_NAMES table; the glyphs have no names");

    // A table the file ends inside is already reported; reading it would only say so again.
    auto readable = [&](uint32_t type) {
        const TocEntry* t = table(type);
        return t && !t->cut ? t : nullptr;
    };
    if (const TocEntry* t = readable(kProperties))
        readProperties(*t);
    if (const TocEntry* t = readable(kAccelerators))
        readAccelerators(*t, accelerators_);
    if (const TocEntry* t = readable(kBdfAccelerators))
        readAccelerators(*t, bdfAccelerators_);
    if (const TocEntry* t = readable(kMetrics))
        haveMetrics_ = readMetrics(*t, metrics_, metricsAt_, metricSize_);
    if (const TocEntry* t = readable(kInkMetrics)) {
        haveInkMetrics_ = readMetrics(*t, inkMetrics_, inkMetricsAt_, inkMetricSize_);
        if (haveInkMetrics_ && haveMetrics_ && inkMetrics_.size() != metrics_.size())
            report_.error(at("INK_METRICS, metrics_count", t->offset + 4),
                          plural(inkMetrics_.size(), "ink metric", "ink metrics") + " for " +
                              plural(metrics_.size(), "glyph", "glyphs") +
                              " in METRICS; the X server refuses a font where they differ");
    }
    if (const TocEntry* t = readable(kBitmaps))
        readBitmaps(*t);
    if (const TocEntry* t = readable(kEncodings))
        readEncodings(*t);
    if (const TocEntry* t = readable(kScalableWidths))
        readScalableWidths(*t);
    if (const TocEntry* t = readable(kGlyphNames))
        readGlyphNames(*t);

    // What a table holds should lie within the size the table of contents gives it, and must not
    // run into the next table.
    for (size_t kind = 0; kind < kTypeCount; ++kind) {
        if (!first_[kind] || contentEnd_[kind] == 0)
            continue;
        const TocEntry& t = toc_[*first_[kind]];
        const uint64_t end = contentEnd_[kind];
        if (end <= uint64_t{t.offset} + t.size)
            continue;
        const std::string text = "holds " + std::to_string(end - t.offset) + " bytes, to " + byteAt(end) +
                                 ", but the table of contents gives it " + std::to_string(t.size);
        if (end > t.next)
            report_.error(at(kTableNames[kind], t.offset),
                          text + ", and it runs into the table at " + byteAt(t.next));
        else
            report_.warning(at(kTableNames[kind], t.offset), text);
    }
    checkReadingOrder();
    checkGlyphs();
    checkAccelerators(accelerators_, "ACCELERATORS");
    checkAccelerators(bdfAccelerators_, "BDF_ACCELERATORS");
    checkPropertiesAgainstAccelerators();

    if (haveMetrics_)
        report_.glyphs = metrics_.size();
    describeFont();
}

}  // namespace

void checkPcf(std::span<const uint8_t> bytes, CheckReport& report)
{
    PcfCheck(bytes, report).run();
}

}  // namespace qf
