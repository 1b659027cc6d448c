// Reads a Windows raster font (.fnt image, or one font of a .fon library) back through FreeType's
// Windows font driver, as every FreeType-based program sees it; and owners for the FreeType
// handles of tests that ask FreeType themselves.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_WINFONTS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qf::test {

struct FtLibraryCloser {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FtFaceCloser {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using FtLibraryOwner = std::unique_ptr<FT_LibraryRec_, FtLibraryCloser>;
using FtFaceOwner = std::unique_ptr<FT_FaceRec_, FtFaceCloser>;

struct ReadGlyph {
    int advance = 0;        // whole pixels
    bool hasBitmap = false; // FreeType gives no bitmap for a character of width 0
    int width = 0;
    int rows = 0;
    int pitch = 0;
    std::vector<uint8_t> bits;  // rows of pitch bytes, most significant bit leftmost

    bool pixel(int x, int y) const
    {
        return hasBitmap && x >= 0 && y >= 0 && x < pitch * 8 && y < rows &&
               (bits[static_cast<size_t>(y) * pitch + x / 8] & (0x80 >> (x % 8))) != 0;
    }
};

struct ReadFont {
    std::string error;  // empty when FreeType loaded the face
    long numFaces = 0;
    long numGlyphs = 0;
    std::string familyName;
    FT_WinFNT_HeaderRec header{};
    std::vector<ReadGlyph> glyphs;  // one per code from first_char to last_char
};

// faceIndex selects the font within a library; an .fnt image has only face 0. Characters are
// looked up through the face's own character map (codes first_char .. last_char).
ReadFont readWinFont(const uint8_t* data, size_t size, long faceIndex = 0);

}  // namespace qf::test
