// A monochrome bitmap, the surface a device context draws on; shared_ptr-owned, as a device context
// keeps the bitmap it has selected alive.
#pragma once

#include "platform/gdi.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace gdi {

// A monochrome bitmap, 1 plane, 1 bit per pixel. Rows are padded to 16 bits, the most significant
// bit is the leftmost pixel, 1 is the text colour.
class Bitmap {
public:
    // CreateBitmap(width, height, 1, 1, nullptr). Null for a non-positive size or one whose bits
    // would take more than maxBytes.
    static std::shared_ptr<Bitmap> create(int width, int height, size_t maxBytes = kMaxBytes);
    static constexpr size_t kMaxBytes = size_t{64} << 20;

    BITMAP getObject() const;  // GetObjectA(hbm, sizeof(BITMAP), ...), bmBits null
    // GetBitmapBits: copies up to count bytes of the rows into out; returns the bytes copied.
    size_t getBitmapBits(size_t count, uint8_t* out) const;
    int width() const { return width_; }
    int height() const { return height_; }
    int widthBytes() const { return widthBytes_; }
    const uint8_t* bits() const { return bits_.get(); }
    uint8_t* bits() { return bits_.get(); }

private:
    Bitmap(int width, int height);
    int width_ = 0;
    int height_ = 0;
    int widthBytes_ = 0;
    std::unique_ptr<uint8_t[]> bits_;
};

}  // namespace gdi
