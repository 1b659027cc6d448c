#include "formats/UnicodeGlyphs.h"

#include "formats/InkScan.h"
#include "formats/WriterSupport.h"
#include "platform/Prefault.h"
#include "render/GlyphRasteriser.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <mutex>
#include <new>
#include <span>
#include <thread>

namespace qf {

uint64_t CharacterHelpers::inkedCharacters() const
{
    uint64_t sum = 0;
    for (const auto& dc : contexts)
        sum += dc->inkedCharacters();
    return sum;
}

namespace {

// Where the characters are drawn on the scratch bitmap, the same on every device context.
struct Layout {
    int64_t margin = 0;
    int64_t scratchWidth = 0;
    int rowsAround = 0;
    int64_t baselineRow = 0;
};

// Glyphs drawn, their offsets into bits.
struct Drawn {
    std::vector<UnicodeGlyph> glyphs;
    std::vector<uint8_t> bits;
};

// What the pixels of `count` glyphs of this font are likely to take: a cell's rows of its widest
// character's bytes each, and no more than a start needs. Reserved before drawing, so the pixels'
// buffer is not copied again and again as it grows (each copy fresh memory, its pages faults).
size_t likelyBits(const gdi::TEXTMETRIC& tm, size_t count, uint64_t maxBytes)
{
    constexpr uint64_t kMostReserved = uint64_t{64} << 20;
    const uint64_t perGlyph = uint64_t((std::max<int64_t>(tm.tmMaxCharWidth, 0) + 7) / 8) * uint64_t(std::max<int64_t>(tm.tmHeight, 0));
    return static_cast<size_t>(std::min({perGlyph * count, maxBytes, kMostReserved}));
}

// Room for `count` of the size's `ofAll` glyphs, asked for at once: a stretch of a size split
// across threads takes its share of what the whole size would.
void reserveFor(Drawn& drawn, const gdi::TEXTMETRIC& tm, size_t count, size_t ofAll, uint64_t maxBytes)
{
    drawn.glyphs.reserve(count);
    prefault(drawn.glyphs.data(), drawn.glyphs.capacity() * sizeof(UnicodeGlyph));
    const uint64_t share = ofAll > 0 ? uint64_t{likelyBits(tm, ofAll, maxBytes)} * count / ofAll : 0;
    drawn.bits.reserve(static_cast<size_t>(share));
    // The estimate may run well past what is drawn (a face with one very wide character): only
    // its start is made resident ahead, at most 8 MiB for the whole size.
    constexpr uint64_t kPrefaultedAtMost = uint64_t{8} << 20;
    const uint64_t resident = ofAll > 0 ? kPrefaultedAtMost * count / ofAll : 0;
    prefault(drawn.bits.data(), static_cast<size_t>(std::min<uint64_t>(drawn.bits.capacity(), resident)));
}

// Draws slots into drawn, counting their pixels' bytes in `total` (shared by the threads drawing
// one size); false once that passes maxBytes.
bool drawSlots(GlyphSource& source, std::span<const Repertoire::Slot> slots, const Layout& at,
               std::atomic<uint64_t>& total, uint64_t maxBytes, std::vector<uint8_t>& columns, Drawn& drawn)
{
    for (const Repertoire::Slot& slot : slots) {
        const RenderedGlyph glyph = source.renderCharacter(slot.character, static_cast<int>(at.margin));
        const ink::RowLayout layout(glyph);
        const ink::InkBox box = ink::findInkBox(glyph, layout, columns);
        UnicodeGlyph g;
        g.code = slot.code;
        g.advance = glyph.cx;
        g.offset = drawn.bits.size();
        if (!box.empty()) {
            g.left = static_cast<int32_t>(box.left - at.margin);
            g.bottom = static_cast<int32_t>(at.baselineRow - box.bottom - 1);
            g.width = box.width();
            g.height = box.height();
            const size_t bytes = static_cast<size_t>(g.rowBytes()) * static_cast<size_t>(g.height);
            if (total.fetch_add(bytes, std::memory_order_relaxed) + bytes > maxBytes)
                return false;
            drawn.bits.resize(drawn.bits.size() + bytes);
            for (int r = box.top; r <= box.bottom; ++r)
                ink::cropRow(glyph, layout, r, box.left, g.rowBytes(),
                             drawn.bits.data() + g.offset + static_cast<size_t>(r - box.top) * g.rowBytes());
        }
        drawn.glyphs.push_back(g);
    }
    return true;
}

// A helper's rasteriser, realised as the writer's was. Null when it does not come out the same
// (it then draws nothing, and the others draw its share).
std::unique_ptr<GlyphRasteriser> helperSource(gdi::DeviceContext& dc, const WriteRequest& request,
                                              const gdi::TEXTMETRIC& tm, const Layout& at)
{
    auto source = std::make_unique<GlyphRasteriser>(dc);
    if (!source->realise(request.font, request.pointSize, request.resolutionX, request.resolutionY))
        return nullptr;
    const gdi::TEXTMETRIC& mine = source->metrics();
    if (mine.tmHeight != tm.tmHeight || mine.tmAscent != tm.tmAscent || mine.tmDescent != tm.tmDescent ||
        mine.tmMaxCharWidth != tm.tmMaxCharWidth || mine.tmAveCharWidth != tm.tmAveCharWidth ||
        mine.tmCharSet != tm.tmCharSet)
        return nullptr;
    if (!source->prepare(static_cast<int>(at.scratchWidth), at.rowsAround))
        return nullptr;
    return source;
}

// Stretches small enough that the threads end close together, large enough that handing them out
// costs nothing next to drawing them.
constexpr size_t kStretch = 256;

// Draws the repertoire in stretches on the caller's source and the helpers, then puts the
// stretches together in order. False when the pixels pass maxBytes; `fontFile` fails when a
// helper's font file changed under it.
bool drawSplit(GlyphSource& source, const WriteRequest& request, const Layout& at, uint64_t maxBytes,
               UnicodeGlyphs& out, qf::Status& fontFile)
{
    const std::vector<Repertoire::Slot>& entries = request.repertoire->entries;
    const size_t stretches = (entries.size() + kStretch - 1) / kStretch;
    std::vector<Drawn> parts(stretches);
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> over{false};
    qf::Status fileChanged;  // guarded by `failed`
    std::mutex failed;
    std::exception_ptr failure;  // running out of memory on a helper is the size's refusal too

    auto drawStretches = [&](GlyphSource& on) {
        std::vector<uint8_t> columns;
        for (size_t i; !over.load(std::memory_order_relaxed) && (i = next.fetch_add(1)) < stretches;) {
            const size_t first = i * kStretch;
            const auto slots = std::span(entries).subspan(first, std::min(kStretch, entries.size() - first));
            reserveFor(parts[i], out.metrics, slots.size(), entries.size(), maxBytes);
            if (!drawSlots(on, slots, at, total, maxBytes, columns, parts[i]))
                over = true;
        }
    };
    auto guarded = [&](auto&& work) {
        try {
            work();
        } catch (...) {
            over = true;
            std::lock_guard lock(failed);
            if (!failure)
                failure = std::current_exception();
        }
    };

    std::vector<std::thread> threads;
    threads.reserve(request.helpers->contexts.size());
    for (const auto& dc : request.helpers->contexts)
        threads.emplace_back([&, &dc = *dc] {
            guarded([&] {
                if (auto helper = helperSource(dc, request, out.metrics, at)) {
                    drawStretches(*helper);
                    helper->finish();
                    if (qf::Status same = helper->checkFontFile(); !same) {
                        std::lock_guard lock(failed);
                        fileChanged = std::move(same);
                    }
                }
            });
        });
    guarded([&] { drawStretches(source); });
    for (std::thread& t : threads)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
    fontFile = std::move(fileChanged);
    if (over)
        return false;

    // Each stretch goes as soon as it is copied, so the pixels are held about once, not twice.
    out.glyphs.reserve(entries.size());
    out.bits.reserve(total);
    for (Drawn& part : parts) {
        const size_t base = out.bits.size();
        for (UnicodeGlyph& g : part.glyphs) {
            g.offset += base;
            out.glyphs.push_back(g);
        }
        out.bits.insert(out.bits.end(), part.bits.begin(), part.bits.end());
        part = Drawn{};
    }
    return true;
}

}  // namespace

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
    Layout at;
    at.margin = std::max<int64_t>(ink::kMargin, tm.tmMaxCharWidth);
    at.scratchWidth = 2 * at.margin + int64_t{4} * tm.tmMaxCharWidth;
    if (at.scratchWidth > INT32_MAX)
        return refuse("a scratch bitmap " + std::to_string(at.scratchWidth) + " pixels wide is too wide");
    at.rowsAround = tm.tmHeight;
    if (const qf::Status prepared = source.prepare(static_cast<int>(at.scratchWidth), at.rowsAround); !prepared)
        return refuse(prepared.failure().reason());
    at.baselineRow = int64_t{at.rowsAround} + tm.tmAscent;

    auto tooLarge = [&] { return refuse("its glyphs would take more than " + std::to_string(maxBytes >> 20) + " MiB"); };
    const bool split = request.helpers && !request.helpers->contexts.empty() && repertoire.entries.size() >= kCharactersSplitFrom;
    if (split) {
        qf::Status fontFile;
        bool fits = false;
        try {
            fits = drawSplit(source, request, at, maxBytes, out, fontFile);
        } catch (...) {
            source.finish();
            throw;
        }
        source.finish();
        if (!fits)
            return tooLarge();
        if (!fontFile)
            return refuse(fontFile.failure().reason());
    } else {
        std::atomic<uint64_t> total{0};
        std::vector<uint8_t> columns;  // scratch of the ink search
        Drawn drawn;
        reserveFor(drawn, tm, repertoire.entries.size(), repertoire.entries.size(), maxBytes);
        const bool fits = drawSlots(source, repertoire.entries, at, total, maxBytes, columns, drawn);
        source.finish();
        if (!fits)
            return tooLarge();
        out.glyphs = std::move(drawn.glyphs);
        out.bits = std::move(drawn.bits);
    }

    // What the glyphs turned out to be, measured in order once all are drawn.
    GlyphFacts& facts = out.facts;
    facts.monospaced = facts.withinCells = !out.glyphs.empty();
    int64_t advances = 0;
    bool anyInk = false;
    for (const UnicodeGlyph& g : out.glyphs) {
        if (g.width > 0) {
            facts.withinCells = facts.withinCells && g.left >= 0 && g.right() <= g.advance &&
                                g.top() <= tm.tmAscent && -g.bottom <= tm.tmHeight - tm.tmAscent;
            out.boxLeft = anyInk ? std::min(out.boxLeft, g.left) : g.left;
            out.boxRight = anyInk ? std::max(out.boxRight, g.right()) : g.right();
            out.boxBottom = anyInk ? std::min(out.boxBottom, g.bottom) : g.bottom;
            out.boxTop = anyInk ? std::max(out.boxTop, g.top()) : g.top();
            anyInk = true;
        }
        facts.monospaced = facts.monospaced && g.advance == out.glyphs.front().advance;
        advances += g.advance;
    }

    const auto count = static_cast<int64_t>(out.glyphs.size());
    facts.withinCells = facts.withinCells && facts.monospaced;
    facts.averageWidth = count > 0 ? (advances * 10 + count / 2) / count : 0;
    out.boxLeft = std::min(out.boxLeft, 0);
    out.boxRight = std::max(out.boxRight, tm.tmMaxCharWidth);
    out.boxBottom = std::min(out.boxBottom, tm.tmAscent - tm.tmHeight);
    out.boxTop = std::max(out.boxTop, tm.tmAscent);
    return {};
}

WriteProblem requireRepertoire(const WriteRequest& request, const char* holder)
{
    if (request.unicode())
        return {};
    return Refusal(request)(std::string(holder) + " holds a Unicode repertoire, and none was given");
}

WriteProblem drawRepertoire(GlyphSource& source, const WriteRequest& request, uint64_t maxBytes, UnicodeGlyphs& out)
{
    if (WriteProblem problem = drawUnicodeGlyphs(source, request, maxBytes, out))
        return problem;
    if (out.glyphs.empty())
        return Refusal(request)("the face maps none of the characters asked for");
    return {};
}

}  // namespace qf
