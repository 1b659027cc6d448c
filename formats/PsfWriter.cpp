#include "formats/PsfWriter.h"

#include "formats/ByteWriter.h"
#include "formats/UnicodeGlyphs.h"
#include "formats/WriterSupport.h"
#include "platform/CodePages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace qf {

namespace {

// Cells are all of one size: compared as bytes (GCC 12 warns falsely of vector's own ordering).
struct CellOrder {
    bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const
    {
        return a.size() != b.size() ? a.size() < b.size() : std::memcmp(a.data(), b.data(), a.size()) < 0;
    }
};

}  // namespace

WriteProblem PsfWriter::write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const
{
    return realiseAndPack(dc, request, out, &PsfWriter::pack);
}

WriteProblem PsfWriter::pack(GlyphSource& source, const WriteRequest& request, OutputSink& out)
{
    out.clear();
    const Refusal refuse(request);
    UnicodeGlyphs drawn;
    if (WriteProblem problem = requireRepertoire(request, "a console font"))
        return problem;
    if (WriteProblem problem = drawRepertoire(source, request, out.cap(), drawn))
        return problem;
    const gdi::TEXTMETRIC& tm = drawn.metrics;
    int64_t width = 0;
    for (const UnicodeGlyph& g : drawn.glyphs)
        width = std::max<int64_t>(width, g.advance);
    const int64_t height = tm.tmHeight;
    if (width < 1 || width > kMaxCell || height > kMaxCell)
        return refuse("its cell would be " + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels, and the console takes cells of 1 to " + std::to_string(kMaxCell) + " x " +
                      std::to_string(kMaxCell));
    const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
    const size_t cellBytes = rowBytes * static_cast<size_t>(height);

    // Each character's cell; characters with the same cell share a glyph.
    std::vector<std::vector<uint8_t>> cells;
    std::vector<std::string> characters;  // each glyph's, UTF-8
    std::map<std::vector<uint8_t>, size_t, CellOrder> glyphOf;
    size_t clipped = 0;
    std::string clippedNames;
    for (const UnicodeGlyph& g : drawn.glyphs) {
        std::vector<uint8_t> cell(cellBytes, 0);
        const int64_t x0 = drawn.facts.monospaced ? 0 : (width - g.advance) / 2;
        bool lost = false;
        // The space stays blank, whatever the face draws for it.
        for (int32_t r = 0; g.code != 0x20 && r < g.height; ++r) {
            const uint8_t* row = drawn.bits.data() + g.offset + static_cast<size_t>(r) * g.rowBytes();
            for (int32_t c = 0; c < g.width; ++c) {
                if (!(row[c / 8] & (0x80 >> (c % 8))))
                    continue;
                const int64_t x = x0 + g.left + c, y = tm.tmAscent - g.top() + r;
                if (x < 0 || y < 0 || x >= width || y >= height) {
                    lost = true;
                    continue;
                }
                cell[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        if (lost) {
            ++clipped;
            if (clipped <= 8) {
                char name[16];
                std::snprintf(name, sizeof name, "U+%04X", g.code);
                clippedNames += (clipped > 1 ? ", " : "") + std::string(name);
            }
        }
        const auto [at, added] = glyphOf.try_emplace(cell, cells.size());
        if (added) {
            cells.push_back(std::move(cell));
            characters.emplace_back();
        }
        gdi::appendUtf8(characters[at->second], g.code);
    }

    // The console erases the screen with font position 32, whatever the Unicode table maps there:
    // that position must hold the blank glyph (the space's, or one added for it).
    if (cells.size() > kBlankPosition) {
        const auto isBlank = [](const std::vector<uint8_t>& cell) {
            return std::all_of(cell.begin(), cell.end(), [](uint8_t b) { return b == 0; });
        };
        const auto blank = std::find_if(cells.begin(), cells.end(), isBlank);
        if (blank == cells.end()) {
            cells.insert(cells.begin() + kBlankPosition, std::vector<uint8_t>(cellBytes, 0));
            characters.insert(characters.begin() + kBlankPosition, std::string());
        } else if (const auto at = static_cast<size_t>(blank - cells.begin()); at != kBlankPosition) {
            std::swap(cells[at], cells[kBlankPosition]);
            std::swap(characters[at], characters[kBlankPosition]);
        }
    }

    // Blank glyphs to the count the console loads; past 512 the file is still written whole.
    const size_t used = cells.size();
    const size_t count = used <= 256 ? 256 : used <= kMaxGlyphs ? kMaxGlyphs : used;
    std::string warning;
    if (clipped > 0)
        warning = std::to_string(clipped) + " glyph(s) reach outside the " + std::to_string(width) + " x " +
                  std::to_string(height) + " cell and were clipped: " + clippedNames + (clipped > 8 ? ", ..." : "");
    if (used > kMaxGlyphs)
        warning += std::string(warning.empty() ? "" : "; ") + std::to_string(used) +
                   " glyphs, of which the console loads only the first " + std::to_string(kMaxGlyphs);

    size_t table = 0;
    for (size_t i = 0; i < count; ++i)
        table += (i < used ? characters[i].size() : 0) + 1;
    const size_t total = 32 + count * cellBytes + table;
    uint8_t* bytes = total <= out.cap() ? out.extend(total) : nullptr;
    if (!bytes)
        return refuse("the console font would exceed " + std::to_string(out.cap() >> 20) + " MiB");
    ByteWriter w(bytes, total);
    w.le32("magic", 0x864AB572)
        .le32("version", 0)
        .le32("headersize", 32)
        .le32("flags", 1)  // a Unicode table follows the glyphs
        .le32("length", static_cast<int64_t>(count))
        .le32("charsize", static_cast<int64_t>(cellBytes))
        .le32("height", height)
        .le32("width", width);
    for (size_t i = 0; i < count; ++i) {
        if (i < used)
            w.bytes("glyph", cells[i].data(), cellBytes);
        else
            w.zeros("glyph", cellBytes);
    }
    for (size_t i = 0; i < count; ++i) {
        if (i < used)
            w.bytes("unicode entry", characters[i].data(), characters[i].size());
        w.u8("separator", 0xFF);
    }
    if (!w.ok() || w.position() != total) {
        out.clear();
        return refuse(w.ok() ? "the console font came to the wrong size" : w.error());
    }
    WriteProblem made;
    made.warning = warning;
    return made;
}

}  // namespace qf
