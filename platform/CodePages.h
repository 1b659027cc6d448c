// Byte codes of 8-bit code pages to Unicode, as Windows' MultiByteToWideChar maps them, made from
// ICU's converters when the program is built. Constant tables: safe to read from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gdi {

// The 256 characters of a code page; kUnmapped where a byte maps to no character.
using ByteMap = std::array<char32_t, 256>;
inline constexpr char32_t kUnmapped = 0xFFFFFFFF;

// Null for a code page we have no mapping for. The tables live for the process.
const ByteMap* codePageMap(unsigned codePage);

// The code page through which a font realised with this character set maps byte codes:
// 0 -> 1252, 238 -> 1250, 204 -> 1251, 161 -> 1253, 162 -> 1254, 177 -> 1255, 178 -> 1256,
// 186 -> 1257, 163 -> 1258, 222 -> 874, 1 -> 1252, 255 -> oemCodePage. 0 for SYMBOL_CHARSET
// (the symbol face's own codes) and for character sets without a single-byte code page.
unsigned codePageOfCharset(unsigned charset, unsigned oemCodePage);

// The character each byte code draws in a font realised with this character set (its tmCharSet),
// for the code page that set maps through: private-use U+F000 + code for SYMBOL_CHARSET, whose
// codes are the symbol face's own; for a set without a single-byte table, the printable ASCII and
// Latin-1 bytes as themselves (cp1252 agrees with Latin-1 there) and nothing for the rest.
ByteMap byteCharacters(unsigned charset, unsigned oemCodePage);

// Text as the bytes a font realised with this character set draws it by, the inverse of
// byteCharacters (the lowest byte where two draw one character). A character without a byte is
// '?', except in a character set without a table of its own (a symbol font's), where the first 256
// characters stand for their own codes.
std::string encodeForCharset(std::u32string_view text, unsigned charset, unsigned oemCodePage);

// Appends a character (to U+10FFFF) to UTF-8 text.
void appendUtf8(std::string& out, char32_t c);

// Names in the platform's records are ANSI (cp1252) bytes: their UTF-8 text for display, messages
// and file names (a byte cp1252 leaves undefined becomes U+FFFD)...
std::string ansiToUtf8(std::string_view ansi);
// ...and UTF-8 typed by a person as those bytes (a character cp1252 cannot hold becomes '?').
std::string utf8ToAnsi(std::string_view text);
// The same for the names faces and fontconfig give, where a name cp1252 cannot hold is not taken at
// all: false when a character has no printable cp1252 byte (a control character, one beyond the
// code page) or the text is not UTF-16 or UTF-8.
bool utf16ToCp1252(std::u16string_view text, std::string* out);
bool utf8ToCp1252(std::string_view text, std::string* out);

// The bit of a font signature's 64-bit code page range (fsCsb[0] bits 0-31, fsCsb[1] bits 32-63)
// that stands for the code page, or -1 for a page without one (709, 710, 720 among the MS-DOS ones).
int codePageSignatureBit(unsigned codePage);
// The same bit for a character set (ANSI_CHARSET: 0, SYMBOL_CHARSET: 31), -1 for one without.
int charsetSignatureBit(unsigned charset);

// The letters among a code page's characters above ASCII: what a face must have to be taken as
// covering the page when it does not say which pages it was made for. Empty for an unknown page.
std::vector<char32_t> codePageLetters(unsigned codePage);

}  // namespace gdi
