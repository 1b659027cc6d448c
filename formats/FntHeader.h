// The fields of a Windows raster font's header, in file order with their widths: the one place the
// writer, the library builder and the reader take a field's offset from. The sums are checked when
// the program is compiled, so a field added, dropped or resized cannot shift the others unnoticed.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace qf::fnt {

struct Field {
    std::string_view name;
    size_t width;  // bytes
};

// Version 2.0's header; version 3.0 goes on with kHeader3Fields.
inline constexpr Field kHeaderFields[] = {
    {"dfVersion", 2},        {"dfSize", 4},        {"dfCopyright", 60},       {"dfType", 2},
    {"dfPoints", 2},         {"dfVertRes", 2},     {"dfHorizRes", 2},         {"dfAscent", 2},
    {"dfInternalLeading", 2}, {"dfExternalLeading", 2}, {"dfItalic", 1},      {"dfUnderline", 1},
    {"dfStrikeOut", 1},      {"dfWeight", 2},      {"dfCharSet", 1},          {"dfPixWidth", 2},
    {"dfPixHeight", 2},      {"dfPitchAndFamily", 1}, {"dfAvgWidth", 2},      {"dfMaxWidth", 2},
    {"dfFirstChar", 1},      {"dfLastChar", 1},    {"dfDefaultChar", 1},      {"dfBreakChar", 1},
    {"dfWidthBytes", 2},     {"dfDevice", 4},      {"dfFace", 4},             {"dfBitsPointer", 4},
    {"dfBitsOffset", 4},     {"dfReserved", 1},
};

inline constexpr Field kHeader3Fields[] = {
    {"dfFlags", 4}, {"dfAspace", 2}, {"dfBspace", 2}, {"dfCspace", 2}, {"dfColorPointer", 4}, {"dfReserved1", 16},
};

// Where a field of the 2.0 header starts; a name the header does not have does not compile where
// a constant is asked for.
constexpr size_t offsetOf(std::string_view name)
{
    size_t at = 0;
    for (const Field& field : kHeaderFields) {
        if (field.name == name)
            return at;
        at += field.width;
    }
    throw "no such FNT header field";
}

// How many bytes a field of the 2.0 header takes.
constexpr size_t widthOf(std::string_view name)
{
    for (const Field& field : kHeaderFields)
        if (field.name == name)
            return field.width;
    throw "no such FNT header field";
}

constexpr size_t sizeOf(const Field* first, const Field* last)
{
    size_t size = 0;
    for (; first != last; ++first)
        size += first->width;
    return size;
}

inline constexpr size_t kHeaderSize = sizeOf(std::begin(kHeaderFields), std::end(kHeaderFields));
inline constexpr size_t kHeader3Size = kHeaderSize + sizeOf(std::begin(kHeader3Fields), std::end(kHeader3Fields));
static_assert(kHeaderSize == 118, "a 2.0 header is 118 bytes");
static_assert(kHeader3Size == 148, "a 3.0 header is 148 bytes");

inline constexpr size_t kDfVersion = offsetOf("dfVersion");
inline constexpr size_t kDfSize = offsetOf("dfSize");
inline constexpr size_t kDfType = offsetOf("dfType");
inline constexpr size_t kDfPoints = offsetOf("dfPoints");
inline constexpr size_t kDfVertRes = offsetOf("dfVertRes");
inline constexpr size_t kDfHorizRes = offsetOf("dfHorizRes");
inline constexpr size_t kDfAscent = offsetOf("dfAscent");
inline constexpr size_t kDfInternalLeading = offsetOf("dfInternalLeading");
inline constexpr size_t kDfWeight = offsetOf("dfWeight");
inline constexpr size_t kDfPixWidth = offsetOf("dfPixWidth");
inline constexpr size_t kDfPixHeight = offsetOf("dfPixHeight");
inline constexpr size_t kDfPitchAndFamily = offsetOf("dfPitchAndFamily");
inline constexpr size_t kDfAvgWidth = offsetOf("dfAvgWidth");
inline constexpr size_t kDfMaxWidth = offsetOf("dfMaxWidth");
inline constexpr size_t kDfFirstChar = offsetOf("dfFirstChar");
inline constexpr size_t kDfDefaultChar = offsetOf("dfDefaultChar");
inline constexpr size_t kDfBreakChar = offsetOf("dfBreakChar");
inline constexpr size_t kDfWidthBytes = offsetOf("dfWidthBytes");
inline constexpr size_t kDfDevice = offsetOf("dfDevice");
inline constexpr size_t kDfFace = offsetOf("dfFace");
inline constexpr size_t kDfBitsOffset = offsetOf("dfBitsOffset");
// A 3.0 header's first field past the 2.0 one.
inline constexpr size_t kDfFlags = kHeaderSize;

}  // namespace qf::fnt
