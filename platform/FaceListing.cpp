#include "platform/FaceListing.h"

#include "platform/FaceCache.h"
#include "platform/FaceFiles.h"
#include "platform/FaceMetrics.h"
#include "platform/FaceNames.h"
#include "platform/Fontconfig.h"
#include "platform/Prefault.h"
#include "platform/gdi.h"

#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gdi {

namespace {

bool hasOutlines(FT_Face face)
{
    FT_ULong length = 0;
    return FT_Load_Sfnt_Table(face, TTAG_glyf, 0, nullptr, &length) == 0 ||
           FT_Load_Sfnt_Table(face, TTAG_CFF, 0, nullptr, &length) == 0 ||
           FT_Load_Sfnt_Table(face, TTAG_CFF2, 0, nullptr, &length) == 0;
}

}  // namespace

qf::Result<FaceInfo> readFace(const std::string& file, int faceIndex)
{
    auto refuse = [&](const char* reason) { return qf::Failure{reason, file, {}, {}}; };
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
    // As GDI's records hold them: family and style as face names, the full name in its own field.
    info.family = ft::cutName(names.family);
    info.style = ft::cutName(names.style);
    info.fullName = ft::cutName(names.fullName, LF_FULLFACESIZE - 1);
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

qf::Result<FontFileFaces> readFontFile(const std::string& file, int faceIndex)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return qf::Failure{std::string("cannot be read: ") + std::strerror(errno)};
    if (S_ISDIR(info.st_mode))
        return qf::Failure{"a folder, not a font file"};
    // Opening a FIFO or a device could wait for ever or read without end.
    if (!S_ISREG(info.st_mode))
        return qf::Failure{"not a regular file"};
    // FreeType would only say that it cannot read the file; the system says why.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return qf::Failure{std::string("cannot be read: ") + std::strerror(errno)};
    ::close(fd);

    long count = 0;
    if (ft::FacePtr header = ft::openFace(file, -1))  // face index -1: only the number of faces
        count = header->num_faces;
    if (count <= 0)
        return qf::Failure{"not a font file FreeType can read"};
    if (faceIndex >= count)
        return qf::Failure{count == 1 ? "no such face; the file holds one face, 0"
                                      : "no such face; the file holds faces 0 to " + std::to_string(count - 1)};
    const qf::FileStamp stamp = qf::stampOf(info);
    const int first = faceIndex < 0 ? 0 : faceIndex;
    const int last = faceIndex < 0 ? static_cast<int>(std::min<long>(count, 0x10000)) - 1 : faceIndex;
    FontFileFaces read;
    std::string reason;
    for (int i = first; i <= last; ++i) {
        qf::Result<FaceInfo> face = readFace(file, i);
        if (!face && reason.empty())
            reason = face.failure().what;
        if (!face || std::any_of(read.faces.begin(), read.faces.end(), [&](const FaceInfo& f) {
                return ft::sameName(f.family, face->family) && ft::sameName(f.style, face->style);
            }))
            continue;
        face->stamp = stamp;
        read.faces.push_back(std::move(*face));
    }
    if (read.faces.empty())
        return qf::Failure{last > first ? "no face of the file can be used: " + reason : reason};
    return read;
}

namespace {

// A face fontconfig lists, by its file (fontconfig's string, NUL-terminated, alive as long as the
// set it is in).
struct Listed {
    std::string_view file;
    int index;
    std::optional<qf::FileStamp> stamp;  // none when the file is gone
};

// The faces of a font set the catalogue can list: outline faces of TrueType and OpenType files.
void listFaces(const FcFontSet* set, std::vector<Listed>& listed)
{
    if (!set)
        return;
    listed.reserve(listed.size() + static_cast<size_t>(set->nfont));
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
        const std::string_view fmt = reinterpret_cast<const char*>(format);
        if (fmt != "TrueType" && fmt != "CFF")
            continue;
        // Named instances of variable fonts carry the instance in the upper bits; GDI lists the
        // default instance only.
        if (index < 0 || index > 0xFFFF)
            continue;
        listed.push_back({reinterpret_cast<const char*>(file), index, std::nullopt});
    }
}

// Sorted by file, each face once.
void sortListed(std::vector<Listed>& listed)
{
    std::sort(listed.begin(), listed.end(),
              [](const Listed& a, const Listed& b) { return std::tie(a.file, a.index) < std::tie(b.file, b.index); });
    listed.erase(std::unique(listed.begin(), listed.end(),
                             [](const Listed& a, const Listed& b) { return a.file == b.file && a.index == b.index; }),
                 listed.end());
}

// Whether every listed file lies in one of the configuration's font folders (fontconfig counts
// the folders below a configured one among them).
bool inFontFolders(FcConfig* config, const std::vector<Listed>& listed)
{
    std::vector<std::string> folders;
    if (FcStrList* list = FcConfigGetFontDirs(config)) {
        while (const FcChar8* folder = FcStrListNext(list))
            folders.emplace_back(reinterpret_cast<const char*>(folder));
        FcStrListDone(list);
    }
    std::sort(folders.begin(), folders.end());
    std::string_view last;  // the files are sorted, so a folder's files come together
    for (const Listed& face : listed) {
        const size_t slash = face.file.rfind('/');
        const std::string_view folder = face.file.substr(0, slash == std::string_view::npos ? 0 : slash);
        if (folder == last)
            continue;
        if (!std::binary_search(folders.begin(), folders.end(), folder, std::less<>()))
            return false;
        last = folder;
    }
    return true;
}

// From how many files a helper thread takes stamps too.
constexpr size_t kStampsHelpedFrom = 256;

// The stamps of the listed files (sorted by file), each file's taken once, on this thread and a
// helper while `meanwhile` runs here first: on a system of many faces, the files' stamps are a
// large part of start-up, and reading the face cache needs none of them.
template <class Work>
void stampFiles(std::vector<Listed>& listed, Work&& meanwhile)
{
    constexpr size_t kStretch = 32;
    std::atomic<size_t> next{0};
    auto stampStretches = [&] {
        for (size_t from; (from = next.fetch_add(kStretch, std::memory_order_relaxed)) < listed.size();) {
            for (size_t i = from; i < std::min(from + kStretch, listed.size()); ++i) {
                if (i > 0 && listed[i].file == listed[i - 1].file)
                    continue;
                struct stat info {};
                if (::stat(listed[i].file.data(), &info) == 0)
                    listed[i].stamp = qf::stampOf(info);
            }
        }
    };
    {
        std::jthread helper;  // joined when the scope ends, whatever ends it
        if (listed.size() >= kStampsHelpedFrom) {
            try {
                helper = std::jthread(stampStretches);
            } catch (const std::system_error&) {
                // No thread to be had: this one takes every stamp.
            }
        }
        meanwhile();
        stampStretches();
    }
    for (size_t i = 1; i < listed.size(); ++i)
        if (listed[i].file == listed[i - 1].file)
            listed[i].stamp = listed[i - 1].stamp;
}

}  // namespace

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
    // The configuration's own font sets are read as they are: FcFontList would copy every pattern
    // first, only for the four values read here. Sorted by file, the faces of a collection are
    // next to each other, so each file's stamp is taken once, and the cache's records are looked
    // for in their own order.
    std::vector<Listed> listed;
    listFaces(FcConfigGetFonts(config, FcSetSystem), listed);
    listFaces(FcConfigGetFonts(config, FcSetApplication), listed);
    sortListed(listed);  // a face both sets hold is listed once, as FcFontList lists it
    // A folder the configuration remaps (<remap-dir>) keeps the paths it was cached under in its
    // patterns; FcFontList gives the paths in force, so it is asked when a file lies elsewhere.
    ft::FcFontSetPtr set;
    if (!inFontFolders(config, listed)) {
        ft::FcPatternPtr pattern(FcPatternCreate());
        ft::FcObjectSetPtr objects(FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FONTFORMAT, FC_SCALABLE, nullptr));
        if (!pattern || !objects)
            return faces;
        set.reset(FcFontList(config, pattern.get(), objects.get()));
        if (!set)
            return faces;
        listed.clear();
        listFaces(set.get(), listed);
        sortListed(listed);
    }

    // Reading a face's names and tables is most of the cost of starting; the cache answers for
    // every file that has not changed since it was read.
    std::optional<FaceCache> cache;
    stampFiles(listed, [&] { cache.emplace(source.cacheFile); });
    faces.reserve(listed.size());
    qf::prefault(faces.data(), faces.capacity() * sizeof(FaceInfo), size_t{64} << 10);
    for (const Listed& face : listed) {
        const int index = face.index;
        const std::optional<qf::FileStamp>& stamp = face.stamp;
        if (!stamp) {
            // Gone since fontconfig listed it: nothing to keep, and read as before.
            if (auto info = readFace(std::string(face.file), index))
                faces.push_back(std::move(*info));
            continue;
        }
        std::optional<FaceInfo> info;
        if (cache->find(face.file, index, *stamp, info)) {
            if (info)
                faces.push_back(std::move(*info));
            continue;
        }
        const std::string path(face.file);
        if (qf::Result<FaceInfo> read = readFace(path, index))
            info = std::move(*read);
        if (info)
            info->stamp = *stamp;
        cache->store(path, index, *stamp, info);
        if (info)
            faces.push_back(std::move(*info));
    }
    cache->save();

    return faces;
}

}  // namespace gdi
