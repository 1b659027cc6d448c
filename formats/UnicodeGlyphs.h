// The glyphs of a Unicode repertoire, drawn once and kept as every Unicode format stores them: each
// character's advance and the box of its ink about the origin, with the ink's rows byte-padded,
// most significant bit leftmost. What the glyphs turned out to be (spacing, average width, the
// font's box) is measured on the way.
#pragma once

#include "formats/FontWriter.h"
#include "formats/XlfdProperties.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace gdi {
class DeviceContext;
}

namespace qf {

class GlyphSource;

// Device contexts, set up as the run's, on which the characters of one size may be drawn besides
// the writer's own: a whole repertoire (tens of thousands of characters) at one size leaves
// nothing for threads that take whole sizes. Each is used by one thread at a time.
struct CharacterHelpers {
    std::vector<std::unique_ptr<gdi::DeviceContext>> contexts;
    // Characters a helper has drawn with ink, for the run's "no ink at all" test.
    uint64_t inkedCharacters() const;
};

struct UnicodeGlyph {
    uint32_t code = 0;         // what the file stores
    int32_t advance = 0;       // whole pixels
    int32_t left = 0;          // the ink's first column, from the origin
    int32_t bottom = 0;        // the ink's last row, from the baseline, upward positive (BDF's BBX)
    int32_t width = 0;         // of the ink; 0 for a glyph without ink
    int32_t height = 0;
    size_t offset = 0;         // of its rows in UnicodeGlyphs::bits

    int32_t right() const { return left + width; }
    int32_t top() const { return bottom + height; }  // rows of ink above the baseline
    int32_t rowBytes() const { return (width + 7) / 8; }
};

struct UnicodeGlyphs {
    gdi::TEXTMETRIC metrics{};
    std::vector<UnicodeGlyph> glyphs;
    std::vector<uint8_t> bits;
    GlyphFacts facts;
    // The font's box: every glyph's ink and the cell, from the origin (top: above the baseline).
    int32_t boxLeft = 0, boxRight = 0, boxBottom = 0, boxTop = 0;
};

// Below this many characters a size is drawn on one thread: starting the others costs more.
inline constexpr size_t kCharactersSplitFrom = 1024;

// Draws every character of the request's (Unicode) repertoire. A refusal when the glyphs cannot
// be drawn or their pixels would pass maxBytes. With the request's helpers, a large repertoire is
// drawn in stretches on them and on the caller's thread; the result is the same as drawn alone.
WriteProblem drawUnicodeGlyphs(GlyphSource& source, const WriteRequest& request, uint64_t maxBytes,
                               UnicodeGlyphs& out);

// For the formats that hold nothing but a Unicode repertoire: a refusal unless the request carries
// one ("<holder> holds a Unicode repertoire, and none was given").
WriteProblem requireRepertoire(const WriteRequest& request, const char* holder);
// drawUnicodeGlyphs for those formats, refusing a face that maps none of the characters: there
// would be no glyph to write.
WriteProblem drawRepertoire(GlyphSource& source, const WriteRequest& request, uint64_t maxBytes, UnicodeGlyphs& out);

}  // namespace qf
