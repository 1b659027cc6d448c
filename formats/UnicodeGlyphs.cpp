#include "formats/UnicodeGlyphs.h"

#include "formats/InkScan.h"
#include "formats/WriterSupport.h"
#include "render/GlyphRasteriser.h"

#include <algorithm>
#include <climits>

namespace qf {

WriteProblem drawUnicodeGlyphs(GlyphSource& source, const WriteRequest& request, uint64_t maxBytes,
                               UnicodeGlyphs& out)
{
    out = UnicodeGlyphs{};
    const gdi::TEXTMETRIC& tm = source.metrics();
    out.metrics = tm;
    const Refusal refuse(request);
    if (!request.repertoire || tm.tmHeight < 1 || tm.tmMaxCharWidth < 0)
        return refuse("the realised font has no usable cell (height " + std::to_string(tm.tmHeight) +
                      ", widest character " + std::to_string(tm.tmMaxCharWidth) + ")");
    const Repertoire& repertoire = *request.repertoire;

    // Combining marks and the like draw left of their origin, as far as a whole character at large
    // sizes: the margin grows with the font. Faces that map many characters draw some well outside
    // the cell (stacked accents above it, long descenders below): a cell's height of rows either
    // side keeps their ink.
    const int64_t margin = std::max<int64_t>(ink::kMargin, tm.tmMaxCharWidth);
    const int64_t scratchWidth = 2 * margin + int64_t{4} * tm.tmMaxCharWidth;
    if (scratchWidth > INT32_MAX)
        return refuse("a scratch bitmap " + std::to_string(scratchWidth) + " pixels wide is too wide");
    const int rowsAround = tm.tmHeight;
    std::string why;
    if (!source.prepare(static_cast<int>(scratchWidth), &why, rowsAround))
        return refuse(why);
    const int64_t baselineRow = int64_t{rowsAround} + tm.tmAscent;

    out.glyphs.reserve(repertoire.entries.size());
    GlyphFacts& facts = out.facts;
    facts.monospaced = facts.withinCells = !repertoire.entries.empty();
    int64_t advances = 0;
    bool anyInk = false;
    std::vector<uint8_t> columns;  // scratch of the ink search
    for (const Repertoire::Slot& slot : repertoire.entries) {
        const RenderedGlyph drawn = source.renderCharacter(slot.character, static_cast<int>(margin));
        const ink::RowLayout layout(drawn);
        const ink::InkBox box = ink::findInkBox(drawn, layout, columns);
        UnicodeGlyph g;
        g.code = slot.code;
        g.advance = drawn.cx;
        g.offset = out.bits.size();
        if (!box.empty()) {
            g.left = static_cast<int32_t>(box.left - margin);
            g.bottom = static_cast<int32_t>(baselineRow - box.bottom - 1);
            g.width = box.width();
            g.height = box.height();
            const size_t bytes = static_cast<size_t>(g.rowBytes()) * static_cast<size_t>(g.height);
            if (out.bits.size() + bytes > maxBytes) {
                source.finish();
                return refuse("its glyphs would take more than " + std::to_string(maxBytes >> 20) + " MiB");
            }
            out.bits.resize(out.bits.size() + bytes);
            for (int r = box.top; r <= box.bottom; ++r)
                ink::cropRow(drawn, layout, r, box.left, g.rowBytes(),
                             out.bits.data() + g.offset + static_cast<size_t>(r - box.top) * g.rowBytes());
            facts.withinCells = facts.withinCells && g.left >= 0 && g.right() <= g.advance &&
                                g.top() <= tm.tmAscent && -g.bottom <= tm.tmHeight - tm.tmAscent;
            out.boxLeft = anyInk ? std::min(out.boxLeft, g.left) : g.left;
            out.boxRight = anyInk ? std::max(out.boxRight, g.right()) : g.right();
            out.boxBottom = anyInk ? std::min(out.boxBottom, g.bottom) : g.bottom;
            out.boxTop = anyInk ? std::max(out.boxTop, g.top()) : g.top();
            anyInk = true;
        }
        if (!out.glyphs.empty())
            facts.monospaced = facts.monospaced && g.advance == out.glyphs.front().advance;
        advances += g.advance;
        out.glyphs.push_back(g);
    }
    source.finish();

    const auto count = static_cast<int64_t>(out.glyphs.size());
    facts.withinCells = facts.withinCells && facts.monospaced;
    facts.averageWidth = count > 0 ? (advances * 10 + count / 2) / count : 0;
    out.boxLeft = std::min(out.boxLeft, 0);
    out.boxRight = std::max(out.boxRight, tm.tmMaxCharWidth);
    out.boxBottom = std::min(out.boxBottom, tm.tmAscent - tm.tmHeight);
    out.boxTop = std::max(out.boxTop, tm.tmAscent);
    return {};
}

}  // namespace qf
