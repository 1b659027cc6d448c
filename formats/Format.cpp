#include "formats/Format.h"

namespace qf {

namespace {

// Printer soft fonts are always made for a 300 x 300 dpi printer.
constexpr int32_t kPrinterResolution = 300;

constexpr FormatInfo kFormats[kFormatCount] = {
    {OutputFormat::FON, "Windows Font File (FON)", ".fon", "fon", true, 0, false},
    {OutputFormat::FNT, "Windows Font Resource (FNT)", ".fnt", "fnt", false, 0, false},
    {OutputFormat::SFP, "HP LJ Soft Font Portrait (SFP)", ".sfp", "sfp", false, kPrinterResolution, false},
    {OutputFormat::SFL, "HP LJ Soft Font Landscape (SFL)", ".sfl", "sfl", false, kPrinterResolution, true},
    {OutputFormat::BDF, "Bitmap Font File (BDF)", ".bdf", "bdf", false, 0, false},
};

}  // namespace

std::span<const FormatInfo> formatTable() { return kFormats; }

const FormatInfo& formatInfo(OutputFormat format)
{
    const auto i = static_cast<int>(format);
    return kFormats[i >= 0 && i < kFormatCount ? i : 0];
}

const FormatInfo* formatByOption(std::string_view option)
{
    for (const FormatInfo& info : kFormats)
        if (option == info.option)
            return &info;
    return nullptr;
}

}  // namespace qf
