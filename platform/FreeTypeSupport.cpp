#include "platform/FreeTypeSupport.h"

#include "platform/ByteReader.h"
#include "platform/CodePages.h"
#include "platform/FileLayer.h"

#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gdi::ft {

class FileBytes;

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

// No font file comes near this; anything larger is not read into memory.
constexpr size_t kMaxFontFile = size_t{1} << 30;

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

// ---- font files in memory ---------------------------------------------------------------------
//
// A face drawn from is read through memory. Mapping the file costs next to nothing, its pages being
// the page cache's, where reading a copy took a millisecond and more for a large face. A mapped file
// that shrinks under us would fault (SIGBUS) on a read past its new end: a handler of ours maps a
// page of zeros there instead and marks the mapping damaged, and fonts realised from a file that is
// no longer as it was mapped refuse to go on (FileBytes::changed). When every slot the handler
// looks through is taken, the file is read into memory instead, as a copy nothing can change.

namespace {

struct MappedRange {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> damaged{false};
    std::atomic<bool> taken{false};
};
constexpr size_t kMappedRanges = 256;
MappedRange g_mapped[kMappedRanges];
uintptr_t g_pageSize = 4096;
struct sigaction g_previousBusAction {};

extern "C" void onBusError(int signal, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (MappedRange& range : g_mapped) {
        const uintptr_t begin = range.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= range.end.load(std::memory_order_acquire))
            continue;
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            range.damaged.store(true, std::memory_order_release);
            return;  // the read is made again, and finds zeros
        }
    }
    // Not a font file of ours: whatever would have happened without us.
    if ((g_previousBusAction.sa_flags & SA_SIGINFO) && g_previousBusAction.sa_sigaction) {
        g_previousBusAction.sa_sigaction(signal, info, context);
    } else if (g_previousBusAction.sa_handler != SIG_DFL && g_previousBusAction.sa_handler != SIG_IGN &&
               g_previousBusAction.sa_handler) {
        g_previousBusAction.sa_handler(signal);
    } else {
        ::signal(SIGBUS, SIG_DFL);  // the faulting read is made again, and ends the program
    }
}

void installBusHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0)
            g_pageSize = static_cast<uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusAction);
    });
}

// A slot for the handler to find the mapping by; null when all are taken.
MappedRange* takeRange(const void* pages, size_t length)
{
    for (MappedRange& range : g_mapped) {
        bool expected = false;
        if (range.taken.compare_exchange_strong(expected, true)) {
            range.damaged.store(false);
            const auto begin = reinterpret_cast<uintptr_t>(pages);
            range.end.store(begin + length, std::memory_order_release);
            range.begin.store(begin, std::memory_order_release);
            return &range;
        }
    }
    return nullptr;
}

}  // namespace

// A font file's bytes: the file mapped, or a copy of it in pages of their own.
class FileBytes {
public:
    // The file as it is at this moment; null, with the reason, when it cannot be read, is empty or
    // is too large.
    static std::shared_ptr<const FileBytes> read(const std::string& file, std::string* why);

    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes()
    {
        if (range_) {
            range_->begin.store(0, std::memory_order_release);
            range_->end.store(0, std::memory_order_release);
        }
        if (pages_ != MAP_FAILED)
            ::munmap(pages_, capacity_);
        if (range_)
            range_->taken.store(false);
        if (fd_ >= 0)
            ::close(fd_);
    }
    const FT_Byte* data() const { return static_cast<const FT_Byte*>(pages_); }
    size_t size() const { return size_; }

    // True once the file is no longer what it was when mapped: a read past its end was caught, or
    // it was written since (its size, modification or change time differ). A file renamed over or
    // removed keeps its bytes as they were while mapped, so the change time its removal moves does
    // not count then. A copy never changes.
    bool changed() const
    {
        if (!range_)
            return false;
        struct stat now {};
        if (range_->damaged.load(std::memory_order_acquire) || ::fstat(fd_, &now) != 0)
            return true;
        const qf::FileStamp stamp = qf::stampOf(now);
        return stamp.size != stamp_.size || stamp.modifiedNs != stamp_.modifiedNs ||
               (stamp.changedNs != stamp_.changedNs && now.st_nlink > 0);
    }
    // The file as it was when read.
    const qf::FileStamp& stamp() const { return stamp_; }

private:
    bool map(int fd, const struct stat& info);
    bool copy(int fd, size_t sizeHint);
    bool reserve(size_t capacity)
    {
        void* pages = pages_ == MAP_FAILED
                          ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0)
                          : ::mremap(pages_, capacity_, capacity, MREMAP_MAYMOVE);
        if (pages == MAP_FAILED)
            return false;
        pages_ = pages;
        capacity_ = capacity;
        return true;
    }

    void* pages_ = MAP_FAILED;
    size_t capacity_ = 0;
    size_t size_ = 0;
    int fd_ = -1;                   // a mapped file's, for telling whether it changed
    qf::FileStamp stamp_;           // the file as it was when read
    MappedRange* range_ = nullptr;  // a mapped file's slot
};

bool FileBytes::map(int fd, const struct stat& info)
{
    installBusHandler();
    const auto length = static_cast<size_t>(info.st_size);
    void* pages = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (pages == MAP_FAILED)
        return false;
    range_ = takeRange(pages, length);
    if (!range_) {
        ::munmap(pages, length);
        return false;
    }
    pages_ = pages;
    capacity_ = size_ = length;
    fd_ = fd;
    return true;
}

bool FileBytes::copy(int fd, size_t sizeHint)
{
    // The size is only a hint: the file may change while it is read, and what read() gives counts.
    // One byte more than the size shows the end without growing the pages.
    if (!reserve(sizeHint + 1))
        return false;
    auto* at = static_cast<FT_Byte*>(pages_);
    for (;;) {
        if (size_ == capacity_) {
            if (capacity_ >= kMaxFontFile || !reserve(std::min(kMaxFontFile, capacity_ * 2)))
                return false;
            at = static_cast<FT_Byte*>(pages_);
        }
        const ssize_t n = ::read(fd, at + size_, capacity_ - size_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        size_ += static_cast<size_t>(n);
    }
    // Read-only from now on: faces of any thread read them, and nothing may write them.
    ::mprotect(pages_, capacity_, PROT_READ);
    return size_ > 0;
}

std::shared_ptr<const FileBytes> FileBytes::read(const std::string& file, std::string* why)
{
    auto fail = [&](const std::string& reason) -> std::shared_ptr<const FileBytes> {
        if (why)
            *why = reason;
        return nullptr;
    };
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail(std::string("its file cannot be opened: ") + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > kMaxFontFile) {
        ::close(fd);
        return fail(S_ISREG(info.st_mode) ? "its file is empty or too large" : "its file is not a regular file");
    }
    auto bytes = std::make_shared<FileBytes>();
    bytes->stamp_ = qf::stampOf(info);
    if (bytes->map(fd, info))
        return bytes;  // it keeps the descriptor
    const bool copied = bytes->copy(fd, static_cast<size_t>(info.st_size));
    ::close(fd);
    return copied ? bytes : fail("its file cannot be read");
}

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
    source->fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
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

std::string cutName(std::string name)
{
    if (name.size() > LF_FACESIZE - 1)
        name.resize(LF_FACESIZE - 1);
    return name;
}

// Whether bytes read from a listed face's file still hold that face, which the list names: an
// upgrade that rewrote the file keeps its family and style, a file replaced by another font does
// not. Empty when they do, else why not.
std::string checkAgainstList(const std::shared_ptr<const FileBytes>& bytes, const FaceInfo& listed)
{
    if (bytes->stamp() == listed.stamp)
        return {};
    const std::string changed = "its file changed since the list was read and ";
    FacePtr face = openBytes(bytes, listed.faceIndex);
    if (!face || !FT_IS_SCALABLE(face.get()))
        return changed + "no longer holds a face that can be drawn";
    const FaceNames names = readNames(face.get());
    const std::string family = cutName(names.family), style = cutName(names.style);
    if (family == listed.family && style == listed.style)
        return {};
    return changed + "now holds " + ansiToUtf8(family + (style.empty() ? "" : " " + style));
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
std::shared_ptr<const FileBytes> bytesLocked(const std::string& file, const FaceInfo* listed, std::string* why)
{
    auto& files = loadedFiles();
    LoadedFile& entry = files[file];
    std::shared_ptr<const FileBytes> bytes = entry.held ? entry.held : entry.bytes.lock();
    // Unless held, bytes read before serve only while the file at this path is still the one they
    // came from: written over, renamed over or removed since, it is read anew.
    if (bytes && !entry.held && (bytes->changed() || qf::stampOf(file) != std::optional(bytes->stamp())))
        bytes.reset();
    if (!bytes) {
        bytes = FileBytes::read(file, why);
        if (!bytes) {
            if (entry.holds == 0)
                files.erase(file);
            return nullptr;
        }
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
    const std::string mismatch = checkAgainstList(bytes, *listed);
    if (!mismatch.empty()) {
        if (why)
            *why = mismatch;
        return nullptr;
    }
    entry.matching.insert(key);
    return bytes;
}

std::shared_ptr<const FileBytes> faceBytes(const std::string& file, const FaceInfo* listed, std::string* why)
{
    std::lock_guard<std::mutex> lock(loadedMutex());
    return bytesLocked(file, listed, why);
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

std::shared_ptr<const FaceFileHold> holdFaceFile(const FaceInfo& face, std::string* why)
{
    std::lock_guard<std::mutex> lock(loadedMutex());
    auto bytes = bytesLocked(face.file, &face, why);
    if (!bytes)
        return nullptr;
    LoadedFile& entry = loadedFiles()[face.file];
    entry.held = std::move(bytes);
    ++entry.holds;
    return std::make_shared<FaceFileHold>(face.file);
}

bool sourceChanged(const FacePtr& face)
{
    const auto& source = face.get_deleter().source;
    return source && source->bytes && source->bytes->changed();
}

namespace {

const FileBytes* bytesOf(const FacePtr& face)
{
    const auto& source = face.get_deleter().source;
    return source ? source->bytes.get() : nullptr;
}

}  // namespace

std::shared_ptr<SharedFace> SharedFace::get(const std::string& file, int faceIndex, const FaceInfo* listed,
                                            std::string* why)
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
    std::shared_ptr<const FileBytes> bytes = faceBytes(file, listed, why);
    if (!bytes) {
        cache.open.erase(key);
        return nullptr;
    }
    std::shared_ptr<SharedFace> face = cache.open[key].lock();
    if (face && bytesOf(face->face_) != bytes.get())
        face.reset();
    if (!face) {
        FacePtr opened = openBytes(std::move(bytes), faceIndex);
        if (!opened) {
            if (why)
                *why = "FreeType cannot read the face from its file";
            cache.open.erase(key);
            return nullptr;
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

// ---- facts about a face ----------------------------------------------------------------------

namespace {

bool hasCharmap(FT_Face face, FT_Encoding encoding)
{
    for (int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->encoding == encoding)
            return true;
    return false;
}

// tmPitchAndFamily as GDI derives it for an sfnt face: the pitch bit (set for proportional faces)
// from the face's fixed-width flag and PANOSE proportion, the family from PANOSE (family kind, then
// serif style), with the OS/2 family class where PANOSE says nothing.
BYTE pitchAndFamilyOf(FT_Face face, const TT_OS2* os2)
{
    const bool haveOs2 = os2 && os2->version != 0xFFFF;
    const BYTE familyKind = haveOs2 ? os2->panose[0] : 0;
    const BYTE serifStyle = haveOs2 ? os2->panose[1] : 0;
    const BYTE proportion = haveOs2 ? os2->panose[3] : 0;
    constexpr BYTE kPanoseMonospaced = 9;

    BYTE bits = 0;
    if (!FT_IS_FIXED_WIDTH(face) && (!haveOs2 || proportion != kPanoseMonospaced))
        bits = TMPF_FIXED_PITCH;

    BYTE family = FF_DONTCARE;
    if (familyKind == 3) {
        family = FF_SCRIPT;
    } else if (familyKind == 4) {
        family = FF_DECORATIVE;
    } else if (bits == 0 || proportion == kPanoseMonospaced) {
        family = FF_MODERN;
    } else if (serifStyle >= 2 && serifStyle <= 10) {
        family = FF_ROMAN;
    } else if (serifStyle >= 11 && serifStyle <= 15) {
        family = FF_SWISS;
    } else if (haveOs2) {
        switch (static_cast<uint16_t>(os2->sFamilyClass) >> 8) {
        case 1: case 2: case 3: case 4: case 5: case 7: family = FF_ROMAN; break;
        case 8: family = FF_SWISS; break;
        case 9: case 12: family = FF_DECORATIVE; break;
        case 10: family = FF_SCRIPT; break;
        default: break;
        }
    }
    bits |= family;
    bits |= TMPF_VECTOR;
    // PostScript-flavoured OpenType is reported as a device font, TrueType outlines as TrueType.
    FT_ULong length = 0;
    const bool cff = FT_Load_Sfnt_Table(face, TTAG_CFF, 0, nullptr, &length) == 0 ||
                     FT_Load_Sfnt_Table(face, TTAG_CFF2, 0, nullptr, &length) == 0;
    bits |= cff ? TMPF_DEVICE : TMPF_TRUETYPE;
    return bits;
}

}  // namespace

DesignMetrics readDesignMetrics(FT_Face face)
{
    DesignMetrics m;
    m.unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
    const bool haveOs2 = os2 && os2->version != 0xFFFF;

    m.hheaAscender = hhea ? hhea->Ascender : face->ascender;
    m.hheaDescender = hhea ? hhea->Descender : face->descender;
    m.lineGap = hhea ? hhea->Line_Gap : 0;
    // Some fonts store usWinDescent as a negative signed value; GDI takes its magnitude.
    const int winAscent = haveOs2 ? os2->usWinAscent : 0;
    const int winDescent = haveOs2 ? std::abs(static_cast<int16_t>(os2->usWinDescent)) : 0;
    if (winAscent + winDescent == 0) {
        m.ascent = m.hheaAscender;
        m.descent = -m.hheaDescender;
    } else {
        m.ascent = winAscent;
        m.descent = winDescent;
    }
    if (haveOs2 && os2->xAvgCharWidth > 0)
        m.xAvgCharWidth = os2->xAvgCharWidth;
    else
        m.xAvgCharWidth = (hhea ? hhea->advance_Width_Max : face->max_advance_width) / 2;
    m.bboxWidth = static_cast<int>(face->bbox.xMax - face->bbox.xMin);

    int weight = haveOs2 ? os2->usWeightClass : 0;
    if (weight >= 1 && weight <= 9)
        weight *= 100;  // fonts made for the old 1-9 scale
    m.boldStyle = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    if (weight == 0)
        weight = m.boldStyle ? FW_BOLD : FW_NORMAL;
    m.weightClass = weight;
    m.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0 ||
               (haveOs2 && (os2->fsSelection & 0x0201) != 0);  // ITALIC or OBLIQUE
    m.pitchAndFamily = pitchAndFamilyOf(face, os2);
    m.symbol = hasCharmap(face, FT_ENCODING_MS_SYMBOL) &&
               ((haveOs2 && (os2->ulCodePageRange1 & 0x80000000u) != 0) ||
                !hasCharmap(face, FT_ENCODING_UNICODE));
    if (m.symbol) {
        FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL);
        int first = -1, last = -1;
        for (int c = 0; c < 256; ++c) {
            if (FT_Get_Char_Index(face, 0xF000u + c) != 0 || FT_Get_Char_Index(face, c) != 0) {
                if (first < 0)
                    first = c;
                last = c;
            }
        }
        if (first >= 0) {
            m.symbolFirst = first;
            m.symbolLast = last;
        }
    }
    m.underlineThickness = post && post->underlineThickness > 0 ? post->underlineThickness : m.unitsPerEm / 20;
    m.underlinePosition = post ? post->underlinePosition : -m.unitsPerEm / 10;
    if (haveOs2 && os2->yStrikeoutSize > 0) {
        m.strikeoutThickness = os2->yStrikeoutSize;
        m.strikeoutPosition = os2->yStrikeoutPosition;
    } else {
        m.strikeoutThickness = m.underlineThickness;
        m.strikeoutPosition = m.unitsPerEm / 4;
    }
    return m;
}

int reportedWeight(const DesignMetrics& m)
{
    // GDI believes the weight class only when it agrees with the face's own bold flag.
    constexpr int kMedium = 500;
    if (m.boldStyle)
        return m.weightClass > kMedium ? m.weightClass : FW_NORMAL;
    return m.weightClass <= kMedium ? m.weightClass : FW_NORMAL;
}

int64_t emScale(int64_t ppem, int unitsPerEm)
{
    const int64_t upem = unitsPerEm > 0 ? unitsPerEm : 2048;
    return (ppem * 65536 + upem / 2) / upem;
}

int64_t scaleRound(int64_t value, int64_t emScale16)
{
    const bool negative = (value < 0) != (emScale16 < 0);
    const int64_t magnitude = (std::llabs(value) * std::llabs(emScale16) + 0x8000) >> 16;
    return negative ? -magnitude : magnitude;
}

// ---- VDMX --------------------------------------------------------------------------------

bool vdmxLookup(const uint8_t* t, size_t size, int64_t height, VdmxEntry* entry)
{
    if (!t || size < 6 || height == 0)
        return false;
    // Offsets and counts come from the table: every field is read through a bounded reader.
    qf::ByteReader in(std::span<const uint8_t>(t, size));
    auto u16 = [&](size_t at) -> int { return in.holds(at, 2) ? static_cast<int>(in.seek(at).be16("VDMX")) : -1; };
    auto s16 = [&](size_t at) -> int { return static_cast<int16_t>(static_cast<uint16_t>(u16(at))); };
    auto u8 = [&](size_t at) { return static_cast<uint8_t>(in.seek(at).u8("VDMX")); };
    const int numRatios = u16(4);
    // Ratio records (bCharSet, xRatio, yStartRatio, yEndRatio) follow the header, then one 16-bit
    // group offset per ratio. GDI takes the first record for a 1:1 device (or the catch-all 0:0)
    // and passes over records for the "no subset" character set.
    long groupOffset = -1;
    for (int i = 0; i < numRatios; ++i) {
        const size_t at = 6 + 4 * static_cast<size_t>(i);
        if (at + 4 > size)
            return false;
        const uint8_t charset = u8(at), x = u8(at + 1), yStart = u8(at + 2), yEnd = u8(at + 3);
        if (charset == 0)
            continue;
        if ((x == 0 && yStart == 0 && yEnd == 0) || (x == 1 && yStart <= 1 && yEnd >= 1)) {
            groupOffset = u16(6 + 4 * static_cast<size_t>(numRatios) + 2 * static_cast<size_t>(i));
            break;
        }
    }
    if (groupOffset < 0)
        return false;
    const auto group = static_cast<size_t>(groupOffset);
    const int records = u16(group);
    if (records < 0 || group + 4 > size)
        return false;
    const int startSize = u8(group + 2), endSize = u8(group + 3);
    auto record = [&](int i, VdmxEntry* e) {
        const size_t at = group + 4 + 6 * static_cast<size_t>(i);
        if (at + 6 > size)
            return false;
        e->ppem = u16(at);
        e->yMax = s16(at + 2);
        e->yMin = s16(at + 4);
        return true;
    };
    VdmxEntry e;
    if (height > 0) {
        for (int i = 0; i < records; ++i) {
            if (!record(i, &e))
                return false;
            const int64_t cell = int64_t{e.yMax} - e.yMin;
            if (cell == height) {
                *entry = e;
                return true;
            }
            if (cell > height) {
                if (i == 0 || !record(i - 1, &e))
                    return false;
                *entry = e;
                return true;
            }
        }
        return false;
    }
    const int64_t ppem = -height;
    if (ppem < startSize || ppem > endSize)
        return false;
    for (int i = 0; i < records; ++i) {
        if (!record(i, &e) || e.ppem > ppem)
            return false;
        if (e.ppem == ppem) {
            *entry = e;
            return true;
        }
    }
    return false;
}

bool vdmxLookup(FT_Face face, int64_t height, VdmxEntry* entry)
{
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(face, TTAG_VDMX, 0, nullptr, &length) != 0 || length < 6 || length > (1u << 20))
        return false;
    std::vector<uint8_t> table(length);
    if (FT_Load_Sfnt_Table(face, TTAG_VDMX, 0, table.data(), &length) != 0)
        return false;
    return vdmxLookup(table.data(), table.size(), height, entry);
}

// ---- names -------------------------------------------------------------------------------

namespace {

// Decodes UTF-16 (from big-endian bytes) into code points; false on a broken surrogate pair.
bool decodeUtf16Be(const FT_Byte* bytes, FT_UInt length, std::u16string* out)
{
    if (length % 2 != 0)
        return false;
    out->clear();
    for (FT_UInt i = 0; i + 1 < length; i += 2)
        out->push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
    while (!out->empty() && out->back() == 0)
        out->pop_back();  // some fonts terminate their names
    return true;
}

std::u16string asciiToUtf16(const FT_Byte* bytes, FT_UInt length, bool* ascii)
{
    std::u16string text;
    *ascii = true;
    for (FT_UInt i = 0; i < length; ++i) {
        if (bytes[i] >= 0x80)
            *ascii = false;
        text.push_back(bytes[i]);
    }
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

}  // namespace

FaceNames readNames(FT_Face face)
{
    // Rank of a name record: 0 Microsoft US English, 1 Microsoft other English, 2 Unicode platform
    // or Macintosh English (ASCII only), 3 Microsoft other languages. Lower is better.
    struct Best {
        int rank = 99;
        std::u16string text;
    };
    Best best[7];
    const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt i = 0; i < count; ++i) {
        FT_SfntName name;
        if (FT_Get_Sfnt_Name(face, i, &name) != 0)
            continue;
        if (name.name_id != TT_NAME_ID_FONT_FAMILY && name.name_id != TT_NAME_ID_FONT_SUBFAMILY &&
            name.name_id != TT_NAME_ID_FULL_NAME)
            continue;
        int rank = 99;
        std::u16string text;
        if (name.platform_id == TT_PLATFORM_MICROSOFT &&
            (name.encoding_id == TT_MS_ID_UNICODE_CS || name.encoding_id == TT_MS_ID_UCS_4 ||
             name.encoding_id == TT_MS_ID_SYMBOL_CS)) {
            if (!decodeUtf16Be(name.string, name.string_len, &text))
                continue;
            if (name.language_id == 0x0409)
                rank = 0;
            else if ((name.language_id & 0x3FF) == 0x09)
                rank = 1;
            else
                rank = 3;
        } else if (name.platform_id == TT_PLATFORM_APPLE_UNICODE) {
            if (!decodeUtf16Be(name.string, name.string_len, &text))
                continue;
            rank = 2;
        } else if (name.platform_id == TT_PLATFORM_MACINTOSH && name.encoding_id == TT_MAC_ID_ROMAN &&
                   name.language_id == TT_MAC_LANGID_ENGLISH) {
            bool ascii = false;
            text = asciiToUtf16(name.string, name.string_len, &ascii);
            if (!ascii)
                continue;
            rank = 2;
        } else {
            continue;
        }
        if (text.empty())
            continue;
        Best& slot = best[name.name_id];
        if (rank < slot.rank) {
            slot.rank = rank;
            slot.text = std::move(text);
        }
    }

    FaceNames names;
    const char* ps = FT_Get_Postscript_Name(face);
    names.postscriptName = ps ? ps : "";
    // A name that cp1252 cannot hold, or that the face lacks, becomes the PostScript name; FreeType's
    // own names (and finally a neutral word) stand in for faces without a PostScript name either.
    auto take = [&](int id, const char* freetypeName, const char* lastResort) {
        std::string bytes;
        if (best[id].rank < 99 && utf16ToCp1252(best[id].text, &bytes) && !bytes.empty())
            return bytes;
        if (!names.postscriptName.empty())
            return names.postscriptName;
        bytes.clear();
        for (const char* p = freetypeName; p && *p; ++p)
            bytes.push_back((*p >= 0x20 && *p < 0x7F) ? *p : '?');
        return bytes.empty() ? std::string(lastResort) : bytes;
    };
    names.family = take(TT_NAME_ID_FONT_FAMILY, face->family_name, "Unnamed");
    names.style = take(TT_NAME_ID_FONT_SUBFAMILY, face->style_name, "Regular");
    names.fullName = take(TT_NAME_ID_FULL_NAME, face->family_name, "Unnamed");
    return names;
}

// ---- character sets ------------------------------------------------------------------------

namespace {

// Characters a face without code page ranges must have to be taken as covering a character set's
// page; which bit of the ranges stands for the set is the code page table's (charsetSignatureBit).
struct CharsetProbes {
    int charset;
    char32_t probes[4];
};

constexpr CharsetProbes kCharsetProbes[] = {
    {ANSI_CHARSET, {U'A', U'a', 0x00E9, 0}},
    {EASTEUROPE_CHARSET, {0x0150, 0x0151, 0x0165, 0}},
    {RUSSIAN_CHARSET, {0x0416, 0x0436, 0x0451, 0}},
    {GREEK_CHARSET, {0x0391, 0x03A9, 0x03C9, 0}},
    {TURKISH_CHARSET, {0x011E, 0x0130, 0x015F, 0}},
    {HEBREW_CHARSET, {0x05D0, 0x05EA, 0, 0}},
    {ARABIC_CHARSET, {0x0627, 0x0639, 0, 0}},
    {BALTIC_CHARSET, {0x0100, 0x0116, 0x0173, 0}},
    {VIETNAMESE_CHARSET, {0x01A0, 0x01AF, 0x20AB, 0}},
    {THAI_CHARSET, {0x0E01, 0x0E3F, 0, 0}},
};
// Box-drawing and shading characters stand for the MS-DOS pages.
constexpr char32_t kOemProbes[] = {0x2500, 0x2502, 0x2591, 0x2588};

bool hasAll(FT_Face face, const char32_t* probes, size_t n)
{
    for (size_t i = 0; i < n && probes[i] != 0; ++i)
        if (FT_Get_Char_Index(face, probes[i]) == 0)
            return false;
    return true;
}

}  // namespace

std::array<uint32_t, 2> codePageRanges(FT_Face face)
{
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (!os2 || os2->version == 0xFFFF || os2->version < 1)
        return {0, 0};
    return {static_cast<uint32_t>(os2->ulCodePageRange1), static_cast<uint32_t>(os2->ulCodePageRange2)};
}

std::vector<int> faceCharsets(FT_Face face, bool symbol)
{
    std::set<int> sets;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool haveRanges = os2 && os2->version != 0xFFFF && os2->version >= 1 &&
                            (os2->ulCodePageRange1 != 0 || os2->ulCodePageRange2 != 0);
    if (haveRanges) {
        for (const CharsetProbes& p : kCharsetProbes)
            if (os2->ulCodePageRange1 & (1u << charsetSignatureBit(static_cast<unsigned>(p.charset))))
                sets.insert(p.charset);
        // Bits 48 to 63 of the 64-bit range are the MS-DOS code pages (437, 850, 852, 866, ...).
        if (os2->ulCodePageRange2 & 0xFFFF0000u)
            sets.insert(OEM_CHARSET);
    } else if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0) {
        for (const CharsetProbes& p : kCharsetProbes)
            if (hasAll(face, p.probes, 4))
                sets.insert(p.charset);
        if (hasAll(face, kOemProbes, 4))
            sets.insert(OEM_CHARSET);
    }
    // The symbol set (code page bit 31) only where the face has the symbol cmap to draw it with.
    if (symbol)
        sets.insert(SYMBOL_CHARSET);
    if (sets.empty())
        sets.insert(symbol ? SYMBOL_CHARSET : ANSI_CHARSET);  // listed all the same, as Western
    return std::vector<int>(sets.begin(), sets.end());
}

namespace {

constexpr uint8_t foldByte(uint8_t c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<uint8_t>(c - 'a' + 'A');
    // cp1252 letters: à..þ (not ÷) fold to À..Þ; š, œ, ž, ÿ to Š, Œ, Ž, Ÿ.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<uint8_t>(c - 0x20);
    switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
    }
}

// The folding as a table: sorting and finding a thousand families compares names tens of
// thousands of times.
struct FoldTable {
    uint8_t to[256];
    constexpr FoldTable() : to()
    {
        for (int c = 0; c < 256; ++c)
            to[c] = foldByte(static_cast<uint8_t>(c));
    }
};
constexpr FoldTable kFold;

}  // namespace

int compareNames(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint8_t x = kFold.to[static_cast<uint8_t>(a[i])];
        const uint8_t y = kFold.to[static_cast<uint8_t>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return 0;
}

bool sameName(std::string_view a, std::string_view b) { return compareNames(a, b) == 0; }

// ---- fontconfig ----------------------------------------------------------------------------

namespace {

std::vector<std::string> substitutedFamilies(const std::string& utf8Family, bool withFamily)
{
    std::vector<std::string> families;
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern)
        return families;
    if (withFamily)
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8Family.c_str()));
    if (!FcConfigSubstitute(fontconfig(), pattern.get(), FcMatchPattern))
        return families;
    FcChar8* value = nullptr;
    for (int i = 0; FcPatternGetString(pattern.get(), FC_FAMILY, i, &value) == FcResultMatch; ++i)
        families.emplace_back(reinterpret_cast<const char*>(value));
    return families;
}

// Every family fontconfig appends as a generic fallback, whatever the name asked for.
const std::set<std::string>& genericFamilies()
{
    static const std::set<std::string> generic = [] {
        std::set<std::string> all;
        for (const char* g : {"sans-serif", "serif", "monospace"})
            for (auto& f : substitutedFamilies(g, true))
                all.insert(f);
        for (auto& f : substitutedFamilies("", false))
            all.insert(f);
        return all;
    }();
    return generic;
}

}  // namespace

namespace {

bool listsCacheFolder(FcConfig* config)
{
    FcStrList* folders = FcConfigGetCacheDirs(config);
    if (!folders)
        return false;
    const bool any = FcStrListNext(folders) != nullptr;
    FcStrListDone(folders);
    return any;
}

// FcInit would also parse every file of fontconfig's template folder (conf.avail), only to
// describe them to fc-conflist: most of its start-up on a small configuration. The files in force
// are parsed and the fonts built as FcInit does.
FcConfigPtr parseConfiguration(const FcChar8* file)
{
    FcConfigPtr config(FcConfigCreate());
    if (!config || !FcConfigParseAndLoad(config.get(), file, FcTrue) || !listsCacheFolder(config.get()) ||
        !FcConfigBuildFonts(config.get()))
        return nullptr;
    return config;
}

FcConfig* loadConfiguration()
{
    if (FcConfigPtr config = parseConfiguration(nullptr))
        return config.release();
    // Anything unusual (no configuration file, no cache folder) is left to FcInit and its fallbacks.
    if (!FcInit())
        return nullptr;
    return FcConfigReference(nullptr);
}

}  // namespace

FcConfigPtr loadFontconfig(const std::string& file)
{
    return parseConfiguration(reinterpret_cast<const FcChar8*>(file.c_str()));
}

FcConfig* fontconfig()
{
    static FcConfig* const config = loadConfiguration();  // lives until the process ends
    return config;
}

bool fontconfigReady() { return fontconfig() != nullptr; }

std::vector<std::string> fontconfigAliases(const std::string& family)
{
    if (!fontconfigReady())
        return {};
    // Realising a font asks for the same few names again and again (the default faces above all);
    // fontconfig's configuration does not change while we run, so its answers are kept.
    static std::mutex mutex;
    static std::map<std::string, std::vector<std::string>> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = known.find(family); it != known.end())
        return it->second;
    std::vector<std::string> aliases;
    const std::string utf8 = ansiToUtf8(family);
    const auto& generic = genericFamilies();
    for (const std::string& f : substitutedFamilies(utf8, true)) {
        std::string bytes;
        if (generic.count(f) || !utf8ToCp1252(f, &bytes) || sameName(bytes, family))
            continue;
        if (std::find(aliases.begin(), aliases.end(), bytes) == aliases.end())
            aliases.push_back(bytes);
    }
    if (known.size() < 1024)
        known.emplace(family, aliases);
    return aliases;
}

std::string fontconfigMatch(const std::string& family)
{
    if (!fontconfigReady())
        return {};
    static std::mutex mutex;
    static std::map<std::string, std::string> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = known.find(family); it != known.end())
        return it->second;
    std::string bytes;
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern)
        return {};
    const std::string utf8 = ansiToUtf8(family);
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.c_str()));
    FcConfigSubstitute(fontconfig(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FcPatternPtr match(FcFontMatch(fontconfig(), pattern.get(), &result));
    FcChar8* value = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FAMILY, 0, &value) != FcResultMatch ||
        !utf8ToCp1252(reinterpret_cast<const char*>(value), &bytes))
        bytes.clear();
    if (known.size() < 1024)
        known.emplace(family, bytes);
    return bytes;
}

}  // namespace gdi::ft
