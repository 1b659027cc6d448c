#include "platform/FaceCache.h"

#include "platform/ByteReader.h"
#include "platform/FileLayer.h"
#include "platform/FreeTypeLibrary.h"
#include "platform/Prefault.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <tuple>
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
static_assert(sizeof(FaceInfo) == 264, "FaceInfo changed: update the face cache's records and kFormat");
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

// A check of the whole file against damage (not against tampering): FNV-1a over 64-bit words, with
// a fold after each so every bit of a word reaches the result; a byte at a time only at the end.
uint64_t checksum(const uint8_t* data, size_t size)
{
    constexpr uint64_t kPrime = 0x100000001b3ull;
    uint64_t hash = 0xcbf29ce484222325ull;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        hash = (hash ^ word) * kPrime;
        hash ^= hash >> 32;
    }
    for (; i < size; ++i)
        hash = (hash ^ data[i]) * kPrime;
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

// The cache's fields, little-endian, through the byte reader the format readers use: a read past
// the end of the bytes gives zero and leaves the reader failed.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : in_(std::span<const uint8_t>(data, size)) {}
    bool ok() const { return !tooLong_ && in_.ok(); }
    bool atEnd() const { return in_.remaining() == 0; }
    template <typename T>
    T number()
    {
        static_assert(std::is_integral_v<T> && (sizeof(T) == 1 || sizeof(T) == 4 || sizeof(T) == 8));
        if constexpr (sizeof(T) == 1)
            return static_cast<T>(in_.u8("face cache field"));
        else if constexpr (sizeof(T) == 4)
            return static_cast<T>(in_.le32("face cache field"));
        else
            return static_cast<T>(in_.le64("face cache field"));
    }
    // A length-prefixed text, seen where it lies.
    std::string_view view()
    {
        const auto n = number<uint32_t>();
        if (!ok() || n > kMaxText) {
            tooLong_ = true;
            return {};
        }
        const std::span<const uint8_t> text = in_.bytes("face cache text", n);
        return std::string_view(reinterpret_cast<const char*>(text.data()), text.size());
    }
    std::string text() { return std::string(view()); }
    void skip(size_t n) { in_.skip("face cache record", n); }
    const uint8_t* at() const { return in_.all().data() + in_.position(); }

private:
    qf::ByteReader in_;
    bool tooLong_ = false;  // a text longer than any record holds
};

// The file's bytes, in a block not cleared first (reading fills it); false when it cannot be read
// whole.
bool readAll(const std::string& path, std::unique_ptr<uint8_t[]>& bytes, size_t& size)
{
    // Non-blocking, so a FIFO in the cache's place is found out by fstat instead of waiting for a
    // writer for ever; it is ignored, and replaced when the cache is saved.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) <= kMaxFile;
    if (ok) {
        size = static_cast<size_t>(info.st_size);
        bytes.reset(new uint8_t[size]);
        qf::prefault(bytes.get(), size, size_t{64} << 10);  // the records of a large system
        size_t done = 0;
        while (ok && done < size) {
            const ssize_t n = ::read(fd, bytes.get() + done, size - done);
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

namespace {

// A record, after its file and face index: the file's stamp, then the face or a mark that it was
// found unusable.
qf::FileStamp readStamp(Reader& in)
{
    qf::FileStamp stamp;
    stamp.size = in.number<uint64_t>();
    stamp.modifiedNs = in.number<int64_t>();
    stamp.changedNs = in.number<int64_t>();
    stamp.inode = in.number<uint64_t>();
    stamp.device = in.number<uint64_t>();
    return stamp;
}

// Whether a decoded face holds only values a font file can give: a record with a valid checksum
// may still have been made by hand, and what it says is used in arithmetic.
bool plausible(const FaceInfo& f)
{
    auto within = [](int64_t v, int64_t low, int64_t high) { return v >= low && v <= high; };
    constexpr int64_t kMaxCell = int64_t{1} << 24;
    if (f.family.size() >= LF_FACESIZE || f.style.size() >= LF_FACESIZE || f.fullName.size() >= LF_FULLFACESIZE)
        return false;
    if (!within(f.weight, 0, 0xFFFF) || !within(f.enumWeight, 0, 0xFFFF) || !within(f.pitchAndFamily, 0, 0xFF) ||
        !within(f.enumHeight, -kMaxCell, kMaxCell) || !within(f.enumAveWidth, -kMaxCell, kMaxCell))
        return false;
    return std::all_of(f.charsets.begin(), f.charsets.end(), [&](int cs) { return within(cs, 0, 0xFF); });
}

// The face of a record, or nullopt for a face found unusable; `valid` false when the record holds
// what no font gives.
std::optional<FaceInfo> readCachedFace(Reader& in, std::string_view file, int32_t faceIndex, bool& valid)
{
    valid = true;
    if (in.number<uint8_t>() == 0)
        return std::nullopt;
    FaceInfo f;
    f.family = in.text();
    f.style = in.text();
    f.fullName = in.text();
    f.postscriptName = in.text();
    f.file = file;
    f.faceIndex = faceIndex;
    f.weight = in.number<int32_t>();
    f.italic = in.number<uint8_t>() != 0;
    f.symbol = in.number<uint8_t>() != 0;
    const auto charsets = in.number<uint32_t>();
    f.charsets.reserve(std::min(charsets, kMaxCharsets));
    for (uint32_t k = 0; k < charsets && k < kMaxCharsets && in.ok(); ++k)
        f.charsets.push_back(in.number<int32_t>());
    f.codePageRanges[0] = in.number<uint32_t>();
    f.codePageRanges[1] = in.number<uint32_t>();
    f.enumWeight = in.number<int32_t>();
    f.pitchAndFamily = in.number<int32_t>();
    f.enumHeight = in.number<int32_t>();
    f.enumAveWidth = in.number<int32_t>();
    valid = in.ok() && plausible(f);
    return f;
}

// Steps over what readCachedFace reads; false when the record is damaged.
bool skipFace(Reader& in)
{
    if (in.number<uint8_t>() == 0)
        return in.ok();
    for (int i = 0; i < 4; ++i)
        in.view();
    in.skip(4 + 1 + 1);
    const auto charsets = in.number<uint32_t>();
    if (charsets > kMaxCharsets)
        return false;
    in.skip(4 * charsets + 6 * 4);
    return in.ok();
}

void writeRecord(Writer& out, const std::string& file, int faceIndex, const qf::FileStamp& stamp,
                 const std::optional<FaceInfo>& face)
{
    out.text(file);
    out.number(static_cast<int32_t>(faceIndex));
    out.number(stamp.size);
    out.number(stamp.modifiedNs);
    out.number(stamp.changedNs);
    out.number(stamp.inode);
    out.number(stamp.device);
    out.number(static_cast<uint8_t>(face ? 1 : 0));
    if (!face)
        return;
    const FaceInfo& f = *face;
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

}  // namespace

FaceCache::FaceCache(std::string path) : path_(std::move(path))
{
    // Saves of processes killed outright left their temporary files beside the cache.
    if (const size_t slash = path_.rfind('/'); slash != std::string::npos && slash + 1 < path_.size())
        qf::removeStaleTemporaryFiles(slash == 0 ? "/" : path_.substr(0, slash), {path_.substr(slash + 1)});
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    if (path_.empty() || !readAll(path_, bytes, size) || size < sizeof kMagic + 8 + 8 ||
        std::memcmp(bytes.get(), kMagic, sizeof kMagic) != 0)
        return;
    const size_t body = size - 8;
    Reader check(bytes.get() + body, 8);
    if (check.number<uint64_t>() != checksum(bytes.get(), body))
        return;  // damaged or cut short: read the faces again
    Reader in(bytes.get() + sizeof kMagic, body - sizeof kMagic);
    if (in.number<uint32_t>() != kFormat || in.number<uint32_t>() != readerVersion())
        return;
    const auto count = in.number<uint32_t>();
    if (!in.ok() || count > kMaxRecords)
        return;
    // Only the keys are read now; a record is decoded when its face is asked for.
    std::vector<Stored> stored;
    stored.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        Stored s;
        s.begin = static_cast<size_t>(in.at() - bytes.get());
        s.file = in.view();
        s.faceIndex = in.number<int32_t>();
        in.skip(5 * 8);
        if (!skipFace(in))
            return;
        s.end = static_cast<size_t>(in.at() - bytes.get());
        stored.push_back(s);
    }
    if (!in.ok() || !in.atEnd())
        return;
    // Saved in this order already; sorted here only for a file that was not.
    const auto byKey = [](const Stored& a, const Stored& b) {
        return std::tie(a.file, a.faceIndex) < std::tie(b.file, b.faceIndex);
    };
    if (!std::is_sorted(stored.begin(), stored.end(), byKey))
        std::sort(stored.begin(), stored.end(), byKey);
    // The views point into the bytes, which moving the block's owner keeps in place.
    bytes_ = std::move(bytes);
    stored_ = std::move(stored);
}

FaceCache::Stored* FaceCache::stored(std::string_view file, int faceIndex)
{
    const auto key = std::make_tuple(file, int32_t{faceIndex});
    const auto it = std::lower_bound(stored_.begin(), stored_.end(), key, [](const Stored& s, const auto& k) {
        return std::tie(s.file, s.faceIndex) < k;
    });
    return it != stored_.end() && it->file == file && it->faceIndex == faceIndex ? &*it : nullptr;
}

bool FaceCache::find(std::string_view file, int faceIndex, const qf::FileStamp& stamp, std::optional<FaceInfo>& face)
{
    if (!decoded_.empty()) {
        if (const auto it = decoded_.find({std::string(file), faceIndex}); it != decoded_.end()) {
            if (it->second.stamp != stamp)
                return false;
            face = it->second.face;
            return true;
        }
    }
    Stored* s = stored(file, faceIndex);
    if (!s)
        return false;
    Reader in(bytes_.get() + s->begin, s->end - s->begin);
    in.view();
    in.number<int32_t>();
    const qf::FileStamp recorded = readStamp(in);
    if (recorded != stamp)
        return false;  // read from the file again, and replaced when stored
    bool valid = false;
    std::optional<FaceInfo> read = readCachedFace(in, s->file, s->faceIndex, valid);
    if (!valid)
        return false;
    if (read)
        read->stamp = recorded;
    face = std::move(read);
    s->found = true;
    return true;
}

void FaceCache::store(const std::string& file, int faceIndex, const qf::FileStamp& stamp, std::optional<FaceInfo> face)
{
    if (path_.empty())
        return;
    decoded_[{file, faceIndex}] = Record{stamp, std::move(face)};
    changed_ = true;
}

void FaceCache::save()
{
    if (path_.empty() || !changed_)
        return;
    changed_ = false;
    // What this run stored; the records it found as they were; and the records it did not look at
    // (another configuration's, say) as they were, while their files are unchanged. In one fixed
    // order, so the same records always make the same file.
    Writer out;
    uint32_t count = 0;
    auto decoded = decoded_.begin();
    auto writeDecoded = [&] {
        writeRecord(out, decoded->first.first, decoded->first.second, decoded->second.stamp, decoded->second.face);
        ++count;
        ++decoded;
    };
    for (const Stored& s : stored_) {
        const auto key = std::make_pair(std::string(s.file), int{s.faceIndex});
        while (decoded != decoded_.end() && decoded->first < key)
            writeDecoded();
        if (decoded != decoded_.end() && decoded->first == key)
            continue;
        if (!s.found) {
            Reader in(bytes_.get() + s.begin, s.end - s.begin);
            in.view();
            in.number<int32_t>();
            if (qf::stampOf(key.first) != std::optional<qf::FileStamp>(readStamp(in)))
                continue;
        }
        out.bytes(bytes_.get() + s.begin, s.end - s.begin);
        ++count;
    }
    while (decoded != decoded_.end())
        writeDecoded();

    Writer file;
    file.bytes(kMagic, sizeof kMagic);
    file.number(kFormat);
    file.number(readerVersion());
    file.number(count);
    file.bytes(out.out.data(), out.out.size());
    file.number(checksum(file.out.data(), file.out.size()));

    // Failures leave the old file, if any: the cache only saves time.
    makeFolderFor(path_);
    qf::writeFileWhole(path_, file.out.data(), file.out.size());
}

}  // namespace gdi
