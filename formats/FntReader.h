// The FNT reader's check of one raster font resource wherever it lies: a .fnt file is one, and a
// font library (.fon) holds several at offsets inside it.
#pragma once

#include "formats/FileCheck.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qf {

// Checks the FNT resource that starts at offset in file and is given length bytes there (its
// resource's length in a library, the rest of the file for a .fnt), as FreeType and Windows read
// it. Findings name bytes of file, their places prefixed by label ("font 2"; empty for none). Adds
// the font's line to report.fonts and its characters to report.glyphs. Returns the font's version
// (0x0200 or 0x0300), or 0 when the bytes there are no FNT resource a reader takes.
uint32_t checkFntResource(std::span<const uint8_t> file, size_t offset, size_t length, CheckReport& report,
                          const std::string& label);

}  // namespace qf
