// The records, constants and calls of the Windows GDI that the rest of the program is written
// against, met by our own layer over FreeType, fontconfig and ICU. Field names and values keep the
// platform's, so the code that uses them reads as it would on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace gdi {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using COLORREF = uint32_t;
using LPARAM = intptr_t;

// Character sets (lfCharSet, tmCharSet, ciCharset).
inline constexpr BYTE ANSI_CHARSET = 0;
inline constexpr BYTE DEFAULT_CHARSET = 1;
inline constexpr BYTE SYMBOL_CHARSET = 2;
inline constexpr BYTE SHIFTJIS_CHARSET = 128;
inline constexpr BYTE HANGUL_CHARSET = 129;
inline constexpr BYTE GB2312_CHARSET = 134;
inline constexpr BYTE CHINESEBIG5_CHARSET = 136;
inline constexpr BYTE GREEK_CHARSET = 161;
inline constexpr BYTE TURKISH_CHARSET = 162;
inline constexpr BYTE VIETNAMESE_CHARSET = 163;
inline constexpr BYTE HEBREW_CHARSET = 177;
inline constexpr BYTE ARABIC_CHARSET = 178;
inline constexpr BYTE BALTIC_CHARSET = 186;
inline constexpr BYTE RUSSIAN_CHARSET = 204;
inline constexpr BYTE THAI_CHARSET = 222;
inline constexpr BYTE EASTEUROPE_CHARSET = 238;
inline constexpr BYTE OEM_CHARSET = 255;

inline constexpr LONG FW_NORMAL = 400;
inline constexpr LONG FW_BOLD = 700;

// GetDeviceCaps indices.
inline constexpr int LOGPIXELSX = 88;
inline constexpr int LOGPIXELSY = 90;

// Raster operations for PatBlt.
inline constexpr DWORD BLACKNESS = 0x00000042;
inline constexpr DWORD WHITENESS = 0x00FF0062;

// tmPitchAndFamily bits. TMPF_FIXED_PITCH set means a *variable* pitch font, as on Windows.
inline constexpr BYTE TMPF_FIXED_PITCH = 0x01;
inline constexpr BYTE TMPF_VECTOR = 0x02;
inline constexpr BYTE TMPF_TRUETYPE = 0x04;
inline constexpr BYTE TMPF_DEVICE = 0x08;
inline constexpr BYTE FF_DONTCARE = 0x00;
inline constexpr BYTE FF_ROMAN = 0x10;
inline constexpr BYTE FF_SWISS = 0x20;
inline constexpr BYTE FF_MODERN = 0x30;
inline constexpr BYTE FF_SCRIPT = 0x40;
inline constexpr BYTE FF_DECORATIVE = 0x50;

inline constexpr DWORD TRUETYPE_FONTTYPE = 0x0004;
inline constexpr DWORD GDI_ERROR = 0xFFFFFFFF;

// TranslateCharsetInfo flags.
inline constexpr DWORD TCI_SRCCHARSET = 1;
inline constexpr DWORD TCI_SRCCODEPAGE = 2;
inline constexpr DWORD TCI_SRCFONTSIG = 3;

inline constexpr int LF_FACESIZE = 32;
inline constexpr int LF_FULLFACESIZE = 64;

// LOGFONTA: 60 bytes, ANSI face name.
struct LOGFONT {
    LONG lfHeight = 0;
    LONG lfWidth = 0;
    LONG lfEscapement = 0;
    LONG lfOrientation = 0;
    LONG lfWeight = 0;
    BYTE lfItalic = 0;
    BYTE lfUnderline = 0;
    BYTE lfStrikeOut = 0;
    BYTE lfCharSet = 0;
    BYTE lfOutPrecision = 0;
    BYTE lfClipPrecision = 0;
    BYTE lfQuality = 0;
    BYTE lfPitchAndFamily = 0;
    char lfFaceName[LF_FACESIZE] = {};
};
static_assert(sizeof(LOGFONT) == 60);

// ENUMLOGFONTEXA; EnumFontFamiliesA's ENUMLOGFONTA is its prefix, so both callbacks get this record.
struct ENUMLOGFONTEX {
    LOGFONT elfLogFont;
    char elfFullName[LF_FULLFACESIZE] = {};
    char elfStyle[LF_FACESIZE] = {};
    char elfScript[LF_FACESIZE] = {};
};

// TEXTMETRICA.
struct TEXTMETRIC {
    LONG tmHeight = 0;
    LONG tmAscent = 0;
    LONG tmDescent = 0;
    LONG tmInternalLeading = 0;
    LONG tmExternalLeading = 0;
    LONG tmAveCharWidth = 0;
    LONG tmMaxCharWidth = 0;
    LONG tmWeight = 0;
    LONG tmOverhang = 0;
    LONG tmDigitizedAspectX = 0;
    LONG tmDigitizedAspectY = 0;
    BYTE tmFirstChar = 0;
    BYTE tmLastChar = 0;
    BYTE tmDefaultChar = 0;
    BYTE tmBreakChar = 0;
    BYTE tmItalic = 0;
    BYTE tmUnderlined = 0;
    BYTE tmStruckOut = 0;
    BYTE tmPitchAndFamily = 0;
    BYTE tmCharSet = 0;
};

struct BITMAP {
    LONG bmType = 0;
    LONG bmWidth = 0;
    LONG bmHeight = 0;
    LONG bmWidthBytes = 0;
    WORD bmPlanes = 0;
    WORD bmBitsPixel = 0;
    void* bmBits = nullptr;
};

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

// SetBkMode modes.
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// SetBoundsRect / GetBoundsRect flags and results.
inline constexpr UINT DCB_RESET = 0x0001;
inline constexpr UINT DCB_ACCUMULATE = 0x0002;
inline constexpr UINT DCB_SET = DCB_RESET | DCB_ACCUMULATE;
inline constexpr UINT DCB_ENABLE = 0x0004;
inline constexpr UINT DCB_DISABLE = 0x0008;

struct SIZE {
    LONG cx = 0;
    LONG cy = 0;
};

struct FONTSIGNATURE {
    DWORD fsUsb[4] = {};
    DWORD fsCsb[2] = {};
};

// NEWTEXTMETRICEXA as far as we fill it: the metrics, then the font signature, whose code page
// ranges (fsCsb) say which code pages the face was made for. The extended enumeration hands its
// callbacks a pointer to ntmTm of such a record for TrueType faces.
struct NEWTEXTMETRICEX {
    TEXTMETRIC ntmTm;
    FONTSIGNATURE ntmFontSig;
};

// GetGlyphIndicesW's flag: a character the font lacks gives 0xFFFF instead of glyph 0.
inline constexpr DWORD GGI_MARK_NONEXISTING_GLYPHS = 1;

struct CHARSETINFO {
    UINT ciCharset = 0;
    UINT ciACP = 0;
    FONTSIGNATURE fs;
};

// Font enumeration callback: the font's extended logical font, its metrics, its type, the caller's
// parameter. Returning 0 stops the enumeration.
using FONTENUMPROCA = int (*)(const ENUMLOGFONTEX* elf, const TEXTMETRIC* metrics, DWORD fontType,
                              LPARAM lParam);

// MulDiv: a * b / c rounded half up, 0 for c == 0, for the non-negative values the platform scales
// metrics with.
constexpr int64_t mulDiv(int64_t a, int64_t b, int64_t c) { return c == 0 ? 0 : (a * b + c / 2) / c; }

// Character set <-> code page, with the platform's table. Only TCI_SRCCODEPAGE and TCI_SRCCHARSET
// are supported. Returns false (leaving *info untouched) for a value the platform cannot translate,
// as it does for the MS-DOS code pages.
bool TranslateCharsetInfo(DWORD source, CHARSETINFO* info, DWORD flags);

// What GetVersionExA's dwMajorVersion answers here: the version of the GDI the platform layer
// stands in for, which has the extended enumeration.
inline constexpr DWORD kGdiMajorVersion = 4;
DWORD OsMajorVersion();
// Makes OsMajorVersion() answer `major` from now on (0 restores kGdiMajorVersion), so tests can
// take the older enumeration path.
void SetOsMajorVersionOverride(DWORD major);

}  // namespace gdi
