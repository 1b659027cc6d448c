// Renders one font at one point size into a PC Screen Font, version 2 (.psf), the Linux console's
// font: one cell size for every glyph, and the Unicode table that maps characters to glyphs.
//
// The cell is the face's advance when every advance is the same, else the widest advance, each
// glyph centred in it; its rows are the font's ascent and descent, the baseline where the BDF of
// the same run puts it. Ink that leaves the cell is clipped and said. Characters whose cells come
// out the same share one glyph. The glyphs are padded with blank ones to 256 or 512, the counts
// the console loads; the console's limits (32 x 32 pixels, 512 glyphs) are checked first.
#pragma once

#include "formats/FontWriter.h"

namespace qf {

class GlyphSource;

class PsfWriter final : public FontWriter {
public:
    WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const override;
    static WriteProblem pack(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out);

    static constexpr int kMaxCell = 32;        // the kernel's largest glyph, either way
    static constexpr size_t kMaxGlyphs = 512;  // glyphs the console loads
    static constexpr size_t kBlankPosition = 32;  // the glyph the console erases with
};

}  // namespace qf
