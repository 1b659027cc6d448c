// FONT arguments that name font files: which arguments are files, and adding their faces to the
// catalogue before the font list is read (run/FontList's IsEntryOf finds the entries they became).
#pragma once

#include "platform/FontEnumeration.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qf::cli {

// A FONT argument read as a font file.
struct FontFile {
    FontFile(std::string argument_, std::string path_) : argument(std::move(argument_)), path(std::move(path_)) {}

    std::string argument;               // as typed: messages name the file by it
    std::string path;
    int faceIndex = -1;                 // -1: every face of the file
    std::vector<gdi::AddedFace> faces;  // what adding it gave
    std::string error;                  // why it gave nothing
};

// The font file an argument names: the argument itself when anything exists by that name (a
// folder or a text file is then reported as what it is, not looked up as a font's name), else
// PATH of PATH:N (N decimal) when PATH exists. Nothing for a font's name, an index or "all".
std::optional<FontFile> fontFileArgument(const std::string& argument);

// Adds the file's faces to the process's fonts: into file.faces, or the reason into file.error.
void addFontFile(FontFile& file);

}  // namespace qf::cli
