#include "formats/PcfWriter.h"

#include "formats/ByteWriter.h"
#include "formats/UnicodeGlyphs.h"
#include "formats/WriterSupport.h"
#include "formats/XlfdProperties.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace qf {

namespace {

// The low bits of every table's format: bytes and bits most significant first, glyph rows padded
// to 4 bytes (pad index 2), scanned a byte at a time.
constexpr int64_t kByteMsb = 1 << 2;
constexpr int64_t kBitMsb = 1 << 3;
constexpr int64_t kPadIndex = 2;
constexpr int64_t kOrder = kByteMsb | kBitMsb | kPadIndex;
constexpr int64_t kAccelWithInkBounds = 0x100;
constexpr int64_t kCompressedMetrics = 0x100;
constexpr size_t kPad = 4;

size_t padded(size_t n, size_t to) { return (n + to - 1) / to * to; }

// One character's metrics as X11 keeps them (xCharInfo).
struct CharInfo {
    int64_t leftSideBearing = 0, rightSideBearing = 0, characterWidth = 0, ascent = 0, descent = 0;
    std::array<int64_t, 5> values() const
    {
        return {leftSideBearing, rightSideBearing, characterWidth, ascent, descent};
    }
};

CharInfo charInfo(const UnicodeGlyph& g)
{
    CharInfo c;
    c.characterWidth = g.advance;
    if (g.width > 0) {
        c.leftSideBearing = g.left;
        c.rightSideBearing = g.right();
        c.ascent = g.top();
        c.descent = -g.bottom;
    }
    return c;
}

// What the accelerator tables say of the font as a whole.
struct Accelerators {
    bool noOverlap = false, constantMetrics = true, terminalFont = false, constantWidth = false, inkInside = true;
    int64_t fontAscent = 0, fontDescent = 0, maxOverlap = 0;
    CharInfo minBounds, maxBounds;
};

Accelerators accelerators(const std::vector<CharInfo>& chars, int64_t fontAscent, int64_t fontDescent)
{
    Accelerators a;
    a.fontAscent = fontAscent;
    a.fontDescent = fontDescent;
    if (chars.empty())
        return a;
    std::array<int64_t, 5> lo = chars.front().values(), hi = lo;
    a.maxOverlap = chars.front().rightSideBearing - chars.front().characterWidth;
    for (const CharInfo& c : chars) {
        const auto v = c.values();
        for (size_t i = 0; i < v.size(); ++i) {
            lo[i] = std::min(lo[i], v[i]);
            hi[i] = std::max(hi[i], v[i]);
        }
        a.constantMetrics = a.constantMetrics && v == chars.front().values();
        a.maxOverlap = std::max(a.maxOverlap, c.rightSideBearing - c.characterWidth);
        a.inkInside = a.inkInside && c.leftSideBearing >= 0 && c.rightSideBearing <= c.characterWidth &&
                      c.ascent <= fontAscent && c.descent <= fontDescent;
    }
    a.minBounds = {lo[0], lo[1], lo[2], lo[3], lo[4]};
    a.maxBounds = {hi[0], hi[1], hi[2], hi[3], hi[4]};
    a.noOverlap = a.maxOverlap <= a.minBounds.leftSideBearing;
    a.constantWidth = a.minBounds.characterWidth == a.maxBounds.characterWidth;
    const CharInfo& first = chars.front();
    a.terminalFont = a.constantMetrics && first.leftSideBearing == 0 &&
                     first.rightSideBearing == first.characterWidth && first.ascent == fontAscent &&
                     first.descent == fontDescent;
    return a;
}

void writeCharInfo(ByteWriter& w, const CharInfo& c)
{
    w.sbe16("left_side_bearing", c.leftSideBearing)
        .sbe16("right_side_bearing", c.rightSideBearing)
        .sbe16("character_width", c.characterWidth)
        .sbe16("character_ascent", c.ascent)
        .sbe16("character_descent", c.descent)
        .be16("character_attributes", 0);
}

void writeAccelerators(ByteWriter& w, const Accelerators& a, int64_t format)
{
    w.le32("format", format)
        .u8("noOverlap", a.noOverlap)
        .u8("constantMetrics", a.constantMetrics)
        .u8("terminalFont", a.terminalFont)
        .u8("constantWidth", a.constantWidth)
        .u8("inkInside", a.inkInside)
        .u8("inkMetrics", 1)
        .u8("drawDirection", 0)
        .u8("padding", 0)
        .sbe32("fontAscent", a.fontAscent)
        .sbe32("fontDescent", a.fontDescent)
        .sbe32("maxOverlap", a.maxOverlap);
    writeCharInfo(w, a.minBounds);
    writeCharInfo(w, a.maxBounds);
    // Ink bounds: the ink metrics are the metrics, the glyphs being cut to their ink.
    writeCharInfo(w, a.minBounds);
    writeCharInfo(w, a.maxBounds);
}

bool compressible(const std::vector<CharInfo>& chars)
{
    return std::all_of(chars.begin(), chars.end(), [](const CharInfo& c) {
        const auto v = c.values();
        return std::all_of(v.begin(), v.end(), [](int64_t x) { return x >= -128 && x <= 127; });
    });
}

size_t metricsSize(const std::vector<CharInfo>& chars)
{
    return compressible(chars) ? 4 + 2 + 5 * chars.size() : 4 + 4 + 12 * chars.size();
}

void writeMetrics(ByteWriter& w, const std::vector<CharInfo>& chars)
{
    if (compressible(chars)) {
        w.le32("format", kOrder | kCompressedMetrics).be16("metrics_count", static_cast<int64_t>(chars.size()));
        for (const CharInfo& c : chars)
            w.u8("left_side_bearing", c.leftSideBearing + 0x80)
                .u8("right_side_bearing", c.rightSideBearing + 0x80)
                .u8("character_width", c.characterWidth + 0x80)
                .u8("character_ascent", c.ascent + 0x80)
                .u8("character_descent", c.descent + 0x80);
    } else {
        w.le32("format", kOrder).be32("metrics_count", static_cast<int64_t>(chars.size()));
        for (const CharInfo& c : chars)
            writeCharInfo(w, c);
    }
}

// The properties with their strings: each property's name offset and, for a text value, the
// value's offset into the strings.
struct PropertyTable {
    std::vector<FontProperty> properties;
    std::string strings;
    std::vector<std::pair<int64_t, int64_t>> offsets;
};

PropertyTable propertyTable(std::vector<FontProperty> properties)
{
    PropertyTable table;
    for (const FontProperty& p : properties) {
        const auto name = static_cast<int64_t>(table.strings.size());
        table.strings += p.name + '\0';
        int64_t value = p.value;
        if (p.isText) {
            value = static_cast<int64_t>(table.strings.size());
            table.strings += p.text + '\0';
        }
        table.offsets.emplace_back(name, value);
    }
    table.properties = std::move(properties);
    return table;
}

// The encoding table: the rows and columns of two-byte codes the glyphs span, and the glyph at
// each (0xFFFF for none).
struct EncodingTable {
    uint32_t firstCol = 0xFF, lastCol = 0, firstRow = 0xFF, lastRow = 0;
    std::vector<int64_t> glyphIndex;
    size_t cells() const { return glyphIndex.size(); }
};

EncodingTable encodingTable(const std::vector<UnicodeGlyph>& glyphs)
{
    EncodingTable e;
    for (const UnicodeGlyph& g : glyphs) {
        e.firstCol = std::min(e.firstCol, g.code & 0xFF);
        e.lastCol = std::max(e.lastCol, g.code & 0xFF);
        e.firstRow = std::min(e.firstRow, g.code >> 8);
        e.lastRow = std::max(e.lastRow, g.code >> 8);
    }
    const size_t cols = e.lastCol - e.firstCol + 1, rows = e.lastRow - e.firstRow + 1;
    e.glyphIndex.assign(cols * rows, 0xFFFF);
    for (size_t i = 0; i < glyphs.size(); ++i)
        e.glyphIndex[((glyphs[i].code >> 8) - e.firstRow) * cols + ((glyphs[i].code & 0xFF) - e.firstCol)] =
            static_cast<int64_t>(i);
    return e;
}

// The glyph names ("uni0041") and where each starts.
struct NameTable {
    std::string names;
    std::vector<int64_t> offsets;
};

NameTable nameTable(const std::vector<UnicodeGlyph>& glyphs)
{
    NameTable t;
    for (const UnicodeGlyph& g : glyphs) {
        char name[16];
        std::snprintf(name, sizeof name, "uni%04X", g.code);
        t.offsets.push_back(static_cast<int64_t>(t.names.size()));
        t.names += std::string(name) + '\0';
    }
    return t;
}

// Bitmaps: each row padded to 4 bytes; the sizes at every padding, as readers may ask. The X
// server refuses a glyph whose offset is not inside the bitmap data, even one with no rows: empty
// glyphs point at its start, and a font of empty glyphs only gets one blank row.
struct BitmapSizes {
    std::array<int64_t, 4> sizes{};
    bool noInk = false;
};

BitmapSizes bitmapSizes(const std::vector<UnicodeGlyph>& glyphs)
{
    BitmapSizes b;
    for (const UnicodeGlyph& g : glyphs)
        for (size_t i = 0; i < b.sizes.size(); ++i)
            b.sizes[i] += static_cast<int64_t>(padded(static_cast<size_t>(g.rowBytes()), size_t{1} << i)) * g.height;
    b.noInk = b.sizes[kPadIndex] == 0;
    if (b.noInk)
        b.sizes.fill(static_cast<int64_t>(kPad));
    return b;
}

// Zeros up to a table's planned size from where it started.
void endTable(ByteWriter& w, size_t start, size_t size)
{
    if (w.position() - start <= size)
        w.zeros("padding", size - (w.position() - start));
}

void writeProperties(ByteWriter& w, const PropertyTable& t)
{
    const size_t count = t.properties.size();
    w.le32("format", kOrder).be32("nprops", static_cast<int64_t>(count));
    for (size_t i = 0; i < count; ++i)
        w.be32("name", t.offsets[i].first).u8("isStringProp", t.properties[i].isText).sbe32("value", t.offsets[i].second);
    w.zeros("padding", padded(count, 4) - count)
        .be32("string_size", static_cast<int64_t>(t.strings.size()))
        .bytes("strings", t.strings.data(), t.strings.size());
}

void writeBitmaps(ByteWriter& w, const UnicodeGlyphs& drawn, const BitmapSizes& b)
{
    const std::vector<UnicodeGlyph>& glyphs = drawn.glyphs;
    w.le32("format", kOrder).be32("glyph_count", static_cast<int64_t>(glyphs.size()));
    int64_t bitmapOffset = 0;
    for (const UnicodeGlyph& g : glyphs) {
        const int64_t size = static_cast<int64_t>(padded(static_cast<size_t>(g.rowBytes()), kPad)) * g.height;
        w.be32("offsets", size == 0 ? 0 : bitmapOffset);
        bitmapOffset += size;
    }
    for (const int64_t size : b.sizes)
        w.be32("bitmapSizes", size);
    if (b.noInk)
        w.zeros("bitmap_data", kPad);
    for (const UnicodeGlyph& g : glyphs) {
        const size_t rowBytes = static_cast<size_t>(g.rowBytes());
        for (int32_t r = 0; r < g.height; ++r)
            w.bytes("bitmap_data", drawn.bits.data() + g.offset + r * rowBytes, rowBytes)
                .zeros("bitmap_data", padded(rowBytes, kPad) - rowBytes);
    }
}

void writeEncodings(ByteWriter& w, const EncodingTable& e, char32_t defaultChar)
{
    w.le32("format", kOrder)
        .be16("min_char_or_byte2", e.firstCol)
        .be16("max_char_or_byte2", e.lastCol)
        .be16("min_byte1", e.firstRow)
        .be16("max_byte1", e.lastRow)
        .be16("default_char", defaultChar);
    for (const int64_t index : e.glyphIndex)
        w.be16("glyphindeces", index);
}

// Each advance in thousandths of the size at its resolution (divisor: points times dpi).
void writeScalableWidths(ByteWriter& w, const std::vector<UnicodeGlyph>& glyphs, int64_t swidthDivisor)
{
    w.le32("format", kOrder).be32("glyph_count", static_cast<int64_t>(glyphs.size()));
    for (const UnicodeGlyph& g : glyphs)
        w.sbe32("swidths", swidthDivisor > 0 ? int64_t{g.advance} * 72000 / swidthDivisor : 0);
}

void writeGlyphNames(ByteWriter& w, const NameTable& t)
{
    w.le32("format", kOrder).be32("glyph_count", static_cast<int64_t>(t.offsets.size()));
    for (const int64_t at : t.offsets)
        w.be32("offsets", at);
    w.be32("string_size", static_cast<int64_t>(t.names.size())).bytes("strings", t.names.data(), t.names.size());
}

}  // namespace

WriteProblem PcfWriter::write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const
{
    return realiseAndPack(dc, request, out, &PcfWriter::pack);
}

WriteProblem PcfWriter::pack(GlyphSource& source, const WriteRequest& request, OutputSink& out)
{
    out.clear();
    const Refusal refuse(request);
    if (WriteProblem problem = requireRepertoire(request, "a PCF file"))
        return problem;
    // The run leaves out what the format's codes cannot hold (and says so).
    const Repertoire& repertoire = *request.repertoire;
    if (!repertoire.entries.empty() && repertoire.entries.back().code > 0xFFFF) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", repertoire.entries.back().code);
        return refuse(std::string("PCF's encoding table holds codes to U+FFFF only, and ") + code + " was asked for");
    }

    UnicodeGlyphs drawn;
    if (WriteProblem problem = drawRepertoire(source, request, out.cap(), drawn))
        return problem;
    const gdi::TEXTMETRIC& tm = drawn.metrics;
    const std::vector<UnicodeGlyph>& glyphs = drawn.glyphs;

    // The properties: the Unicode BDF's, with FONT, the XLFD name, which mkfontdir lists it by.
    std::vector<FontProperty> xlfd = xlfdProperties(tm, request, drawn.facts);
    xlfd.insert(xlfd.begin(), FontProperty{"FONT", true, xlfdName(xlfd), 0});
    const PropertyTable properties = propertyTable(std::move(xlfd));
    std::vector<CharInfo> chars;
    chars.reserve(glyphs.size());
    for (const UnicodeGlyph& g : glyphs)
        chars.push_back(charInfo(g));
    const Accelerators accel = accelerators(chars, tm.tmAscent, tm.tmHeight - tm.tmAscent);
    const BitmapSizes bitmaps = bitmapSizes(glyphs);
    const EncodingTable encodings = encodingTable(glyphs);
    const NameTable names = nameTable(glyphs);

    const size_t n = glyphs.size();
    const size_t propertyCount = properties.properties.size();
    struct Table {
        int32_t type;
        size_t size;
    };
    const std::array<Table, 9> tables = {{
        {kProperties,
         padded(4 + 4 + 9 * propertyCount + padded(propertyCount, 4) - propertyCount + 4 + properties.strings.size(), kPad)},
        {kAccelerators, 4 + 8 + 12 + 4 * 12},
        {kMetrics, padded(metricsSize(chars), kPad)},
        {kBitmaps, 4 + 4 + 4 * n + 16 + static_cast<size_t>(bitmaps.sizes[kPadIndex])},
        {kInkMetrics, padded(metricsSize(chars), kPad)},
        {kEncodings, padded(4 + 10 + 2 * encodings.cells(), kPad)},
        {kScalableWidths, 4 + 4 + 4 * n},
        {kGlyphNames, padded(4 + 4 + 4 * n + 4 + names.names.size(), kPad)},
        {kBdfAccelerators, 4 + 8 + 12 + 4 * 12},
    }};
    size_t total = 8 + 16 * tables.size();
    for (const Table& t : tables)
        total += t.size;
    uint8_t* bytes = total <= out.cap() ? out.extend(total) : nullptr;
    if (!bytes)
        return refuse("the PCF file would exceed " + std::to_string(out.cap() >> 20) + " MiB");

    ByteWriter w(bytes, total);
    // The header and the table of contents, least significant byte first as PCF always is.
    w.bytes("header", "\1fcp", 4).le32("table_count", static_cast<int64_t>(tables.size()));
    size_t offset = 8 + 16 * tables.size();
    for (const Table& t : tables) {
        const int64_t format = t.type == kAccelerators || t.type == kBdfAccelerators ? kOrder | kAccelWithInkBounds
                               : t.type == kMetrics || t.type == kInkMetrics
                                   ? (compressible(chars) ? kOrder | kCompressedMetrics : kOrder)
                                   : kOrder;
        w.le32("type", t.type).le32("format", format).le32("size", static_cast<int64_t>(t.size))
            .le32("offset", static_cast<int64_t>(offset));
        offset += t.size;
    }

    // The tables in the order of contents, each padded to its planned size.
    const char32_t defaultChar = repertoire.defaultCharacter <= 0xFFFF ? repertoire.defaultCharacter : glyphs.front().code;
    const int64_t swidthDivisor = static_cast<int64_t>(request.pointSize) * request.resolutionX;
    const std::function<void()> writers[] = {
        [&] { writeProperties(w, properties); },
        [&] { writeAccelerators(w, accel, kOrder | kAccelWithInkBounds); },
        [&] { writeMetrics(w, chars); },
        [&] { writeBitmaps(w, drawn, bitmaps); },
        [&] { writeMetrics(w, chars); },
        [&] { writeEncodings(w, encodings, defaultChar); },
        [&] { writeScalableWidths(w, glyphs, swidthDivisor); },
        [&] { writeGlyphNames(w, names); },
        [&] { writeAccelerators(w, accel, kOrder | kAccelWithInkBounds); },
    };
    for (size_t i = 0; i < tables.size(); ++i) {
        const size_t start = w.position();
        writers[i]();
        endTable(w, start, tables[i].size);
    }

    if (!w.ok() || w.position() != total) {
        out.clear();
        return refuse(w.ok() ? "the PCF tables came to " + std::to_string(w.position()) + " bytes, not " +
                                   std::to_string(total)
                             : w.error());
    }
    return {};
}

}  // namespace qf
