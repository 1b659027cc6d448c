// The requested point sizes, read from the text the user typed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qf {

// Tokens split at runs of blanks, commas and semicolons; each read for its leading decimal integer
// as "%d" reads it (leading white space and a sign allowed, the rest of the token ignored); tokens
// without one and values below 3 dropped; the result ascending without duplicates. Only the first
// 1023 characters of the text count.
std::vector<int32_t> parseSizeList(const std::string& text);

// The batch front end's reading, which takes the whole text or nothing: whole numbers of points
// of any length, separated by commas and white space, each from 3 to maxSize; the result ascending
// without duplicates. False with the reason otherwise, naming the first text it could not read or
// the first size out of range.
bool readSizeList(const std::string& text, int32_t maxSize, std::vector<int32_t>& sizes,
                  std::string& error);

// Reads a decimal integer from the start of text as "%d" does; false when there is none. Values
// beyond the 32-bit range are clamped to it.
bool scanDecimal(const char* text, int32_t& value);

}  // namespace qf
