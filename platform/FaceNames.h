// What a face is called and which character sets it covers, as GDI reports them, and the comparison
// of names without case the catalogue and enumeration use. Names are cp1252 bytes (CodePages.h).
// Only platform/*.cpp include this header.
#pragma once

#include "platform/gdi.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gdi::ft {

struct FaceNames {
    std::string family;  // cp1252 bytes, not yet cut
    std::string style;
    std::string fullName;
    std::string postscriptName;
};
// The names GDI reports: the face's Microsoft-platform English name records (IDs 1, 2, 4), each
// falling back to the PostScript name when cp1252 cannot hold it.
FaceNames readNames(FT_Face face);

// The character sets a face supports, ascending: from its OS/2 code page ranges as the platform
// derives them, or from its character coverage when it has none.
std::vector<int> faceCharsets(FT_Face face, bool symbol);
// The OS/2 table's code page ranges (ulCodePageRange1, ulCodePageRange2); both 0 for a face
// that does not state them.
std::array<uint32_t, 2> codePageRanges(FT_Face face);

// Upper-casing of cp1252 bytes for case-insensitive name comparison.
bool sameName(std::string_view a, std::string_view b);

// A name as GDI's records hold it: at most `most` bytes (a face name's 31 by default).
inline std::string cutName(std::string name, size_t most = LF_FACESIZE - 1)
{
    if (name.size() > most)
        name.resize(most);
    return name;
}
int compareNames(std::string_view a, std::string_view b);

}  // namespace gdi::ft
