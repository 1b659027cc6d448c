// Writes binary layouts field by field into a buffer, little- or big-endian. Each field is named as
// its format names it; a value that does not fit its field, or a write past the end of the buffer,
// is not written and leaves an error naming the field, so the caller refuses the file instead of
// producing a corrupt one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qf {

class ByteWriter {
public:
    ByteWriter(uint8_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    // Unsigned fields: the value must lie in 0 .. 2^bits - 1.
    ByteWriter& u8(std::string_view field, int64_t value);
    ByteWriter& le16(std::string_view field, int64_t value);
    ByteWriter& le32(std::string_view field, int64_t value);
    ByteWriter& be16(std::string_view field, int64_t value);
    ByteWriter& be32(std::string_view field, int64_t value);
    // Signed fields: the value must lie in -2^(bits-1) .. 2^(bits-1) - 1.
    ByteWriter& s8(std::string_view field, int64_t value);
    ByteWriter& sle16(std::string_view field, int64_t value);
    ByteWriter& sbe16(std::string_view field, int64_t value);
    ByteWriter& sbe32(std::string_view field, int64_t value);
    // Raw bytes, and zero bytes.
    ByteWriter& bytes(std::string_view field, const void* data, size_t size);
    ByteWriter& zeros(std::string_view field, size_t count);
    // A text in a fixed-width field, zero-padded; a longer text is an error.
    ByteWriter& text(std::string_view field, std::string_view value, size_t width);

    size_t position() const { return position_; }
    // Moves the write position (to fill in a field whose value is known only later).
    ByteWriter& seek(size_t position);
    size_t capacity() const { return capacity_; }

    bool ok() const { return error_.empty(); }
    // The first error, e.g. "dfAscent: 70000 does not fit in 16 bits".
    const std::string& error() const { return error_; }

private:
    bool reserve(std::string_view field, size_t size);
    ByteWriter& integer(std::string_view field, int64_t value, int bytes, bool bigEndian, bool isSigned);
    void fail(std::string message);

    uint8_t* buffer_;
    size_t capacity_;
    size_t position_ = 0;
    std::string error_;
};

}  // namespace qf
