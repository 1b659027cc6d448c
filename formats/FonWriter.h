// Packs the FNT images of all sizes of one font into a Windows font library (.fon): an NE
// executable with a font directory and one font resource per image.
#pragma once

#include "formats/Image.h"

#include <cstdint>
#include <string>

namespace qf {

class FonWriter {
public:
    // Returns the library and sets length to its size. Over the 64 KB budget (8,192 + the sum of
    // the slots' lengths > 65,535) returns null and sets length to that budget. Null with a reason
    // in *error for other refusals (a count below 1, an image that is not a usable FNT).
    static Image build(const ImageSlot* slots, int32_t count, uint32_t& length,
                       std::string* error = nullptr);

    static constexpr uint32_t kHeaderArea = 8192;
    static constexpr uint32_t kBudgetLimit = 65535;
};

}  // namespace qf
