// Renders one font at one point size and target resolution into a Windows raster font resource,
// FNT version 2.0, in memory.
#pragma once

#include "formats/Image.h"
#include "platform/DeviceContext.h"
#include "platform/gdi.h"

#include <cstdint>
#include <string>

namespace qf {

class GlyphSource;

class FntBuilder {
public:
    // Returns the image and sets length to its dfSize; or returns null with the reason in *error
    // (a size or resolution that cannot be realised, glyph data beyond the 16-bit offsets, an
    // allocation over the limit). faceName is stored as the font's name.
    static Image build(gdi::DeviceContext& dc, const gdi::LOGFONT& font, int32_t pointSize,
                       int32_t resolutionX, int32_t resolutionY, uint32_t& length,
                       const char* faceName, std::string* error = nullptr);

    // The packing step on its own, from any source of glyphs (the rasteriser, or synthetic glyphs).
    static Image pack(GlyphSource& glyphs, int32_t pointSize, int32_t resolutionX,
                      int32_t resolutionY, uint32_t& length, const char* faceName,
                      std::string* error = nullptr);

    static constexpr int kHeaderSize = 118;
};

}  // namespace qf
