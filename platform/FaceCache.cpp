#include "platform/FaceCache.h"

#include "platform/FreeTypeSupport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gdi {

namespace {

constexpr char kMagic[8] = {'Q', 'F', 'F', 'A', 'C', 'E', 'S', '\n'};

#if defined(__x86_64__) && defined(__GLIBCXX__)
// A tripwire: a field added to FaceInfo must also be written and read below (and kFormat raised),
// or faces from the cache would come without it.
static_assert(sizeof(FaceInfo) == 224, "FaceInfo changed: update the face cache's records and kFormat");
#endif
// Bounds on what a record may hold, so a damaged file cannot make us allocate without limit.
constexpr uint32_t kMaxText = 1 << 16;
constexpr uint32_t kMaxCharsets = 256;
constexpr uint32_t kMaxRecords = 1 << 20;
constexpr size_t kMaxFile = size_t{256} << 20;

// What the records were read with: the format, and FreeType's version, whose answers (names,
// style flags, tables) the records hold.
uint32_t readerVersion()
{
    FT_Int major = 0, minor = 0, patch = 0;
    if (FT_Library library = ft::library())
        FT_Library_Version(library, &major, &minor, &patch);
    return static_cast<uint32_t>((major & 0xFF) << 16 | (minor & 0xFF) << 8 | (patch & 0xFF));
}

uint64_t fnv1a(const uint8_t* data, size_t size)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 0x100000001b3ull;
    return hash;
}

class Writer {
public:
    void bytes(const void* data, size_t size)
    {
        const auto* p = static_cast<const uint8_t*>(data);
        out.insert(out.end(), p, p + size);
    }
    template <typename T>
    void number(T value)
    {
        static_assert(std::is_integral_v<T>);
        for (size_t i = 0; i < sizeof(T); ++i)
            out.push_back(static_cast<uint8_t>(static_cast<std::make_unsigned_t<T>>(value) >> (8 * i)));
    }
    void text(const std::string& s)
    {
        number(static_cast<uint32_t>(s.size()));
        bytes(s.data(), s.size());
    }
    std::vector<uint8_t> out;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return p_ == end_; }
    template <typename T>
    T number()
    {
        static_assert(std::is_integral_v<T>);
        if (static_cast<size_t>(end_ - p_) < sizeof(T)) {
            ok_ = false;
            return 0;
        }
        std::make_unsigned_t<T> v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= static_cast<std::make_unsigned_t<T>>(static_cast<std::make_unsigned_t<T>>(p_[i]) << (8 * i));
        p_ += sizeof(T);
        return static_cast<T>(v);
    }
    std::string text()
    {
        const auto n = number<uint32_t>();
        if (!ok_ || n > kMaxText || static_cast<size_t>(end_ - p_) < n) {
            ok_ = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool ok_ = true;
};

bool readAll(const std::string& path, std::vector<uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) <= kMaxFile;
    if (ok) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            if (ok)
                done += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    return ok;
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Creates the folder that will hold `path`, and its parent, as far as they are missing.
void makeFolderFor(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST)
        return;
    if (errno == ENOENT) {
        makeFolderFor(folder);
        ::mkdir(folder.c_str(), 0755);
    }
}

}  // namespace

std::optional<FileStamp> stampOf(const std::string& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    FileStamp stamp;
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.modifiedNs = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    stamp.inode = static_cast<uint64_t>(info.st_ino);
    stamp.device = static_cast<uint64_t>(info.st_dev);
    return stamp;
}

std::string FaceCache::key(const std::string& file, int faceIndex)
{
    return file + '\n' + std::to_string(faceIndex);
}

FaceCache::FaceCache(std::string path) : path_(std::move(path))
{
    std::vector<uint8_t> bytes;
    if (path_.empty() || !readAll(path_, bytes) || bytes.size() < sizeof kMagic + 8 + 8 ||
        std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return;
    const size_t body = bytes.size() - 8;
    Reader check(bytes.data() + body, 8);
    if (check.number<uint64_t>() != fnv1a(bytes.data(), body))
        return;  // damaged or cut short: read the faces again
    Reader in(bytes.data() + sizeof kMagic, body - sizeof kMagic);
    if (in.number<uint32_t>() != kFormat || in.number<uint32_t>() != readerVersion())
        return;
    const auto count = in.number<uint32_t>();
    if (!in.ok() || count > kMaxRecords)
        return;
    std::unordered_map<std::string, Record> records;
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        const std::string file = in.text();
        const auto index = in.number<int32_t>();
        Record r;
        r.stamp.size = in.number<uint64_t>();
        r.stamp.modifiedNs = in.number<int64_t>();
        r.stamp.inode = in.number<uint64_t>();
        r.stamp.device = in.number<uint64_t>();
        if (in.number<uint8_t>() != 0) {
            FaceInfo f;
            f.family = in.text();
            f.style = in.text();
            f.fullName = in.text();
            f.postscriptName = in.text();
            f.file = file;
            f.faceIndex = index;
            f.weight = in.number<int32_t>();
            f.italic = in.number<uint8_t>() != 0;
            f.symbol = in.number<uint8_t>() != 0;
            const auto charsets = in.number<uint32_t>();
            if (charsets > kMaxCharsets)
                return;
            for (uint32_t k = 0; k < charsets && in.ok(); ++k)
                f.charsets.push_back(in.number<int32_t>());
            f.codePageRanges[0] = in.number<uint32_t>();
            f.codePageRanges[1] = in.number<uint32_t>();
            f.enumWeight = in.number<int32_t>();
            f.pitchAndFamily = in.number<int32_t>();
            f.enumHeight = in.number<int32_t>();
            f.enumAveWidth = in.number<int32_t>();
            r.face = std::move(f);
        }
        records[key(file, index)] = std::move(r);
    }
    if (in.ok() && in.atEnd())
        records_ = std::move(records);
}

const std::optional<FaceInfo>* FaceCache::find(const std::string& file, int faceIndex, const FileStamp& stamp)
{
    const auto it = records_.find(key(file, faceIndex));
    if (it == records_.end() || it->second.stamp != stamp)
        return nullptr;
    it->second.used = true;
    return &it->second.face;
}

void FaceCache::store(const std::string& file, int faceIndex, const FileStamp& stamp, std::optional<FaceInfo> face)
{
    if (path_.empty())
        return;
    Record& r = records_[key(file, faceIndex)];
    r.stamp = stamp;
    r.face = std::move(face);
    r.used = true;
    changed_ = true;
}

void FaceCache::save()
{
    if (path_.empty() || !changed_)
        return;
    changed_ = false;
    // Records of faces this run did not list (another configuration's, say) stay while their
    // files are as they were.
    std::vector<const std::pair<const std::string, Record>*> kept;
    for (const auto& entry : records_) {
        if (!entry.second.used) {
            const std::string file = entry.first.substr(0, entry.first.rfind('\n'));
            const auto stamp = stampOf(file);
            if (!stamp || *stamp != entry.second.stamp)
                continue;
        }
        kept.push_back(&entry);
    }
    // In a fixed order, so the same records always make the same file.
    std::sort(kept.begin(), kept.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    Writer out;
    out.bytes(kMagic, sizeof kMagic);
    out.number(kFormat);
    out.number(readerVersion());
    out.number(static_cast<uint32_t>(kept.size()));
    for (const auto* entry : kept) {
        const size_t newline = entry->first.rfind('\n');
        out.text(entry->first.substr(0, newline));
        out.number(static_cast<int32_t>(std::stol(entry->first.substr(newline + 1))));
        const Record& r = entry->second;
        out.number(r.stamp.size);
        out.number(r.stamp.modifiedNs);
        out.number(r.stamp.inode);
        out.number(r.stamp.device);
        out.number(static_cast<uint8_t>(r.face ? 1 : 0));
        if (!r.face)
            continue;
        const FaceInfo& f = *r.face;
        out.text(f.family);
        out.text(f.style);
        out.text(f.fullName);
        out.text(f.postscriptName);
        out.number(static_cast<int32_t>(f.weight));
        out.number(static_cast<uint8_t>(f.italic));
        out.number(static_cast<uint8_t>(f.symbol));
        out.number(static_cast<uint32_t>(f.charsets.size()));
        for (const int cs : f.charsets)
            out.number(static_cast<int32_t>(cs));
        out.number(static_cast<uint32_t>(f.codePageRanges[0]));
        out.number(static_cast<uint32_t>(f.codePageRanges[1]));
        out.number(static_cast<int32_t>(f.enumWeight));
        out.number(static_cast<int32_t>(f.pitchAndFamily));
        out.number(static_cast<int32_t>(f.enumHeight));
        out.number(static_cast<int32_t>(f.enumAveWidth));
    }
    out.number(fnv1a(out.out.data(), out.out.size()));

    makeFolderFor(path_);
    // Named for this process and this save, so two writers never share a temporary file.
    static std::atomic<unsigned> saves{0};
    const std::string temporary =
        path_ + "." + std::to_string(::getpid()) + "-" + std::to_string(saves.fetch_add(1)) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // No flush to disk: a cache cut short by a crash fails its checksum and is read again.
    const bool written = writeAll(fd, out.out);
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path_.c_str()) != 0)
        ::unlink(temporary.c_str());
}

}  // namespace gdi
