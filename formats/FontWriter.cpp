#include "formats/FontWriter.h"

#include "formats/BdfWriter.h"
#include "formats/FntBuilder.h"
#include "formats/PclSoftFontWriter.h"

#include <algorithm>
#include <cstring>

namespace qf {

uint8_t* OutputSink::extend(size_t size)
{
    if (overflowed_)
        return nullptr;
    const size_t at = bytes_.size();
    if (size > cap_ || at > cap_ - size) {
        overflowed_ = true;
        return nullptr;
    }
    // Grown by hand, doubling up to the cap: left to itself a vector may double past it.
    const size_t needed = at + size;
    if (needed > bytes_.capacity())
        bytes_.reserve(static_cast<size_t>(std::min<uint64_t>(cap_, std::max<uint64_t>(needed, bytes_.capacity() * 2))));
    bytes_.resize(needed);
    return bytes_.data() + at;
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
    bytes_.clear();
    overflowed_ = false;
}

const FontWriter& writerFor(OutputFormat format)
{
    static const FntBuilder fnt;
    static const PclSoftFontWriter portrait(false);
    static const PclSoftFontWriter landscape(true);
    static const BdfWriter bdf;
    switch (format) {
    case OutputFormat::SFP:
        return portrait;
    case OutputFormat::SFL:
        return landscape;
    case OutputFormat::BDF:
        return bdf;
    case OutputFormat::FON:
    case OutputFormat::FNT:
        break;
    }
    return fnt;
}

}  // namespace qf
