// Renders one font at one point size into an X11 Portable Compiled Format font (.pcf): the tables
// X servers and FreeType read, made from the same glyphs and X11 properties as the Unicode BDF.
//
// Layout chosen: every table big-endian (most significant byte first), bits most significant
// first, glyph rows padded to 4 bytes and stored a byte at a time: what bdftopcf makes by default
// and every reader takes. Character codes are 16 bits in PCF's encoding table.
#pragma once

#include "formats/FontWriter.h"

#include <cstdint>

namespace qf {

class GlyphSource;

class PcfWriter final : public FontWriter {
public:
    WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const override;

    // The file from any source of glyphs. A repertoire with codes above U+FFFF is refused: the
    // run leaves those characters out before, and says how many.
    static WriteProblem pack(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out);

    // Table types, in the order of the table of contents.
    static constexpr int32_t kProperties = 1 << 0;
    static constexpr int32_t kAccelerators = 1 << 1;
    static constexpr int32_t kMetrics = 1 << 2;
    static constexpr int32_t kBitmaps = 1 << 3;
    static constexpr int32_t kInkMetrics = 1 << 4;
    static constexpr int32_t kEncodings = 1 << 5;
    static constexpr int32_t kScalableWidths = 1 << 6;
    static constexpr int32_t kGlyphNames = 1 << 7;
    static constexpr int32_t kBdfAccelerators = 1 << 8;
};

}  // namespace qf
