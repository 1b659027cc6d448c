// Renders one font at one point size and target resolution into a BDF 2.1 text font and writes
// it to its file.
#pragma once

#include "formats/InkScan.h"
#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "platform/FileLayer.h"
#include "platform/gdi.h"

#include <cstdint>
#include <string>

namespace qf {

class GlyphSource;

class BdfWriter {
public:
    // Writes the file whole (a temporary file renamed over fileName). Returns 0 when it was
    // written, -1 when it was not: the font could not be realised at that size, it would need
    // more memory than a writer may take, or the file could not be written (the reason, naming
    // the file, in *error). name is the font list entry's name; the FONT line is made from it.
    static int write(gdi::DeviceContext& dc, const gdi::LOGFONT& font, int32_t pointSize,
                     int32_t resolutionX, int32_t resolutionY, const std::string& fileName,
                     const char* name, std::string* error = nullptr,
                     FileLayer& files = FileLayer::system());

    // The text of the file from any source of glyphs. characters maps each byte code to the
    // character it was drawn as (kUnmapped for none). False, with the reason, when the text
    // would exceed the memory a writer may take. faceName is the fallback for the FONT name.
    static bool pack(GlyphSource& glyphs, const gdi::ByteMap& characters, int32_t pointSize,
                     int32_t resolutionX, int32_t resolutionY, const char* name,
                     const char* faceName, std::string& text, std::string* error = nullptr);

    // The FONT name: the name's bytes 0x21 to 0x7F; failing those, the face name's; failing
    // those too, kFallbackName (a FONT line with no name is rejected by the tools that read BDF).
    static std::string fontName(const char* name, const char* faceName);

    static constexpr const char* kFallbackName = "Unnamed";
    // Columns of margin each side of the drawing origin, so ink left of the origin is kept.
    static constexpr int kMargin = ink::kMargin;
};

}  // namespace qf
