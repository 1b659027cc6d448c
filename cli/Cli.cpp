#include "cli/Cli.h"

#include "cli/CheckFiles.h"
#include "cli/FontFiles.h"
#include "cli/Options.h"
#include "cli/Printable.h"

#include "platform/CodePages.h"
#include "platform/FileLayer.h"
#include "platform/gdi.h"
#include "run/CodePageTable.h"
#include "run/FontList.h"
#include "run/GenerationRun.h"

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace qf {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t g_interrupts = 0;  // written only by the handler and before the run

extern "C" void onInterrupt(int)
{
    // The first Ctrl+C asks the run to stop after the current font; the second ends at once,
    // taking the half-written temporary file with it.
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 2) {
        const char* temp = activeTemporaryFile();
        if (temp[0] != '\0')
            ::unlink(temp);
        ::_exit(kExitInterrupted);
    }
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "quenfold-cli: %s\nTry 'quenfold-cli --help'.\n", cli::printable(message).c_str());
    return kExitUsage;
}

std::string charsetList(const FontListEntry& entry)
{
    std::string text;
    for (size_t i = 0; i < entry.charsets.size(); ++i) {
        if (i > 0)
            text += ',';
        text += std::to_string(entry.charsets[i]);
    }
    return text;
}

class CliHost final : public RunHost {
public:
    CliHost(std::string folder, int unsupportedAnswer, bool quiet)
        : folder_(std::move(folder)), answer_(unsupportedAnswer), quiet_(quiet),
          terminal_(::isatty(STDERR_FILENO) != 0)
    {
    }

    bool chooseFolder(const std::string&, std::string& chosen) override
    {
        chosen = folder_;
        return true;
    }
    int confirmCodePage(const std::string&) override { return answer_; }
    // The batch front end asks nothing: it tells what was not made and goes on.
    bool goOnWithoutFile(const std::string& notice, const std::string&) override
    {
        clearLine();
        std::fprintf(stderr, "quenfold-cli: %s\n", notice.c_str());
        return true;
    }
    void beginRun(int total) override { total_ = total; }
    void setProgress(int position) override
    {
        if (quiet_ || !terminal_)
            return;
        std::fprintf(stderr, "\r[%d/%d]", position + 1, total_);
        std::fflush(stderr);
        lineOpen_ = true;
    }
    void endRun(const std::vector<RunFailure>& failures) override
    {
        clearLine();
        for (const RunFailure& failure : failures)
            std::fprintf(stderr, "quenfold-cli: not written: %s: %s\n", failure.file.c_str(),
                         failure.reason.c_str());
    }
    void pumpMessages() override {}
    bool running() const override { return running_ && g_interrupts == 0; }
    void setRunning(bool running) override { running_ = running; }
    void fileWritten(const std::string& file) override
    {
        if (quiet_)
            return;
        clearLine();
        std::fprintf(stderr, "wrote %s\n", file.c_str());
    }
    void warning(const std::string& text) override
    {
        clearLine();
        std::fprintf(stderr, "quenfold-cli: warning: %s\n", text.c_str());
    }
    void fontSkipped(const FontListEntry& entry) override
    {
        clearLine();
        std::fprintf(stderr, "quenfold-cli: skipped %s: it does not support the code page\n",
                     gdi::ansiToUtf8(entry.name).c_str());
    }

private:
    void clearLine()
    {
        if (lineOpen_) {
            std::fprintf(stderr, "\r\033[K");
            lineOpen_ = false;
        }
    }

    std::string folder_;
    int answer_;
    bool quiet_;
    bool terminal_;
    bool lineOpen_ = false;
    bool running_ = false;
    int total_ = 0;
};

}  // namespace

int runCli(int argc, char** argv)
{
    // The handlers come first, so a signal while the font list is read (and the face cache saved)
    // ends the program as documented, taking any temporary file with it.
    g_interrupts = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN)  // a background job started by a shell keeps ignoring it
        sigaction(SIGINT, &action, nullptr);
    // A closed terminal or a service manager stopping the job: no time to finish the font.
    exitOnSignals({SIGTERM, SIGHUP});

    std::string error;
    const std::optional<cli::Options> options = cli::parseArguments(argc, argv, error);
    if (!options)
        return usageError(error);
    switch (options->action) {
    case cli::Action::Help:
        std::fputs(cli::usageText().c_str(), stdout);
        return kExitOk;
    case cli::Action::Version:
        std::printf("quenfold-cli %s\n", QUENFOLD_VERSION);
        return kExitOk;
    case cli::Action::ListCodePages:
        for (int i = 0; i < CodePageTable::rowCount(); ++i)
            std::printf("%d\t%s\n", CodePageTable::row(i).codePage, CodePageTable::row(i).description);
        return kExitOk;
    case cli::Action::Check: {
        const int status = cli::checkFiles(options->fonts, options->quiet, g_interrupts);
        return g_interrupts > 0 ? kExitInterrupted : status;
    }
    case cli::Action::List:
    case cli::Action::Convert:
        break;
    }

    // Font files among the FONT arguments join the process's fonts before the list is read, so they
    // are listed and converted as installed fonts are; with --list every argument is a file. A file
    // that gives no face is named with the reason, and the other arguments still run.
    const bool list = options->action == cli::Action::List;
    std::vector<cli::FontFile> files;
    cli::Options others = *options;
    others.fonts.clear();
    size_t unusable = 0;
    for (const std::string& argument : options->fonts) {
        std::optional<cli::FontFile> file = cli::fontFileArgument(argument);
        if (!file && list)
            file = cli::FontFile{argument, argument};
        if (!file) {
            others.fonts.push_back(argument);
            continue;
        }
        cli::addFontFile(*file);
        if (file->faces.empty()) {
            ++unusable;
            std::fprintf(stderr, "quenfold-cli: %s: %s\n", cli::printable(argument).c_str(), file->error.c_str());
        }
        files.push_back(std::move(*file));
    }

    std::vector<FontListEntry> fonts;
    BuildFontList(fonts, gdi::OsMajorVersion());
    if (g_interrupts > 0)
        return kExitInterrupted;  // before anything was written
    auto listLine = [](size_t index, const FontListEntry& entry) {
        std::printf("%zu\t%s\t%s\t%s\n", index, gdi::ansiToUtf8(entry.name).c_str(),
                    gdi::ansiToUtf8(entry.logFont.lfFaceName).c_str(), charsetList(entry).c_str());
    };
    if (list && options->fonts.empty()) {
        for (size_t i = 0; i < fonts.size(); ++i)
            listLine(i, fonts[i]);
        return kExitOk;
    }
    // A file's faces are listed by their index in the file, which FILE:N takes, and selected.
    for (const cli::FontFile& file : files)
        for (const gdi::AddedFace& face : file.faces)
            for (FontListEntry& entry : fonts)
                if (IsEntryOf(entry, face.elf)) {
                    if (list)
                        listLine(static_cast<size_t>(face.faceIndex), entry);
                    entry.selected = 1;
                    break;
                }
    if (list)
        return unusable > 0 ? kExitIncomplete : kExitOk;

    GenerationSettings settings;
    settings.fonts = &fonts;
    int answer = kAnswerSkipAll;
    std::string output;
    if (!cli::applyOptions(*options, settings, answer, output, error))
        return usageError(error);
    if (others.fonts.empty() && unusable == files.size())
        return kExitIncomplete;  // every FONT was a file that gave no face, each named above
    if (!cli::selectFonts(others, fonts, error))
        return usageError(error);
    const bool quiet = options->quiet;

    CliHost host(output, answer, quiet);
    GenerationRun run(settings, host);
    const RunResult result = run.execute();
    sigaction(SIGINT, &previous, nullptr);

    if (!result.refusal.empty())
        return usageError(result.refusal);
    for (const RunFailure& left : result.leftOut)
        std::fprintf(stderr, "quenfold-cli: written without a size: %s: %s\n", left.file.c_str(), left.reason.c_str());
    if (!result.stopReason.empty())
        std::fprintf(stderr, "quenfold-cli: run stopped: %s\n", result.stopReason.c_str());
    if (!quiet) {
        std::string summary = std::to_string(result.written.size()) + " file" +
                              (result.written.size() == 1 ? "" : "s") + " written, " +
                              std::to_string(result.failures.size() + static_cast<size_t>(result.withheldFiles)) +
                              " not written";
        if (!result.skippedFonts.empty())
            summary += ", " + std::to_string(result.skippedFonts.size()) + " font(s) skipped";
        if (!result.leftOut.empty())
            summary += ", " + std::to_string(result.leftOut.size()) + " size(s) left out of libraries";
        if (result.charactersLeftOut > 0)
            summary += ", " + std::to_string(result.charactersLeftOut) + " character(s) the fonts lack left out";
        std::fprintf(stderr, "%s\n", summary.c_str());
    }
    if (g_interrupts > 0)
        return kExitInterrupted;
    if (!result.failures.empty() || !result.leftOut.empty() || result.withheldFiles > 0 || result.stopped)
        return kExitIncomplete;
    return unusable > 0 ? kExitIncomplete : kExitOk;
}

}  // namespace qf
