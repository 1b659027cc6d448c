#include "formats/InkScan.h"

#include <algorithm>
#include <cstring>

namespace qf::ink {

namespace {

uint64_t load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

RowLayout::RowLayout(const RenderedGlyph& glyph)
{
    if (!glyph.rows || glyph.width <= 0 || glyph.widthBytes <= 0 || glyph.height <= 0)
        return;
    readableBytes = std::min((glyph.width + 7) / 8, glyph.widthBytes);
    lastMask = glyph.width % 8 == 0 ? 0xFF : static_cast<uint8_t>(0xFF00 >> (glyph.width % 8));
}

bool rowHasInk(const RenderedGlyph& glyph, const RowLayout& layout, int row, int bytes)
{
    const int n = std::min(bytes, layout.readableBytes);
    if (n <= 0 || row < 0 || row >= glyph.height)
        return false;
    const uint8_t* p = glyph.rows + static_cast<size_t>(row) * glyph.widthBytes;
    // The last readable byte may hold padding bits; it is looked at on its own.
    const int whole = n == layout.readableBytes ? n - 1 : n;
    int j = 0;
    for (; j + 8 <= whole; j += 8)
        if (load64(p + j) != 0)
            return true;
    for (; j < whole; ++j)
        if (p[j] != 0)
            return true;
    return whole < n && layout.byteAt(p, n - 1) != 0;
}

namespace {

// Whether byte `offset` of the rows (counted from the first row) is ink and not row padding.
bool inkAt(const RenderedGlyph& glyph, const RowLayout& layout, size_t offset)
{
    const int j = static_cast<int>(offset % static_cast<size_t>(glyph.widthBytes));
    return layout.byteAt(glyph.rows + (offset - static_cast<size_t>(j)), j) != 0;
}

}  // namespace

int firstInkedRow(const RenderedGlyph& glyph, const RowLayout& layout, int from)
{
    if (layout.readableBytes <= 0 || from >= glyph.height)
        return -1;
    from = std::max(from, 0);
    const size_t wb = static_cast<size_t>(glyph.widthBytes);
    const size_t end = wb * static_cast<size_t>(glyph.height);
    size_t o = wb * static_cast<size_t>(from);
    while (o < end) {
        // Skip zero words, four at a time, then look at the bytes of the first word that is not.
        while (o + 32 <= end && (load64(glyph.rows + o) | load64(glyph.rows + o + 8) |
                                 load64(glyph.rows + o + 16) | load64(glyph.rows + o + 24)) == 0)
            o += 32;
        while (o + 8 <= end && load64(glyph.rows + o) == 0)
            o += 8;
        const size_t stop = std::min(end, o + 8);
        for (; o < stop; ++o)
            if (glyph.rows[o] != 0 && inkAt(glyph, layout, o))
                return static_cast<int>(o / wb);
    }
    return -1;
}

int lastInkedRow(const RenderedGlyph& glyph, const RowLayout& layout, int from)
{
    if (layout.readableBytes <= 0 || from < 0)
        return -1;
    from = std::min(from, glyph.height - 1);
    const size_t wb = static_cast<size_t>(glyph.widthBytes);
    size_t o = wb * static_cast<size_t>(from + 1);  // one past the last byte to look at
    while (o > 0) {
        while (o >= 32 && (load64(glyph.rows + o - 8) | load64(glyph.rows + o - 16) |
                           load64(glyph.rows + o - 24) | load64(glyph.rows + o - 32)) == 0)
            o -= 32;
        while (o >= 8 && load64(glyph.rows + o - 8) == 0)
            o -= 8;
        const size_t stop = o >= 8 ? o - 8 : 0;
        for (; o > stop; --o)
            if (glyph.rows[o - 1] != 0 && inkAt(glyph, layout, o - 1))
                return static_cast<int>((o - 1) / wb);
    }
    return -1;
}

void orRows(const RenderedGlyph& glyph, const RowLayout& layout, int first, int last, int fromByte, int bytes,
            uint8_t* acc)
{
    const int n = std::min(bytes, layout.readableBytes);
    fromByte = std::max(fromByte, 0);
    if (n <= fromByte)
        return;
    first = std::max(first, 0);
    last = std::min(last, glyph.height - 1);
    const bool padded = n == layout.readableBytes;
    for (int r = first; r <= last; ++r) {
        const uint8_t* p = glyph.rows + static_cast<size_t>(r) * glyph.widthBytes;
        int j = fromByte;
        for (; j + 8 <= n; j += 8)
            store64(acc + j, load64(acc + j) | load64(p + j));
        for (; j < n; ++j)
            acc[j] |= p[j];
    }
    if (padded && first <= last)
        acc[n - 1] &= layout.lastMask;
}

int firstSetColumn(const uint8_t* acc, int from, int to)
{
    if (from < 0)
        from = 0;
    for (int x = from; x <= to;) {
        const int j = x / 8;
        // Bits of byte j from column x on, and up to column `to`.
        uint8_t bits = static_cast<uint8_t>(acc[j] & (0xFF >> (x % 8)));
        if (j == to / 8)
            bits &= static_cast<uint8_t>(0xFF00 >> (to % 8 + 1));
        if (bits)
            return j * 8 + __builtin_clz(static_cast<unsigned>(bits)) - 24;
        x = (j + 1) * 8;
    }
    return -1;
}

int lastSetColumn(const uint8_t* acc, int from, int to)
{
    if (from < 0)
        from = 0;
    for (int x = to; x >= from;) {
        const int j = x / 8;
        uint8_t bits = static_cast<uint8_t>(acc[j] & (0xFF00 >> (x % 8 + 1)));
        if (j == from / 8)
            bits &= static_cast<uint8_t>(0xFF >> (from % 8));
        if (bits)
            return j * 8 + 7 - __builtin_ctz(static_cast<unsigned>(bits));
        x = j * 8 - 1;
    }
    return -1;
}

void cropRow(const RenderedGlyph& glyph, const RowLayout& layout, int row, int left,
             int bytesPerRow, uint8_t* out)
{
    const uint8_t* p = glyph.rows + static_cast<size_t>(row) * glyph.widthBytes;
    const int start = left / 8;
    const int shift = left % 8;
    // Inside the readable bytes but clear of the padded last one, bytes are taken as they are.
    const int plain = layout.readableBytes - 1;
    if (shift == 0) {
        int k = 0;
        const int direct = std::clamp(plain - start, 0, bytesPerRow);
        if (direct > 0) {
            std::memcpy(out, p + start, static_cast<size_t>(direct));
            k = direct;
        }
        for (; k < bytesPerRow; ++k)
            out[k] = layout.byteAt(p, start + k);
        return;
    }
    int k = 0;
    // Eight bytes at a time while nine plain bytes are left to read.
    for (; k + 8 <= bytesPerRow && start + k + 8 < plain; k += 8) {
        const uint64_t v = __builtin_bswap64(load64(p + start + k));
        store64(out + k, __builtin_bswap64((v << shift) | (p[start + k + 8] >> (8 - shift))));
    }
    // The last few bytes (most glyphs' rows are no more) in one go where nine plain bytes are left.
    if (k < bytesPerRow && start + k + 8 < plain) {
        const uint64_t v = __builtin_bswap64(load64(p + start + k));
        const uint64_t bytes = __builtin_bswap64((v << shift) | (p[start + k + 8] >> (8 - shift)));
        std::memcpy(out + k, &bytes, static_cast<size_t>(bytesPerRow - k));
        return;
    }
    for (; k < bytesPerRow && start + k + 1 < plain; ++k)
        out[k] = static_cast<uint8_t>((p[start + k] << shift) | (p[start + k + 1] >> (8 - shift)));
    for (; k < bytesPerRow; ++k)
        out[k] = static_cast<uint8_t>((layout.byteAt(p, start + k) << shift) |
                                      (layout.byteAt(p, start + k + 1) >> (8 - shift)));
}

namespace {

// The ink box of the glyph's rows, columns up to lastColumn; only inside the glyph's ink bounds
// when it has them.
InkBox inkBoxUpTo(const RenderedGlyph& glyph, const RowLayout& layout, int lastColumn, std::vector<uint8_t>& columns)
{
    InkBox box;
    // Where the drawing may have put ink, when the source knows: the search starts there.
    int fromRow = 0, toRow = glyph.height - 1, fromColumn = 0;
    if (glyph.inkKnown) {
        fromRow = std::max(fromRow, glyph.inkTop);
        toRow = std::min(toRow, glyph.inkBottom - 1);
        fromColumn = std::max(fromColumn, glyph.inkLeft);
        lastColumn = std::min(lastColumn, glyph.inkRight - 1);
    }
    if (fromRow > toRow)
        return box;
    const int top = firstInkedRow(glyph, layout, fromRow);
    if (top < 0)
        return box;
    const int bottom = lastInkedRow(glyph, layout, toRow);
    if (lastColumn < fromColumn)
        return box;
    const int bytes = lastColumn / 8 + 1;
    columns.assign(static_cast<size_t>(bytes), 0);
    orRows(glyph, layout, top, bottom, fromColumn / 8, bytes, columns.data());
    const int left = firstSetColumn(columns.data(), fromColumn, lastColumn);
    if (left < 0)
        return box;
    box.left = left;
    box.right = lastSetColumn(columns.data(), left, lastColumn);
    box.top = top;
    box.bottom = bottom;
    return box;
}

}  // namespace

InkBox findMarginInkBox(const RenderedGlyph& glyph, const RowLayout& layout, int height,
                        std::vector<uint8_t>& columns)
{
    if (!glyph.rows || glyph.height != height)
        return {};
    return inkBoxUpTo(glyph, layout,
                      static_cast<int>(std::min<int64_t>(int64_t{glyph.cx} + 2 * kMargin - 1, glyph.width - 1)),
                      columns);
}

InkBox findInkBox(const RenderedGlyph& glyph, const RowLayout& layout, std::vector<uint8_t>& columns)
{
    if (!glyph.rows)
        return {};
    return inkBoxUpTo(glyph, layout, glyph.width - 1, columns);
}

}  // namespace qf::ink
