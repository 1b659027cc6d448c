// The characters a person asks for by text ("U+0400-U+04FF, cp437, ascii"), and the repertoire a
// face gives of them. Read once per run; narrowed to what each face maps, font by font.
#pragma once

#include "formats/Repertoire.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qf {

struct CharacterSelection {
    bool all = false;  // every character the face maps, astral planes included
    std::vector<std::pair<char32_t, char32_t>> ranges;  // inclusive, as given
};

// Comma-separated items: U+XXXX, a range U+XXXX-U+YYYY, a code page's characters by name ("cp1252",
// "cp437": every row of the code page table), "ascii", "latin1" or "all". False, with the item that
// cannot be read named in error, for anything else.
bool parseCharacterSelection(std::string_view text, CharacterSelection& selection, std::string& error);

// The Unicode repertoire of a face that maps `mapped` (ascending): the selection's characters it
// maps, ascending, each stored as its code point; the others are counted in leftOut, never drawn.
Repertoire unicodeRepertoire(const CharacterSelection& selection, const std::vector<char32_t>& mapped);

}  // namespace qf
