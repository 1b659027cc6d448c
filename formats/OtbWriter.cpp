#include "formats/OtbWriter.h"

#include "formats/ByteWriter.h"
#include "formats/UnicodeGlyphs.h"
#include "formats/WriterSupport.h"
#include "platform/CodePages.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

namespace {

struct Table {
    char tag[5];
    std::vector<uint8_t> bytes;
};

size_t padded4(size_t n) { return (n + 3) / 4 * 4; }

uint32_t checksum(const std::vector<uint8_t>& b)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4; ++k)
            word = word << 8 | (i + k < b.size() ? b[i + k] : 0);
        sum += word;
    }
    return sum;
}

// A name as the records hold it, UTF-16 big-endian, from the cp1252 bytes the platform's names are.
std::string utf16be(std::string_view ansi)
{
    const gdi::ByteMap* map = gdi::codePageMap(1252);
    std::string out;
    for (const char c : ansi) {
        const auto byte = static_cast<uint8_t>(c);
        char32_t u = map ? (*map)[byte] : byte;
        if (u == gdi::kUnmapped)
            u = 0xFFFD;
        out += static_cast<char>(u >> 8);  // cp1252 stays in the Basic Multilingual Plane
        out += static_cast<char>(u & 0xFF);
    }
    return out;
}

// Runs of consecutive characters mapped to consecutive glyphs: the cmap's segments and groups.
struct Run {
    uint32_t first, last, glyph;
};

std::vector<Run> runsOf(const std::vector<UnicodeGlyph>& glyphs, uint32_t upTo)
{
    std::vector<Run> runs;
    for (size_t i = 0; i < glyphs.size() && glyphs[i].code <= upTo; ++i) {
        const uint32_t code = glyphs[i].code, glyph = static_cast<uint32_t>(i + 1);
        if (!runs.empty() && runs.back().last + 1 == code && (runs.back().last >> 16) == (code >> 16))
            runs.back().last = code;
        else
            runs.push_back({code, code, glyph});
    }
    return runs;
}

// The binary search fields of a table of `count` entries of `size` bytes: the largest power of two
// not past count, times size; its log2; and the rest.
struct SearchFields {
    int64_t range = 0, selector = 0, shift = 0;
};
SearchFields searchFields(int64_t count, int64_t size)
{
    SearchFields f{size, 0, 0};
    while (f.range * 2 <= count * size) {
        f.range *= 2;
        ++f.selector;
    }
    f.shift = count * size - f.range;
    return f;
}

// What the tables are made from: the strike's glyphs in glyph order (.notdef first), its size in
// pixels and in font units, and the extremes the header tables state.
struct Strike {
    const UnicodeGlyphs& drawn;
    const WriteRequest& request;
    std::vector<const UnicodeGlyph*> all;  // glyph order: .notdef, then the characters ascending
    int64_t numGlyphs = 0;
    int64_t ppem = 0;
    int64_t ascent = 0;
    int64_t descent = 0;
    // Font units: the em is a whole multiple of the strike's pixels, so hmtx advances at the
    // strike's size are the bitmap advances exactly.
    int64_t k = 0;
    int64_t unitsPerEm = 0;
    int64_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    int64_t advanceMax = 0, advanceSum = 0, minLsb = 0, minRsb = 0, maxExtent = 0;
    bool italic = false;
    bool bold = false;

    const std::vector<UnicodeGlyph>& glyphs() const { return drawn.glyphs; }
    const gdi::TEXTMETRIC& tm() const { return drawn.metrics; }

    Strike(const UnicodeGlyphs& glyphsDrawn, const WriteRequest& r, const UnicodeGlyph& notdef)
        : drawn(glyphsDrawn), request(r)
    {
        const gdi::TEXTMETRIC& m = drawn.metrics;
        ppem = m.tmHeight - m.tmInternalLeading;
        ascent = m.tmAscent;
        descent = m.tmHeight - m.tmAscent;
        k = ppem > 0 ? (16 + ppem - 1) / ppem : 1;
        unitsPerEm = ppem * k;
        italic = m.tmItalic != 0;
        bold = m.tmWeight >= 600;
        all.push_back(&notdef);
        for (const UnicodeGlyph& g : drawn.glyphs)
            all.push_back(&g);
        numGlyphs = static_cast<int64_t>(all.size());
        yMin = -descent;
        yMax = ascent;
        bool first = true;
        for (const UnicodeGlyph* g : all) {
            advanceMax = std::max<int64_t>(advanceMax, g->advance);
            advanceSum += g->advance;
            if (g->width == 0)
                continue;
            xMin = first ? g->left : std::min<int64_t>(xMin, g->left);
            xMax = first ? g->right() : std::max<int64_t>(xMax, g->right());
            yMin = std::min<int64_t>(yMin, g->bottom);
            yMax = std::max<int64_t>(yMax, g->top());
            minLsb = first ? g->left : std::min<int64_t>(minLsb, g->left);
            minRsb = first ? g->advance - g->right() : std::min<int64_t>(minRsb, g->advance - g->right());
            maxExtent = first ? g->right() : std::max<int64_t>(maxExtent, g->right());
            first = false;
        }
    }
};

// The tables made so far. Each is written field by field into exactly the size planned for it.
class Tables {
public:
    // A failure names the table's tag and the field.
    template <class Fill>
    qf::Status add(const char* tag, size_t size, Fill&& fill)
    {
        Table t{};
        std::memcpy(t.tag, tag, 4);
        t.bytes.assign(size, 0);
        ByteWriter w(t.bytes.data(), size);
        fill(w);
        if (!w.ok())
            return qf::Failure{std::string(tag) + ": " + w.error()};
        if (w.position() != size)
            return qf::Failure{std::string(tag) + ": " + std::to_string(w.position()) + " bytes written of " +
                               std::to_string(size)};
        list_.push_back(std::move(t));
        return qf::Status();
    }
    std::vector<Table>& list() { return list_; }

private:
    std::vector<Table> list_;
};

// EBDT: image format 1, small metrics and byte-aligned rows; an empty glyph is an image of no
// pixels, so that it loads like any other. Gives each glyph's image offset, and the end's.
qf::Status addEbdt(Tables& tables, const Strike& s, std::vector<int64_t>& imageOffsets)
{
    size_t ebdtSize = 4;
    for (const UnicodeGlyph* g : s.all) {
        imageOffsets.push_back(static_cast<int64_t>(ebdtSize - 4));
        ebdtSize += 5 + static_cast<size_t>(g->rowBytes()) * static_cast<size_t>(g->height);
    }
    imageOffsets.push_back(static_cast<int64_t>(ebdtSize - 4));
    return tables.add("EBDT", ebdtSize, [&](ByteWriter& w) {
        w.be32("version", 0x00020000);
        for (const UnicodeGlyph* g : s.all) {
            w.u8("height", g->height)
                .u8("width", g->width)
                .s8("BearingX", g->width ? g->left : 0)
                .s8("BearingY", g->width ? g->top() : 0)
                .u8("Advance", g->advance);
            w.bytes("imageData", s.drawn.bits.data() + g->offset,
                    static_cast<size_t>(g->rowBytes()) * static_cast<size_t>(g->height));
        }
    });
}

// EBLC: one strike, one index subtable of format 1 (a 32-bit offset per glyph).
qf::Status addEblc(Tables& tables, const Strike& s, const std::vector<int64_t>& imageOffsets)
{
    const size_t eblcSize = 8 + 48 + 8 + 8 + 4 * s.all.size() + 4;
    return tables.add("EBLC", eblcSize, [&](ByteWriter& w) {
        w.be32("version", 0x00020000).be32("numSizes", 1);
        // BitmapSize
        w.be32("indexSubTableArrayOffset", 8 + 48)
            .be32("indexTablesSize", 8 + 8 + 4 * static_cast<int64_t>(s.all.size()) + 4)
            .be32("numberofIndexSubTables", 1)
            .be32("colorRef", 0);
        for (int direction = 0; direction < 2; ++direction)
            w.s8("ascender", s.ascent)
                .s8("descender", -s.descent)
                .u8("widthMax", s.advanceMax)
                .s8("caretSlopeNumerator", direction ? 0 : 1)
                .s8("caretSlopeDenominator", 0)
                .s8("caretOffset", 0)
                .s8("minOriginSB", s.minLsb)
                .s8("minAdvanceSB", s.minRsb)
                .s8("maxBeforeBL", std::max<int64_t>(s.yMax, 0))
                .s8("minAfterBL", std::min<int64_t>(s.yMin, 0))
                .s8("pad1", 0)
                .s8("pad2", 0);
        w.be16("startGlyphIndex", 0)
            .be16("endGlyphIndex", s.numGlyphs - 1)
            .u8("ppemX", s.ppem)
            .u8("ppemY", s.ppem)
            .u8("bitDepth", 1)
            .s8("flags", 1);
        // IndexSubTableArray, then the one subtable.
        w.be16("firstGlyphIndex", 0).be16("lastGlyphIndex", s.numGlyphs - 1).be32("additionalOffsetToIndexSubtable", 8);
        w.be16("indexFormat", 1).be16("imageFormat", 1).be32("imageDataOffset", 4);
        for (const int64_t at : imageOffsets)
            w.be32("sbitOffsets", at);
    });
}

qf::Status addOs2(Tables& tables, const Strike& s)
{
    const gdi::TEXTMETRIC& tm = s.tm();
    const Repertoire& repertoire = *s.request.repertoire;
    const int64_t k = s.k;
    const int64_t unitsPerEm = s.unitsPerEm;
    const bool monospaced = s.drawn.facts.monospaced;
    return tables.add("OS/2", 96, [&](ByteWriter& w) {
        const int64_t xAvg = (s.advanceSum * k + s.numGlyphs / 2) / s.numGlyphs;
        w.be16("version", 4)
            .sbe16("xAvgCharWidth", xAvg)
            .be16("usWeightClass", std::clamp<int64_t>(tm.tmWeight, 1, 1000))
            .be16("usWidthClass", 5)
            .be16("fsType", 0)
            .sbe16("ySubscriptXSize", unitsPerEm * 65 / 100)
            .sbe16("ySubscriptYSize", unitsPerEm * 60 / 100)
            .sbe16("ySubscriptXOffset", 0)
            .sbe16("ySubscriptYOffset", unitsPerEm * 7 / 100)
            .sbe16("ySuperscriptXSize", unitsPerEm * 65 / 100)
            .sbe16("ySuperscriptYSize", unitsPerEm * 60 / 100)
            .sbe16("ySuperscriptXOffset", 0)
            .sbe16("ySuperscriptYOffset", unitsPerEm * 35 / 100)
            .sbe16("yStrikeoutSize", k)
            .sbe16("yStrikeoutPosition", s.ascent * k / 3)
            .sbe16("sFamilyClass", 0);
        // Latin text; the proportion (the fourth byte) 9 for a monospaced face, else any.
        const uint8_t panose[10] = {2, 0, 0, static_cast<uint8_t>(monospaced ? 9 : 0), 0, 0, 0, 0, 0, 0};
        w.bytes("panose", panose, 10)
            .be32("ulUnicodeRange1", 0)
            .be32("ulUnicodeRange2", 0)
            .be32("ulUnicodeRange3", 0)
            .be32("ulUnicodeRange4", 0)
            .bytes("achVendID", "    ", 4)
            .be16("fsSelection", (s.italic ? 0x01 : 0) | (s.bold ? 0x20 : 0) | (!s.italic && !s.bold ? 0x40 : 0) | 0x80)
            .be16("usFirstCharIndex", std::min<uint32_t>(s.glyphs().front().code, 0xFFFF))
            .be16("usLastCharIndex", std::min<uint32_t>(s.glyphs().back().code, 0xFFFF))
            .sbe16("sTypoAscender", s.ascent * k)
            .sbe16("sTypoDescender", -s.descent * k)
            .sbe16("sTypoLineGap", 0)
            .be16("usWinAscent", s.ascent * k)
            .be16("usWinDescent", s.descent * k)
            .be32("ulCodePageRange1", 0)
            .be32("ulCodePageRange2", 0)
            .sbe16("sxHeight", 0)
            .sbe16("sCapHeight", 0)
            .be16("usDefaultChar", repertoire.defaultCharacter <= 0xFFFF ? repertoire.defaultCharacter : 0)
            .be16("usBreakChar", repertoire.breakCharacter <= 0xFFFF ? repertoire.breakCharacter : 0x20)
            .be16("usMaxContext", 1);
    });
}

// cmap: a format 4 subtable for the Basic Multilingual Plane, and a format 12 one as well when
// characters lie past it.
qf::Status addCmap(Tables& tables, const Strike& s)
{
    const std::vector<Run> bmp = runsOf(s.glyphs(), 0xFFFF);
    const std::vector<Run> every = runsOf(s.glyphs(), 0x10FFFF);
    const bool astral = s.glyphs().back().code > 0xFFFF;
    const size_t segments = bmp.size() + 1;  // and the closing 0xFFFF segment
    const size_t format4 = 16 + 8 * segments;
    const size_t format12 = astral ? 16 + 12 * every.size() : 0;
    const size_t subtables = astral ? 2 : 1;
    if (format4 > 0xFFFF)
        return qf::Failure{"the characters make a cmap format 4 subtable larger than it can be"};
    return tables.add("cmap", 4 + 8 * subtables + format4 + format12, [&](ByteWriter& w) {
        w.be16("version", 0).be16("numTables", static_cast<int64_t>(subtables));
        w.be16("platformID", 3).be16("encodingID", 1).be32("offset", static_cast<int64_t>(4 + 8 * subtables));
        if (astral)
            w.be16("platformID", 3).be16("encodingID", 10).be32("offset", static_cast<int64_t>(4 + 8 * subtables + format4));
        const SearchFields search = searchFields(static_cast<int64_t>(segments), 2);
        w.be16("format", 4)
            .be16("length", static_cast<int64_t>(format4))
            .be16("language", 0)
            .be16("segCountX2", static_cast<int64_t>(segments) * 2)
            .be16("searchRange", search.range)
            .be16("entrySelector", search.selector)
            .be16("rangeShift", search.shift);
        for (const Run& r : bmp)
            w.be16("endCode", r.last);
        w.be16("endCode", 0xFFFF).be16("reservedPad", 0);
        for (const Run& r : bmp)
            w.be16("startCode", r.first);
        w.be16("startCode", 0xFFFF);
        for (const Run& r : bmp)
            w.be16("idDelta", (r.glyph - r.first) & 0xFFFF);
        w.be16("idDelta", 1);
        for (size_t i = 0; i < segments; ++i)
            w.be16("idRangeOffset", 0);
        if (astral) {
            w.be16("format", 12).be16("reserved", 0).be32("length", static_cast<int64_t>(format12)).be32("language", 0)
                .be32("numGroups", static_cast<int64_t>(every.size()));
            for (const Run& r : every)
                w.be32("startCharCode", r.first).be32("endCharCode", r.last).be32("startGlyphID", r.glyph);
        }
    });
}

// head, hhea, hmtx and maxp: the font's units and extremes, and every glyph's advance.
qf::Status addMetrics(Tables& tables, const Strike& s)
{
    const int64_t k = s.k;
    qf::Status why = tables.add("head", 54, [&](ByteWriter& w) {
        w.be32("version", 0x00010000)
            .be32("fontRevision", 0x00010000)
            .be32("checkSumAdjustment", 0)
            .be32("magicNumber", 0x5F0F3CF5)
            .be16("flags", 0x000B)
            .be16("unitsPerEm", s.unitsPerEm)
            .be32("created", OtbWriter::kDate >> 32)
            .be32("created", OtbWriter::kDate & 0xFFFFFFFF)
            .be32("modified", OtbWriter::kDate >> 32)
            .be32("modified", OtbWriter::kDate & 0xFFFFFFFF)
            .sbe16("xMin", s.xMin * k)
            .sbe16("yMin", s.yMin * k)
            .sbe16("xMax", s.xMax * k)
            .sbe16("yMax", s.yMax * k)
            .be16("macStyle", (s.bold ? 1 : 0) | (s.italic ? 2 : 0))
            .be16("lowestRecPPEM", s.ppem)
            .sbe16("fontDirectionHint", 2)
            .sbe16("indexToLocFormat", 0)
            .sbe16("glyphDataFormat", 0);
    });
    if (why)
        why = tables.add("hhea", 36, [&](ByteWriter& w) {
            w.be32("version", 0x00010000)
                .sbe16("ascender", s.ascent * k)
                .sbe16("descender", -s.descent * k)
                .sbe16("lineGap", 0)
                .be16("advanceWidthMax", s.advanceMax * k)
                .sbe16("minLeftSideBearing", s.minLsb * k)
                .sbe16("minRightSideBearing", s.minRsb * k)
                .sbe16("xMaxExtent", s.maxExtent * k)
                .sbe16("caretSlopeRise", 1)
                .sbe16("caretSlopeRun", 0)
                .sbe16("caretOffset", 0)
                .zeros("reserved", 8)
                .sbe16("metricDataFormat", 0)
                .be16("numberOfHMetrics", s.numGlyphs);
        });
    if (why)
        why = tables.add("hmtx", 4 * s.all.size(), [&](ByteWriter& w) {
            for (const UnicodeGlyph* g : s.all)
                w.be16("advanceWidth", int64_t{g->advance} * k).sbe16("lsb", (g->width ? g->left : 0) * int64_t{k});
        });
    if (why)
        why = tables.add("maxp", 6, [&](ByteWriter& w) { w.be32("version", 0x00005000).be16("numGlyphs", s.numGlyphs); });
    return why;
}

// name (IDs 1 to 6: family, subfamily, unique name, full name, version, PostScript name) and post.
qf::Status addNamesAndPost(Tables& tables, const Strike& s)
{
    const gdi::LOGFONT& font = s.request.font;
    const std::string family(font.lfFaceName, strnlen(font.lfFaceName, sizeof font.lfFaceName));
    const std::string style = s.bold && s.italic ? "Bold Italic" : s.bold ? "Bold" : s.italic ? "Italic" : "Regular";
    std::string postscript;
    for (const char c : family + "-" + style)
        if (c > 0x20 && c < 0x7F)
            postscript += c;
    std::vector<std::string> names;
    for (const std::string& name : {family, style, family + " " + style + " " + std::to_string(s.ppem) + "px",
                                    s.request.name.empty() ? family : s.request.name, std::string("Version 1.0"),
                                    postscript})
        names.push_back(utf16be(name));
    size_t stringBytes = 0;
    for (const std::string& name : names)
        stringBytes += name.size();
    qf::Status why = tables.add("name", 6 + 12 * 6 + stringBytes, [&](ByteWriter& w) {
        w.be16("format", 0).be16("count", 6).be16("stringOffset", 6 + 12 * 6);
        int64_t at = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            w.be16("platformID", 3).be16("encodingID", 1).be16("languageID", 0x0409)
                .be16("nameID", static_cast<int64_t>(i) + 1)
                .be16("length", static_cast<int64_t>(names[i].size())).be16("offset", at);
            at += static_cast<int64_t>(names[i].size());
        }
        for (const std::string& name : names)
            w.bytes("string", name.data(), name.size());
    });
    if (why)
        why = tables.add("post", 32, [&](ByteWriter& w) {
            w.be32("version", 0x00030000)
                .sbe32("italicAngle", s.italic ? -(12 << 16) : 0)
                .sbe16("underlinePosition", -s.descent * s.k / 2)
                .sbe16("underlineThickness", s.k)
                .be32("isFixedPitch", s.drawn.facts.monospaced ? 1 : 0)
                .be32("minMemType42", 0)
                .be32("maxMemType42", 0)
                .be32("minMemType1", 0)
                .be32("maxMemType1", 0);
        });
    return why;
}

// The table directory and the tables in tag order, each on a 4-byte boundary, then the head
// table's adjustment that makes the whole file sum to 0xB1B0AFBA.
qf::Status assemble(std::vector<Table>& tables, OutputSink& out)
{
    std::sort(tables.begin(), tables.end(), [](const Table& a, const Table& b) { return std::memcmp(a.tag, b.tag, 4) < 0; });
    size_t total = 12 + 16 * tables.size();
    for (const Table& t : tables)
        total += padded4(t.bytes.size());
    uint8_t* bytes = total <= out.cap() ? out.extend(total) : nullptr;
    if (!bytes)
        return qf::Failure{"the OpenType file would exceed " + std::to_string(out.cap() >> 20) + " MiB"};
    ByteWriter w(bytes, total);
    const SearchFields search = searchFields(static_cast<int64_t>(tables.size()), 16);
    w.be32("sfntVersion", 0x00010000)
        .be16("numTables", static_cast<int64_t>(tables.size()))
        .be16("searchRange", search.range)
        .be16("entrySelector", search.selector)
        .be16("rangeShift", search.shift);
    size_t offset = 12 + 16 * tables.size();
    size_t headAt = 0;
    for (const Table& t : tables) {
        if (std::memcmp(t.tag, "head", 4) == 0)
            headAt = offset;
        w.bytes("tableTag", t.tag, 4)
            .be32("checksum", checksum(t.bytes))
            .be32("offset", static_cast<int64_t>(offset))
            .be32("length", static_cast<int64_t>(t.bytes.size()));
        offset += padded4(t.bytes.size());
    }
    for (const Table& t : tables)
        w.bytes("table", t.bytes.data(), t.bytes.size()).zeros("padding", padded4(t.bytes.size()) - t.bytes.size());
    if (!w.ok() || w.position() != total) {
        out.clear();
        return qf::Failure{w.ok() ? "the OpenType tables came to the wrong size" : w.error()};
    }
    const std::vector<uint8_t> whole(bytes, bytes + total);
    w.seek(headAt + 8).be32("checkSumAdjustment", (0xB1B0AFBAu - checksum(whole)) & 0xFFFFFFFFu);
    return qf::Status();
}

}  // namespace

WriteProblem OtbWriter::write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const
{
    return realiseAndPack(dc, request, out, &OtbWriter::pack);
}

WriteProblem OtbWriter::pack(GlyphSource& source, const WriteRequest& request, OutputSink& out)
{
    out.clear();
    const Refusal refuse(request);
    UnicodeGlyphs drawn;
    if (WriteProblem problem = requireRepertoire(request, "an OpenType bitmap font"))
        return problem;
    if (WriteProblem problem = drawRepertoire(source, request, out.cap(), drawn))
        return problem;
    // Glyph 0, .notdef, draws as the default character.
    UnicodeGlyph notdef = drawn.glyphs.front();
    for (const UnicodeGlyph& g : drawn.glyphs)
        if (g.code == request.repertoire->defaultCharacter)
            notdef = g;
    const Strike strike(drawn, request, notdef);
    if (strike.ppem < 1 || strike.ppem > 127 || strike.ascent > 127 || strike.descent > 127)
        return refuse("a strike of " + std::to_string(strike.ppem) + " pixels per em (ascent " +
                      std::to_string(strike.ascent) + ", descent " + std::to_string(strike.descent) +
                      ") does not fit the bitmap tables' byte-wide fields");
    if (strike.numGlyphs > 0xFFFF)
        return refuse(std::to_string(strike.numGlyphs) + " glyphs are more than an OpenType font holds");

    Tables tables;
    std::vector<int64_t> imageOffsets;
    qf::Status why = addEbdt(tables, strike, imageOffsets);
    if (why)
        why = addEblc(tables, strike, imageOffsets);
    if (why)
        why = addOs2(tables, strike);
    if (why)
        why = addCmap(tables, strike);
    if (why)
        why = addMetrics(tables, strike);
    if (why)
        why = addNamesAndPost(tables, strike);
    if (why)
        why = assemble(tables.list(), out);
    if (!why)
        return refuse(why.failure().reason());
    return {};
}

}  // namespace qf
