// The output formats, each described once: what the format list shows, the file extension, the
// batch front end's name, the writer that makes its files (and, for a library format, what
// assembles a font's sizes into one file), how it stores glyphs, which characters it can hold and
// the resolution it is always made for. Everyone who needs to know a format reads this table;
// nothing outside formats/ switches over formats.
#pragma once

#include "formats/FormatKinds.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qf {

class FontWriter;
class LibraryBuilder;

struct FormatInfo {
    OutputFormat format;
    const char* text;         // the format list's text
    const char* extension;    // with its dot
    const char* option;       // the batch front end's name for it
    const FontWriter& (*writer)();  // makes a per-size file, or each size a library holds
    const LibraryBuilder& (*library)();  // a library format's: one file per font; null: one per size
    GlyphStorage storage;
    CodeSpace codeSpace;
    int32_t fixedResolution;  // the dpi the format is always made for, whatever the user asks; 0: none
    bool landscape;           // characters turned for landscape printing
    char32_t lastCharacter;   // the highest character code a Unicode file can store
    bool spacesInNames;       // false: file names have '-' for spaces (X11 font paths cannot hold them)
    // A Unicode-only format's characters when none are chosen (--chars' text); null: the code page's.
    const char* defaultCharacters;

    bool takesUnicode() const { return codeSpace != CodeSpace::CodePage; }
};

// Every format, in the format list's order.
std::span<const FormatInfo> formatTable();
// An out-of-range value answers with the first format rather than read past the table.
const FormatInfo& formatInfo(OutputFormat format);
// The format a batch name (such as "bdf") stands for, or null.
const FormatInfo* formatByOption(std::string_view option);
// The batch names of the formats that pass `which` (all by default): "fon, fnt, sfp, sfl or bdf".
std::string formatOptions(bool (*which)(const FormatInfo&) = nullptr);
// The writer of a format's per-size files; for a library format, of the fonts it holds.
inline const FontWriter& writerFor(OutputFormat format) { return formatInfo(format).writer(); }

}  // namespace qf
