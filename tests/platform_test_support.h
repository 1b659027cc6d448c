// Shared helpers of the platform layer's tests: where the reference data lives and how to read a
// monochrome bitmap back.
#pragma once

#include "platform/DeviceContext.h"
#include "platform/gdi.h"
#include "tests/TestSupport.h"

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

// The font helpers all tests share.
using qf::test::logFont;
using qf::test::testFontsInstalled;

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
