#include "run/GenerationRun.h"

#include "formats/BdfWriter.h"
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "formats/PclSoftFontWriter.h"
#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"
#include "run/OutputBudget.h"

#include <algorithm>
#include <cstring>

namespace qf {

namespace {

const FormatInfo kFormats[kFormatCount] = {
    {OutputFormat::FON, "Windows Font File (FON)", ".fon", "fon"},
    {OutputFormat::FNT, "Windows Font Resource (FNT)", ".fnt", "fnt"},
    {OutputFormat::SFP, "HP LJ Soft Font Portrait (SFP)", ".sfp", "sfp"},
    {OutputFormat::SFL, "HP LJ Soft Font Landscape (SFL)", ".sfl", "sfl"},
    {OutputFormat::BDF, "Bitmap Font File (BDF)", ".bdf", "bdf"},
};

// Printer soft fonts are always made for a 300 x 300 dpi printer, whatever the resolution edits say.
constexpr int32_t kPclResolution = 300;

std::string replaceName(const char* format, const std::string& name)
{
    std::string text = format;
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, name);
    return text;
}

constexpr const char* kUnsupportedMessage =
    "Font %s cannot support selected codepage. You can continue process and Windows will try to "
    "substitute codepage, but it is not recommended.\n\nDo you want to continue exporting this font "
    "or you want to skip it?";
constexpr const char* kOversizedMessage =
    "Size of the FON file generated for a font %s exceed 64K, so font is not created.\n\n"
    "Continue fonts generation?";

enum class Remembered { None, YesToAll, SkipAll, Stop };

// The writers and the rasteriser name a font in their reasons with its cp1252 bytes: the writers'
// "<name> at <size> points" prefix, the rasteriser's quoted face name. A report is UTF-8.
std::string withUtf8Names(std::string reason, const FontListEntry& entry)
{
    auto ascii = [](const std::string& s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
    };
    if (!ascii(entry.name) && reason.compare(0, entry.name.size() + 4, entry.name + " at ") == 0)
        reason.replace(0, entry.name.size(), ansiToUtf8(entry.name));
    const std::string face(entry.logFont.lfFaceName, strnlen(entry.logFont.lfFaceName, gdi::LF_FACESIZE));
    if (!ascii(face)) {
        const std::string raw = "\"" + face + "\"";
        const std::string utf8 = "\"" + ansiToUtf8(face) + "\"";
        for (auto at = reason.find(raw); at != std::string::npos; at = reason.find(raw, at + utf8.size()))
            reason.replace(at, raw.size(), utf8);
    }
    return reason;
}

}  // namespace

const FormatInfo& formatInfo(OutputFormat format)
{
    const auto i = static_cast<int>(format);
    return kFormats[i >= 0 && i < kFormatCount ? i : 0];
}

std::string RunFileNames::baseFor(const char* faceName, std::string_view fullName)
{
    // Styles of one family share a face name; the first to come keeps it, the others take their
    // full name, so no file of the run replaces another.
    std::string base = GenerationRun::safeFileNamePart(faceName);
    if (taken_.count(base)) {
        const std::string full = GenerationRun::safeFileNamePart(fullName);
        base = full;
        for (int n = 2; taken_.count(base); ++n)
            base = full + " (" + std::to_string(n) + ")";
    }
    taken_.insert(base);
    return base;
}

GenerationRun::GenerationRun(GenerationSettings& settings, RunHost& host, FileLayer& files)
    : settings_(settings), host_(host), files_(files)
{
}

std::string GenerationRun::validate(const GenerationSettings& settings)
{
    // Both resolutions are stored in 16-bit fields of every format, and divide the writers' scales.
    if (settings.resolutionX < 1 || settings.resolutionX > 65535 || settings.resolutionY < 1 ||
        settings.resolutionY > 65535)
        return "The resolution must be a whole number of dots per inch from 1 to 65535.";
    if (settings.sizes.empty())
        return "No point size is requested.";
    if (settings.codePageIndex < 0 || settings.codePageIndex >= CodePageTable::rowCount())
        return "Unknown code page.";
    if (!settings.fonts)
        return "No font list.";
    return {};
}

std::string GenerationRun::safeFileNamePart(const char* faceName)
{
    return safeFileNamePart(std::string_view(faceName, strnlen(faceName, gdi::LF_FACESIZE)));
}

std::string GenerationRun::safeFileNamePart(std::string_view name)
{
    std::string bytes(name.substr(0, name.find('\0')));
    // A face name comes from a font file: it must not lead out of the chosen folder.
    for (char& c : bytes)
        if (c == '/')
            c = '_';
    if (bytes == "." || bytes == "..")
        bytes.insert(0, "_");
    return ansiToUtf8(bytes);
}

std::string GenerationRun::fileName(const std::string& folderPrefix, const char* faceName,
                                    int32_t size, const char* extension)
{
    return fileNameFromBase(folderPrefix, safeFileNamePart(faceName), size, extension);
}

std::string GenerationRun::fileNameFromBase(const std::string& folderPrefix, const std::string& base,
                                            int32_t size, const char* extension)
{
    std::string name = folderPrefix + base;
    if (size >= 0)
        name += "_" + std::to_string(size);
    return name + extension;
}

RunResult GenerationRun::execute()
{
    RunResult result;
    result.refusal = validate(settings_);
    if (!result.refusal.empty())
        return result;

    std::string chosen;
    if (!host_.chooseFolder(settings_.outputFolder, chosen))
        return result;
    result.started = true;

    // One device context and one slot per size for the whole run.
    gdi::DeviceContext dc;
    dc.setResolution(settings_.deviceDpiX, settings_.deviceDpiY);
    const int charset = CodePageTable::prepareDeviceContext(settings_.codePageIndex, dc);
    const std::vector<int32_t> sizes = settings_.sizes;
    std::vector<ImageSlot> slots(sizes.size());

    const std::string folderPrefix = chosen + "/";
    settings_.outputFolder = chosen;
    // Temporary files of runs killed outright (SIGKILL, power loss) have nobody else to remove them.
    std::vector<std::string> extensions;
    for (const FormatInfo& info : kFormats)
        extensions.emplace_back(info.extension);
    removeStaleTemporaryFiles(chosen, extensions, files_);

    std::vector<FontListEntry>& fonts = *settings_.fonts;
    int selected = 0;
    for (const FontListEntry& entry : fonts)
        selected += entry.selected ? 1 : 0;
    host_.beginRun(selected * static_cast<int>(sizes.size()));

    int progress = 0;
    Remembered answer = Remembered::None;
    RunFileNames names;
    host_.setRunning(true);

    const OutputFormat format = settings_.format;
    const char* extension = formatInfo(format).extension;
    const int32_t resX = static_cast<int32_t>(settings_.resolutionX);
    const int32_t resY = static_cast<int32_t>(settings_.resolutionY);

    auto stepProgress = [&] {
        host_.pumpMessages();
        host_.setProgress(progress++);
    };
    // Every file of the run is written through the bound on its output.
    OutputBudget budget(files_, settings_.maxOutputBytes);
    const FontListEntry* current = nullptr;
    auto fail = [&](const std::string& file, const std::string& why) {
        // The file layer and the BDF writer name the file in their reasons; it is named once.
        const std::string prefix = file + ": ";
        std::string reason = why.compare(0, prefix.size(), prefix) == 0 ? why.substr(prefix.size()) : why;
        if (budget.spent())
            reason = "it would take the run's output past its limit of " + OutputBudget::describe(budget.limit());
        result.failures.push_back({file, current ? withUtf8Names(reason, *current) : reason});
    };
    auto written = [&](const std::string& file) {
        result.written.push_back(file);
        host_.fileWritten(file);
    };

    for (size_t index = 0; index < fonts.size(); ++index) {
        FontListEntry& entry = fonts[index];
        current = &entry;
        if (entry.selected) {
            // The code page test.
            const bool supported = entry.logFont.lfCharSet == gdi::DEFAULT_CHARSET ||
                                   answer == Remembered::YesToAll ||
                                   CodePageTable::fontSupportsRow(entry, settings_.codePageIndex);
            bool skip = false;
            if (!supported) {
                if (answer == Remembered::SkipAll) {
                    skip = true;
                } else {
                    switch (host_.confirmCodePage(replaceName(kUnsupportedMessage, ansiToUtf8(entry.name)))) {
                    case kAnswerYes:
                        break;
                    case kAnswerYesToAll:
                        answer = Remembered::YesToAll;
                        break;
                    case kAnswerSkipAll:
                        answer = Remembered::SkipAll;
                        skip = true;
                        break;
                    case kAnswerStop:
                        answer = Remembered::Stop;
                        break;
                    default:
                        skip = true;
                        break;
                    }
                }
            }
            if (answer == Remembered::Stop) {
                result.stopped = true;
                result.stopReason = "the font " + ansiToUtf8(entry.name) + " does not support code page " +
                                    std::to_string(CodePageTable::row(settings_.codePageIndex).codePage);
                break;
            }
            if (skip) {
                result.skippedFonts.push_back(entry.name);
                host_.fontSkipped(entry);
            } else {
                if (entry.logFont.lfCharSet != gdi::DEFAULT_CHARSET)
                    entry.logFont.lfCharSet = static_cast<gdi::BYTE>(charset & 0xFF);
                const std::string base = names.baseFor(entry.logFont.lfFaceName,
                                                       entry.fullName.empty() ? entry.name : entry.fullName);
                const char* name = entry.name.c_str();
                const uint64_t inkBefore = dc.inkedCharacters();
                const size_t writtenBefore = result.written.size();

                if (format == OutputFormat::BDF) {
                    for (const int32_t size : sizes) {
                        if (budget.spent())
                            break;
                        const std::string file = fileNameFromBase(folderPrefix, base, size, extension);
                        std::string error;
                        if (BdfWriter::write(dc, entry.logFont, size, resX, resY, file, name, &error, budget) < 0)
                            fail(file, error);
                        else
                            written(file);
                        stepProgress();
                    }
                } else {
                    std::vector<std::string> refusals(sizes.size());
                    for (size_t i = 0; i < sizes.size(); ++i) {
                        ImageSlot& slot = slots[i];
                        slot.length = 0;
                        if (format == OutputFormat::FON || format == OutputFormat::FNT)
                            slot.image = FntBuilder::build(dc, entry.logFont, sizes[i], resX, resY,
                                                           slot.length, name, &refusals[i]);
                        else
                            slot.image = PclSoftFontWriter::build(
                                dc, entry.logFont, sizes[i], kPclResolution, kPclResolution,
                                CodePageTable::pclSymbolSetValue(settings_.codePageIndex), slot.length,
                                format == OutputFormat::SFL, name, &refusals[i]);
                        stepProgress();
                    }

                    if (format == OutputFormat::FON) {
                        const std::string file = fileNameFromBase(folderPrefix, base, -1, extension);
                        // The library holds the sizes that could be made; each refused size is
                        // reported on its own.
                        std::vector<ImageSlot> kept;
                        for (size_t i = 0; i < sizes.size(); ++i) {
                            if (slots[i].image)
                                kept.push_back(std::move(slots[i]));
                            else
                                fail(file, std::to_string(sizes[i]) + " points left out of the library: " +
                                               refusals[i]);
                        }
                        if (!kept.empty()) {
                            uint32_t length = 0;
                            std::string error;
                            Image library = FonWriter::build(kept.data(), static_cast<int32_t>(kept.size()),
                                                             length, &error);
                            if (library) {
                                const std::string why = writeFileWhole(file, library.get(), length, budget);
                                if (why.empty())
                                    written(file);
                                else
                                    fail(file, why);
                            } else if (length > FonWriter::kBudgetLimit) {
                                ++result.oversizedFons;
                                if (!host_.continueAfterOversizedFon(
                                        replaceName(kOversizedMessage, ansiToUtf8(entry.name)))) {
                                    host_.setRunning(false);
                                    result.stopped = true;
                                }
                            } else {
                                fail(file, error);
                            }
                        }
                    } else {
                        for (size_t i = 0; i < sizes.size() && !budget.spent(); ++i) {
                            const std::string file = fileNameFromBase(folderPrefix, base, sizes[i], extension);
                            if (!slots[i].image) {
                                fail(file, refusals[i]);
                                continue;
                            }
                            const std::string why = writeFileWhole(file, slots[i].image.get(), slots[i].length, budget);
                            if (why.empty())
                                written(file);
                            else
                                fail(file, why);
                        }
                    }
                    // This font's images go before the next font's are made.
                    for (ImageSlot& slot : slots) {
                        slot.image.reset();
                        slot.length = 0;
                    }
                }
                // A damaged face (a corrupt glyf table, say) can be drawn without a single pixel.
                if (result.written.size() > writtenBefore && dc.inkedCharacters() == inkBefore) {
                    result.warnings.push_back(ansiToUtf8(entry.name) +
                                              ": no character drew any ink, so its files hold only blank "
                                              "characters (is the font file damaged?)");
                    host_.warning(result.warnings.back());
                }
            }
        }
        if (budget.spent()) {
            result.stopped = true;
            result.stopReason = "writing on would pass the run's output limit of " +
                                OutputBudget::describe(budget.limit());
            break;
        }
        if (!host_.running()) {
            result.stopped = true;
            break;
        }
    }

    host_.setRunning(false);
    host_.endRun(result.failures);
    return result;
}

}  // namespace qf
