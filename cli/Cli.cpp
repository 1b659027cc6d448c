#include "cli/Cli.h"

#include "platform/CodePages.h"
#include "platform/FileLayer.h"
#include "platform/gdi.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"
#include "run/FontList.h"
#include "run/GenerationRun.h"
#include "run/SizeList.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <sys/stat.h>
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

const char kUsage[] =
    "Usage: quenfold-cli --list\n"
    "       quenfold-cli [options] FONT...\n"
    "Converts installed fonts to bitmap fonts. FONT is a name as --list shows it, its index, or all.\n"
    "\n"
    "  -l, --list               list the installed font styles: index, name, face name, character sets\n"
    "  -s, --sizes TEXT         point sizes, 3 to 4000, separated by commas or spaces\n"
    "                           (default \"8, 10, 12, 14\")\n"
    "  -r, --resolution X[xY]   target resolution in dots per inch (default 96x96)\n"
    "  -f, --format FORMAT      fon, fnt, sfp, sfl or bdf (default fon)\n"
    "  -c, --codepage CP        code page number (default 1252); see --list-codepages\n"
    "      --list-codepages     list the code pages\n"
    "      --unsupported WHAT   a font lacking the code page: yes (convert anyway),\n"
    "                           skip (default: leave it out) or stop (end the run)\n"
    "      --name TEXT          font name written into the files (a single FONT only)\n"
    "      --max-output SIZE    stop the run before its files pass SIZE bytes in all; K, M, G\n"
    "                           and T count in 1024s (default 1G)\n"
    "  -o, --output DIR         existing output folder (default the current one)\n"
    "  -q, --quiet              no progress or summary\n"
    "  -h, --help               this text\n"
    "\n"
    "Exit status: 0 all files written, 1 some could not be or the run was stopped, 2 usage error\n"
    "(nothing written), 130 interrupted, 129 and 143 ended by SIGHUP and SIGTERM.\n";

int usageError(const std::string& message)
{
    std::fprintf(stderr, "quenfold-cli: %s\nTry 'quenfold-cli --help'.\n", message.c_str());
    return kExitUsage;
}

// A byte count: digits with an optional K, M, G or T (powers of 1024), optionally followed by
// "iB" or "B" ("512M", "1GiB", "1500"). False for anything else, zero, or a count past 2^62.
bool parseByteCount(const std::string& text, uint64_t& bytes)
{
    const size_t digits = text.find_first_not_of("0123456789");
    if (digits == 0 || text.empty() || std::min(digits, text.size()) > 18)
        return false;
    uint64_t value = std::stoull(text.substr(0, digits));
    std::string unit = digits == std::string::npos ? "" : text.substr(digits);
    for (char& c : unit)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit == "B")
        unit.clear();
    else if ((unit.size() == 3 && unit.compare(1, 2, "IB") == 0) || (unit.size() == 2 && unit[1] == 'B'))
        unit.resize(1);
    int shift = 0;
    if (unit.size() > 1)
        return false;
    if (unit.size() == 1) {
        const auto at = std::string("KMGT").find(unit[0]);
        if (at == std::string::npos)
            return false;
        shift = 10 * (static_cast<int>(at) + 1);
    }
    if (value == 0 || value > (uint64_t{1} << 62) >> shift)
        return false;
    bytes = value << shift;
    return true;
}

bool parseResolution(const std::string& text, uint32_t& x, uint32_t& y)
{
    auto number = [](const std::string& s, uint32_t& out) {
        if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = static_cast<uint32_t>(std::stoul(s));
        return true;
    };
    const auto sep = text.find_first_of("xX");
    if (sep == std::string::npos)
        return number(text, x) && number(text, y);
    return number(text.substr(0, sep), x) && number(text.substr(sep + 1), y);
}

// UTF-8 text to the cp1252 bytes the font records hold; characters it cannot hold become '?'.
std::string utf8ToAnsi(const std::string& text)
{
    const gdi::ByteMap* map = gdi::codePageMap(1252);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t u = b;
        int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        if (b >= 0x80)
            u = b & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            u = (u << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += 1 + extra;
        char c = '?';
        for (int code = 0; code < 256; ++code) {
            const char32_t mapped = map ? (*map)[code] : static_cast<char32_t>(code);
            if (mapped == u) {
                c = static_cast<char>(code);
                break;
            }
        }
        out += c;
    }
    return out;
}

std::string charsetList(const FontListEntry& entry)
{
    std::string text;
    for (size_t i = 0; i < entry.charsets.size(); ++i)
        text += (i ? "," : "") + std::to_string(entry.charsets[i]);
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
    bool continueAfterOversizedFon(const std::string& message) override
    {
        clearLine();
        std::string text = message.substr(0, message.find("\n\n"));
        std::fprintf(stderr, "quenfold-cli: %s\n", text.c_str());
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
                     ansiToUtf8(entry.name).c_str());
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
    enum { kListCodePages = 1000, kUnsupported, kName, kMaxOutput };
    static const option longOptions[] = {
        {"list", no_argument, nullptr, 'l'},
        {"sizes", required_argument, nullptr, 's'},
        {"resolution", required_argument, nullptr, 'r'},
        {"format", required_argument, nullptr, 'f'},
        {"codepage", required_argument, nullptr, 'c'},
        {"list-codepages", no_argument, nullptr, kListCodePages},
        {"unsupported", required_argument, nullptr, kUnsupported},
        {"name", required_argument, nullptr, kName},
        {"max-output", required_argument, nullptr, kMaxOutput},
        {"output", required_argument, nullptr, 'o'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };

    bool list = false;
    bool listCodePages = false;
    bool quiet = false;
    std::string sizesText = "8, 10, 12, 14";
    std::string resolution = "96x96";
    std::string formatName = "fon";
    std::string codePage = "1252";
    std::string unsupported = "skip";
    std::string output = ".";
    bool haveName = false;
    std::string name;
    std::string maxOutput = "1G";

    optind = 1;
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":ls:r:f:c:o:qh", longOptions, nullptr)) != -1) {
        switch (option) {
        case 'l': list = true; break;
        case 's': sizesText = optarg; break;
        case 'r': resolution = optarg; break;
        case 'f': formatName = optarg; break;
        case 'c': codePage = optarg; break;
        case 'o': output = optarg; break;
        case 'q': quiet = true; break;
        case 'h': std::fputs(kUsage, stdout); return kExitOk;
        case kListCodePages: listCodePages = true; break;
        case kUnsupported: unsupported = optarg; break;
        case kName: haveName = true; name = optarg; break;
        case kMaxOutput: maxOutput = optarg; break;
        case ':': return usageError(std::string("option needs a value: ") + argv[optind - 1]);
        default: return usageError(std::string("unknown option: ") + argv[optind - 1]);
        }
    }

    if (listCodePages) {
        for (int i = 0; i < CodePageTable::rowCount(); ++i)
            std::printf("%d\t%s\n", CodePageTable::row(i).codePage, CodePageTable::row(i).description);
        return kExitOk;
    }

    std::vector<FontListEntry> fonts;
    BuildFontList(fonts, gdi::OsMajorVersion());

    if (list) {
        for (size_t i = 0; i < fonts.size(); ++i)
            std::printf("%zu\t%s\t%s\t%s\n", i, ansiToUtf8(fonts[i].name).c_str(),
                        ansiToUtf8(fonts[i].logFont.lfFaceName).c_str(), charsetList(fonts[i]).c_str());
        return kExitOk;
    }

    if (optind >= argc)
        return usageError("no FONT given");

    GenerationSettings settings;
    settings.fonts = &fonts;
    std::string sizesError;
    if (!readSizeList(sizesText, GlyphRasteriser::kMaxPointSize, settings.sizes, sizesError))
        return usageError("--sizes: " + sizesError);
    if (!parseResolution(resolution, settings.resolutionX, settings.resolutionY) ||
        settings.resolutionX < 1 || settings.resolutionY < 1 || settings.resolutionX > 65535 ||
        settings.resolutionY > 65535)
        return usageError("bad resolution \"" + resolution + "\" (X or XxY, each 1 to 65535)");

    bool knownFormat = false;
    for (int i = 0; i < kFormatCount; ++i) {
        if (formatName == formatInfo(static_cast<OutputFormat>(i)).option) {
            settings.format = static_cast<OutputFormat>(i);
            knownFormat = true;
        }
    }
    if (!knownFormat)
        return usageError("unknown format \"" + formatName + "\" (fon, fnt, sfp, sfl or bdf)");

    int32_t codePageNumber = 0;
    settings.codePageIndex = scanDecimal(codePage.c_str(), codePageNumber) &&
                                     codePage.find_first_not_of("0123456789") == std::string::npos
                                 ? CodePageTable::rowOfCodePage(codePageNumber)
                                 : -1;
    if (settings.codePageIndex < 0)
        return usageError("unknown code page \"" + codePage + "\" (see --list-codepages)");

    if (!parseByteCount(maxOutput, settings.maxOutputBytes))
        return usageError("bad --max-output \"" + maxOutput + "\" (bytes, or a number with K, M, G or T)");

    int answer;
    if (unsupported == "yes")
        answer = kAnswerYesToAll;
    else if (unsupported == "skip")
        answer = kAnswerSkipAll;
    else if (unsupported == "stop")
        answer = kAnswerStop;
    else
        return usageError("--unsupported takes yes, skip or stop");

    struct stat info {};
    if (::stat(output.c_str(), &info) != 0)
        return usageError("output folder \"" + output + "\": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
        return usageError("output \"" + output + "\" is not a folder");
    while (output.size() > 1 && output.back() == '/')
        output.pop_back();

    // Which entries: by index, by name as listed, or all.
    for (int i = optind; i < argc; ++i) {
        const std::string arg = argv[i];
        bool found = false;
        if (arg == "all") {
            if (fonts.empty())
                return usageError("no fonts found: fontconfig lists no TrueType or OpenType font");
            for (FontListEntry& entry : fonts)
                entry.selected = 1;
            found = true;
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            const size_t index = arg.size() < 10 ? std::stoul(arg) : fonts.size();
            if (index < fonts.size()) {
                fonts[index].selected = 1;
                found = true;
            }
        } else {
            for (FontListEntry& entry : fonts) {
                if (ansiToUtf8(entry.name) == arg) {
                    entry.selected = 1;
                    found = true;
                }
            }
        }
        if (!found)
            return usageError("unknown font \"" + arg + "\" (see --list)");
    }

    if (haveName) {
        int count = 0;
        for (const FontListEntry& entry : fonts)
            count += entry.selected ? 1 : 0;
        if (count != 1)
            return usageError("--name needs exactly one FONT");
        for (FontListEntry& entry : fonts) {
            if (entry.selected) {
                entry.name = utf8ToAnsi(name).substr(0, FontListEntry::kMaxName);
            }
        }
    }

    g_interrupts = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    // A closed terminal or a service manager stopping the job: no time to finish the font.
    exitOnSignals({SIGTERM, SIGHUP});

    CliHost host(output, answer, quiet);
    GenerationRun run(settings, host);
    const RunResult result = run.execute();
    sigaction(SIGINT, &previous, nullptr);

    if (!result.refusal.empty())
        return usageError(result.refusal);
    if (!result.stopReason.empty())
        std::fprintf(stderr, "quenfold-cli: run stopped: %s\n", result.stopReason.c_str());
    if (!quiet)
        std::fprintf(stderr, "%zu file%s written, %zu not written%s\n", result.written.size(),
                     result.written.size() == 1 ? "" : "s",
                     result.failures.size() + static_cast<size_t>(result.oversizedFons),
                     result.skippedFonts.empty()
                         ? ""
                         : (", " + std::to_string(result.skippedFonts.size()) + " font(s) skipped").c_str());
    if (g_interrupts > 0)
        return kExitInterrupted;
    if (!result.failures.empty() || result.oversizedFons > 0 || result.stopped)
        return kExitIncomplete;
    return kExitOk;
}

}  // namespace qf
