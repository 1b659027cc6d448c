#include "formats/Format.h"

#include "formats/BdfWriter.h"
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "formats/OtbWriter.h"
#include "formats/PcfWriter.h"
#include "formats/PsfWriter.h"
#include "formats/PclSoftFontWriter.h"

#include <vector>

namespace qf {

namespace {

// Printer soft fonts are always made for a 300 x 300 dpi printer.
constexpr int32_t kPrinterResolution = 300;

// The one writer (or library builder) of a kind, made on first use: T built from args.
template <class Base, class T, auto... args>
const Base& one()
{
    static const T made(args...);
    return made;
}

constexpr auto fnt = one<FontWriter, FntBuilder>;
constexpr auto fon = one<LibraryBuilder, FonLibrary>;
constexpr auto sfp = one<FontWriter, PclSoftFontWriter, false>;
constexpr auto sfl = one<FontWriter, PclSoftFontWriter, true>;
constexpr auto bdf = one<FontWriter, BdfWriter>;
constexpr auto pcf = one<FontWriter, PcfWriter>;
constexpr auto otb = one<FontWriter, OtbWriter>;
constexpr auto psf = one<FontWriter, PsfWriter>;

constexpr char32_t kLastUnicode = 0x10FFFF;

constexpr FormatInfo kFormats[] = {
    {OutputFormat::FON, "Windows Font File (FON)", ".fon", "fon", fnt, fon, GlyphStorage::Cell, CodeSpace::CodePage,
     0, false, 0xFF, true, nullptr},
    {OutputFormat::FNT, "Windows Font Resource (FNT)", ".fnt", "fnt", fnt, nullptr, GlyphStorage::Cell,
     CodeSpace::CodePage, 0, false, 0xFF, true, nullptr},
    {OutputFormat::SFP, "HP LJ Soft Font Portrait (SFP)", ".sfp", "sfp", sfp, nullptr, GlyphStorage::InkBox,
     CodeSpace::CodePage, kPrinterResolution, false, 0xFF, true, nullptr},
    {OutputFormat::SFL, "HP LJ Soft Font Landscape (SFL)", ".sfl", "sfl", sfl, nullptr, GlyphStorage::InkBox,
     CodeSpace::CodePage, kPrinterResolution, true, 0xFF, true, nullptr},
    {OutputFormat::BDF, "Bitmap Font File (BDF)", ".bdf", "bdf", bdf, nullptr, GlyphStorage::InkBox,
     CodeSpace::CodePageOrUnicode, 0, false, kLastUnicode, true, nullptr},
    // PCF's encoding table addresses 16 bits.
    {OutputFormat::PCF, "X11 Portable Compiled Font (PCF)", ".pcf", "pcf", pcf, nullptr, GlyphStorage::InkBox,
     CodeSpace::Unicode, 0, false, 0xFFFF, false, nullptr},
    {OutputFormat::OTB, "OpenType Bitmap Font (OTB)", ".otb", "otb", otb, nullptr, GlyphStorage::InkBox,
     CodeSpace::Unicode, 0, false, kLastUnicode, true, nullptr},
    // The console's set: box drawing with Western and Central European Latin, Greek and Cyrillic,
    // 500 characters, within the 512 glyphs the console loads.
    {OutputFormat::PSF, "Linux Console Font (PSF)", ".psf", "psf", psf, nullptr, GlyphStorage::InkBox,
     CodeSpace::Unicode, 0, false, kLastUnicode, true, "cp437, cp1250, cp1251, cp1252, cp1253"},
};

// The table is in the list's order, so a format's value is its row.
constexpr bool inListOrder()
{
    for (size_t i = 0; i < std::size(kFormats); ++i)
        if (static_cast<size_t>(kFormats[i].format) != i)
            return false;
    return true;
}
static_assert(inListOrder(), "formats out of the list's order");

}  // namespace

std::span<const FormatInfo> formatTable() { return kFormats; }

const FormatInfo& formatInfo(OutputFormat format)
{
    const auto i = static_cast<size_t>(format);
    return kFormats[i < std::size(kFormats) ? i : 0];
}

const FormatInfo* formatByOption(std::string_view option)
{
    for (const FormatInfo& info : kFormats)
        if (option == info.option)
            return &info;
    return nullptr;
}

std::string formatOptions(bool (*which)(const FormatInfo&))
{
    std::vector<const char*> names;
    for (const FormatInfo& info : kFormats)
        if (!which || which(info))
            names.push_back(info.option);
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += std::string(i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

}  // namespace qf
