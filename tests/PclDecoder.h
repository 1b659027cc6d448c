// Reads a PCL bitmap soft font back the way a printer does: the font header, then each character
// code command and character download, continuation blocks joined to the download they continue.
// Every deviation from the format is reported, so tests can assert on it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qf::test {

struct PclCharacter {
    int code = 0;
    // Character descriptor.
    int format = 0, continuation = 0, descriptorSize = 0, charClass = 0, orientation = 0;
    int leftOffset = 0, topOffset = 0, width = 0, height = 0, deltaX = 0;
    std::vector<uint8_t> raster;    // the raster bytes, continuation blocks joined
    std::vector<int> blockCounts;   // the count of each ESC (s#W of this character
    std::string codeCommand;        // the code command's bytes as written

    // The raster as stored: `height` rows of (width + 7) / 8 bytes.
    bool storedPixel(int x, int y) const;
    // The character as it prints in portrait: for a landscape download, turned back by 90 degrees
    // clockwise, so portrait and landscape of one font give the same pixels. Columns from the ink
    // box's left edge, rows from its top.
    int uprightWidth() const { return orientation ? height : width; }
    int uprightHeight() const { return orientation ? width : height; }
    bool uprightPixel(int x, int y) const;
};

struct PclFont {
    // Font descriptor fields.
    int descriptorSize = 0, headerFormat = 0, fontType = 0, baseline = 0, cellWidth = 0,
        cellHeight = 0, orientation = 0, spacing = 0, symbolSet = 0, pitch = 0, height = 0,
        firstCode = 0, lastCode = 0;
    std::string name;  // the 16-byte Font Name field
    std::vector<uint8_t> descriptor;  // all 64 bytes
    std::map<int, PclCharacter> characters;
    std::vector<int> order;           // codes in the order they were downloaded
    std::string error;                // empty when the image is well formed
};

PclFont decodePcl(const uint8_t* data, size_t size);

}  // namespace qf::test
