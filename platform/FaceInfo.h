// One face as the catalogue lists it: the names and facts GDI reports for it, and the version of
// its file they were read from. What the catalogue, its cache and the faces drawn from files share.
#pragma once

#include "platform/FileLayer.h"

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
    unsigned codePageRanges[2] = {};  // the OS/2 table's code page ranges, 0 when not stated

    // What enumeration reports besides names and character sets: the weight as GDI states it
    // (lfWeight), the face's tmPitchAndFamily bits, and its cell height and average width at the
    // 32 pixels per em GDI enumerates outline faces with.
    int enumWeight = 400;
    int pitchAndFamily = 0;
    int enumHeight = 0;
    int enumAveWidth = 0;

    // The version of the file these facts were read from: a face drawn later is checked against it.
    qf::FileStamp stamp;
};

}  // namespace gdi
