// The generation run: for every selected font and requested size, the writer of the chosen format,
// the files it gives, progress, stopping and the questions a person must answer. The window and the
// batch front end drive the same run through RunHost.
#pragma once

#include "formats/Format.h"
#include "formats/Repertoire.h"
#include "platform/FileLayer.h"
#include "run/CharacterSet.h"
#include "run/FontList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace gdi {
class DeviceContext;
}

namespace qf {

// What one run reads from the main dialog's members.
struct GenerationSettings {
    std::vector<FontListEntry>* fonts = nullptr;  // m_fonts: processed entries keep the run's lfCharSet
    std::vector<int32_t> sizes;                   // m_sizes: ascending, distinct, each at least 3
    uint32_t resolutionX = 96;                    // m_resolutionX
    uint32_t resolutionY = 96;                    // m_resolutionY
    OutputFormat format = OutputFormat::FON;      // m_format
    int codePageIndex = 0;                        // row of CodePageTable
    std::string outputFolder;                     // m_outputFolder: offered to the chooser, updated by it
    int deviceDpiX = 96;                          // the run's device context (the screen's, in the window)
    int deviceDpiY = 96;
    uint64_t maxOutputBytes = uint64_t{1} << 30;  // the bytes the run may write in all
    // Threads rendering the sizes and fonts of the run (a font's thousands of characters, for one
    // size at a time); 1: all on the run's own thread, in order.
    int jobs = 1;
    // The Unicode characters each file holds, for a format that takes them; none: the code page's.
    std::optional<CharacterSelection> characters;
};

// Answers of the code page prompt, numbered as the prompt returns them.
enum PromptAnswer : int { kAnswerYes = 1, kAnswerYesToAll = 2, kAnswerSkip = 3, kAnswerSkipAll = 4, kAnswerStop = 5 };

struct RunFailure {
    std::string file;    // the file that could not be written (full path as the run names it)
    std::string reason;  // the system's or the writer's reason
    std::string font;    // the font whose file it is, its name in UTF-8; empty when not known
};

// Everything the run needs from a person or a window.
class RunHost {
public:
    virtual ~RunHost() = default;
    // The output folder, offered `initial`. False when the user cancelled.
    virtual bool chooseFolder(const std::string& initial, std::string& chosen) = 0;
    // The code page prompt for one font; returns a PromptAnswer (anything else skips the font).
    virtual int confirmCodePage(const std::string& message) = 0;
    // A font's file was not made because it needs the user's consent (a FON library over 64 KB):
    // what was not made (the font named in it), and the question whether to go on. True to go on
    // with the next font.
    virtual bool goOnWithoutFile(const std::string& notice, const std::string& question) = 0;
    // The run takes over the window (progress bar shown, Exit relabelled, controls disabled)...
    virtual void beginRun(int progressTotal) = 0;
    virtual void setProgress(int position) = 0;
    // ...and gives it back at its end, with every failure it collected.
    virtual void endRun(const std::vector<RunFailure>& failures) = 0;
    // Lets pending events through between sizes, so Stop can be clicked.
    virtual void pumpMessages() = 0;
    // The running flag (m_running): set by the run, cleared by Stop.
    virtual bool running() const = 0;
    virtual void setRunning(bool running) = 0;
    // Outcomes, for those who report them as they happen.
    virtual void fileWritten(const std::string& /*file*/) {}
    virtual void fontSkipped(const FontListEntry& /*entry*/) {}
    // Something the user should know about files that were written all the same.
    virtual void warning(const std::string& /*text*/) {}
};

// How the run ended.
struct RunResult {
    bool started = false;           // false: refused (bad settings) or the folder choice was cancelled
    std::string refusal;            // why it did not start, for bad settings
    bool stopped = false;           // Stop, Stop at the prompt, or No at the 64 KB question
    std::string stopReason;         // why, when the run itself ended early (empty for Stop)
    std::vector<std::string> written;
    std::vector<RunFailure> failures;
    // Sizes a library that was written leaves out, each with the library and the reason: the file
    // is written, these sizes are not in it.
    std::vector<RunFailure> leftOut;
    std::vector<std::string> skippedFonts;  // names of fonts left out at the code page test
    int withheldFiles = 0;          // files not made for want of the user's consent (FON over 64 KB)
    uint64_t charactersLeftOut = 0; // characters asked for that the faces do not map
    std::vector<std::string> warnings;
};

// The first part of the file names of each entry in one run: the face name for the first entry
// that uses it, the style's full name for later ones, then " (2)", " (3)" should that be taken too.
class RunFileNames {
public:
    // spaces false: every space of a name becomes '-' (X11 font paths cannot hold spaces).
    explicit RunFileNames(bool spaces = true) : spaces_(spaces) {}
    std::string baseFor(const char* faceName, std::string_view fullName);

private:
    std::string part(std::string_view name) const;
    bool spaces_;
    std::set<std::string> taken_;
};

class GenerationRun {
public:
    GenerationRun(GenerationSettings& settings, RunHost& host, FileLayer& files = FileLayer::system());
    RunResult execute();

    // A settings problem that keeps a run from starting (resolution 0 or above 65,535, no sizes,
    // a code page row outside the table, Unicode characters for a format that holds a code page),
    // or empty.
    static std::string validate(const GenerationSettings& settings);

    // "folder/" + face + "_" + size + extension (size < 0: no "_size", as for a FON library).
    // The face name is made safe as a single file name and converted from cp1252 to UTF-8.
    static std::string fileName(const std::string& folderPrefix, const char* faceName, int32_t size,
                                const char* extension);
    static std::string fileNameFromBase(const std::string& folderPrefix, const std::string& base,
                                        int32_t size, const char* extension);
    static std::string safeFileNamePart(const char* faceName);
    static std::string safeFileNamePart(std::string_view name);

    // The characters of a font's files, as a run resolves them. Whether they are the code page
    // row's bytes: the 8-bit formats' always, BDF's unless characters are chosen.
    static bool holdsCodePage(const FormatInfo& format, bool charactersChosen);
    static std::shared_ptr<const Repertoire> codePageRepertoire(int codePageIndex);
    // The Unicode characters asked for: those chosen, else the format's own set, else the code
    // page's.
    static CharacterSelection unicodeSelection(const std::optional<CharacterSelection>& chosen, const FormatInfo& format,
                                               int codePageIndex);
    // Those of `selection` that the face maps, realised on dc (left selected there), without the
    // ones past the last code the format holds, which are counted in `beyond`.
    static Repertoire faceRepertoire(gdi::DeviceContext& dc, const gdi::LOGFONT& font,
                                     const CharacterSelection& selection, const FormatInfo& format, size_t& beyond);

private:
    class Pass;

    GenerationSettings& settings_;
    RunHost& host_;
    FileLayer& files_;
};

}  // namespace qf
