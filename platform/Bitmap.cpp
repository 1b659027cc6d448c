#include "platform/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace gdi {

Bitmap::Bitmap(int width, int height)
    : width_(width), height_(height), widthBytes_((width + 15) / 16 * 2),
      bits_(new (std::nothrow) uint8_t[static_cast<size_t>(widthBytes_) * static_cast<size_t>(height)]())
{
}

std::shared_ptr<Bitmap> Bitmap::create(int width, int height, size_t maxBytes)
{
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int>::max() - 15)
        return nullptr;
    // Rows are padded to 16 bits.
    const uint64_t rowBytes = (static_cast<uint64_t>(width) + 15) / 16 * 2;
    if (rowBytes > static_cast<uint64_t>(std::numeric_limits<int>::max()) ||
        rowBytes * static_cast<uint64_t>(height) > maxBytes)
        return nullptr;
    std::shared_ptr<Bitmap> bitmap(new (std::nothrow) Bitmap(width, height));
    if (!bitmap || !bitmap->bits_)
        return nullptr;
    return bitmap;
}

BITMAP Bitmap::getObject() const
{
    BITMAP bm;
    bm.bmType = 0;
    bm.bmWidth = width_;
    bm.bmHeight = height_;
    bm.bmWidthBytes = widthBytes_;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 1;
    bm.bmBits = nullptr;
    return bm;
}

size_t Bitmap::getBitmapBits(size_t count, uint8_t* out) const
{
    if (!out)
        return 0;
    const size_t n = std::min(count, static_cast<size_t>(widthBytes_) * static_cast<size_t>(height_));
    std::memcpy(out, bits_.get(), n);
    return n;
}

}  // namespace gdi
