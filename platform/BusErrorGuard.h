// The guard over font files mapped into memory. A mapped file that shrinks under us would fault
// (SIGBUS) on a read past its new end: the handler maps a page of zeros there instead and marks
// the mapping damaged, so whoever reads the file finds zeros and learns that it changed
// (FontFileBytes). A fault anywhere else goes to whatever handled SIGBUS before. Only
// platform/*.cpp include this header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace gdi::ft {

// A mapping the handler looks through: its pages, whether a fault was caught in them, and whether
// the slot is in use. Fixed slots, so the handler needs neither a lock nor memory.
struct MappedRange {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> damaged{false};
    std::atomic<bool> taken{false};
};

// Installs the handler, once for the process.
void installBusHandler();

// A slot for the handler to find the mapping by; null when all are taken. Its owner clears begin
// and end before unmapping the pages, then gives the slot back (taken = false).
MappedRange* takeRange(const void* pages, size_t length);

}  // namespace gdi::ft
