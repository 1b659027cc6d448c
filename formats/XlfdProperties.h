// The X11 font properties of a Unicode bitmap font, and its XLFD name made from them: what an X
// server selects a font by (xlsfonts -fn '-*-dejavu sans-*'), and what fontconfig and FreeType
// read. One table serves every format that carries X11 properties.
#pragma once

#include "formats/FontWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qf {

struct FontProperty {
    std::string name;
    bool isText = false;
    std::string text;   // when isText
    int64_t value = 0;  // otherwise
};

// What the glyphs themselves say, measured by the writer once they are drawn.
struct GlyphFacts {
    bool monospaced = false;    // every advance the same
    bool withinCells = false;   // and every glyph's ink inside its cell (character-cell spacing)
    int64_t averageWidth = 0;   // mean advance in tenths of a pixel, rounded
};

// In XLFD order (FOUNDRY to CHARSET_ENCODING), then FONT_ASCENT, FONT_DESCENT, DEFAULT_CHAR and
// FACE_NAME (the font name the request carries).
std::vector<FontProperty> xlfdProperties(const gdi::TEXTMETRIC& tm, const WriteRequest& request,
                                         const GlyphFacts& facts);

// "-FOUNDRY-FAMILY-...-REGISTRY-ENCODING" from the first fourteen properties.
std::string xlfdName(const std::vector<FontProperty>& properties);

}  // namespace qf
