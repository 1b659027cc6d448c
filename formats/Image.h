// Writer-built byte images and the per-size slots a run keeps them in.
#pragma once

#include <cstdint>
#include <memory>

namespace qf {

// One heap block, zero-filled when allocated; its length travels beside it.
using Image = std::unique_ptr<uint8_t[]>;

inline Image allocateImage(size_t size)
{
    return Image(new uint8_t[size == 0 ? 1 : size]());
}

// Largest single allocation a writer may make; a font that would need more is refused.
inline constexpr uint64_t kMaxAllocation = uint64_t{64} << 20;

struct ImageSlot {
    Image image;
    uint32_t length = 0;
};

}  // namespace qf
