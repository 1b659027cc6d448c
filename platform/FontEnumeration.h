// Font enumeration with the meaning of EnumFontFamiliesExA and EnumFontFamiliesA, over the
// catalogue of installed TrueType/OpenType faces and the font files the program added for itself.
#pragma once

#include "platform/Failure.h"
#include "platform/gdi.h"

#include <optional>
#include <string>
#include <vector>

namespace gdi {

class DeviceContext;

// With an empty lfFaceName: one callback per family and character set, families in catalogue
// order. With a face name: one callback per style of that family and character set, each style's
// character sets consecutive and ascending. lfCharSet DEFAULT_CHARSET enumerates every character
// set, any other value only that one. Returns the last callback's result (1 when none ran).
int EnumFontFamiliesExA(DeviceContext& dc, const LOGFONT* lf, FONTENUMPROCA proc, LPARAM lParam,
                        DWORD flags);

// The older call: with a null family, one callback per family; with a family, one callback per
// style of it. Each report carries the style's first character set.
int EnumFontFamiliesA(DeviceContext& dc, const char* family, FONTENUMPROCA proc, LPARAM lParam);

// A face a font file added: its index in the file, and the record enumeration reports it with (in
// its first character set).
struct AddedFace {
    int faceIndex = 0;
    ENUMLOGFONTEX elf{};
    // The face of the same family and style it took the place of (installed, or added before), by
    // the record enumeration reported that face with; none when it took no face's place.
    std::optional<ENUMLOGFONTEX> replaced;
};

// AddFontResourceExA(path, FR_PRIVATE, 0): the outline faces of a TrueType or OpenType file or
// collection, installed or not, become fonts of this process: enumeration lists them and
// CreateFontIndirect realises them, each in place of an installed face of the same family and
// style. faceIndex >= 0 adds only that face of the file. Returns the faces added, by face index,
// at least one; a failure ("not a font file FreeType can read") when the file gives none.
// Call it before any thread enumerates or realises fonts (see FontCatalog).
qf::Result<std::vector<AddedFace>> AddFontResourcePrivate(const std::string& path, int faceIndex);

// RemoveFontResourceExA(path, FR_PRIVATE, 0) for one face: the face the last addition of `path`
// gave at faceIndex (every face it gave for -1) is no longer a font of this process, and the face
// it took the place of is again, unless a later addition took that place too. False when no
// addition of `path` gave such a face. The same caution as for adding holds.
bool RemoveFontResourcePrivate(const std::string& path, int faceIndex);

}  // namespace gdi
