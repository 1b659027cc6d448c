#include "platform/FontFileBytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gdi::ft {

namespace {

// No font file comes near this; anything larger is not read into memory.
constexpr size_t kMaxFontFile = size_t{1} << 30;

}  // namespace

FileBytes::~FileBytes()
{
    if (range_) {
        range_->begin.store(0, std::memory_order_release);
        range_->end.store(0, std::memory_order_release);
    }
    if (pages_ != MAP_FAILED)
        ::munmap(pages_, capacity_);
    if (range_)
        range_->taken.store(false);
    if (fd_ >= 0)
        ::close(fd_);
}

std::string FileBytes::change() const
{
    if (!range_)
        return {};
    struct stat now {};
    if (::fstat(fd_, &now) != 0)
        return std::string("it can no longer be examined: ") + std::strerror(errno);
    const qf::FileStamp stamp = qf::stampOf(now);
    const auto bytes = [](uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); };
    if (stamp.size < stamp_.size)
        return "it was cut short from " + std::to_string(stamp_.size) + " to " + bytes(stamp.size);
    // A read past the end was caught, yet the file is as long as before: it shrank and grew again.
    if (range_->damaged.load(std::memory_order_acquire))
        return "part of it vanished while it was read";
    if (stamp.size > stamp_.size)
        return "it grew from " + std::to_string(stamp_.size) + " to " + bytes(stamp.size);
    if (stamp.modifiedNs != stamp_.modifiedNs || (stamp.changedNs != stamp_.changedNs && now.st_nlink > 0))
        return "it was written over";
    return {};
}

bool FileBytes::reserve(size_t capacity)
{
    void* pages = pages_ == MAP_FAILED
                      ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0)
                      : ::mremap(pages_, capacity_, capacity, MREMAP_MAYMOVE);
    if (pages == MAP_FAILED)
        return false;
    pages_ = pages;
    capacity_ = capacity;
    return true;
}

bool FileBytes::map(int fd, const struct stat& info)
{
    installBusHandler();
    const auto length = static_cast<size_t>(info.st_size);
    void* pages = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (pages == MAP_FAILED)
        return false;
    range_ = takeRange(pages, length);
    if (!range_) {
        ::munmap(pages, length);
        return false;
    }
    pages_ = pages;
    capacity_ = size_ = length;
    fd_ = fd;
    return true;
}

bool FileBytes::copy(int fd, size_t sizeHint)
{
    // The size is only a hint: the file may change while it is read, and what read() gives counts.
    // One byte more than the size shows the end without growing the pages.
    if (!reserve(sizeHint + 1))
        return false;
    auto* at = static_cast<FT_Byte*>(pages_);
    for (;;) {
        if (size_ == capacity_) {
            if (capacity_ >= kMaxFontFile || !reserve(std::min(kMaxFontFile, capacity_ * 2)))
                return false;
            at = static_cast<FT_Byte*>(pages_);
        }
        const ssize_t n = ::read(fd, at + size_, capacity_ - size_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        size_ += static_cast<size_t>(n);
    }
    // Read-only from now on: faces of any thread read them, and nothing may write them.
    ::mprotect(pages_, capacity_, PROT_READ);
    return size_ > 0;
}

qf::Result<std::shared_ptr<const FileBytes>> FileBytes::read(const std::string& file)
{
    auto fail = [&](const char* what, std::string cause = {}) { return qf::Failure{what, file, {}, std::move(cause)}; };
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail("its file cannot be opened", std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return fail("its file cannot be read", std::strerror(error));
    }
    if (!S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > kMaxFontFile) {
        ::close(fd);
        return fail(S_ISREG(info.st_mode) ? "its file is empty or too large" : "its file is not a regular file");
    }
    auto bytes = std::make_shared<FileBytes>();
    bytes->stamp_ = qf::stampOf(info);
    if (bytes->map(fd, info))
        return std::shared_ptr<const FileBytes>(std::move(bytes));  // it keeps the descriptor
    const bool copied = bytes->copy(fd, static_cast<size_t>(info.st_size));
    ::close(fd);
    if (!copied)
        return fail("its file cannot be read");
    return std::shared_ptr<const FileBytes>(std::move(bytes));
}

}  // namespace gdi::ft
