// What the benchmarks of real faces share: the known test fonts in place of the machine's, and the
// face they draw.
#pragma once

#include "formats/FontWriter.h"
#include "platform/gdi.h"

#include <cstdlib>
#include <cstring>

namespace qf::bench {

inline constexpr char kFace[] = "DejaVu Sans";

// The known test fonts, whatever the machine has; call before the font catalogue is first read.
inline void useTestFonts()
{
    static const bool set = [] { return setenv("FONTCONFIG_FILE", QUENFOLD_TEST_FONTS_CONF, 1) == 0; }();
    (void)set;
}

inline gdi::LOGFONT logFont(const char* face = kFace)
{
    gdi::LOGFONT lf;
    std::strncpy(lf.lfFaceName, face, sizeof lf.lfFaceName - 1);
    lf.lfWeight = gdi::FW_NORMAL;
    lf.lfCharSet = gdi::ANSI_CHARSET;
    return lf;
}

// What the run asks a writer for this font at this size, at a square resolution.
inline WriteRequest requestFor(const gdi::LOGFONT& lf, int points, int dpi)
{
    WriteRequest request;
    request.font = lf;
    request.name = lf.lfFaceName;
    request.pointSize = points;
    request.resolutionX = request.resolutionY = dpi;
    return request;
}

}  // namespace qf::bench
