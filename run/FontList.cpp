#include "run/FontList.h"

#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "platform/FontCatalog.h"
#include "platform/FontEnumeration.h"
#include "platform/Prefault.h"

#include <cstring>

namespace qf {

namespace {

// Copies at most n bytes of a NUL-terminated field into a buffer of n bytes, always terminated.
template <size_t N>
void copyField(char (&to)[N], const char* from)
{
    const size_t n = strnlen(from, N - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

FontListEntry makeEntry(const gdi::ENUMLOGFONTEX& elf)
{
    FontListEntry entry;
    entry.name.assign(elf.elfFullName, strnlen(elf.elfFullName, gdi::LF_FULLFACESIZE));
    if (entry.name.size() > FontListEntry::kMaxName)
        entry.name.resize(FontListEntry::kMaxName);
    entry.fullName = entry.name;
    entry.logFont = elf.elfLogFont;
    // Size, orientation and rendering details are chosen per run, not taken from enumeration.
    entry.logFont.lfWidth = 0;
    entry.logFont.lfEscapement = 0;
    entry.logFont.lfOrientation = 0;
    entry.logFont.lfOutPrecision = 0;
    entry.logFont.lfClipPrecision = 0;
    entry.logFont.lfQuality = 0;
    entry.logFont.lfPitchAndFamily = 0;
    entry.logFont.lfFaceName[gdi::LF_FACESIZE - 1] = '\0';
    return entry;
}

}  // namespace

int EnumStyleProc(const gdi::ENUMLOGFONTEX* elf, const gdi::TEXTMETRIC* metrics, gdi::DWORD fontType,
                  gdi::LPARAM lParam)
{
    auto& context = *reinterpret_cast<FontEnumContext*>(lParam);
    const int32_t cs = elf->elfLogFont.lfCharSet;
    if (!context.extended || strncmp(elf->elfStyle, context.lastStyle, gdi::LF_FACESIZE) != 0) {
        copyField(context.lastStyle, elf->elfStyle);
        context.fonts->push_back(makeEntry(*elf));
        // The extended enumeration reports a TrueType face's metrics in a NEWTEXTMETRICEX, whose
        // font signature says which code pages the face was made for.
        if (context.extended && metrics && (fontType & gdi::TRUETYPE_FONTTYPE)) {
            const auto* ntm = reinterpret_cast<const gdi::NEWTEXTMETRICEX*>(metrics);
            context.fonts->back().codePageRanges[0] = ntm->ntmFontSig.fsCsb[0];
            context.fonts->back().codePageRanges[1] = ntm->ntmFontSig.fsCsb[1];
        }
        context.currentIndex = static_cast<int32_t>(context.fonts->size()) - 1;
        context.fonts->back().charsets.push_back(cs);
        // Remember the new style's first set: left at the previous style's last set, a style whose
        // second set equals it would lose that set (a Bold of {0, 238} after a Regular of {0, 238}
        // would list only 0 and be refused for code page 1250).
        context.lastCharset = cs;
    } else if (context.currentIndex != -1 && cs != context.lastCharset) {
        context.lastCharset = cs;
        (*context.fonts)[static_cast<size_t>(context.currentIndex)].charsets.push_back(cs);
    }
    return 1;
}

int EnumFamilyProc(const gdi::ENUMLOGFONTEX* elf, const gdi::TEXTMETRIC*, gdi::DWORD, gdi::LPARAM lParam)
{
    auto& context = *reinterpret_cast<FontEnumContext*>(lParam);
    if (strncmp(elf->elfFullName, context.lastFullName, gdi::LF_FULLFACESIZE) == 0)
        return 1;
    copyField(context.lastFullName, elf->elfFullName);
    context.lastStyle[0] = '\0';
    context.lastCharset = -1;
    context.currentIndex = -1;

    if (context.extended) {
        gdi::LOGFONT lf{};
        lf.lfCharSet = gdi::DEFAULT_CHARSET;
        lf.lfPitchAndFamily = 0;
        copyField(lf.lfFaceName, elf->elfLogFont.lfFaceName);
        gdi::EnumFontFamiliesExA(*context.hdc, &lf, EnumStyleProc, lParam, 0);
    } else {
        char face[gdi::LF_FACESIZE];
        copyField(face, elf->elfLogFont.lfFaceName);
        gdi::EnumFontFamiliesA(*context.hdc, face, EnumStyleProc, lParam);
    }
    return 1;
}

void BuildFontList(std::vector<FontListEntry>& fonts, gdi::DWORD osMajorVersion)
{
    gdi::DeviceContext dc;
    fonts.clear();
    // One entry per style at most: growing the list by doubling would touch its memory twice over.
    fonts.reserve(gdi::FontCatalog::instance().faces().size());
    prefault(fonts.data(), fonts.capacity() * sizeof(FontListEntry), size_t{64} << 10);
    FontEnumContext context;
    context.fonts = &fonts;
    context.hdc = &dc;
    context.extended = osMajorVersion >= 4;
    const auto lParam = reinterpret_cast<gdi::LPARAM>(&context);
    if (context.extended) {
        gdi::LOGFONT lf{};
        lf.lfCharSet = gdi::DEFAULT_CHARSET;
        lf.lfFaceName[0] = '\0';
        lf.lfPitchAndFamily = 0;
        gdi::EnumFontFamiliesExA(dc, &lf, EnumFamilyProc, lParam, 0);
    } else {
        gdi::EnumFontFamiliesA(dc, nullptr, EnumFamilyProc, lParam);
    }
}

bool IsEntryOf(const FontListEntry& entry, const gdi::ENUMLOGFONTEX& record)
{
    const gdi::LOGFONT& lf = record.elfLogFont;
    std::string fullName(record.elfFullName, strnlen(record.elfFullName, gdi::LF_FULLFACESIZE));
    if (fullName.size() > FontListEntry::kMaxName)
        fullName.resize(FontListEntry::kMaxName);
    return strncmp(entry.logFont.lfFaceName, lf.lfFaceName, gdi::LF_FACESIZE) == 0 && entry.fullName == fullName &&
           entry.logFont.lfWeight == lf.lfWeight && entry.logFont.lfItalic == lf.lfItalic;
}

std::optional<FontListEntry> ListedEntry(const gdi::ENUMLOGFONTEX& record, gdi::DWORD osMajorVersion)
{
    gdi::DeviceContext dc;
    std::vector<FontListEntry> styles;
    FontEnumContext context;
    context.fonts = &styles;
    context.hdc = &dc;
    context.extended = osMajorVersion >= 4;
    const auto lParam = reinterpret_cast<gdi::LPARAM>(&context);
    char family[gdi::LF_FACESIZE];
    copyField(family, record.elfLogFont.lfFaceName);
    if (context.extended) {
        gdi::LOGFONT lf{};
        lf.lfCharSet = gdi::DEFAULT_CHARSET;
        copyField(lf.lfFaceName, family);
        gdi::EnumFontFamiliesExA(dc, &lf, EnumStyleProc, lParam, 0);
    } else {
        gdi::EnumFontFamiliesA(dc, family, EnumStyleProc, lParam);
    }
    for (FontListEntry& entry : styles)
        if (IsEntryOf(entry, record))
            return std::move(entry);
    return std::nullopt;
}

}  // namespace qf
