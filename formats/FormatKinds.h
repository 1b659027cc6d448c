// What kinds of output format there are and how they differ, apart from the table that describes
// each (Format.h): the writers and the repertoires need these words, the table needs the writers.
#pragma once

#include <cstdint>

namespace qf {

// The order of the format list; the window stores the index.
enum class OutputFormat : int32_t { FON = 0, FNT = 1, SFP = 2, SFL = 3, BDF = 4, PCF = 5, OTB = 6, PSF = 7 };

// How a format keeps a glyph: its whole cell from the origin (FNT, FON), or only the box its ink
// covers, with signed offsets (BDF, PCL).
enum class GlyphStorage { Cell, InkBox };

// Which characters a format's files hold: the 224 of one 8-bit code page; those, or a Unicode
// repertoire when one is chosen; or always a Unicode repertoire (the code page's characters,
// unless one is chosen).
enum class CodeSpace { CodePage, CodePageOrUnicode, Unicode };

}  // namespace qf
