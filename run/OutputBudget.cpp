#include "run/OutputBudget.h"

#include <cerrno>

namespace qf {

int OutputBudget::open(const char* path, int flags, mode_t mode)
{
    // writeFileWhole writes one file at a time: a new one starts its count afresh.
    pending_ = 0;
    refusedLast_ = false;
    return files_.open(path, flags, mode);
}

ssize_t OutputBudget::write(int fd, const void* data, size_t size)
{
    refusedLast_ = spent_ || committed_ + pending_ + size > limit_;
    if (refusedLast_) {
        spent_ = true;
        // For callers that know only POSIX; writeFileWhole asks refusal() for the reason.
        errno = EFBIG;
        return -1;
    }
    const ssize_t n = files_.write(fd, data, size);
    if (n > 0)
        pending_ += static_cast<uint64_t>(n);
    return n;
}

int OutputBudget::rename(const char* from, const char* to)
{
    const int result = files_.rename(from, to);
    if (result == 0) {
        committed_ += pending_;
        pending_ = 0;
    }
    return result;
}

std::string OutputBudget::describe(uint64_t bytes)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    std::string text = std::to_string(bytes) + " bytes";
    uint64_t scaled = bytes;
    for (const char* unit : units) {
        if (scaled == 0 || scaled % 1024 != 0)
            break;
        scaled /= 1024;
        text = std::to_string(scaled) + " " + unit;
    }
    return text;
}

}  // namespace qf
