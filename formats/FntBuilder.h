// Renders one font at one point size and target resolution into a Windows raster font resource,
// FNT version 2.0. The font library writer assembles these.
#pragma once

#include "formats/FntHeader.h"
#include "formats/FontWriter.h"

namespace qf {

class FntBuilder final : public FontWriter {
public:
    // Refuses a size or resolution that cannot be realised, glyph data beyond the 16-bit offsets,
    // a metric that does not fit its field. The request's name is stored as the font's name.
    WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const override;

    // The packing step on its own, from any source of glyphs (the rasteriser, or synthetic glyphs).
    static WriteProblem pack(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out);

    // The scratch bitmap characters are drawn on: ten cell heights wide, room for any glyph of a
    // text face, each character's origin at its left edge.
    static int64_t scratchWidth(const gdi::TEXTMETRIC& tm) { return kScratchCells * tm.tmHeight; }

    static constexpr int kHeaderSize = static_cast<int>(fnt::kHeaderSize);
    static constexpr int64_t kScratchCells = 10;
};

}  // namespace qf
