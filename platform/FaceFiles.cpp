#include "platform/FaceFiles.h"

#include "platform/CodePages.h"
#include "platform/FaceNames.h"
#include "platform/FileLayer.h"
#include "platform/FontFileBytes.h"
#include "platform/gdi.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gdi::ft {

struct FaceSource {
    std::shared_ptr<const FileBytes> bytes;  // the whole file, for a face read from memory
    int fd = -1;                 // or the open file a stream face reads through
    FT_StreamRec stream{};

    // The last few blocks a stream face read: FreeType reads a face's tables in dozens of small
    // pieces, most of them near one another, and each would otherwise be a system call.
    static constexpr unsigned long kBlock = 16384;
    struct Block {
        unsigned long start = 0;
        unsigned long size = 0;  // bytes read; fewer than kBlock at the end of the file
        std::unique_ptr<unsigned char[]> bytes;
    };
    std::array<Block, 4> blocks;
    size_t nextBlock = 0;  // the one replaced next

    FaceSource() = default;
    FaceSource(const FaceSource&) = delete;
    FaceSource& operator=(const FaceSource&) = delete;
    ~FaceSource()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

void FaceDeleter::operator()(FT_Face face)
{
    {
        std::lock_guard<std::mutex> lock(libraryMutex());
        FT_Done_Face(face);
    }
    // Only now that FreeType is done with the face may its bytes or its descriptor go.
    source.reset();
}

void SizeDeleter::operator()(FT_Size size) const { FT_Done_Size(size); }

namespace {

unsigned long preadFully(int fd, unsigned long offset, unsigned char* buffer, unsigned long count)
{
    unsigned long done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<unsigned long>(n);
    }
    return done;
}

// FreeType's stream reader over pread, small reads served from whole blocks. A count of 0 is a
// seek, which succeeds (0) when the position lies within the file or just past it. Fewer bytes
// than asked for (the file shrank) make FreeType fail the operation.
unsigned long readAt(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count)
{
    if (count == 0)
        return offset <= stream->size ? 0 : 1;
    auto& source = *static_cast<FaceSource*>(stream->descriptor.pointer);
    if (count > FaceSource::kBlock)
        return preadFully(source.fd, offset, buffer, count);
    unsigned long done = 0;
    while (done < count) {
        const unsigned long at = offset + done;
        const unsigned long start = at - at % FaceSource::kBlock;
        FaceSource::Block* block = nullptr;
        for (FaceSource::Block& b : source.blocks)
            if (b.bytes && b.start == start)
                block = &b;
        if (!block) {
            block = &source.blocks[source.nextBlock];
            source.nextBlock = (source.nextBlock + 1) % source.blocks.size();
            if (!block->bytes)
                block->bytes.reset(new (std::nothrow) unsigned char[FaceSource::kBlock]);
            if (!block->bytes)
                return done + preadFully(source.fd, at, buffer + done, count - done);
            block->start = start;
            block->size = preadFully(source.fd, start, block->bytes.get(), FaceSource::kBlock);
        }
        if (at - start >= block->size)
            break;  // past the end of the file as it is now
        const unsigned long n = std::min(count - done, block->size - (at - start));
        std::memcpy(buffer + done, block->bytes.get() + (at - start), n);
        done += n;
    }
    return done;
}

}  // namespace

namespace {

FacePtr openFrom(std::shared_ptr<FaceSource> source, const FT_Open_Args& args, int faceIndex)
{
    FT_Library lib = library();
    if (!lib)
        return nullptr;
    FT_Face face = nullptr;
    std::lock_guard<std::mutex> lock(libraryMutex());
    if (FT_Open_Face(lib, &args, faceIndex, &face) != 0)
        return nullptr;
    return FacePtr(face, FaceDeleter{std::move(source)});
}

}  // namespace

FacePtr openFace(const std::string& file, int faceIndex)
{
    auto source = std::make_shared<FaceSource>();
    // Not waiting on a FIFO or device put where a font file was listed: it is refused just below.
    source->fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (source->fd < 0 || ::fstat(source->fd, &info) != 0 || !S_ISREG(info.st_mode))
        return nullptr;
    source->stream.size = static_cast<unsigned long>(info.st_size);
    source->stream.descriptor.pointer = source.get();
    source->stream.read = readAt;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &source->stream;
    return openFrom(std::move(source), args, faceIndex);
}

namespace {

FacePtr openBytes(std::shared_ptr<const FileBytes> bytes, int faceIndex)
{
    auto source = std::make_shared<FaceSource>();
    source->bytes = std::move(bytes);
    FT_Open_Args args{};
    args.flags = FT_OPEN_MEMORY;
    args.memory_base = source->bytes->data();
    args.memory_size = static_cast<FT_Long>(source->bytes->size());
    return openFrom(std::move(source), args, faceIndex);
}

// Whether bytes read from a listed face's file still hold that face, which the list names: an
// upgrade that rewrote the file keeps its family and style, a file replaced by another font does
// not. A failure saying why not.
qf::Status checkAgainstList(const std::shared_ptr<const FileBytes>& bytes, const FaceInfo& listed)
{
    if (bytes->stamp() == listed.stamp)
        return qf::Status();
    const std::string changed = "its file changed since the list was read and ";
    FacePtr face = openBytes(bytes, listed.faceIndex);
    if (!face || !FT_IS_SCALABLE(face.get()))
        return qf::Failure{changed + "no longer holds a face that can be drawn", listed.file};
    const FaceNames names = readNames(face.get());
    const std::string family = cutName(names.family), style = cutName(names.style);
    if (family == listed.family && style == listed.style)
        return qf::Status();
    return qf::Failure{changed + "now holds " + ansiToUtf8(family + (style.empty() ? "" : " " + style)), listed.file};
}

// A font file's bytes as fonts draw from them, shared by the faces of every thread: while any
// hold lasts the bytes held, else the bytes last read while the file is as they were.
struct LoadedFile {
    std::weak_ptr<const FileBytes> bytes;
    std::shared_ptr<const FileBytes> held;
    int holds = 0;
    std::set<std::string> matching;  // listed faces (index, family, style) these bytes were found to hold
};

std::mutex& loadedMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::map<std::string, LoadedFile>& loadedFiles()
{
    static auto* files = new std::map<std::string, LoadedFile>;
    return *files;
}

// Called with loadedMutex() held.
qf::Result<std::shared_ptr<const FileBytes>> bytesLocked(const std::string& file, const FaceInfo* listed)
{
    auto& files = loadedFiles();
    LoadedFile& entry = files[file];
    std::shared_ptr<const FileBytes> bytes = entry.held ? entry.held : entry.bytes.lock();
    // Unless held, bytes read before serve only while the file at this path is still the one they
    // came from: written over, renamed over or removed since, it is read anew.
    if (bytes && !entry.held && (bytes->changed() || qf::stampOf(file) != std::optional(bytes->stamp())))
        bytes.reset();
    if (!bytes) {
        auto read = FileBytes::read(file);
        if (!read) {
            if (entry.holds == 0)
                files.erase(file);
            return read.failure();
        }
        bytes = std::move(*read);
        entry.bytes = bytes;
        entry.matching.clear();
    }
    for (auto it = files.begin(); it != files.end();)
        it = it->second.holds == 0 && it->second.bytes.expired() && it->first != file ? files.erase(it) : std::next(it);
    if (!listed)
        return bytes;
    const std::string key = std::to_string(listed->faceIndex) + '\0' + listed->family + '\0' + listed->style;
    if (entry.matching.count(key))
        return bytes;
    if (const qf::Status same = checkAgainstList(bytes, *listed); !same)
        return same.failure();
    entry.matching.insert(key);
    return bytes;
}

qf::Result<std::shared_ptr<const FileBytes>> faceBytes(const std::string& file, const FaceInfo* listed)
{
    std::lock_guard<std::mutex> lock(loadedMutex());
    return bytesLocked(file, listed);
}

}  // namespace

class FaceFileHold {
public:
    explicit FaceFileHold(std::string file) : file_(std::move(file)) {}
    FaceFileHold(const FaceFileHold&) = delete;
    FaceFileHold& operator=(const FaceFileHold&) = delete;
    ~FaceFileHold()
    {
        std::lock_guard<std::mutex> lock(loadedMutex());
        auto it = loadedFiles().find(file_);
        if (it != loadedFiles().end() && --it->second.holds == 0)
            it->second.held.reset();
    }

private:
    std::string file_;
};

qf::Result<std::shared_ptr<const FaceFileHold>> holdFaceFile(const FaceInfo& face)
{
    std::lock_guard<std::mutex> lock(loadedMutex());
    auto bytes = bytesLocked(face.file, &face);
    if (!bytes)
        return bytes.failure();
    LoadedFile& entry = loadedFiles()[face.file];
    entry.held = std::move(*bytes);
    ++entry.holds;
    return std::shared_ptr<const FaceFileHold>(std::make_shared<FaceFileHold>(face.file));
}

std::string sourceChange(const FacePtr& face)
{
    const auto& source = face.get_deleter().source;
    return source && source->bytes ? source->bytes->change() : std::string();
}

namespace {

const FileBytes* bytesOf(const FacePtr& face)
{
    const auto& source = face.get_deleter().source;
    return source ? source->bytes.get() : nullptr;
}

}  // namespace

qf::Result<std::shared_ptr<SharedFace>> SharedFace::get(const std::string& file, int faceIndex,
                                                        const FaceInfo* listed)
{
    // One cache per thread: FreeType faces are not to be shared between threads, so a font
    // realised on a worker thread draws with that thread's face. The file's bytes in memory are
    // shared all the same (faceBytes), as FreeType only reads them.
    struct Cache {
        std::map<std::pair<std::string, int>, std::weak_ptr<SharedFace>> open;
        std::deque<std::shared_ptr<SharedFace>> recent;
    };
    thread_local Cache cache;
    constexpr size_t kRecent = 8;

    const auto key = std::make_pair(file, faceIndex);
    // The bytes fonts draw from now (those held for a run, or the file as it is): a face opened
    // from other bytes before is not used again.
    qf::Result<std::shared_ptr<const FileBytes>> read = faceBytes(file, listed);
    if (!read) {
        cache.open.erase(key);
        return read.failure();
    }
    std::shared_ptr<const FileBytes> bytes = std::move(*read);
    std::shared_ptr<SharedFace> face = cache.open[key].lock();
    if (face && bytesOf(face->face_) != bytes.get())
        face.reset();
    if (!face) {
        FacePtr opened = openBytes(std::move(bytes), faceIndex);
        if (!opened) {
            cache.open.erase(key);
            return qf::Failure{"FreeType cannot read the face from its file", file};
        }
        face = std::make_shared<SharedFace>(std::move(opened));
        cache.open[key] = face;
    }
    auto it = std::find(cache.recent.begin(), cache.recent.end(), face);
    if (it != cache.recent.end())
        cache.recent.erase(it);
    cache.recent.push_front(face);
    if (cache.recent.size() > kRecent)
        cache.recent.pop_back();
    for (auto entry = cache.open.begin(); entry != cache.open.end();) {
        if (entry->second.expired())
            entry = cache.open.erase(entry);
        else
            ++entry;
    }
    return face;
}

}  // namespace gdi::ft
