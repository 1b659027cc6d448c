// One libFuzzer target per format reader, built from this file with QF_FUZZ_READER naming the
// reader (checkFnt, checkBdf, ...): any bytes must give a report, never a crash, a hang or
// unbounded memory. scripts/fuzz.sh builds and runs them.
#include "formats/FileCheck.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qf::CheckReport report;
    qf::QF_FUZZ_READER(std::span<const uint8_t>(data, size), report);
    // What the run and --check do with a report, so its strings are touched as they would be.
    (void)report.firstError();
    return 0;
}
