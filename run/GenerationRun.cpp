#include "run/GenerationRun.h"
#include "platform/CodePages.h"

#include "formats/FontWriter.h"
#include "formats/UnicodeGlyphs.h"
#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"
#include "render/GlyphRasteriser.h"
#include "run/OutputBudget.h"
#include "run/SizeWorkers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>

namespace qf {

namespace {

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

}  // namespace

std::string RunFileNames::baseFor(const char* faceName, std::string_view fullName)
{
    // Styles of one family share a face name; the first to come keeps it, the others take their
    // full name, so no file of the run replaces another.
    std::string base = part(GenerationRun::safeFileNamePart(faceName));
    if (taken_.count(base)) {
        const std::string full = part(GenerationRun::safeFileNamePart(fullName));
        base = full;
        for (int n = 2; taken_.count(base); ++n)
            base = full + " (" + std::to_string(n) + ")";
    }
    taken_.insert(base);
    return base;
}

std::string RunFileNames::part(std::string_view name) const
{
    std::string text(name);
    if (!spaces_)
        std::replace(text.begin(), text.end(), ' ', '-');
    return text;
}

GenerationRun::GenerationRun(GenerationSettings& settings, RunHost& host, FileLayer& files)
    : settings_(settings), host_(host), files_(files)
{
}

std::string GenerationRun::validate(const GenerationSettings& settings)
{
    if (!GlyphRasteriser::resolutionInRange(settings.resolutionX, settings.resolutionY))
        return "The resolution must be a whole number of dots per inch from 1 to 65535.";
    if (settings.sizes.empty())
        return "No point size is requested.";
    if (settings.codePageIndex < 0 || settings.codePageIndex >= CodePageTable::rowCount())
        return "Unknown code page.";
    if (!settings.fonts)
        return "No font list.";
    if (settings.characters && !formatInfo(settings.format).takesUnicode())
        return std::string("The ") + formatInfo(settings.format).option +
               " format holds the characters of one code page only.";
    return {};
}

bool GenerationRun::holdsCodePage(const FormatInfo& format, bool charactersChosen)
{
    return format.codeSpace == CodeSpace::CodePage || (format.codeSpace == CodeSpace::CodePageOrUnicode && !charactersChosen);
}

std::shared_ptr<const Repertoire> GenerationRun::codePageRepertoire(int codePageIndex)
{
    auto codePage = std::make_shared<Repertoire>();
    codePage->pclSymbolSet = CodePageTable::pclSymbolSetValue(codePageIndex);
    if (const gdi::ByteMap* map = gdi::codePageMap(static_cast<unsigned>(CodePageTable::row(codePageIndex).codePage)))
        for (uint32_t b = 0; b < map->size(); ++b)
            if ((*map)[b] != gdi::kUnmapped)
                codePage->entries.push_back({b, (*map)[b]});
    return codePage;
}

CharacterSelection GenerationRun::unicodeSelection(const std::optional<CharacterSelection>& chosen,
                                                   const FormatInfo& format, int codePageIndex)
{
    if (chosen)
        return *chosen;
    CharacterSelection selection;
    std::string ignored;
    parseCharacterSelection(format.defaultCharacters
                                ? std::string(format.defaultCharacters)
                                : "cp" + std::to_string(CodePageTable::row(codePageIndex).codePage),
                            selection, ignored);
    return selection;
}

Repertoire GenerationRun::faceRepertoire(gdi::DeviceContext& dc, const gdi::LOGFONT& font,
                                         const CharacterSelection& selection, const FormatInfo& format, size_t& beyond)
{
    beyond = 0;
    gdi::LOGFONT lf = font;
    lf.lfHeight = -32;
    auto realised = gdi::Font::createFontIndirect(lf);
    if (!realised)  // each size says why when it is drawn
        return unicodeRepertoire(selection, {});
    dc.selectObject(realised);
    Repertoire repertoire = unicodeRepertoire(selection, dc.mappedCharacters());
    const auto past = std::find_if(repertoire.entries.begin(), repertoire.entries.end(),
                                   [&](const Repertoire::Slot& s) { return s.code > format.lastCharacter; });
    beyond = static_cast<size_t>(repertoire.entries.end() - past);
    repertoire.entries.erase(past, repertoire.entries.end());
    return repertoire;
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
        bytes.insert(bytes.begin(), '_');
    return gdi::ansiToUtf8(bytes);
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
    if (size >= 0) {
        name += '_';
        name += std::to_string(size);
    }
    return name + extension;
}

// One run from the chosen folder to its end: the state the steps share, and the steps.
class GenerationRun::Pass {
public:
    Pass(GenerationSettings& settings, RunHost& host, FileLayer& files, const std::string& folder)
        : settings_(settings), host_(host), format_(formatInfo(settings.format)), folderPrefix_(folder + "/"),
          budget_(files, settings.maxOutputBytes), sizes_(settings.sizes), names_(format_.spacesInNames)
    {
        dc_.setResolution(settings.deviceDpiX, settings.deviceDpiY);
        charset_ = CodePageTable::prepareDeviceContext(settings.codePageIndex, dc_);
        codePageRepertoire_ = codePageRepertoire(settings.codePageIndex);
        if (settings.jobs > 1) {
            workers_ = std::make_unique<SizeWorkers>(settings.jobs, settings.deviceDpiX, settings.deviceDpiY,
                                                     settings.codePageIndex);
            // The run's own thread draws its share of the characters too.
            helpers_ = std::make_unique<CharacterHelpers>();
            for (int i = 1; i < settings.jobs; ++i)
                helpers_->contexts.push_back(
                    makeRunContext(settings.deviceDpiX, settings.deviceDpiY, settings.codePageIndex));
        }
    }

    RunResult run()
    {
        std::vector<FontListEntry>& fonts = *settings_.fonts;
        int selected = 0;
        for (const FontListEntry& entry : fonts)
            selected += entry.selected ? 1 : 0;
        host_.beginRun(selected * static_cast<int>(sizes_.size()));
        host_.setRunning(true);

        for (size_t index = 0; index < fonts.size(); ++index) {
            FontListEntry& entry = fonts[index];
            current_ = &entry;
            if (entry.selected) {
                const Decision decision = decideCodePage(entry);
                if (decision == Decision::Stop)
                    break;
                if (decision == Decision::Skip) {
                    result_.skippedFonts.push_back(entry.name);
                    host_.fontSkipped(entry);
                } else {
                    writeFont(index);
                }
            }
            if (budget_.spent()) {
                result_.stopped = true;
                result_.stopReason = "writing on would pass the run's output limit of " +
                                     OutputBudget::describe(budget_.limit());
                break;
            }
            if (!host_.running()) {
                result_.stopped = true;
                break;
            }
        }
        flushWritten();
        host_.setRunning(false);
        host_.endRun(result_.failures);
        return std::move(result_);
    }

private:
    enum class Decision { Write, Skip, Stop };
    enum class Remembered { None, YesToAll, SkipAll };

    // The code page test, and the prompt for a font that fails it; its "to all" answers hold for
    // the rest of the run.
    Decision decideCodePage(const FontListEntry& entry)
    {
        if (writtenWithoutAsking(entry))
            return Decision::Write;
        if (answer_ == Remembered::SkipAll)
            return Decision::Skip;
        switch (host_.confirmCodePage(replaceName(kUnsupportedMessage, gdi::ansiToUtf8(entry.name)))) {
        case kAnswerYes:
            return Decision::Write;
        case kAnswerYesToAll:
            answer_ = Remembered::YesToAll;
            return Decision::Write;
        case kAnswerSkipAll:
            answer_ = Remembered::SkipAll;
            return Decision::Skip;
        case kAnswerStop:
            result_.stopped = true;
            result_.stopReason = "the font " + gdi::ansiToUtf8(entry.name) + " does not support code page " +
                                 std::to_string(CodePageTable::row(settings_.codePageIndex).codePage);
            return Decision::Stop;
        default:
            return Decision::Skip;
        }
    }

    // A font made ready for writing: at its turn, or ahead of it while the workers draw the fonts
    // before it. What it has to say waits for its turn, so the run reports in the fonts' order.
    struct ReadyFont {
        size_t index = 0;  // in the font list
        WriteRequest request;
        std::shared_ptr<const void> held;  // the version of its file every size is drawn from
        std::vector<std::string> warnings;
        uint64_t leftOut = 0;
        bool splitCharacters = false;      // each size's characters drawn across threads, the sizes here
        std::optional<size_t> firstJob;    // its first size's job on the workers
    };

    // Whether the font is written without asking anyone, now and whatever is answered meanwhile:
    // only those are made ready ahead of their turn.
    bool writtenWithoutAsking(const FontListEntry& entry) const
    {
        return entry.logFont.lfCharSet == gdi::DEFAULT_CHARSET || answer_ == Remembered::YesToAll ||
               CodePageTable::fontSupportsRow(entry, settings_.codePageIndex);
    }

    ReadyFont prepare(size_t index)
    {
        const FontListEntry& entry = (*settings_.fonts)[index];
        ReadyFont font;
        font.index = index;
        WriteRequest& request = font.request;
        request.font = entry.logFont;
        if (request.font.lfCharSet != gdi::DEFAULT_CHARSET)
            request.font.lfCharSet = static_cast<gdi::BYTE>(charset_ & 0xFF);
        request.resolutionX = format_.fixedResolution ? format_.fixedResolution
                                                      : static_cast<int32_t>(settings_.resolutionX);
        request.resolutionY = format_.fixedResolution ? format_.fixedResolution
                                                      : static_cast<int32_t>(settings_.resolutionY);
        request.name = entry.name;
        // Every size of the font comes from one version of its file, even should it be replaced
        // meanwhile. A file that no longer holds the face refuses each size with the reason.
        font.held = gdi::Font::holdFile(request.font);
        request.repertoire = repertoireFor(request.font, entry, font);
        font.splitCharacters = helpers_ && request.unicode() &&
                               request.repertoire->entries.size() >= kCharactersSplitFrom;
        if (font.splitCharacters)
            request.helpers = helpers_.get();
        else if (workers_)
            font.firstJob = workers_->add(writerFor(format_.format), font.request, sizes_);
        return font;
    }

    // Hands the workers the fonts after `current` that will be written without a question, as
    // long as they have little else waiting. A font whose characters are split takes every
    // thread at its turn: nothing after it is handed over before it is done.
    void lookAhead(size_t current)
    {
        const std::vector<FontListEntry>& fonts = *settings_.fonts;
        const size_t enough = 2 * static_cast<size_t>(workers_->count());
        scanned_ = std::max(scanned_, current + 1);
        while (scanned_ < fonts.size() && workers_->waiting() < enough) {
            if (!ahead_.empty() && ahead_.back().splitCharacters)
                return;
            const size_t index = scanned_++;
            if (!fonts[index].selected || !writtenWithoutAsking(fonts[index]))
                continue;
            ahead_.push_back(prepare(index));
        }
    }

    ReadyFont readyFont(size_t index)
    {
        while (!ahead_.empty() && ahead_.front().index < index)
            ahead_.pop_front();
        if (!ahead_.empty() && ahead_.front().index == index) {
            ReadyFont font = std::move(ahead_.front());
            ahead_.pop_front();
            return font;
        }
        return prepare(index);
    }

    void writeFont(size_t index)
    {
        FontListEntry& entry = (*settings_.fonts)[index];
        ReadyFont font = readyFont(index);
        if (entry.logFont.lfCharSet != gdi::DEFAULT_CHARSET)
            entry.logFont.lfCharSet = static_cast<gdi::BYTE>(charset_ & 0xFF);
        const std::string base =
            names_.baseFor(entry.logFont.lfFaceName, entry.fullName.empty() ? entry.name : entry.fullName);
        result_.charactersLeftOut += font.leftOut;
        for (std::string& warning : font.warnings) {
            result_.warnings.push_back(std::move(warning));
            host_.warning(result_.warnings.back());
        }

        inked_ = 0;
        const size_t writtenBefore = result_.written.size();
        if (format_.library)
            writeLibrary(font, base, entry);
        else
            writeSizes(font, base);
        // A damaged face (a corrupt glyf table, say) can be drawn without a single pixel.
        if (result_.written.size() > writtenBefore && inked_ == 0) {
            result_.warnings.push_back(gdi::ansiToUtf8(entry.name) +
                                       ": no character drew any ink, so its files hold only blank "
                                       "characters (is the font file damaged?)");
            host_.warning(result_.warnings.back());
        }
    }

    // The characters of the font's files: the code page's, or the Unicode characters asked for
    // that its face maps (the others counted as left out).
    std::shared_ptr<const Repertoire> repertoireFor(const gdi::LOGFONT& logFont, const FontListEntry& entry,
                                                    ReadyFont& font)
    {
        if (holdsCodePage(format_, settings_.characters.has_value()))
            return codePageRepertoire_;
        size_t count = 0;
        auto repertoire = std::make_shared<Repertoire>(faceRepertoire(dc_, logFont, unicodeSelection_, format_, count));
        font.leftOut = repertoire->leftOut;
        // Characters past what the format's codes hold are left out and said.
        if (count > 0) {
            char last[16];
            std::snprintf(last, sizeof last, "U+%04X", static_cast<unsigned>(format_.lastCharacter));
            font.warnings.push_back(gdi::ansiToUtf8(entry.name) + ": " + std::to_string(count) +
                                    " character(s) above " + last + " left out of its " + format_.option +
                                    " files, whose codes stop there");
        }
        return repertoire;
    }

    uint64_t ownInked() const { return dc_.inkedCharacters() + (helpers_ ? helpers_->inkedCharacters() : 0); }

    // Size i of the font: drawn here, or taken from the workers that drew it while what came
    // before it was written.
    RenderedSize& render(const FontWriter& writer, ReadyFont& font, size_t i)
    {
        if (font.firstJob) {
            lookAhead(font.index);
            RenderedSize& rendered = workers_->take(*font.firstJob + i);
            inked_ += rendered.inked;
            return rendered;
        }
        font.request.pointSize = sizes_[i];
        const uint64_t before = ownInked();
        own_.problem = writeSafely(writer, dc_, font.request, own_.image);
        inked_ += ownInked() - before;
        return own_;
    }

    // The run is done with size i's result: its memory serves a later size.
    void release(const ReadyFont& font, size_t i)
    {
        if (font.firstJob)
            workers_->recycle(*font.firstJob + i);
    }

    // One file per size, each written as soon as it is made.
    void writeSizes(ReadyFont& font, const std::string& base)
    {
        const FontWriter& writer = writerFor(format_.format);
        for (size_t i = 0; i < sizes_.size() && !budget_.spent(); ++i) {
            RenderedSize& rendered = render(writer, font, i);
            const std::string file = fileNameFromBase(folderPrefix_, base, sizes_[i], format_.extension);
            if (rendered.problem) {
                fail(file, rendered.problem.text);
            } else {
                writeFile(file, rendered.image);
                if (!rendered.problem.warning.empty()) {
                    result_.warnings.push_back(file + ": " + rendered.problem.warning);
                    host_.warning(result_.warnings.back());
                }
            }
            release(font, i);
            stepProgress();
        }
    }

    // One library per font, holding the sizes that could be made; each refused size is reported
    // on its own.
    void writeLibrary(ReadyFont& font, const std::string& base, const FontListEntry& entry)
    {
        const FontWriter& writer = writerFor(format_.format);
        const std::string file = fileNameFromBase(folderPrefix_, base, -1, format_.extension);
        std::vector<OutputSink> kept;
        std::vector<std::string> refused;
        for (size_t i = 0; i < sizes_.size(); ++i) {
            RenderedSize& rendered = render(writer, font, i);
            stepProgress();
            if (rendered.problem)
                refused.push_back(std::to_string(sizes_[i]) + " points left out of the library: " +
                                  rendered.problem.text);
            else
                kept.push_back(std::move(rendered.image));
            release(font, i);
        }
        // The sizes left out are failures unless the library is written without them.
        auto reportRefused = [&] {
            const bool written = !result_.written.empty() && result_.written.back() == file;
            for (const std::string& why : refused) {
                if (written)
                    result_.leftOut.push_back({file, why, gdi::ansiToUtf8(entry.name)});
                else
                    fail(file, why);
            }
        };
        if (kept.empty()) {
            reportRefused();
            return;
        }
        OutputSink library;
        const WriteProblem problem = buildSafely(format_.library(), kept, library);
        if (!problem)
            writeFile(file, library);
        reportRefused();
        if (problem.kind == WriteProblem::Kind::NeedsConsent) {
            ++result_.withheldFiles;
            if (!host_.goOnWithoutFile(replaceName(problem.notice.c_str(), gdi::ansiToUtf8(entry.name)),
                                       problem.question)) {
                host_.setRunning(false);
                result_.stopped = true;
            }
        } else if (problem) {
            fail(file, problem.text);
        }
    }

    void writeFile(const std::string& file, const OutputSink& image)
    {
        if (const std::string special = specialFileAt(file); !special.empty()) {
            fail(file, special + " is in its place; nothing was read or written through it");
            return;
        }
        // A streamed file is a mapping read once over: its pages go as it is compared and written.
        std::function<void(size_t)> passed;
        if (image.streamed())
            passed = [&image](size_t at) { image.releaseBefore(at); };
        if (fileHolds(file, image.data(), image.size(), passed) && budget_.admit(image.size())) {
            result_.written.push_back(file);
            host_.fileWritten(file);
            return;
        }
        if (const Status written = writeFileWhole(file, image.data(), image.size(), budget_, passed); !written) {
            fail(written.failure());
            return;
        }
        result_.written.push_back(file);
        host_.fileWritten(file);
    }

    // The renames of the run's files reach the disk before it reports them written; a file whose
    // folder cannot be flushed is a failure, not a file written.
    void flushWritten()
    {
        for (const Failure& failure : flushFolders(result_.written, budget_)) {
            result_.failures.push_back({failure.file, failure.reason(), failure.font});
            result_.written.erase(std::find(result_.written.begin(), result_.written.end(), failure.file));
        }
    }

    void fail(const std::string& file, const std::string& why) { fail(Failure{why, file, {}, {}}); }
    void fail(Failure failure)
    {
        // Once the limit is reached nothing more is written: every file after it is kept out by it.
        if (budget_.spent())
            failure = Failure{budget_.limitFailure().what, failure.file, failure.font, {}};
        if (failure.font.empty() && current_)
            failure.font = gdi::ansiToUtf8(current_->name);
        result_.failures.push_back({failure.file, failure.reason(), failure.font});
    }

    void stepProgress()
    {
        host_.pumpMessages();
        host_.setProgress(progress_++);
    }

    GenerationSettings& settings_;
    RunHost& host_;
    const FormatInfo& format_;
    const std::string folderPrefix_;
    // Every file of the run is written through the bound on its output.
    OutputBudget budget_;
    const std::vector<int32_t> sizes_;
    gdi::DeviceContext dc_;  // one for the whole run
    std::unique_ptr<SizeWorkers> workers_;  // with more than one job
    std::unique_ptr<CharacterHelpers> helpers_;  // likewise
    std::deque<ReadyFont> ahead_;  // fonts handed to the workers before their turn, in the run's order
    size_t scanned_ = 0;           // the first font lookAhead has not considered
    uint64_t inked_ = 0;           // characters of the current font that drew ink
    RenderedSize own_;
    std::shared_ptr<const Repertoire> codePageRepertoire_;
    const CharacterSelection unicodeSelection_ =
        unicodeSelection(settings_.characters, format_, settings_.codePageIndex);
    int charset_ = 0;
    RunFileNames names_;
    Remembered answer_ = Remembered::None;
    int progress_ = 0;
    const FontListEntry* current_ = nullptr;
    RunResult result_;
};

RunResult GenerationRun::execute()
{
    RunResult result;
    result.refusal = validate(settings_);
    if (!result.refusal.empty())
        return result;

    std::string chosen;
    if (!host_.chooseFolder(settings_.outputFolder, chosen))
        return result;
    settings_.outputFolder = chosen;
    // Temporary files of runs killed outright (SIGKILL, power loss) have nobody else to remove them.
    std::vector<std::string> extensions;
    for (const FormatInfo& info : formatTable())
        extensions.emplace_back(info.extension);
    removeStaleTemporaryFiles(chosen, extensions, files_);

    result = Pass(settings_, host_, files_, chosen).run();
    result.started = true;
    return result;
}

}  // namespace qf
