// The facts about a face that GDI's metrics come from: the design values of its tables, the weight
// it reports, GDI's em scaling and the face's VDMX table. Only platform/*.cpp (and tests) include
// this header; the caller holds the face's lock (SharedFace::lock) where the face is shared.
#pragma once

#include "platform/gdi.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstddef>
#include <cstdint>

namespace gdi::ft {

// The table values GDI's metrics come from, in font units.
struct DesignMetrics {
    int unitsPerEm = 2048;
    int ascent = 0;    // usWinAscent, or hhea ascender when the Windows values are both 0
    int descent = 0;   // usWinDescent (as a signed value made positive), or -hhea descender
    int lineGap = 0;   // hhea lineGap
    int hheaAscender = 0;
    int hheaDescender = 0;
    int xAvgCharWidth = 0;
    int bboxWidth = 0;  // head xMax - xMin
    int weightClass = 400;
    bool boldStyle = false;  // the face calls itself bold (fsSelection / macStyle)
    bool italic = false;
    BYTE pitchAndFamily = 0;  // tmPitchAndFamily: pitch bit, family, TMPF_VECTOR and TMPF_TRUETYPE/DEVICE
    bool symbol = false;      // symbol face: byte codes go through its (3,0) cmap
    int symbolFirst = 0x20;   // lowest and highest byte code of a symbol face's cmap
    int symbolLast = 0xFF;
    // Where TextOut draws the lines of an underlined or struck-out font (post and OS/2 tables).
    int underlinePosition = 0;   // top of the line relative to the baseline, negative below it
    int underlineThickness = 0;
    int strikeoutPosition = 0;   // top of the line above the baseline
    int strikeoutThickness = 0;
};

DesignMetrics readDesignMetrics(FT_Face face);

// The weight GDI reports for a face (tmWeight, lfWeight of enumeration).
int reportedWeight(const DesignMetrics& m);

// GDI's scaling of a font-unit value to a whole number of pixels at ppem: the em scale is rounded
// to 16.16 first and the product rounded again, so the numbers agree with GDI's to the pixel.
int64_t emScale(int64_t ppem, int unitsPerEm);
int64_t scaleRound(int64_t value, int64_t emScale16);

// The face's VDMX table entry for a requested height, as GDI consults it before scaling: for a
// negative height (an em) the entry of that em, for a positive one (a cell) the largest em whose
// yMax - yMin fits it. Only the 1:1 aspect-ratio group is used. False when the table has no
// entry, and the metrics come from scaling as usual.
struct VdmxEntry {
    int ppem = 0;
    int yMax = 0;
    int yMin = 0;
};
bool vdmxLookup(const uint8_t* table, size_t size, int64_t height, VdmxEntry* entry);
bool vdmxLookup(FT_Face face, int64_t height, VdmxEntry* entry);

}  // namespace gdi::ft
