#include "formats/FontWriter.h"

#include "formats/FileCheck.h"
#include "platform/Prefault.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace qf {

OutputSink::OutputSink(OutputSink&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), cap_(other.cap_), heldCap_(other.heldCap_),
      overflowed_(std::exchange(other.overflowed_, false)), streams_(std::exchange(other.streams_, false)), spill_(std::exchange(other.spill_, -1)),
      streamed_(std::exchange(other.streamed_, 0)), map_(std::exchange(other.map_, nullptr)),
      mapSize_(std::exchange(other.mapSize_, 0))
{
}

OutputSink& OutputSink::operator=(OutputSink&& other) noexcept
{
    if (this != &other) {
        std::free(bytes_);
        dropSpill();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        cap_ = other.cap_;
        heldCap_ = other.heldCap_;
        overflowed_ = std::exchange(other.overflowed_, false);
        streams_ = std::exchange(other.streams_, false);
        spill_ = std::exchange(other.spill_, -1);
        streamed_ = std::exchange(other.streamed_, 0);
        map_ = std::exchange(other.map_, nullptr);
        mapSize_ = std::exchange(other.mapSize_, 0);
    }
    return *this;
}

OutputSink::~OutputSink()
{
    std::free(bytes_);
    dropSpill();
}

void OutputSink::streamUpTo(uint64_t cap)
{
    streams_ = true;
    cap_ = cap;
}

void OutputSink::dropSpill()
{
    if (map_)
        ::munmap(const_cast<uint8_t*>(map_), mapSize_);
    map_ = nullptr;
    mapSize_ = 0;
    if (spill_ >= 0)
        ::close(spill_);
    spill_ = -1;
    streamed_ = 0;
}

namespace {

[[noreturn]] void spillFailed(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// An unlinked file in the temporary folder: nothing is left of it whatever ends the process.
int openSpillFile()
{
    const char* folder = std::getenv("TMPDIR");
    const std::string dir = folder && *folder ? folder : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = dir + "/quenfold-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.c_str());
    }
    return fd;
}

void writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            spillFailed("writing the part of the file made so far to a temporary file");
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

void OutputSink::spillPiece()
{
    if (spill_ < 0 && (spill_ = openSpillFile()) < 0)
        spillFailed("opening a temporary file for the part of the file made so far");
    writeAll(spill_, bytes_, size_);
    streamed_ += size_;
    size_ = 0;
    // What the block may still take in place is what the cap leaves: writes that fit it are
    // never checked against the cap again (the block is at least that large).
    capacity_ = static_cast<size_t>(std::min<uint64_t>(capacity_, cap_ - streamed_));
}

const uint8_t* OutputSink::mapped() const
{
    auto* self = const_cast<OutputSink*>(this);
    if (size_ > 0)
        self->spillPiece();
    if (map_ && mapSize_ != streamed_) {
        ::munmap(const_cast<uint8_t*>(map_), mapSize_);
        map_ = nullptr;
    }
    if (!map_ && streamed_ > 0) {
        void* at = ::mmap(nullptr, static_cast<size_t>(streamed_), PROT_READ, MAP_SHARED, spill_, 0);
        if (at == MAP_FAILED)
            spillFailed("mapping the temporary file of the file made");
        // Readers go through once, from the start.
        ::madvise(at, static_cast<size_t>(streamed_), MADV_SEQUENTIAL);
        map_ = static_cast<const uint8_t*>(at);
        mapSize_ = static_cast<size_t>(streamed_);
    }
    return map_;
}

void OutputSink::releaseBefore(size_t offset) const
{
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t length = std::min(offset, mapSize_) / page * page;
    if (map_ && length > 0)
        ::madvise(const_cast<uint8_t*>(map_), length, MADV_DONTNEED);
}

uint8_t* OutputSink::grow(size_t size)
{
    if (overflowed_)
        return nullptr;
    if (size > cap_ || size_ + streamed_ > cap_ - size) {
        overflowed_ = true;
        return nullptr;
    }
    // A streaming sink sets its piece aside once the next bytes would take it past what it holds;
    // the block is then written from its start again.
    if (streams_ && size_ > 0 && size_ + size > kStreamPiece) {
        if (map_) {
            ::munmap(const_cast<uint8_t*>(map_), mapSize_);
            map_ = nullptr;
        }
        spillPiece();
        if (size <= capacity_) {
            size_ = size;
            return bytes_;
        }
    }
    const size_t at = size_;
    const uint64_t inMemoryCap =
        streams_ ? std::max<uint64_t>(std::min<uint64_t>(kStreamPiece, cap_ - streamed_), at + size) : cap_;
    // Doubling, from a start that holds a small font whole, up to the cap: left to itself the
    // block might double past it.
    constexpr size_t kFirst = size_t{64} << 10;
    const size_t needed = at + size;
    const size_t wanted = static_cast<size_t>(
        std::min<uint64_t>(inMemoryCap, std::max<uint64_t>({needed, capacity_ * 2, kFirst})));
    auto* moved = static_cast<uint8_t*>(std::realloc(bytes_, wanted));
    if (!moved)
        throw std::bad_alloc();
    bytes_ = moved;
    capacity_ = wanted;
    prefault(bytes_ + at, wanted - at);  // what grows this far is written through, page by page
    size_ = needed;
    return bytes_ + at;
}

void OutputSink::clear()
{
    size_ = 0;
    overflowed_ = false;
    streams_ = false;
    cap_ = heldCap_;
    dropSpill();
}

namespace {

// What the writer made, read back by the reader --check uses: a file that reader finds an error
// in would be misread or refused by the programs it is made for, so it is not written. A streamed
// file's pages are let go as the reader passes them.
qf::Status readBack(const OutputSink& out)
{
    const CheckReport report = checkFontFile({out.data(), out.size()}, [&](size_t at) { out.releaseBefore(at); });
    if (report.hasError())
        return qf::Failure{"the file made does not read back soundly (" + report.firstError() +
                           "), so it was not written"};
    return qf::Status();
}

}  // namespace

WriteProblem writeSafely(const FontWriter& writer, gdi::DeviceContext& dc, const WriteRequest& request,
                         OutputSink& out)
{
    try {
        WriteProblem problem = writer.write(dc, request, out);
        if (problem.kind == WriteProblem::Kind::None) {
            if (const qf::Status sound = readBack(out); !sound) {
                out.clear();
                return Refusal(request)(sound.failure().reason());
            }
        }
        return problem;
    } catch (const std::bad_alloc&) {
        out.clear();
        return Refusal(request)("there is not enough memory to make it");
    } catch (const std::system_error& e) {
        out.clear();
        return Refusal(request)(e.what());
    }
}

WriteProblem buildSafely(const LibraryBuilder& builder, std::span<const OutputSink> images, OutputSink& out)
{
    try {
        WriteProblem problem = builder.build(images, out);
        if (problem.kind == WriteProblem::Kind::None) {
            if (const qf::Status sound = readBack(out); !sound) {
                out.clear();
                return WriteProblem::refused(sound.failure().reason());
            }
        }
        return problem;
    } catch (const std::bad_alloc&) {
        out.clear();
        return WriteProblem::refused("there is not enough memory to assemble the library");
    }
}

}  // namespace qf
