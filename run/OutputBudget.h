// The bound on the bytes one run writes in all, kept by the file layer the run writes through.
#pragma once

#include "platform/FileLayer.h"

#include <cstdint>
#include <string>

namespace qf {

// Passes every operation to another file layer, except a write that would take the run's files
// past the limit: that one fails, says why through refusal() and marks the budget spent, so
// writeFileWhole drops the file, reports the limit, and the files already written stay whole. A file's bytes count once it has been renamed
// into place.
class OutputBudget final : public FileLayer {
public:
    OutputBudget(FileLayer& files, uint64_t limit) : files_(files), limit_(limit) {}

    int open(const char* path, int flags, mode_t mode) override;
    ssize_t write(int fd, const void* data, size_t size) override;
    int fsync(int fd) override { return files_.fsync(fd); }
    int close(int fd) override { return files_.close(fd); }
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override { return files_.unlink(path); }
    std::optional<Failure> refusal() const override
    {
        return refusedLast_ ? std::optional<Failure>(limitFailure()) : std::nullopt;
    }

    // What keeps a file from being written once the limit is reached.
    Failure limitFailure() const
    {
        return {"it would take the run's output past its limit of " + describe(limit_), {}, {}, {}};
    }

    // True once a write was refused for the limit.
    bool spent() const { return spent_; }
    // Counts a file the run made without writing it (one already there, byte for byte), if it
    // fits within the limit; false, counting nothing, if it does not.
    bool admit(uint64_t bytes)
    {
        if (spent_ || committed_ + bytes > limit_)
            return false;
        committed_ += bytes;
        return true;
    }
    uint64_t limit() const { return limit_; }

    // A byte count as people read it: "1 GiB", "64 MiB", "1500 bytes".
    static std::string describe(uint64_t bytes);

private:
    FileLayer& files_;
    uint64_t limit_;
    uint64_t committed_ = 0;  // bytes of the files written whole
    uint64_t pending_ = 0;    // bytes of the file being written
    bool spent_ = false;
    bool refusedLast_ = false;  // the last write was refused for the limit
};

}  // namespace qf
