// Shared helpers of the platform layer's tests: where the reference data lives and how to read a
// monochrome bitmap back.
#pragma once

#include "platform/DeviceContext.h"
#include "platform/FontCatalog.h"
#include "platform/gdi.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace platform_test {

// The reference answers of a real GDI, kept beside the tests so a clean clone has them.
inline std::string dataFile(const char* name)
{
    const std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/data/" + name;
}

inline bool haveTestFonts() { return !gdi::FontCatalog::instance().faces().empty(); }

inline gdi::LOGFONT logFont(const std::string& face, int height, int weight = gdi::FW_NORMAL,
                            bool italic = false, int charset = gdi::ANSI_CHARSET, int width = 0)
{
    gdi::LOGFONT lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 255 : 0;
    lf.lfCharSet = static_cast<gdi::BYTE>(charset);
    std::strncpy(lf.lfFaceName, face.c_str(), gdi::LF_FACESIZE - 1);
    return lf;
}

inline bool pixel(const gdi::Bitmap& bm, int x, int y)
{
    return (bm.bits()[y * bm.widthBytes() + x / 8] & (0x80 >> (x % 8))) != 0;
}

// The pixels of columns [x0, x0 + width) of every row, as strings of '#' and '.'.
inline std::vector<std::string> pixels(const gdi::Bitmap& bm, int x0, int width)
{
    std::vector<std::string> rows;
    for (int y = 0; y < bm.height(); ++y) {
        std::string row;
        for (int x = x0; x < x0 + width; ++x)
            row += (x >= 0 && x < bm.width() && pixel(bm, x, y)) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

}  // namespace platform_test
