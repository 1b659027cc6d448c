// A file layer that fails chosen operations with chosen errors, so tests can show that every
// failure is reported and that nothing partial or damaged is left behind.
#pragma once

#include "platform/FileLayer.h"

#include <array>
#include <cerrno>
#include <cstddef>

namespace qf::test {

class FaultyFiles : public FileLayer {
public:
    enum class Op { Open, Write, Fsync, Close, Rename };

    // Call number `nth` (counting from 0) of the operation fails with `error`.
    void fail(Op op, int error, int nth = 0)
    {
        failures_[index(op)] = {error, nth};
    }
    // Writes a few bytes at a time, as a full pipe or a slow disk may.
    bool shortWrites = false;

    int open(const char* path, int flags, mode_t mode) override
    {
        return failing(Op::Open) ? -1 : FileLayer::open(path, flags, mode);
    }
    ssize_t write(int fd, const void* data, size_t size) override
    {
        return failing(Op::Write) ? -1 : FileLayer::write(fd, data, shortWrites && size > 3 ? 3 : size);
    }
    int fsync(int fd) override { return failing(Op::Fsync) ? -1 : FileLayer::fsync(fd); }
    int close(int fd) override
    {
        const int r = FileLayer::close(fd);  // the descriptor goes, whatever is reported
        return failing(Op::Close) ? -1 : r;
    }
    int rename(const char* from, const char* to) override
    {
        return failing(Op::Rename) ? -1 : FileLayer::rename(from, to);
    }

private:
    struct Failure {
        int error = 0;
        int nth = -1;
    };
    static size_t index(Op op) { return static_cast<size_t>(op); }
    bool failing(Op op)
    {
        const size_t i = index(op);
        const bool fails = failures_[i].error != 0 && calls_[i] == failures_[i].nth;
        ++calls_[i];
        if (fails)
            errno = failures_[i].error;
        return fails;
    }

    std::array<Failure, 5> failures_{};
    std::array<int, 5> calls_{};
};

}  // namespace qf::test
