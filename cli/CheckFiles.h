// quenfold-cli --check: what each bitmap font file holds and every problem in it, whoever made it.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace qf::cli {

// Reports on each file (stdout) and, unless quiet, a summary line (stderr). Returns the exit
// status: 0 when no file has an error, 1 when some has or cannot be read. Stops between files
// once interrupts is non-zero.
int checkFiles(const std::vector<std::string>& files, bool quiet, const volatile std::sig_atomic_t& interrupts);

}  // namespace qf::cli
