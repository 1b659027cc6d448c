#include "formats/PcfWriter.h"

#include "formats/ByteWriter.h"
#include "formats/UnicodeGlyphs.h"
#include "formats/WriterSupport.h"
#include "formats/XlfdProperties.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
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

}  // namespace

WriteProblem PcfWriter::write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const
{
    return realiseAndPack(dc, request, out,
                          [](GlyphSource& glyphs, const WriteRequest& r, OutputSink& o) { return pack(glyphs, r, o); });
}

WriteProblem PcfWriter::pack(GlyphSource& source, const WriteRequest& request, OutputSink& out)
{
    out.clear();
    const Refusal refuse(request);
    if (!request.unicode())
        return refuse("a PCF file holds a Unicode repertoire, and none was given");
    // The run leaves out what the format's codes cannot hold (and says so).
    const Repertoire& repertoire = *request.repertoire;
    if (!repertoire.entries.empty() && repertoire.entries.back().code > 0xFFFF) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", repertoire.entries.back().code);
        return refuse(std::string("PCF's encoding table holds codes to U+FFFF only, and ") + code + " was asked for");
    }

    UnicodeGlyphs drawn;
    if (WriteProblem problem = drawUnicodeGlyphs(source, request, out.cap(), drawn))
        return problem;
    const gdi::TEXTMETRIC& tm = drawn.metrics;
    const std::vector<UnicodeGlyph>& glyphs = drawn.glyphs;
    if (glyphs.empty())
        return refuse("the face maps none of the characters asked for");

    // The properties: the Unicode BDF's, with FONT, the XLFD name, which mkfontdir lists it by.
    std::vector<FontProperty> properties = xlfdProperties(tm, request, drawn.facts);
    properties.insert(properties.begin(), FontProperty{"FONT", true, xlfdName(properties), 0});
    std::string strings;
    std::vector<std::pair<int64_t, int64_t>> propertyOffsets;  // name, and a text value's offset
    for (const FontProperty& p : properties) {
        const auto name = static_cast<int64_t>(strings.size());
        strings += p.name + '\0';
        int64_t value = p.value;
        if (p.isText) {
            value = static_cast<int64_t>(strings.size());
            strings += p.text + '\0';
        }
        propertyOffsets.emplace_back(name, value);
    }

    std::vector<CharInfo> chars;
    chars.reserve(glyphs.size());
    for (const UnicodeGlyph& g : glyphs)
        chars.push_back(charInfo(g));
    const Accelerators accel = accelerators(chars, tm.tmAscent, tm.tmHeight - tm.tmAscent);

    // Bitmaps: each row padded to 4 bytes; the sizes at every padding, as readers may ask.
    std::array<int64_t, 4> bitmapSizes{};
    for (const UnicodeGlyph& g : glyphs)
        for (size_t i = 0; i < bitmapSizes.size(); ++i)
            bitmapSizes[i] += static_cast<int64_t>(padded(static_cast<size_t>(g.rowBytes()), size_t{1} << i)) * g.height;
    // The X server refuses a glyph whose offset is not inside the bitmap data, even one with no
    // rows: empty glyphs point at its start, and a font of empty glyphs only gets one blank row.
    const bool noInk = bitmapSizes[kPadIndex] == 0;
    if (noInk)
        bitmapSizes.fill(static_cast<int64_t>(kPad));

    uint32_t firstCol = 0xFF, lastCol = 0, firstRow = 0xFF, lastRow = 0;
    for (const UnicodeGlyph& g : glyphs) {
        firstCol = std::min(firstCol, g.code & 0xFF);
        lastCol = std::max(lastCol, g.code & 0xFF);
        firstRow = std::min(firstRow, g.code >> 8);
        lastRow = std::max(lastRow, g.code >> 8);
    }
    const size_t cols = lastCol - firstCol + 1, rows = lastRow - firstRow + 1;
    std::vector<int64_t> glyphIndex(cols * rows, 0xFFFF);
    for (size_t i = 0; i < glyphs.size(); ++i)
        glyphIndex[((glyphs[i].code >> 8) - firstRow) * cols + ((glyphs[i].code & 0xFF) - firstCol)] =
            static_cast<int64_t>(i);

    std::string names;
    std::vector<int64_t> nameOffsets;
    for (const UnicodeGlyph& g : glyphs) {
        char name[16];
        std::snprintf(name, sizeof name, "uni%04X", g.code);
        nameOffsets.push_back(static_cast<int64_t>(names.size()));
        names += std::string(name) + '\0';
    }

    const size_t n = glyphs.size();
    const size_t propertyCount = properties.size();
    struct Table {
        int32_t type;
        size_t size;
    };
    const std::array<Table, 9> tables = {{
        {kProperties, padded(4 + 4 + 9 * propertyCount + padded(propertyCount, 4) - propertyCount + 4 + strings.size(), kPad)},
        {kAccelerators, 4 + 8 + 12 + 4 * 12},
        {kMetrics, padded(metricsSize(chars), kPad)},
        {kBitmaps, 4 + 4 + 4 * n + 16 + static_cast<size_t>(bitmapSizes[kPadIndex])},
        {kInkMetrics, padded(metricsSize(chars), kPad)},
        {kEncodings, padded(4 + 10 + 2 * cols * rows, kPad)},
        {kScalableWidths, 4 + 4 + 4 * n},
        {kGlyphNames, padded(4 + 4 + 4 * n + 4 + names.size(), kPad)},
        {kBdfAccelerators, 4 + 8 + 12 + 4 * 12},
    }};
    size_t total = 8 + 16 * tables.size();
    for (const Table& t : tables)
        total += t.size;
    if (total > out.cap())
        return refuse("the PCF file would exceed " + std::to_string(out.cap() >> 20) + " MiB");
    uint8_t* bytes = out.extend(total);
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

    auto endTable = [&](size_t start, const Table& t) {
        if (w.position() - start <= t.size)
            w.zeros("padding", t.size - (w.position() - start));
    };

    size_t start = w.position();
    w.le32("format", kOrder).be32("nprops", static_cast<int64_t>(propertyCount));
    for (size_t i = 0; i < propertyCount; ++i)
        w.be32("name", propertyOffsets[i].first)
            .u8("isStringProp", properties[i].isText)
            .sbe32("value", propertyOffsets[i].second);
    w.zeros("padding", padded(propertyCount, 4) - propertyCount)
        .be32("string_size", static_cast<int64_t>(strings.size()))
        .bytes("strings", strings.data(), strings.size());
    endTable(start, tables[0]);

    writeAccelerators(w, accel, kOrder | kAccelWithInkBounds);

    start = w.position();
    writeMetrics(w, chars);
    endTable(start, tables[2]);

    w.le32("format", kOrder).be32("glyph_count", static_cast<int64_t>(n));
    int64_t bitmapOffset = 0;
    for (const UnicodeGlyph& g : glyphs) {
        const int64_t size = static_cast<int64_t>(padded(static_cast<size_t>(g.rowBytes()), kPad)) * g.height;
        w.be32("offsets", size == 0 ? 0 : bitmapOffset);
        bitmapOffset += size;
    }
    for (const int64_t size : bitmapSizes)
        w.be32("bitmapSizes", size);
    if (noInk)
        w.zeros("bitmap_data", kPad);
    for (const UnicodeGlyph& g : glyphs) {
        const size_t rowBytes = static_cast<size_t>(g.rowBytes());
        for (int32_t r = 0; r < g.height; ++r)
            w.bytes("bitmap_data", drawn.bits.data() + g.offset + r * rowBytes, rowBytes)
                .zeros("bitmap_data", padded(rowBytes, kPad) - rowBytes);
    }

    start = w.position();
    writeMetrics(w, chars);
    endTable(start, tables[4]);

    start = w.position();
    const char32_t defaultChar = repertoire.defaultCharacter <= 0xFFFF ? repertoire.defaultCharacter : glyphs.front().code;
    w.le32("format", kOrder)
        .be16("min_char_or_byte2", firstCol)
        .be16("max_char_or_byte2", lastCol)
        .be16("min_byte1", firstRow)
        .be16("max_byte1", lastRow)
        .be16("default_char", defaultChar);
    for (const int64_t index : glyphIndex)
        w.be16("glyphindeces", index);
    endTable(start, tables[5]);

    const int64_t swidthDivisor = static_cast<int64_t>(request.pointSize) * request.resolutionX;
    w.le32("format", kOrder).be32("glyph_count", static_cast<int64_t>(n));
    for (const UnicodeGlyph& g : glyphs)
        w.sbe32("swidths", swidthDivisor > 0 ? int64_t{g.advance} * 72000 / swidthDivisor : 0);

    start = w.position();
    w.le32("format", kOrder).be32("glyph_count", static_cast<int64_t>(n));
    for (const int64_t at : nameOffsets)
        w.be32("offsets", at);
    w.be32("string_size", static_cast<int64_t>(names.size())).bytes("strings", names.data(), names.size());
    endTable(start, tables[7]);

    writeAccelerators(w, accel, kOrder | kAccelWithInkBounds);

    if (!w.ok() || w.position() != total) {
        out.clear();
        return refuse(w.ok() ? "the PCF tables came to " + std::to_string(w.position()) + " bytes, not " +
                                   std::to_string(total)
                             : w.error());
    }
    return {};
}

}  // namespace qf
