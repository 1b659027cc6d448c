// What every writer has in common: the request it is given, the sink it writes into, the problem
// it answers with, and the one interface the run calls for every per-size format.
#pragma once

#include "formats/FormatKinds.h"
#include "formats/Repertoire.h"
#include "platform/CodePages.h"
#include "platform/Failure.h"
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

// Largest block a writer may hold in memory, and largest file of a writer that holds its file
// whole; a font that would need more is refused.
inline constexpr uint64_t kMaxAllocation = uint64_t{64} << 20;
// Largest file of a writer whose sink streams (OutputSink::streamUpTo): a whole repertoire at a
// large size in a text format passes what memory should hold.
inline constexpr uint64_t kMaxStreamedFile = uint64_t{512} << 20;

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
// the file was not made, `notice` says so, with "%s" where the font's name goes, and whether the
// run goes on is for the user to say: `question` asks it.
struct WriteProblem {
    enum class Kind { None, Refused, NeedsConsent };
    Kind kind = Kind::None;
    std::string text;  // the refusal as people read it (UTF-8), font and size first (Refusal)
    std::string notice;
    std::string question;
    // For a file made all the same: what its user should know of it (glyphs clipped, say).
    std::string warning;
    // The refusal's parts: `what` is the reason alone, without the font and size that `text`
    // begins with; `font` the font's name in UTF-8, when the refusal is about one.
    Failure failure;

    static WriteProblem refused(std::string why)
    {
        Failure failure{why, {}, {}, {}};
        return {Kind::Refused, std::move(why), {}, {}, {}, std::move(failure)};
    }
    explicit operator bool() const { return kind != Kind::None; }
};

// Refusals name the font they are about: "<name> at <size> points (<x> x <y> dpi): <why>", the
// name in UTF-8 (the request holds its cp1252 bytes); the name and the bare reason are fields of
// the problem's failure too, for those who report them their own way.
class Refusal {
public:
    explicit Refusal(const WriteRequest& request) : font_(gdi::ansiToUtf8(request.name)), prefix_(prefix(request)) {}
    WriteProblem operator()(const std::string& why) const
    {
        WriteProblem problem = WriteProblem::refused(prefix_ + why);
        problem.failure = {why, {}, font_, {}};
        return problem;
    }

    // What a refusal of the request begins with.
    static std::string prefix(const WriteRequest& request)
    {
        return gdi::ansiToUtf8(request.name) + " at " + std::to_string(request.pointSize) + " points (" +
               std::to_string(request.resolutionX) + " x " + std::to_string(request.resolutionY) + " dpi): ";
    }

private:
    std::string font_;
    std::string prefix_;
};

// The bytes of one file as a writer makes them, in one block that never grows past its cap, so a
// hostile font costs a refusal, not the machine's memory. A writer that only appends may let it
// stream: then all but its last piece goes to an unlinked temporary file as it is made, and the
// file is read back through a mapping whose pages its readers let go behind them.
class OutputSink {
public:
    explicit OutputSink(uint64_t cap = kMaxAllocation) : cap_(cap), heldCap_(cap) {}
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
        uint8_t* at = extendUnfilled(size);
        if (at)
            std::memset(at, 0, size);
        return at;
    }
    // The same for a writer that fills every one of the bytes at once: they are not cleared first
    // (a text writer's lines, which are nearly all of its file).
    uint8_t* extendUnfilled(size_t size)
    {
        if (overflowed_ || !bytes_ || size > capacity_ - size_)
            return grow(size);
        uint8_t* at = bytes_ + size_;
        size_ += size;
        return at;
    }
    bool append(const void* data, size_t size)
    {
        uint8_t* at = extendUnfilled(size);
        if (at && size > 0)
            std::memcpy(at, data, size);
        return at != nullptr;
    }
    // Empties the file; the memory stays for the next one, which is held whole again (streamUpTo
    // undone).
    void clear();

    // Lets the file grow to `cap` bytes holding no more than kStreamPiece of it in memory. Only for
    // writers that never go back over what they wrote: data() is then the whole file only once
    // the writer is done.
    void streamUpTo(uint64_t cap);
    static constexpr size_t kStreamPiece = size_t{16} << 20;

    bool overflowed() const { return overflowed_; }
    uint64_t cap() const { return cap_; }
    size_t size() const { return static_cast<size_t>(streamed_) + size_; }
    // Whether part of the file went to the temporary file.
    bool streamed() const { return spill_ >= 0; }
    // The whole file; for a streamed one, a read-only mapping made when first asked for (failing
    // to map it throws std::system_error, as failing to write it does), never written through.
    const uint8_t* data() const { return spill_ >= 0 ? mapped() : bytes_; }
    uint8_t* data() { return spill_ >= 0 ? const_cast<uint8_t*>(mapped()) : bytes_; }
    // Readers of a streamed file have passed its first `offset` bytes: their pages may go (they
    // come back from the file should they be read again). Nothing for a file held in memory.
    void releaseBefore(size_t offset) const;

private:
    uint8_t* grow(size_t size);
    void spillPiece();
    const uint8_t* mapped() const;
    void dropSpill();

    uint8_t* bytes_ = nullptr;  // malloc'd, so growing may move pages instead of copying them
    size_t size_ = 0;           // in memory
    size_t capacity_ = 0;       // never past the cap
    uint64_t cap_;
    uint64_t heldCap_;          // the cap of a file held whole
    bool overflowed_ = false;
    bool streams_ = false;      // streamUpTo was called
    int spill_ = -1;            // the temporary file, once a piece went there
    uint64_t streamed_ = 0;     // bytes in it
    mutable const uint8_t* map_ = nullptr;
    mutable size_t mapSize_ = 0;
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

}  // namespace qf
