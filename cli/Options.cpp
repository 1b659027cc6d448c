#include "cli/Options.h"

#include "formats/Format.h"
#include "platform/CodePages.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"
#include "run/SizeList.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <getopt.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

namespace qf::cli {

std::string usageText()
{
    auto unicode = [](const FormatInfo& f) { return f.takesUnicode(); };
    return "Usage: quenfold-cli --list [FILE...]\n"
           "       quenfold-cli --check FILE...\n"
           "       quenfold-cli [options] FONT...\n"
           "Converts fonts to bitmap fonts. FONT is an installed font's name as --list shows it, its index,\n"
           "all (the installed fonts and any files given), or a TrueType or OpenType font file, installed or\n"
           "not (.ttf, .otf, .ttc, .otc): FILE converts every face of a collection, FILE:N its face N alone.\n"
           "A face from a file takes the place of an installed face of the same family and style.\n"
           "\n"
           "  -l, --list               list the installed font styles: index, name, face name, character sets;\n"
           "                           with FILEs, their faces instead, by index in the file\n"
           "  -s, --sizes TEXT         point sizes, 3 to 4000, separated by commas or spaces\n"
           "                           (default \"8, 10, 12, 14\")\n"
           "  -r, --resolution X[xY]   target resolution in dots per inch (default 96x96)\n"
           "  -f, --format FORMAT      " + formatOptions() + " (default fon)\n"
           "  -c, --codepage CP        code page number (default 1252); see --list-codepages\n"
           "      --list-codepages     list the code pages\n"
           "      --check              check bitmap font files (FNT, FON, PCL, BDF, PCF, OTB, PSF),\n"
           "                           whoever made them: what each holds and every problem found;\n"
           "                           exit 1 when some file has an error\n"
           "      --chars SET          the Unicode characters each file holds (" + formatOptions(unicode) + "; default:\n"
           "                           the code page's): comma-separated U+XXXX, U+XXXX-U+YYYY,\n"
           "                           a code page such as cp1252 or cp437, ascii, latin1, or all\n"
           "                           (every character the face maps); characters a face lacks\n"
           "                           are left out and counted\n"
           "      --unsupported WHAT   a font lacking the code page: yes (convert anyway),\n"
           "                           skip (default: leave it out) or stop (end the run)\n"
           "      --name TEXT          font name written into the files (a single FONT only)\n"
           "      --max-output SIZE    stop the run before its files pass SIZE bytes in all; K, M, G\n"
           "                           and T count in 1024s (default 1G)\n"
           "  -o, --output DIR         existing output folder (default the current one)\n"
           "  -j, --jobs N             threads rendering: the sizes and fonts of the run, or the\n"
           "                           characters of one size (default: one per core); the files\n"
           "                           are the same whatever N is\n"
           "  -q, --quiet              no progress or summary\n"
           "  -h, --help               this text\n"
           "  -V, --version            the program's version\n"
           "\n"
           "Exit status: 0 all files written, 1 some could not be or the run was stopped (--check: some\n"
           "file has an error), 2 usage error (nothing written), 130 interrupted, 129 and 143 ended by\n"
           "SIGHUP and SIGTERM. Every file is read back with --check's reader before it is written.\n";
}

namespace {

// More threads than this only wait for each other: a font has a few dozen sizes at most.
constexpr unsigned kMaxJobs = 64;

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

}  // namespace

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

std::optional<Options> parseArguments(int argc, char** argv, std::string& error)
{
    enum { kListCodePages = 1000, kUnsupported, kName, kMaxOutput, kChars, kCheck };
    static const option longOptions[] = {
        {"list", no_argument, nullptr, 'l'},
        {"sizes", required_argument, nullptr, 's'},
        {"resolution", required_argument, nullptr, 'r'},
        {"format", required_argument, nullptr, 'f'},
        {"codepage", required_argument, nullptr, 'c'},
        {"list-codepages", no_argument, nullptr, kListCodePages},
        {"check", no_argument, nullptr, kCheck},
        {"unsupported", required_argument, nullptr, kUnsupported},
        {"name", required_argument, nullptr, kName},
        {"max-output", required_argument, nullptr, kMaxOutput},
        {"chars", required_argument, nullptr, kChars},
        {"output", required_argument, nullptr, 'o'},
        {"jobs", required_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };

    Options options;
    bool list = false;
    bool listCodePages = false;
    bool check = false;
    optind = 1;
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":ls:r:f:c:o:j:qhV", longOptions, nullptr)) != -1) {
        switch (option) {
        case 'l': list = true; break;
        case 's': options.sizes = optarg; break;
        case 'r': options.resolution = optarg; break;
        case 'f': options.format = optarg; break;
        case 'c': options.codePage = optarg; break;
        case 'o': options.output = optarg; break;
        case 'j': options.jobs = optarg; break;
        case 'q': options.quiet = true; break;
        case 'h': options.action = Action::Help; return options;
        case 'V': options.action = Action::Version; return options;
        case kListCodePages: listCodePages = true; break;
        case kCheck: check = true; break;
        case kUnsupported: options.unsupported = optarg; break;
        case kName: options.name = optarg; break;
        case kMaxOutput: options.maxOutput = optarg; break;
        case kChars: options.chars = optarg; break;
        case ':': error = std::string("option needs a value: ") + argv[optind - 1]; return std::nullopt;
        default: error = std::string("unknown option: ") + argv[optind - 1]; return std::nullopt;
        }
    }
    if (check && (list || listCodePages)) {
        error = std::string("--check cannot be given with ") + (list ? "--list" : "--list-codepages");
        return std::nullopt;
    }
    if (check)
        options.action = Action::Check;
    else if (listCodePages)
        options.action = Action::ListCodePages;
    else if (list)
        options.action = Action::List;
    for (int i = optind; i < argc; ++i)
        options.fonts.emplace_back(argv[i]);
    if ((options.action == Action::Convert || options.action == Action::Check) && options.fonts.empty()) {
        error = options.action == Action::Check ? "--check: no FILE given" : "no FONT given";
        return std::nullopt;
    }
    return options;
}

bool applyOptions(const Options& options, GenerationSettings& settings, int& unsupportedAnswer,
                  std::string& folder, std::string& error)
{
    std::string sizesError;
    if (!readSizeList(options.sizes, GlyphRasteriser::kMaxPointSize, settings.sizes, sizesError)) {
        error = "--sizes: " + sizesError;
        return false;
    }
    if (!parseResolution(options.resolution, settings.resolutionX, settings.resolutionY) ||
        !GlyphRasteriser::resolutionInRange(settings.resolutionX, settings.resolutionY)) {
        error = "bad resolution \"" + options.resolution + "\" (X or XxY, each 1 to " +
                std::to_string(GlyphRasteriser::kMaxResolution) + ")";
        return false;
    }
    const FormatInfo* format = formatByOption(options.format);
    if (!format) {
        error = "unknown format \"" + options.format + "\" (" + formatOptions() + ")";
        return false;
    }
    settings.format = format->format;
    if (options.chars) {
        auto unicode = [](const FormatInfo& f) { return f.takesUnicode(); };
        if (!unicode(*format)) {
            error = std::string("--chars: ") + format->option + " holds the characters of one 8-bit code page (-c " +
                    "chooses it); --chars is taken by " + formatOptions(unicode);
            return false;
        }
        CharacterSelection selection;
        std::string why;
        if (!parseCharacterSelection(*options.chars, selection, why)) {
            error = "--chars: " + why;
            return false;
        }
        settings.characters = std::move(selection);
    }

    int32_t codePageNumber = 0;
    settings.codePageIndex = scanDecimal(options.codePage.c_str(), codePageNumber) &&
                                     options.codePage.find_first_not_of("0123456789") == std::string::npos
                                 ? CodePageTable::rowOfCodePage(codePageNumber)
                                 : -1;
    if (settings.codePageIndex < 0) {
        error = "unknown code page \"" + options.codePage + "\" (see --list-codepages)";
        return false;
    }
    if (!parseByteCount(options.maxOutput, settings.maxOutputBytes)) {
        error = "bad --max-output \"" + options.maxOutput + "\" (bytes, or a number with K, M, G or T)";
        return false;
    }
    if (options.jobs.empty()) {
        settings.jobs = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, kMaxJobs));
    } else {
        int32_t jobs = 0;
        if (options.jobs.find_first_not_of("0123456789") != std::string::npos ||
            !scanDecimal(options.jobs.c_str(), jobs) || jobs < 1 || jobs > static_cast<int32_t>(kMaxJobs)) {
            error = "bad --jobs \"" + options.jobs + "\" (1 to " + std::to_string(kMaxJobs) + ")";
            return false;
        }
        settings.jobs = jobs;
    }
    if (options.unsupported == "yes") {
        unsupportedAnswer = kAnswerYesToAll;
    } else if (options.unsupported == "skip") {
        unsupportedAnswer = kAnswerSkipAll;
    } else if (options.unsupported == "stop") {
        unsupportedAnswer = kAnswerStop;
    } else {
        error = "--unsupported takes yes, skip or stop";
        return false;
    }

    struct stat info {};
    if (::stat(options.output.c_str(), &info) != 0) {
        error = "output folder \"" + options.output + "\": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "output \"" + options.output + "\" is not a folder";
        return false;
    }
    folder = options.output;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return true;
}

bool selectFonts(const Options& options, std::vector<FontListEntry>& fonts, std::string& error)
{
    for (const std::string& arg : options.fonts) {
        bool found = false;
        if (arg == "all") {
            if (fonts.empty()) {
                error = "no fonts found: fontconfig lists no TrueType or OpenType font";
                return false;
            }
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
                if (gdi::ansiToUtf8(entry.name) == arg) {
                    entry.selected = 1;
                    found = true;
                }
            }
        }
        if (!found) {
            error = arg.find('/') == std::string::npos ? "unknown font \"" + arg + "\" (see --list)"
                                                       : "no such font or file \"" + arg + "\"";
            return false;
        }
    }

    if (options.name) {
        int count = 0;
        for (const FontListEntry& entry : fonts)
            count += entry.selected ? 1 : 0;
        if (count != 1) {
            error = "--name needs exactly one FONT";
            return false;
        }
        for (FontListEntry& entry : fonts)
            if (entry.selected)
                entry.name = gdi::utf8ToAnsi(*options.name).substr(0, FontListEntry::kMaxName);
    }
    return true;
}

}  // namespace qf::cli
