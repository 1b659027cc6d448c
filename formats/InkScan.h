// Finding and cutting out a glyph's ink in the scratch rows, a byte or a machine word at a time.
// Only the scratch bitmap itself is read: bytes past a row's end, and the pixels of the row
// padding right of the bitmap's last column, read as blank.
#pragma once

#include "render/GlyphRasteriser.h"

#include <cstdint>
#include <vector>

namespace qf::ink {

// The bytes of a row that hold pixels of the bitmap, and the mask of the last one's valid bits.
struct RowLayout {
    explicit RowLayout(const RenderedGlyph& glyph);
    int readableBytes = 0;
    uint8_t lastMask = 0xFF;

    // Byte j of a row (0 past the readable bytes), its padding bits cleared.
    uint8_t byteAt(const uint8_t* row, int j) const
    {
        if (j < 0 || j >= readableBytes)
            return 0;
        return j == readableBytes - 1 ? row[j] & lastMask : row[j];
    }
};

// True when any of the first `bytes` bytes of the row holds ink.
bool rowHasInk(const RenderedGlyph& glyph, const RowLayout& layout, int row, int bytes);

// The first row from `from` on (the last row from `from` back) holding ink anywhere in it; -1 if
// none. The rows are scanned as one run of words, which is what makes blank margins cheap.
int firstInkedRow(const RenderedGlyph& glyph, const RowLayout& layout, int from);
int lastInkedRow(const RenderedGlyph& glyph, const RowLayout& layout, int from);

// acc[fromByte .. bytes) |= those bytes of rows first .. last: which columns hold ink in any of
// those rows. acc must hold `bytes` bytes and is not cleared first.
void orRows(const RenderedGlyph& glyph, const RowLayout& layout, int first, int last, int fromByte, int bytes,
            uint8_t* acc);

// The first (last) column from `from` to `to`, both included, whose bit is set in acc; -1 if none.
// acc holds (to + 8) / 8 bytes at least.
int firstSetColumn(const uint8_t* acc, int from, int to);
int lastSetColumn(const uint8_t* acc, int from, int to);

// Columns of margin each side of a glyph drawn for cropping to its ink: ink left of the origin
// and right of the advance lands in the bitmap and is kept.
inline constexpr int kMargin = 32;

// How wide the scratch bitmap of a writer that crops to the ink is: four of the widest character
// (room for any italic's overhang) and the margins either side.
inline int64_t marginScratchWidth(const gdi::TEXTMETRIC& tm)
{
    return int64_t{4} * (tm.tmMaxCharWidth > 0 ? tm.tmMaxCharWidth : 0) + 2 * kMargin;
}

// The smallest box holding a glyph's ink, in scratch rows and columns; empty when it has none.
struct InkBox {
    int left = 0, right = -1, top = 0, bottom = -1;
    bool empty() const { return right < left || bottom < top; }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// The ink box of a glyph drawn with its origin at column kMargin of a bitmap `height` rows high:
// every row, and the columns up to kMargin past the advance; only inside the glyph's ink bounds
// when it has them. columns is scratch space.
InkBox findMarginInkBox(const RenderedGlyph& glyph, const RowLayout& layout, int height,
                        std::vector<uint8_t>& columns);

// The ink box of a glyph anywhere in its bitmap (only inside its ink bounds when it has them).
InkBox findInkBox(const RenderedGlyph& glyph, const RowLayout& layout, std::vector<uint8_t>& columns);

// Writes bytesPerRow bytes of the row starting at column `left`: bit 7 of out[0] is column left.
void cropRow(const RenderedGlyph& glyph, const RowLayout& layout, int row, int left,
             int bytesPerRow, uint8_t* out);

}  // namespace qf::ink
