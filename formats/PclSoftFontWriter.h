// Renders one font at one point size into a downloadable PCL 5 bitmap soft font, portrait or
// landscape.
#pragma once

#include "formats/FontWriter.h"

namespace qf {

class PclSoftFontWriter final : public FontWriter {
public:
    explicit PclSoftFontWriter(bool landscape) : landscape_(landscape) {}

    // Refuses a size that cannot be realised, a value that does not fit its field, a font past the
    // size cap. The request's symbol set and name fill the header.
    WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const override;

    // The packing step on its own, from any source of glyphs.
    static WriteProblem pack(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out, bool landscape);

    // The symbol set value PCL declares for an identifier such as " 9U": the number times 32
    // plus the letter's code minus 64 (309 for 9U).
    static int symbolSetValue(const char* pclSymbolSet);

    static constexpr size_t kHeaderSize = 70;           // font header command and descriptor
    static constexpr size_t kCharDescriptorSize = 16;
    static constexpr int kMaxBlock = 32767;             // largest count of one ESC (s#W

private:
    bool landscape_;
};

}  // namespace qf
