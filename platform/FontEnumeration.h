// Font enumeration with the meaning of EnumFontFamiliesExA and EnumFontFamiliesA, over the
// catalogue of installed TrueType/OpenType faces.
#pragma once

#include "platform/gdi.h"

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

}  // namespace gdi
