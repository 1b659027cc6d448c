// Reads binary layouts field by field from bytes held in memory, little- or big-endian: the format
// readers (the counterpart of formats/ByteWriter), the face cache and a face's VDMX table. Reading
// past the end never touches memory outside the bytes: it gives zero and leaves an error naming the
// field and where it was looked for, so a reader of hostile bytes checks ok() at its checkpoints
// instead of bounds at every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qf {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes, size_t position = 0) : bytes_(bytes), position_(position) {}

    // Unsigned and signed fields at the read position, which moves past them.
    uint32_t u8(std::string_view field) { return static_cast<uint32_t>(take(field, 1, false, false)); }
    uint32_t le16(std::string_view field) { return static_cast<uint32_t>(take(field, 2, false, false)); }
    uint32_t le32(std::string_view field) { return static_cast<uint32_t>(take(field, 4, false, false)); }
    uint32_t be16(std::string_view field) { return static_cast<uint32_t>(take(field, 2, true, false)); }
    uint32_t be32(std::string_view field) { return static_cast<uint32_t>(take(field, 4, true, false)); }
    int32_t s8(std::string_view field) { return static_cast<int32_t>(take(field, 1, false, true)); }
    int32_t sle16(std::string_view field) { return static_cast<int32_t>(take(field, 2, false, true)); }
    int32_t sle32(std::string_view field) { return static_cast<int32_t>(take(field, 4, false, true)); }
    int32_t sbe16(std::string_view field) { return static_cast<int32_t>(take(field, 2, true, true)); }
    int32_t sbe32(std::string_view field) { return static_cast<int32_t>(take(field, 4, true, true)); }
    // 64-bit fields: the face cache's stamps and checksum.
    uint64_t le64(std::string_view field) { return take(field, 8, false, false); }
    int64_t sle64(std::string_view field) { return static_cast<int64_t>(take(field, 8, false, true)); }
    // A 16- or 32-bit field in the byte order given (PCF's tables say theirs in their format word).
    uint32_t u16(std::string_view field, bool bigEndian) { return static_cast<uint32_t>(take(field, 2, bigEndian, false)); }
    uint32_t u32(std::string_view field, bool bigEndian) { return static_cast<uint32_t>(take(field, 4, bigEndian, false)); }
    int32_t s16(std::string_view field, bool bigEndian) { return static_cast<int32_t>(take(field, 2, bigEndian, true)); }
    int32_t s32(std::string_view field, bool bigEndian) { return static_cast<int32_t>(take(field, 4, bigEndian, true)); }

    // size bytes at the read position (empty, with an error, when the file ends before them).
    std::span<const uint8_t> bytes(std::string_view field, size_t size);
    ByteReader& skip(std::string_view field, size_t size);
    // Moves the read position; a position past the end is an error only once something is read.
    ByteReader& seek(size_t position)
    {
        position_ = position;
        return *this;
    }

    size_t position() const { return position_; }
    size_t size() const { return bytes_.size(); }
    // The bytes left from the read position (zero past the end).
    size_t remaining() const { return position_ < bytes_.size() ? bytes_.size() - position_ : 0; }
    // True when size bytes from offset lie inside the file (no overflow for any values).
    bool holds(uint64_t offset, uint64_t size) const { return offset <= bytes_.size() && size <= bytes_.size() - offset; }
    std::span<const uint8_t> all() const { return bytes_; }

    bool ok() const { return error_.empty(); }
    // The first read that failed: "dfFace (byte 105): the file ends at byte 100".
    const std::string& error() const { return error_; }
    // Where the first failed read was looked for.
    size_t errorOffset() const { return errorOffset_; }

private:
    uint64_t take(std::string_view field, int width, bool bigEndian, bool isSigned);
    void fail(std::string_view field, size_t size);

    std::span<const uint8_t> bytes_;
    size_t position_;
    std::string error_;
    size_t errorOffset_ = 0;
};

}  // namespace qf
