// The installed faces that fontconfig lists in TrueType and OpenType files, with the names and
// character sets GDI would report for them.
#pragma once

#include <string>
#include <vector>

namespace gdi {

struct FaceInfo {
    std::string family;    // Windows family name (name ID 1), cp1252 bytes, at most 31 of them
    std::string style;     // name ID 2, cp1252 bytes
    std::string fullName;  // name ID 4, cp1252 bytes
    std::string postscriptName;
    std::string file;      // path of the font file
    int faceIndex = 0;     // index of the face within the file
    int weight = 400;      // OS/2 usWeightClass
    bool italic = false;
    bool symbol = false;   // a symbol face (code page bit 31): enumerated with SYMBOL_CHARSET
    std::vector<int> charsets;  // ascending
};

class FontCatalog {
public:
    // The process-wide catalogue, read from fontconfig on first use. FONTCONFIG_FILE chooses the
    // configuration, as for every fontconfig program.
    static const FontCatalog& instance();

    // Families sorted case-insensitively by family name; within a family by weight, then italic.
    const std::vector<FaceInfo>& faces() const { return faces_; }

    // The face for a family name and weight/italic: exact family first (a name cut to 31 bytes
    // matches the face it was cut from), then the nearest weight and italic; an unknown family
    // falls back to the default face, as GDI substitutes. Null only when no face is installed.
    const FaceInfo* match(const std::string& family, int weight, bool italic) const;

    explicit FontCatalog(std::vector<FaceInfo> faces);

private:
    std::vector<FaceInfo> faces_;
};

}  // namespace gdi
