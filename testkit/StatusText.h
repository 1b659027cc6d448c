// How the tests and the benchmarks read a Status where a reason goes into their messages.
#pragma once

#include "platform/Failure.h"

#include <string>

namespace qf::test {

// A status as a test reads it: true when done, else false with the reason in `why`.
inline bool done(const qf::Status& status, std::string& why)
{
    if (!status)
        why = status.failure().reason();
    return status.ok();
}

}  // namespace qf::test
