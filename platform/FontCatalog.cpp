#include "platform/FontCatalog.h"

#include "platform/FaceCache.h"
#include "platform/FaceFiles.h"
#include "platform/FaceMetrics.h"
#include "platform/FaceNames.h"
#include "platform/Fontconfig.h"
#include "platform/gdi.h"

#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <tuple>
#include <type_traits>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gdi {

namespace {

constexpr size_t kMaxFamily = LF_FACESIZE - 1;
constexpr size_t kMaxStyle = LF_FACESIZE - 1;
constexpr size_t kMaxFullName = LF_FULLFACESIZE - 1;

std::string cut(std::string s, size_t n)
{
    if (s.size() > n)
        s.resize(n);
    return s;
}

bool hasOutlines(FT_Face face)
{
    FT_ULong length = 0;
    return FT_Load_Sfnt_Table(face, TTAG_glyf, 0, nullptr, &length) == 0 ||
           FT_Load_Sfnt_Table(face, TTAG_CFF, 0, nullptr, &length) == 0 ||
           FT_Load_Sfnt_Table(face, TTAG_CFF2, 0, nullptr, &length) == 0;
}

// The face as the catalogue lists it; nothing, with the reason in `why`, for a face it cannot list.
std::optional<FaceInfo> readFace(const std::string& file, int faceIndex, std::string* why = nullptr)
{
    auto refuse = [&](const char* reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    ft::FacePtr face = ft::openFace(file, faceIndex);
    if (!face)
        return refuse("not a font file FreeType can read");
    // Only outline faces of TrueType/OpenType files: bitmap-only sfnts (colour emoji strikes, for
    // instance) cannot be drawn at an arbitrary size.
    if (!FT_IS_SFNT(face.get()))
        return refuse("not a TrueType or OpenType font");
    if (!FT_IS_SCALABLE(face.get()) || !hasOutlines(face.get()))
        return refuse("bitmap glyphs only, no outlines to draw at any size");
    const ft::FaceNames names = ft::readNames(face.get());
    const ft::DesignMetrics m = ft::readDesignMetrics(face.get());

    FaceInfo info;
    info.family = cut(names.family, kMaxFamily);
    info.style = cut(names.style, kMaxStyle);
    info.fullName = cut(names.fullName, kMaxFullName);
    info.postscriptName = names.postscriptName;
    info.file = file;
    info.faceIndex = faceIndex;
    info.weight = m.weightClass;
    info.italic = m.italic;
    info.symbol = m.symbol;
    info.charsets = ft::faceCharsets(face.get(), m.symbol);
    const std::array<uint32_t, 2> ranges = ft::codePageRanges(face.get());
    info.codePageRanges[0] = ranges[0];
    info.codePageRanges[1] = ranges[1];
    info.enumWeight = ft::reportedWeight(m);
    info.pitchAndFamily = m.pitchAndFamily;
    // GDI enumerates an outline face as realised at its em size and scales the cell to 32 pixels
    // per em; at that size the cell is exactly the design ascent plus descent.
    const int64_t cell = int64_t{m.ascent} + m.descent;
    info.enumHeight = static_cast<int>(mulDiv(32, cell, m.unitsPerEm));
    info.enumAveWidth = static_cast<int>(mulDiv(info.enumHeight, m.xAvgCharWidth, cell));
    return info;
}

// The faces of a font file the catalogue can list: every face, or only faceIndex's. Of faces of
// one family and style within the file, the first is taken.
FontFileFaces readFontFile(const std::string& file, int faceIndex)
{
    FontFileFaces read;
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        read.error = std::string("cannot be read: ") + std::strerror(errno);
        return read;
    }
    if (S_ISDIR(info.st_mode)) {
        read.error = "a folder, not a font file";
        return read;
    }
    // Opening a FIFO or a device could wait for ever or read without end.
    if (!S_ISREG(info.st_mode)) {
        read.error = "not a regular file";
        return read;
    }
    // FreeType would only say that it cannot read the file; the system says why.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        read.error = std::string("cannot be read: ") + std::strerror(errno);
        return read;
    }
    ::close(fd);

    long count = 0;
    if (ft::FacePtr header = ft::openFace(file, -1))  // face index -1: only the number of faces
        count = header->num_faces;
    if (count <= 0) {
        read.error = "not a font file FreeType can read";
        return read;
    }
    if (faceIndex >= count) {
        read.error = count == 1 ? "no such face; the file holds one face, 0"
                                : "no such face; the file holds faces 0 to " + std::to_string(count - 1);
        return read;
    }
    const qf::FileStamp stamp = qf::stampOf(info);
    const int first = faceIndex < 0 ? 0 : faceIndex;
    const int last = faceIndex < 0 ? static_cast<int>(std::min<long>(count, 0x10000)) - 1 : faceIndex;
    std::string reason;
    for (int i = first; i <= last; ++i) {
        std::optional<FaceInfo> face = readFace(file, i, reason.empty() ? &reason : nullptr);
        if (!face || std::any_of(read.faces.begin(), read.faces.end(), [&](const FaceInfo& f) {
                return ft::sameName(f.family, face->family) && ft::sameName(f.style, face->style);
            }))
            continue;
        face->stamp = stamp;
        read.faces.push_back(std::move(*face));
    }
    if (read.faces.empty())
        read.error = last > first ? "no face of the file can be used: " + reason : reason;
    return read;
}

bool isPreferredFile(const std::string& file)
{
    // ".ttf" or ".otf" in any case; asked on every comparison of a sort, so nothing is allocated.
    if (file.size() < 4 || file[file.size() - 4] != '.')
        return false;
    auto lower = [&](size_t from_end) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(file[file.size() - from_end])));
    };
    return (lower(3) == 't' || lower(3) == 'o') && lower(2) == 't' && lower(1) == 'f';
}

// The installed faces as fontconfig lists them, one per family and style.
std::vector<FaceInfo> loadInstalledFaces(const CatalogSource& source)
{
    std::vector<FaceInfo> faces;
    ft::FcConfigPtr own;
    FcConfig* config = ft::fontconfig();
    if (!source.fontconfigFile.empty()) {
        own = ft::loadFontconfig(source.fontconfigFile);
        config = own.get();
    }
    if (!config)
        return faces;
    ft::FcPatternPtr pattern(FcPatternCreate());
    ft::FcObjectSetPtr objects(FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FONTFORMAT, FC_SCALABLE, nullptr));
    if (!pattern || !objects)
        return faces;
    ft::FcFontSetPtr set(FcFontList(config, pattern.get(), objects.get()));
    if (!set)
        return faces;

    // Reading a face's names and tables is most of the cost of starting; the cache answers for
    // every file that has not changed since it was read.
    FaceCache cache(source.cacheFile);
    std::unordered_map<std::string, std::optional<qf::FileStamp>> stamps;

    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        FcChar8* file = nullptr;
        FcChar8* format = nullptr;
        int index = 0;
        FcBool scalable = FcFalse;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch)
            continue;
        if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch)
            index = 0;
        if (FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) != FcResultMatch || !scalable)
            continue;
        // TrueType and OpenType only: Type 1, PCF, BDF and the like are left out.
        if (FcPatternGetString(font, FC_FONTFORMAT, 0, &format) != FcResultMatch)
            continue;
        const std::string fmt = reinterpret_cast<const char*>(format);
        if (fmt != "TrueType" && fmt != "CFF")
            continue;
        // Named instances of variable fonts carry the instance in the upper bits; GDI lists the
        // default instance only.
        if (index < 0 || index > 0xFFFF)
            continue;
        const std::string path = reinterpret_cast<const char*>(file);
        auto [at, added] = stamps.try_emplace(path);
        if (added)
            at->second = qf::stampOf(path);
        if (!at->second) {
            // Gone since fontconfig listed it: nothing to keep, and read as before.
            if (auto info = readFace(path, index))
                faces.push_back(std::move(*info));
            continue;
        }
        if (const std::optional<FaceInfo>* known = cache.find(path, index, *at->second)) {
            if (*known)
                faces.push_back(**known);
            continue;
        }
        std::optional<FaceInfo> info = readFace(path, index);
        if (info)
            info->stamp = *at->second;
        cache.store(path, index, *at->second, info);
        if (info)
            faces.push_back(std::move(*info));
    }
    cache.save();

    return FontCatalog::oneFacePerStyle(std::move(faces));
}

bool listsCharset(const FaceInfo& face, int charset)
{
    return charset == DEFAULT_CHARSET ||
           std::find(face.charsets.begin(), face.charsets.end(), charset) != face.charsets.end();
}

// Whether a face can stand for a LOGFONT of this character set at all: text faces map any 8-bit
// code page (characters they lack draw as the missing-glyph box), symbol faces only their codes.
bool canDraw(const FaceInfo& face, int charset)
{
    if (charset == DEFAULT_CHARSET)
        return true;
    return (charset == SYMBOL_CHARSET) == face.symbol;
}

// GDI's default faces by pitch and family, each with the metric-compatible faces that stand in
// for it on Linux, and the DejaVu faces that every Debian system has.
const std::vector<const char*>& defaultFamilies(int pitchAndFamily)
{
    static const std::vector<const char*> sans = {"Arial", "Liberation Sans", "Arimo",
                                                  "Bitstream Vera Sans", "DejaVu Sans"};
    static const std::vector<const char*> serif = {"Times New Roman", "Liberation Serif", "Tinos",
                                                   "Bitstream Vera Serif", "DejaVu Serif"};
    static const std::vector<const char*> fixed = {"Courier New", "Liberation Mono", "Cousine",
                                                   "Bitstream Vera Sans Mono", "DejaVu Sans Mono"};
    constexpr int kFixedPitch = 1;  // lfPitchAndFamily's FIXED_PITCH
    if ((pitchAndFamily & 0x03) == kFixedPitch || (pitchAndFamily & 0xF0) == FF_MODERN)
        return fixed;
    if ((pitchAndFamily & 0xF0) == FF_ROMAN)
        return serif;
    return sans;
}

}  // namespace

FontCatalog::FontCatalog(std::vector<FaceInfo> faces) : faces_(std::move(faces))
{
    // The order is what --list indices and the enumeration rest on: families by name without
    // regard to case, then a family's styles by weight and italic.
    std::stable_sort(faces_.begin(), faces_.end(), [](const FaceInfo& a, const FaceInfo& b) {
        if (const int c = ft::compareNames(a.family, b.family))
            return c < 0;
        if (a.family != b.family)
            return a.family < b.family;
        if (a.weight != b.weight)
            return a.weight < b.weight;
        if (a.italic != b.italic)
            return !a.italic;
        if (const int c = ft::compareNames(a.style, b.style))
            return c < 0;
        return std::tie(a.fullName, a.file, a.faceIndex) < std::tie(b.fullName, b.file, b.faceIndex);
    });
}

std::vector<FaceInfo> FontCatalog::oneFacePerStyle(std::vector<FaceInfo> faces)
{
    // Sorted so that the preferred file of each family and style comes first; the choice does not
    // depend on the order fontconfig lists files in.
    std::sort(faces.begin(), faces.end(), [](const FaceInfo& a, const FaceInfo& b) {
        if (const int c = ft::compareNames(a.family, b.family))
            return c < 0;
        if (const int c = ft::compareNames(a.style, b.style))
            return c < 0;
        const bool pa = isPreferredFile(a.file), pb = isPreferredFile(b.file);
        if (pa != pb)
            return pa;
        return std::tie(a.file, a.faceIndex) < std::tie(b.file, b.faceIndex);
    });
    faces.erase(std::unique(faces.begin(), faces.end(),
                            [](const FaceInfo& a, const FaceInfo& b) {
                                return ft::sameName(a.family, b.family) && ft::sameName(a.style, b.style);
                            }),
                faces.end());
    return faces;
}

FontCatalog FontCatalog::load(const CatalogSource& source)
{
    return FontCatalog(loadInstalledFaces(source));
}

std::string FontCatalog::defaultCacheFile()
{
    if (const char* chosen = std::getenv("QUENFOLD_FACE_CACHE"))
        return chosen;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/quenfold/faces.cache";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/quenfold/faces.cache";
    return {};
}

namespace {

FontCatalog& processCatalogue()
{
    static FontCatalog catalog = FontCatalog::load({"", FontCatalog::defaultCacheFile()});
    return catalog;
}

}  // namespace

const FontCatalog& FontCatalog::instance()
{
    return processCatalogue();
}

namespace {

// What the process added to the installed faces, addition by addition, so that taking one face
// back can undo it whatever was added after it.
struct PrivateFaces {
    std::mutex mutex;
    std::vector<FaceInfo> installed;  // the catalogue's faces before the first addition
    struct Addition {
        std::string file;
        std::vector<FaceInfo> faces;
    };
    std::vector<Addition> additions;  // in the order they were made
};

PrivateFaces& privateFaces()
{
    static auto* faces = new PrivateFaces;
    return *faces;
}

bool sameStyle(const FaceInfo& a, const FaceInfo& b)
{
    return ft::sameName(a.family, b.family) && ft::sameName(a.style, b.style);
}

// `faces` with `added` in the place of the faces of their family and style; what each displaced.
std::vector<FaceInfo> withAdded(const std::vector<FaceInfo>& faces, const std::vector<FaceInfo>& added,
                                std::vector<std::optional<FaceInfo>>* displaced)
{
    if (displaced)
        displaced->assign(added.size(), std::nullopt);
    std::vector<FaceInfo> out;
    out.reserve(faces.size() + added.size());
    for (const FaceInfo& f : faces) {
        const auto by = std::find_if(added.begin(), added.end(), [&](const FaceInfo& a) { return sameStyle(f, a); });
        if (by == added.end())
            out.push_back(f);
        else if (displaced)
            (*displaced)[static_cast<size_t>(by - added.begin())] = f;
    }
    out.insert(out.end(), added.begin(), added.end());
    return out;
}

}  // namespace

FontFileFaces FontCatalog::addPrivateFile(const std::string& file, int faceIndex)
{
    FontFileFaces read = readFontFile(file, faceIndex);
    if (read.faces.empty())
        return read;
    PrivateFaces& state = privateFaces();
    std::lock_guard<std::mutex> lock(state.mutex);
    FontCatalog& catalog = processCatalogue();
    if (state.additions.empty())
        state.installed = catalog.faces_;
    state.additions.push_back({file, read.faces});
    catalog = FontCatalog(withAdded(catalog.faces_, read.faces, &read.displaced));
    return read;
}

bool FontCatalog::removePrivateFile(const std::string& file, int faceIndex)
{
    PrivateFaces& state = privateFaces();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto holds = [&](const FaceInfo& f) { return faceIndex < 0 || f.faceIndex == faceIndex; };
    auto addition = std::find_if(state.additions.rbegin(), state.additions.rend(), [&](const PrivateFaces::Addition& a) {
        return a.file == file && std::any_of(a.faces.begin(), a.faces.end(), holds);
    });
    if (addition == state.additions.rend())
        return false;
    std::erase_if(addition->faces, holds);
    if (addition->faces.empty())
        state.additions.erase(std::next(addition).base());
    // Made again from the installed faces: what the face displaced comes back only where no later
    // addition displaced it as well.
    std::vector<FaceInfo> faces = state.installed;
    for (const PrivateFaces::Addition& a : state.additions)
        faces = withAdded(faces, a.faces, nullptr);
    processCatalogue() = FontCatalog(std::move(faces));
    return true;
}

std::span<const FaceInfo> FontCatalog::family(std::string_view name) const
{
    // The order sorts families by compareNames first, so each family is one run of faces.
    const auto [first, last] = std::equal_range(
        faces_.begin(), faces_.end(), name, [](const auto& a, const auto& b) {
            if constexpr (std::is_same_v<std::decay_t<decltype(a)>, FaceInfo>)
                return ft::compareNames(a.family, b) < 0;
            else
                return ft::compareNames(a, b.family) < 0;
        });
    return {faces_.data() + (first - faces_.begin()), static_cast<size_t>(last - first)};
}

const FaceInfo* FontCatalog::match(const std::string& family, int weight, bool italic) const
{
    return match(family, weight, italic, DEFAULT_CHARSET, 0);
}

const FaceInfo* FontCatalog::match(const std::string& requested, int weight, bool italic, int charset,
                                   int pitchAndFamily) const
{
    if (faces_.empty())
        return nullptr;
    const std::string name = requested.substr(0, requested.find('\0'));
    if (weight <= 0)
        weight = FW_NORMAL;

    auto familyFaces = [&](const std::string& family) {
        std::vector<const FaceInfo*> found;
        if (family.empty())
            return found;
        // lfFaceName holds at most 31 bytes, and so do catalogue families: a longer request is
        // compared by the part that a LOGFONT could carry.
        const std::string key = family.size() > kMaxFamily ? family.substr(0, kMaxFamily) : family;
        for (const FaceInfo& f : this->family(key))
            found.push_back(&f);
        return found;
    };
    // Nearest style: fewest bold/italic mismatches, then the closest weight, then catalogue order.
    auto bestStyle = [&](const std::vector<const FaceInfo*>& candidates) -> const FaceInfo* {
        const bool wantBold = weight > 550;
        const FaceInfo* best = nullptr;
        std::tuple<int, int> bestScore{};
        for (const FaceInfo* f : candidates) {
            const int mismatches = ((f->weight > 550) != wantBold) + (f->italic != italic);
            const std::tuple<int, int> score{mismatches, std::abs(f->weight - weight)};
            if (!best || score < bestScore) {
                best = f;
                bestScore = score;
            }
        }
        return best;
    };
    auto filtered = [](const std::vector<const FaceInfo*>& faces, auto&& keep) {
        std::vector<const FaceInfo*> out;
        for (const FaceInfo* f : faces)
            if (keep(*f))
                out.push_back(f);
        return out;
    };

    // The named family (or a face by its full name, as GDI also accepts), if it can draw the set.
    std::vector<const FaceInfo*> named = familyFaces(name);
    if (named.empty() && !name.empty()) {
        for (const FaceInfo& f : faces_)
            if (ft::sameName(f.fullName.substr(0, kMaxFamily), name.substr(0, kMaxFamily)))
                named.push_back(&f);
    }
    const auto drawable = filtered(named, [&](const FaceInfo& f) { return canDraw(f, charset); });
    if (!drawable.empty())
        return bestStyle(drawable);

    // Substitution: fontconfig's aliases for the name (Arial -> Liberation Sans), GDI's default
    // faces for the pitch and family, fontconfig's own best match; first a family that lists the
    // character set, then any face that does, then any of them at all, then the first face.
    std::vector<std::string> chain = ft::fontconfigAliases(name);
    for (const char* d : defaultFamilies(pitchAndFamily)) {
        chain.emplace_back(d);
        for (std::string& alias : ft::fontconfigAliases(d))
            chain.push_back(std::move(alias));
    }
    auto listing = [&](const FaceInfo& f) { return canDraw(f, charset) && listsCharset(f, charset); };
    for (const std::string& family : chain)
        if (const auto ok = filtered(familyFaces(family), listing); !ok.empty())
            return bestStyle(ok);
    // fontconfig's own match is the dearest question, so it is asked only now.
    if (!name.empty()) {
        chain.push_back(ft::fontconfigMatch(name));
        if (const auto ok = filtered(familyFaces(chain.back()), listing); !ok.empty())
            return bestStyle(ok);
    }
    if (charset != DEFAULT_CHARSET)
        for (const FaceInfo& f : faces_)
            if (listing(f))
                return bestStyle(filtered(familyFaces(f.family), listing));
    for (const std::string& family : chain)
        if (const auto any = familyFaces(family); !any.empty())
            return bestStyle(any);
    return bestStyle(familyFaces(faces_.front().family));
}

}  // namespace gdi
