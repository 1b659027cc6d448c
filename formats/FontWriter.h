// What every writer has in common: the request it is given, the sink it writes into, the problem
// it answers with, and the one interface the run calls for every per-size format.
#pragma once

#include "formats/Format.h"
#include "formats/Repertoire.h"
#include "platform/gdi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

namespace gdi {
class DeviceContext;
}

namespace qf {

class GlyphSource;
struct CharacterHelpers;

// Largest file a writer may make; a font that would need more is refused.
inline constexpr uint64_t kMaxAllocation = uint64_t{64} << 20;

// One font at one size, and what the writer needs of the run's choices, as values.
struct WriteRequest {
    gdi::LOGFONT font{};        // the entry's font, in the run's character set
    int32_t pointSize = 0;
    int32_t resolutionX = 96;   // dots per inch of the target device
    int32_t resolutionY = 96;
    std::string name;           // the font name stored in the file (cp1252 bytes)
    // The characters the file holds; null stands for the code page's characters, Roman-8 for PCL.
    std::shared_ptr<const Repertoire> repertoire;
    // Where the characters of a large Unicode repertoire may be drawn besides the writer's own
    // device context (formats/UnicodeGlyphs.h); null: all on the writer's.
    CharacterHelpers* helpers = nullptr;

    bool unicode() const { return repertoire && repertoire->unicode(); }
    int pclSymbolSet() const { return repertoire ? repertoire->pclSymbolSet : Repertoire{}.pclSymbolSet; }
};

// Why a writer made no file. Refused: the font cannot be made at that size (it cannot be realised,
// a value does not fit its field, the file would pass the size cap, memory ran out). NeedsConsent:
// the file was not made, and whether the run goes on is for the user to say; `question` asks it,
// with "%s" where the font's name goes.
struct WriteProblem {
    enum class Kind { None, Refused, NeedsConsent };
    Kind kind = Kind::None;
    std::string text;
    std::string question;
    // For a file made all the same: what its user should know of it (glyphs clipped, say).
    std::string warning;

    static WriteProblem refused(std::string why) { return {Kind::Refused, std::move(why), {}, {}}; }
    explicit operator bool() const { return kind != Kind::None; }
};

// The bytes of one file as a writer makes them, in one block that never grows past its cap, so a
// hostile font costs a refusal, not the machine's memory.
class OutputSink {
public:
    explicit OutputSink(uint64_t cap = kMaxAllocation) : cap_(cap) {}
    OutputSink(const OutputSink& other) = delete;
    OutputSink& operator=(const OutputSink& other) = delete;
    OutputSink(OutputSink&& other) noexcept;
    OutputSink& operator=(OutputSink&& other) noexcept;
    ~OutputSink();

    // Lengthens the file by size bytes and gives where they go (zero-filled); null once the file
    // would pass the cap, after which the sink stays overflowed. Writers call it for every line
    // and field, so the common case (room enough) is inline and the rest is grow's.
    uint8_t* extend(size_t size)
    {
        if (overflowed_ || !bytes_ || size > capacity_ - size_)
            return grow(size);
        uint8_t* at = bytes_ + size_;
        std::memset(at, 0, size);
        size_ += size;
        return at;
    }
    bool append(const void* data, size_t size);
    // Empties the file; the memory stays for the next one.
    void clear();

    bool overflowed() const { return overflowed_; }
    uint64_t cap() const { return cap_; }
    size_t size() const { return size_; }
    const uint8_t* data() const { return bytes_; }
    uint8_t* data() { return bytes_; }

private:
    uint8_t* grow(size_t size);

    uint8_t* bytes_ = nullptr;  // malloc'd, so growing may move pages instead of copying them
    size_t size_ = 0;
    size_t capacity_ = 0;       // never past the cap
    uint64_t cap_;
    bool overflowed_ = false;
};

// Makes one file of a per-size format, or the FNT resources a font library is assembled from.
class FontWriter {
public:
    virtual ~FontWriter() = default;
    // Realises the request's font on dc, renders it and writes the file into out (cleared first).
    virtual WriteProblem write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const = 0;
};

// writer.write, with running out of memory (std::bad_alloc) as a refusal of the size, with its
// reason, instead of an exception that would end the program on a worker thread.
WriteProblem writeSafely(const FontWriter& writer, gdi::DeviceContext& dc, const WriteRequest& request,
                         OutputSink& out);

// Assembles the files a format's writer made for every size of one font into one library file.
class LibraryBuilder {
public:
    virtual ~LibraryBuilder() = default;
    virtual WriteProblem build(std::span<const OutputSink> images, OutputSink& out) const = 0;
};

// builder.build, with running out of memory as a refusal, as writeSafely does for a size.
WriteProblem buildSafely(const LibraryBuilder& builder, std::span<const OutputSink> images, OutputSink& out);

// The writer of a format's per-size files; for a library format, of the fonts it holds.
inline const FontWriter& writerFor(OutputFormat format) { return formatInfo(format).writer(); }

}  // namespace qf
