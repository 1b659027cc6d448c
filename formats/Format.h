// The output formats, each described once: what the format list shows, the file extension, the
// batch front end's name, whether a file holds one size or every size of a font, and the
// resolution a format is always made for. Everyone who needs to know reads this table.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qf {

// The order of the format list.
enum class OutputFormat : int32_t { FON = 0, FNT = 1, SFP = 2, SFL = 3, BDF = 4 };

struct FormatInfo {
    OutputFormat format;
    const char* text;         // the format list's text
    const char* extension;    // with its dot
    const char* option;       // the batch front end's name for it
    bool library;             // one file per font holding every size, not one file per size
    int32_t fixedResolution;  // the dpi the format is always made for, whatever the user asks; 0: none
    bool landscape;           // characters turned for landscape printing
};

inline constexpr int kFormatCount = 5;

// Every format, in the format list's order.
std::span<const FormatInfo> formatTable();
// An out-of-range value answers with the first format rather than read past the table.
const FormatInfo& formatInfo(OutputFormat format);
// The format a batch name (such as "bdf") stands for, or null.
const FormatInfo* formatByOption(std::string_view option);

}  // namespace qf
