// Fresh memory about to be filled, its pages asked for in one call. On a virtual machine the first
// touch of each page is a fault costing several microseconds, and drawing a whole CJK repertoire
// fills thousands of pages in a few large blocks; asked for at once, they cost about half. Only a
// hint: where the system cannot (MADV_POPULATE_WRITE is Linux 5.14's), the pages come one fault at
// a time as before, and the bytes are never changed.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace qf {

// The whole pages inside [data, data + size), when the block is at least `from` bytes (below that
// the call costs about what it saves).
inline void prefault(void* data, size_t size, size_t from = size_t{256} << 10)
{
#ifdef MADV_POPULATE_WRITE
    if (!data || size < from)
        return;
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)size;
    (void)from;
#endif
}

}  // namespace qf
