#include "formats/ByteWriter.h"

#include <cstring>

namespace qf {

void ByteWriter::fail(std::string message)
{
    if (error_.empty())
        error_ = std::move(message);
}

bool ByteWriter::reserve(std::string_view field, size_t size)
{
    if (!ok())
        return false;
    if (position_ > capacity_ || size > capacity_ - position_) {
        fail(std::string(field) + ": writing " + std::to_string(size) + " bytes at offset " +
             std::to_string(position_) + " would overrun the " + std::to_string(capacity_) +
             "-byte buffer");
        return false;
    }
    return true;
}

ByteWriter& ByteWriter::integer(std::string_view field, int64_t value, int bytes, bool bigEndian,
                                bool isSigned)
{
    const int bits = bytes * 8;
    const int64_t lo = isSigned ? -(int64_t{1} << (bits - 1)) : 0;
    const int64_t hi = isSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
    if (!isSigned && value < 0) {
        // -1 fits 16 bits as a signed value: what is wrong is the sign.
        fail(std::string(field) + ": " + std::to_string(value) + " is negative, but the field holds 0 to " +
             std::to_string(hi));
        return *this;
    }
    if (value < lo || value > hi) {
        fail(std::string(field) + ": " + std::to_string(value) + " does not fit in " +
             std::to_string(bits) + (isSigned ? " signed bits" : " bits"));
        return *this;
    }
    if (!reserve(field, static_cast<size_t>(bytes)))
        return *this;
    const auto u = static_cast<uint64_t>(value);
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
        buffer_[position_ + i] = static_cast<uint8_t>(u >> shift);
    }
    position_ += static_cast<size_t>(bytes);
    return *this;
}

ByteWriter& ByteWriter::u8(std::string_view f, int64_t v) { return integer(f, v, 1, false, false); }
ByteWriter& ByteWriter::le16(std::string_view f, int64_t v) { return integer(f, v, 2, false, false); }
ByteWriter& ByteWriter::le32(std::string_view f, int64_t v) { return integer(f, v, 4, false, false); }
ByteWriter& ByteWriter::be16(std::string_view f, int64_t v) { return integer(f, v, 2, true, false); }
ByteWriter& ByteWriter::be32(std::string_view f, int64_t v) { return integer(f, v, 4, true, false); }
ByteWriter& ByteWriter::s8(std::string_view f, int64_t v) { return integer(f, v, 1, false, true); }
ByteWriter& ByteWriter::sbe32(std::string_view f, int64_t v) { return integer(f, v, 4, true, true); }
ByteWriter& ByteWriter::sle16(std::string_view f, int64_t v) { return integer(f, v, 2, false, true); }
ByteWriter& ByteWriter::sbe16(std::string_view f, int64_t v) { return integer(f, v, 2, true, true); }

ByteWriter& ByteWriter::bytes(std::string_view field, const void* data, size_t size)
{
    if (size == 0 || !reserve(field, size))
        return *this;
    std::memcpy(buffer_ + position_, data, size);
    position_ += size;
    return *this;
}

ByteWriter& ByteWriter::zeros(std::string_view field, size_t count)
{
    if (count == 0 || !reserve(field, count))
        return *this;
    std::memset(buffer_ + position_, 0, count);
    position_ += count;
    return *this;
}

ByteWriter& ByteWriter::text(std::string_view field, std::string_view value, size_t width)
{
    if (value.size() > width) {
        fail(std::string(field) + ": " + std::to_string(value.size()) +
             " characters do not fit in " + std::to_string(width));
        return *this;
    }
    if (!reserve(field, width))
        return *this;
    bytes(field, value.data(), value.size());
    return zeros(field, width - value.size());
}

ByteWriter& ByteWriter::seek(size_t position)
{
    if (position > capacity_)
        fail("seek to " + std::to_string(position) + " past the " + std::to_string(capacity_) +
             "-byte buffer");
    else
        position_ = position;
    return *this;
}

}  // namespace qf
