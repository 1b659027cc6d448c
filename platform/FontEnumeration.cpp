#include "platform/FontEnumeration.h"

#include "platform/FontCatalog.h"
#include "platform/FaceNames.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace gdi {

namespace {

// GDI's script names (elfScript) per character set.
const char* scriptName(int charset)
{
    switch (charset) {
    case ANSI_CHARSET: return "Western";
    case EASTEUROPE_CHARSET: return "Central European";
    case RUSSIAN_CHARSET: return "Cyrillic";
    case GREEK_CHARSET: return "Greek";
    case TURKISH_CHARSET: return "Turkish";
    case HEBREW_CHARSET: return "Hebrew";
    case ARABIC_CHARSET: return "Arabic";
    case BALTIC_CHARSET: return "Baltic";
    case VIETNAMESE_CHARSET: return "Vietnamese";
    case THAI_CHARSET: return "Thai";
    case SYMBOL_CHARSET: return "Symbol";
    case OEM_CHARSET: return "OEM/DOS";
    default: return "";
    }
}

template <size_t N>
void copyName(char (&to)[N], const std::string& from)
{
    const size_t n = std::min(from.size(), N - 1);
    std::memcpy(to, from.data(), n);
    std::memset(to + n, 0, N - n);
}

constexpr BYTE kOutStrokePrecis = 3;
constexpr BYTE kClipStrokePrecis = 2;
constexpr BYTE kDraftQuality = 1;

// One report: the record a callback receives for a face in one character set. The metrics are the
// cheap ones GDI's enumeration carries at its enumeration size; callers do not rely on them.
struct Report {
    ENUMLOGFONTEX elf;
    NEWTEXTMETRICEX ntm;
};

Report makeReport(const FaceInfo& face, int charset)
{
    Report r{};
    LOGFONT& lf = r.elf.elfLogFont;
    lf.lfHeight = face.enumHeight;
    lf.lfWidth = face.enumAveWidth;
    lf.lfWeight = face.enumWeight;
    lf.lfItalic = face.italic ? 255 : 0;
    lf.lfCharSet = static_cast<BYTE>(charset);
    lf.lfOutPrecision = kOutStrokePrecis;
    lf.lfClipPrecision = kClipStrokePrecis;
    lf.lfQuality = kDraftQuality;
    // LOGFONT pitch values: 1 fixed, 2 variable; TEXTMETRIC's bit 0 means variable.
    lf.lfPitchAndFamily = static_cast<BYTE>((face.pitchAndFamily & 0xF1) + 1);
    copyName(lf.lfFaceName, face.family);
    copyName(r.elf.elfFullName, face.fullName);
    copyName(r.elf.elfStyle, face.style);
    copyName(r.elf.elfScript, scriptName(charset));

    TEXTMETRIC& tm = r.ntm.ntmTm;
    tm.tmHeight = face.enumHeight;
    tm.tmAveCharWidth = face.enumAveWidth;
    tm.tmWeight = face.enumWeight;
    tm.tmItalic = lf.lfItalic;
    tm.tmCharSet = lf.lfCharSet;
    tm.tmPitchAndFamily = static_cast<BYTE>(face.pitchAndFamily);
    r.ntm.ntmFontSig.fsCsb[0] = face.codePageRanges[0];
    r.ntm.ntmFontSig.fsCsb[1] = face.codePageRanges[1];
    return r;
}

// Runs of consecutive catalogue faces with one family name.
struct Family {
    const FaceInfo* first;
    std::vector<const FaceInfo*> faces;
    std::vector<int> charsets;  // every set any of its styles supports, ascending
};

std::vector<Family> families(const FontCatalog& catalog)
{
    std::vector<Family> out;
    for (const FaceInfo& f : catalog.faces()) {
        if (out.empty() || !ft::sameName(out.back().first->family, f.family))
            out.push_back(Family{&f, {}, {}});
        out.back().faces.push_back(&f);
    }
    for (Family& fam : out) {
        std::set<int> sets;
        for (const FaceInfo* f : fam.faces)
            sets.insert(f->charsets.begin(), f->charsets.end());
        fam.charsets.assign(sets.begin(), sets.end());
    }
    return out;
}

// The styles a face name selects: its family's, or the face with that full name.
std::vector<const FaceInfo*> stylesOf(const FontCatalog& catalog, const char* name)
{
    const std::string key = ft::cutName(std::string(name, strnlen(name, LF_FACESIZE)));
    std::vector<const FaceInfo*> styles;
    for (const FaceInfo& f : catalog.family(key))
        styles.push_back(&f);
    if (styles.empty())
        for (const FaceInfo& f : catalog.faces())
            if (ft::sameName(f.fullName.substr(0, LF_FACESIZE - 1), key))
                styles.push_back(&f);
    return styles;
}

bool wanted(int charset, BYTE filter)
{
    return filter == DEFAULT_CHARSET || charset == filter;
}

}  // namespace

int EnumFontFamiliesExA(DeviceContext&, const LOGFONT* lf, FONTENUMPROCA proc, LPARAM lParam, DWORD)
{
    if (!proc)
        return 0;
    const FontCatalog& catalog = FontCatalog::instance();
    const BYTE filter = lf ? lf->lfCharSet : DEFAULT_CHARSET;
    int result = 1;
    auto report = [&](const FaceInfo& face, int charset) {
        const Report r = makeReport(face, charset);
        result = proc(&r.elf, &r.ntm.ntmTm, TRUETYPE_FONTTYPE, lParam);
        return result != 0;
    };

    if (!lf || lf->lfFaceName[0] == '\0') {
        // One report per family and character set, named by the family's first style.
        for (const Family& fam : families(catalog))
            for (const int cs : fam.charsets)
                if (wanted(cs, filter) && !report(*fam.first, cs))
                    return result;
        return result;
    }
    // One report per style and character set, each style's sets together and ascending.
    for (const FaceInfo* face : stylesOf(catalog, lf->lfFaceName))
        for (const int cs : face->charsets)
            if (wanted(cs, filter) && !report(*face, cs))
                return result;
    return result;
}

qf::Result<std::vector<AddedFace>> AddFontResourcePrivate(const std::string& path, int faceIndex)
{
    qf::Result<FontFileFaces> read = FontCatalog::addPrivateFile(path, faceIndex);
    if (!read)
        return read.failure();
    auto record = [](const FaceInfo& face) {
        return makeReport(face, face.charsets.empty() ? ANSI_CHARSET : face.charsets.front()).elf;
    };
    std::vector<AddedFace> added;
    for (size_t i = 0; i < read->faces.size(); ++i) {
        added.push_back({read->faces[i].faceIndex, record(read->faces[i]), std::nullopt});
        if (i < read->displaced.size() && read->displaced[i])
            added.back().replaced = record(*read->displaced[i]);
    }
    return added;
}

bool RemoveFontResourcePrivate(const std::string& path, int faceIndex)
{
    return FontCatalog::removePrivateFile(path, faceIndex);
}

int EnumFontFamiliesA(DeviceContext&, const char* family, FONTENUMPROCA proc, LPARAM lParam)
{
    if (!proc)
        return 0;
    const FontCatalog& catalog = FontCatalog::instance();
    int result = 1;
    auto report = [&](const FaceInfo& face, int charset) {
        const Report r = makeReport(face, charset);
        result = proc(&r.elf, &r.ntm.ntmTm, TRUETYPE_FONTTYPE, lParam);
        return result != 0;
    };
    // The older call knows no character sets: each report carries the style's first one.
    if (!family || family[0] == '\0') {
        for (const Family& fam : families(catalog))
            if (!report(*fam.first, fam.first->charsets.empty() ? ANSI_CHARSET : fam.first->charsets.front()))
                return result;
        return result;
    }
    for (const FaceInfo* face : stylesOf(catalog, family))
        if (!report(*face, face->charsets.empty() ? ANSI_CHARSET : face->charsets.front()))
            return result;
    return result;
}

}  // namespace gdi
