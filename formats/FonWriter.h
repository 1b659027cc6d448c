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
    // the images' lengths > 65,535) the problem NeedsConsent (to go on with the run); no image, or
    // one that is not a usable FNT, is Refused.
    static WriteProblem build(std::span<const OutputSink> images, OutputSink& out);

    static constexpr uint32_t kHeaderArea = 8192;
    static constexpr uint32_t kBudgetLimit = 65535;
    // What a library over the budget tells ("%s": the font's name), and asks before the run goes on.
    static constexpr const char* kOverBudgetNotice =
        "Size of the FON file generated for a font %s exceed 64K, so font is not created.";
    static constexpr const char* kOverBudgetQuestion = "Continue fonts generation?";
};

// The FON format's library builder, for the format table.
class FonLibrary final : public LibraryBuilder {
public:
    WriteProblem build(std::span<const OutputSink> images, OutputSink& out) const override
    {
        return FonWriter::build(images, out);
    }
};

}  // namespace qf
