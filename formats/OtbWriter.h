// Renders one font at one point size into a bitmap-only OpenType font (.otb): one strike of the
// glyphs the Unicode BDF holds, in EBLC/EBDT, with the tables GTK/Pango (FreeType, HarfBuzz,
// fontconfig) read and no outlines. One strike per file: HarfBuzz takes advances from hmtx, which
// serves every strike alike, so the font units are chosen to make hmtx's advances at the strike's
// size exactly the bitmap advances.
#pragma once

#include "formats/FontWriter.h"

namespace qf {

class GlyphSource;

class OtbWriter final : public FontWriter {
public:
    WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const override;
    static WriteProblem pack(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out);

    // The head table's dates: a fixed moment (2025-01-01, in seconds from 1904), so a run made
    // again makes the same bytes.
    static constexpr int64_t kDate = 3818534400;
};

}  // namespace qf
