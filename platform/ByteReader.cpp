#include "platform/ByteReader.h"

namespace qf {

uint64_t ByteReader::take(std::string_view field, int width, bool bigEndian, bool isSigned)
{
    if (!holds(position_, static_cast<uint64_t>(width))) {
        fail(field, static_cast<size_t>(width));
        position_ = bytes_.size();
        return 0;
    }
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) {
        const uint64_t byte = bytes_[position_ + static_cast<size_t>(bigEndian ? i : width - 1 - i)];
        value = (value << 8) | byte;
    }
    position_ += static_cast<size_t>(width);
    if (isSigned && width < 8 && (value >> (8 * width - 1)) != 0)
        value |= ~uint64_t{0} << (8 * width);
    return value;
}

std::span<const uint8_t> ByteReader::bytes(std::string_view field, size_t size)
{
    if (!holds(position_, size)) {
        fail(field, size);
        position_ = bytes_.size();
        return {};
    }
    const auto out = bytes_.subspan(position_, size);
    position_ += size;
    return out;
}

ByteReader& ByteReader::skip(std::string_view field, size_t size)
{
    bytes(field, size);
    return *this;
}

void ByteReader::fail(std::string_view field, size_t size)
{
    if (!error_.empty())
        return;
    errorOffset_ = position_;
    error_ = std::string(field) + " (byte " + std::to_string(position_) + ", " + std::to_string(size) +
             (size == 1 ? " byte" : " bytes") + "): the file ends at byte " + std::to_string(bytes_.size());
}

}  // namespace qf
