#include "formats/FontWriter.h"

#include "formats/FileCheck.h"
#include "formats/WriterSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace qf {

OutputSink::OutputSink(OutputSink&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), cap_(other.cap_), overflowed_(std::exchange(other.overflowed_, false))
{
}

OutputSink& OutputSink::operator=(OutputSink&& other) noexcept
{
    if (this != &other) {
        std::free(bytes_);
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        cap_ = other.cap_;
        overflowed_ = std::exchange(other.overflowed_, false);
    }
    return *this;
}

OutputSink::~OutputSink() { std::free(bytes_); }

uint8_t* OutputSink::grow(size_t size)
{
    if (overflowed_)
        return nullptr;
    const size_t at = size_;
    if (size > cap_ || at > cap_ - size) {
        overflowed_ = true;
        return nullptr;
    }
    // Doubling, from a start that holds a small font whole, up to the cap: left to itself the
    // block might double past it.
    constexpr size_t kFirst = size_t{64} << 10;
    const size_t needed = at + size;
    const size_t wanted = static_cast<size_t>(
        std::min<uint64_t>(cap_, std::max<uint64_t>({needed, capacity_ * 2, kFirst})));
    auto* moved = static_cast<uint8_t*>(std::realloc(bytes_, wanted));
    if (!moved)
        throw std::bad_alloc();
    bytes_ = moved;
    capacity_ = wanted;
    std::memset(bytes_ + at, 0, size);
    size_ = needed;
    return bytes_ + at;
}

bool OutputSink::append(const void* data, size_t size)
{
    uint8_t* at = extend(size);
    if (at && size > 0)
        std::memcpy(at, data, size);
    return at != nullptr;
}

void OutputSink::clear()
{
    size_ = 0;
    overflowed_ = false;
}

namespace {

// What the writer made, read back by the reader --check uses: a file that reader finds an error
// in would be misread or refused by the programs it is made for, so it is not written. Returns
// the reason, or an empty string.
std::string readBack(const OutputSink& out)
{
    const CheckReport report = checkFontFile({out.data(), out.size()});
    return report.hasError() ? "the file made does not read back soundly (" + report.firstError() +
                                   "), so it was not written"
                             : std::string();
}

}  // namespace

WriteProblem writeSafely(const FontWriter& writer, gdi::DeviceContext& dc, const WriteRequest& request,
                         OutputSink& out)
{
    try {
        WriteProblem problem = writer.write(dc, request, out);
        if (problem.kind == WriteProblem::Kind::None) {
            if (std::string why = readBack(out); !why.empty()) {
                out.clear();
                return Refusal(request)(why);
            }
        }
        return problem;
    } catch (const std::bad_alloc&) {
        out.clear();
        return Refusal(request)("there is not enough memory to make it");
    }
}

WriteProblem buildSafely(const LibraryBuilder& builder, std::span<const OutputSink> images, OutputSink& out)
{
    try {
        WriteProblem problem = builder.build(images, out);
        if (problem.kind == WriteProblem::Kind::None) {
            if (std::string why = readBack(out); !why.empty()) {
                out.clear();
                return WriteProblem::refused(why);
            }
        }
        return problem;
    } catch (const std::bad_alloc&) {
        out.clear();
        return WriteProblem::refused("there is not enough memory to assemble the library");
    }
}

}  // namespace qf
