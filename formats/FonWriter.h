// Packs the FNT images of all sizes of one font into a Windows font library (.fon): an NE
// executable with a font directory and one font resource per image.
#pragma once

#include "formats/FontWriter.h"

#include <cstdint>
#include <span>

namespace qf {

class FonWriter {
public:
    // Writes the library of these FNT images into out. Over the 64 KB budget (8,192 + the sum of
    // the images' lengths > 65,535) the problem is OverBudget; no image, or one that is not a
    // usable FNT, is Refused.
    static WriteProblem build(std::span<const OutputSink> images, OutputSink& out);

    static constexpr uint32_t kHeaderArea = 8192;
    static constexpr uint32_t kBudgetLimit = 65535;
};

}  // namespace qf
