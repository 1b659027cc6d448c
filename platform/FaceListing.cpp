#include "platform/FaceListing.h"

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
#include <cstring>
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
        std::optional<FaceInfo> info;
        if (qf::Result<FaceInfo> read = readFace(path, index))
            info = std::move(*read);
        if (info)
            info->stamp = *at->second;
        cache.store(path, index, *at->second, info);
        if (info)
            faces.push_back(std::move(*info));
    }
    cache.save();

    return faces;
}

}  // namespace gdi
