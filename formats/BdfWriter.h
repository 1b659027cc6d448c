// Renders one font at one point size and target resolution into a BDF 2.1 text font.
#pragma once

#include "formats/FontWriter.h"
#include "formats/InkScan.h"
#include "platform/CodePages.h"

#include <string>

namespace qf {

class GlyphSource;

class BdfWriter final : public FontWriter {
public:
    // Refuses a size that cannot be realised or a text past the size cap. The request's name
    // makes the FONT line.
    WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const override;

    // The text of the file from any source of glyphs. characters maps each byte code to the
    // character it was drawn as (kUnmapped for none). The face name is the FONT name's fallback.
    static WriteProblem pack(GlyphSource& glyphs, const gdi::ByteMap& characters, const WriteRequest& request,
                             OutputSink& out);

    // A Unicode repertoire's file (the request's repertoire is Unicode): each slot's character
    // drawn, ENCODING its code point, named uniXXXX or uXXXXX, under the full XLFD name and
    // properties an X server selects fonts by.
    static WriteProblem packUnicode(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out);

    // The FONT name: the name's bytes 0x21 to 0x7F; failing those, the face name's; failing
    // those too, kFallbackName (a FONT line with no name is rejected by the tools that read BDF).
    static std::string fontName(const char* name, const char* faceName);

    static constexpr const char* kFallbackName = "Unnamed";
    // Columns of margin each side of the drawing origin, so ink left of the origin is kept.
    static constexpr int kMargin = ink::kMargin;
};

}  // namespace qf
