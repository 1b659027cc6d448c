// The characters of one file: which codes it stores and which character each draws, with what a
// format needs to say about them. A run resolves it once per font: from the chosen code page row
// (what the 8-bit formats hold), or from a Unicode selection narrowed to what the face maps.
#pragma once

#include "formats/FormatKinds.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qf {

struct Repertoire {
    struct Slot {
        uint32_t code = 0;       // what the file stores: a byte of the code page, or the code point
        char32_t character = 0;  // what is drawn for it
    };

    // CodePage: the row's bytes and the characters its code page gives them; what is drawn is each
    // byte code of the realised font as its character set maps it (a symbol face's own codes),
    // as the 8-bit formats always have. Unicode: exactly the entries, ascending, each drawn by
    // its character.
    CodeSpace space = CodeSpace::CodePage;
    std::vector<Slot> entries;

    int pclSymbolSet = 309;                // the PCL symbol set value a soft font declares (Roman-8)
    std::string registry = "ISO10646";     // the X11 charset registry and encoding of a Unicode file
    std::string encoding = "1";
    char32_t defaultCharacter = 0xFFFD;    // drawn by readers for a character the file lacks
    char32_t breakCharacter = 0x20;

    // Characters asked for that the face does not map: left out, never drawn as its box.
    size_t leftOut = 0;

    bool unicode() const { return space == CodeSpace::Unicode; }
};

}  // namespace qf
