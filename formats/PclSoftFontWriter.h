// Renders one font at one point size into a downloadable PCL 5 bitmap soft font, portrait or
// landscape, in memory.
#pragma once

#include "formats/Image.h"
#include "platform/DeviceContext.h"
#include "platform/gdi.h"

#include <cstdint>
#include <string>

namespace qf {

class GlyphSource;

class PclSoftFontWriter {
public:
    // Returns the image and sets length to its size in bytes; or returns null, length 0, with
    // the reason in *error (a size that cannot be realised, a value that does not fit its field,
    // more memory than a writer may take). symbolSet is the value the font declares for its
    // symbol set (see symbolSetValue); name fills the font name field.
    static Image build(gdi::DeviceContext& dc, const gdi::LOGFONT& font, int32_t pointSize,
                       int32_t resolutionX, int32_t resolutionY, int symbolSet,
                       uint32_t& length, bool landscape, const char* name,
                       std::string* error = nullptr);

    // The packing step on its own, from any source of glyphs.
    static Image pack(GlyphSource& glyphs, int symbolSet, uint32_t& length, bool landscape,
                      const char* name, std::string* error = nullptr);

    // The symbol set value PCL declares for an identifier such as " 9U": the number times 32
    // plus the letter's code minus 64 (309 for 9U).
    static int symbolSetValue(const char* pclSymbolSet);

    // The resolution PCL soft fonts are always made for.
    static constexpr int32_t kResolution = 300;
    static constexpr size_t kHeaderSize = 70;           // font header command and descriptor
    static constexpr size_t kCharDescriptorSize = 16;
    static constexpr int kMaxBlock = 32767;             // largest count of one ESC (s#W
};

}  // namespace qf
