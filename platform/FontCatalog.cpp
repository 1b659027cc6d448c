#include "platform/FontCatalog.h"

#include "platform/FaceNames.h"
#include "platform/Fontconfig.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <tuple>

namespace gdi {

namespace {

constexpr size_t kMaxFamily = LF_FACESIZE - 1;

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
    // regard to case, then a family's styles by weight and italic. Sorted as indices, ties kept in
    // their order, then moved into place once: sorting the faces themselves moved each many times,
    // and a stable sort's buffer of faces is fresh memory as large as the catalogue.
    const auto before = [](const FaceInfo& a, const FaceInfo& b) {
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
    };
    std::vector<uint32_t> order(faces_.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (before(faces_[a], faces_[b]))
            return true;
        return !before(faces_[b], faces_[a]) && a < b;
    });
    // Place i takes the face at order[i]: each cycle of the permutation is followed once.
    for (uint32_t start = 0; start < order.size(); ++start) {
        if (order[start] == start)
            continue;
        FaceInfo held = std::move(faces_[start]);
        uint32_t at = start;
        while (order[at] != start) {
            const uint32_t from = order[at];
            faces_[at] = std::move(faces_[from]);
            order[at] = at;
            at = from;
        }
        faces_[at] = std::move(held);
        order[at] = at;
    }
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
    return FontCatalog(oneFacePerStyle(loadInstalledFaces(source)));
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

qf::Result<FontFileFaces> FontCatalog::addPrivateFile(const std::string& file, int faceIndex)
{
    qf::Result<FontFileFaces> read = readFontFile(file, faceIndex);
    if (!read)
        return read;
    PrivateFaces& state = privateFaces();
    std::lock_guard<std::mutex> lock(state.mutex);
    FontCatalog& catalog = processCatalogue();
    if (state.additions.empty())
        state.installed = catalog.faces_;
    state.additions.push_back({file, read->faces});
    catalog = FontCatalog(withAdded(catalog.faces_, read->faces, &read->displaced));
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
