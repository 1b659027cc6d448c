// quenfold-cli as scripts use it: its listing, its files and its exit status.
#include "tests/CliRun.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using qf::test::readFile;
using qf::test::shellQuote;
using qf::test::TempDir;
using qf::test::Outcome;
using qf::test::cli;

struct CliTest : ::testing::Test {
    TempDir folder;
    const std::string dir = folder.path();
    std::vector<std::string> names() const { return folder.names(); }
};

// quenfold-cli started in the background in `cwd`, with extra environment entries; its stderr is
// read as it comes.
class Background {
public:
    Background(const std::vector<std::string>& args, const std::string& cwd,
               const std::vector<std::string>& env = {})
    {
        std::vector<std::string> envText = env;
        for (char** e = environ; *e; ++e)
            envText.emplace_back(*e);
        std::vector<char*> argv{const_cast<char*>(QUENFOLD_CLI_PATH)}, envp;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : envText)  // the first entry of a name wins, so ours come first
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDERR_FILENO);
            close(fds[0]);
            close(fds[1]);
            if (chdir(cwd.c_str()) == 0)
                execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(fds[1]);
        errFd_ = fds[0];
    }
    ~Background()
    {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (errFd_ >= 0)
            close(errFd_);
    }

    pid_t pid() const { return pid_; }
    const std::string& err() const { return err_; }

    // Reads stderr until it holds `text` (true) or ends (false).
    bool waitForErr(const std::string& text)
    {
        while (err_.find(text) == std::string::npos)
            if (!readSome(-1))
                return false;
        return true;
    }
    // Reads the rest of stderr and reaps the process: its wait status.
    int finish()
    {
        while (readSome(-1)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return status;
    }

    // As finish(), for a process that may hang: one still running after `seconds` is killed, and
    // nullopt comes back.
    std::optional<int> finishWithin(int seconds)
    {
        for (int waited = 0; waited < seconds * 10; ++waited) {
            // Once stderr is closed a read no longer waits, and the process may take a while yet
            // to be reaped (its memory is still being given back).
            if (closed_)
                usleep(100000);
            else
                readSome(100);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                while (readSome(0)) {
                }
                return status;
            }
        }
        return std::nullopt;
    }

private:
    bool readSome(int timeoutMs)
    {
        pollfd p{errFd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(errFd_, buffer, sizeof buffer);
        closed_ = n == 0;
        if (n <= 0)
            return false;
        err_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int errFd_ = -1;
    bool reaped_ = false;
    bool closed_ = false;  // stderr read to its end
    std::string err_;
};

// A font folder of the test's own with copies of known font files, and the fontconfig
// configuration that lists only it.
struct OwnFonts {
    explicit OwnFonts(const TempDir& dir, const std::vector<std::string>& files) : folder(dir.file("fonts"))
    {
        fs::create_directory(folder);
        for (const auto& f : files)
            fs::copy_file(f, folder + "/" + fs::path(f).filename().string());
        std::ofstream(dir.file("fonts.conf"))
            << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << folder << "</dir><cachedir>"
            << dir.file("fontcache") << "</cachedir></fontconfig>\n";
        env = "FONTCONFIG_FILE=" + dir.file("fonts.conf");
    }
    std::string file(const std::string& name) const { return folder + "/" + name; }
    std::string folder;
    std::string env;
};

// A copy of a TrueType file whose glyph outlines are all zeros: every glyph loads, none draws ink.
void copyWithoutOutlines(const std::string& from, const std::string& to)
{
    std::string font = readFile(from);
    auto be = [&](size_t at, int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | static_cast<uint8_t>(font.at(at + i));
        return v;
    };
    for (uint32_t i = 0, n = be(4, 2); i < n; ++i)
        if (font.compare(12 + 16 * i, 4, "glyf") == 0)
            std::fill_n(font.begin() + be(12 + 16 * i + 8, 4), be(12 + 16 * i + 12, 4), '\0');
    std::ofstream(to, std::ios::binary | std::ios::trunc) << font;
}

std::vector<std::string> temporaries(const std::vector<std::string>& names)
{
    std::vector<std::string> out;
    for (const auto& n : names)
        if (fs::path(n).extension() == ".tmp")
            out.push_back(n);
    return out;
}

TEST_F(CliTest, ListShowsIndexNameFaceAndCharsets)
{
    const Outcome o = cli({"--list"});
    EXPECT_EQ(o.status, 0);
    std::istringstream lines(o.out);
    std::string line;
    int index = 0;
    bool sawDejaVuBold = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string i, name, face, sets;
        std::getline(fields, i, '\t');
        std::getline(fields, name, '\t');
        std::getline(fields, face, '\t');
        std::getline(fields, sets, '\t');
        EXPECT_EQ(i, std::to_string(index++));
        EXPECT_FALSE(sets.empty()) << line;
        sawDejaVuBold |= name == "DejaVu Sans Bold" && face == "DejaVu Sans";
    }
    EXPECT_EQ(index, 10);  // the ten test faces, one entry per style
    EXPECT_TRUE(sawDejaVuBold);
}

TEST_F(CliTest, WritesFonAndFntUnderTheRunsNames)
{
    Outcome o = cli({"-f", "fon", "-s", "8, 10, 12, 14", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(names(), std::vector<std::string>{"DejaVu Sans.fon"});

    fs::create_directory(dir + "/out");
    o = cli({"-q", "-f", "fnt", "-s", "12", "-r", "300x300", "-o", dir + "/out", "0"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.err.empty()) << o.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/out"), fs::directory_iterator()), 1);
}

TEST_F(CliTest, BothProgramsTellTheirVersionAndUsageWithoutOpeningAnything)
{
    Outcome o = cli({"--version"}, dir);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, std::string("quenfold-cli ") + QUENFOLD_VERSION + "\n");
#ifdef QUENFOLD_HAVE_GUI
    // The window's program answers in the terminal and exits; were it to open its window, the
    // timeout would end it.
    const std::string window = shellQuote(std::string(QUENFOLD_BUILD_DIR) + "/quenfold");
    for (const char* arg : {"--help", "--version"}) {
        FILE* pipe = popen(("QT_QPA_PLATFORM=offscreen timeout 20 " + window + " " + arg).c_str(), "r");
        ASSERT_TRUE(pipe);
        std::string text;
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << arg;
        EXPECT_EQ(text.rfind(arg == std::string("--help") ? "Usage: quenfold" : "quenfold 1", 0), 0u) << text;
    }
#endif
}

TEST_F(CliTest, UsageErrorsExitTwoAndWriteNothing)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"No Such Font"},
             {"-s", "1, 2", "0"},
             {"-f", "ttf", "0"},
             {"-o", dir + "/missing", "0"},
             {"-r", "0", "0"},
             {"-r", "70000x96", "0"},
             {"-c", "1234", "0"},
             {"--unsupported", "maybe", "0"},
             {"--max-output", "0", "0"},
             {"--max-output", "1.5G", "0"},
             {"--max-output", "99999999999999999999", "0"},
             {"--name", "X", "0", "1"},
             {"--bogus"},
             {},
         }) {
        const Outcome o = cli(args, dir);
        EXPECT_EQ(o.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(o.err.empty());
    }
    EXPECT_TRUE(names().empty());
    // What was typed is repeated with its control bytes shown, never sent to the terminal.
    const Outcome o = cli({"-f", "\x1b[2J\x1b]0;owned\x07ttf", "0"}, dir);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("unknown format \"\\x1b[2J\\x1b]0;owned\\x07ttf\""), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find('\x1b'), std::string::npos);
}

TEST_F(CliTest, RefusedSizesAndOversizedFonExitOneAndWriteTheRest)
{
    Outcome o = cli({"-f", "fnt", "-s", "12, 72", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("DejaVu Sans_72.fnt"), std::string::npos) << o.err;
    EXPECT_EQ(names(), std::vector<std::string>{"DejaVu Sans_12.fnt"});

    o = cli({"-f", "fon", "-s", "36, 48", "DejaVu Sans", "Liberation Mono"}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("exceed 64K"), std::string::npos) << o.err;

    // A library written without a size it cannot hold is written, and the size is said left out.
    o = cli({"-f", "fon", "-s", "8, 72", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("wrote ./DejaVu Sans.fon"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("written without a size: ./DejaVu Sans.fon: 72 points left out of the library"),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("1 file written, 0 not written, 1 size(s) left out of libraries"), std::string::npos) << o.err;
}

TEST_F(CliTest, UnsupportedCodePageSkipsByDefaultAndStopEndsWithOne)
{
    // Code page 1255 (Hebrew): the Liberation faces do not claim it.
    Outcome o = cli({"-f", "bdf", "-s", "8", "-c", "1255", "Liberation Mono"}, dir);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("skipped Liberation Mono"), std::string::npos) << o.err;
    EXPECT_TRUE(names().empty());

    o = cli({"-f", "bdf", "-s", "8", "-c", "1255", "--unsupported", "stop", "Liberation Mono"}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("run stopped: the font Liberation Mono does not support code page 1255"),
              std::string::npos) << o.err;
    EXPECT_TRUE(names().empty());

    o = cli({"-f", "bdf", "-s", "8", "-c", "1255", "--unsupported", "yes", "Liberation Mono"}, dir);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(names(), std::vector<std::string>{"Liberation Mono_8.bdf"});
}

TEST_F(CliTest, EveryStyleGetsItsOwnFileAndTheSummaryCountsWhatIsOnDisk)
{
    const Outcome list = cli({"--list"}, dir);
    const auto styles = static_cast<size_t>(std::count(list.out.begin(), list.out.end(), '\n'));
    ASSERT_GE(styles, 10u);
    const Outcome o = cli({"-f", "bdf", "-s", "12", "all"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(names().size(), styles);
    EXPECT_NE(o.err.find(std::to_string(styles) + " files written"), std::string::npos) << o.err;
    for (const char* file : {"DejaVu Sans_12.bdf", "DejaVu Sans Bold_12.bdf", "DejaVu Sans Oblique_12.bdf",
                             "DejaVu Sans Bold Oblique_12.bdf"})
        EXPECT_TRUE(fs::exists(dir + "/" + file)) << file;
}

TEST_F(CliTest, WorkerThreadsWriteTheSameFilesInTheSameOrder)
{
    for (const char* format : {"bdf", "fon", "sfl", "pcf", "otb"}) {
        SCOPED_TRACE(format);
        std::vector<std::string> wrote[2];
        for (int i = 0; i < 2; ++i) {
            const std::string out = dir + "/" + format + (i ? "-four" : "-one");
            fs::create_directory(out);
            // Out of order, so the worker that starts from the largest size begins mid-list.
            const Outcome o = cli({"-f", format, "-s", "14, 6, 20, 8, 12, 10", "-j", i ? "4" : "1", "-o", out,
                                   "DejaVu Sans", "Liberation Serif", "DejaVu Sans Mono"});
            EXPECT_EQ(o.status, 0) << o.err;
            std::istringstream lines(o.err);
            for (std::string line; std::getline(lines, line);)
                if (line.rfind("wrote ", 0) == 0)
                    wrote[i].push_back(line.substr(line.rfind('/') + 1));
        }
        EXPECT_EQ(wrote[0], wrote[1]);
        EXPECT_FALSE(wrote[0].empty());
        for (const std::string& name : wrote[0])
            EXPECT_EQ(readFile(dir + "/" + format + "-one/" + name), readFile(dir + "/" + format + "-four/" + name))
                << name;
    }
}

TEST_F(CliTest, MsDosPagesAreCheckedAgainstTheFacesOwnPages)
{
    // Copies of DejaVu Sans whose OS/2 table states only 437 among the MS-DOS pages, or no
    // pages at all, each seen by a font configuration of its own.
    auto craft = [&](const std::string& name, const char* ranges) {
        const std::string folder = dir + "/" + name;
        fs::create_directories(folder + "/fonts");
        const std::string script =
            "import sys\nfrom fontTools.ttLib import TTFont\nf = TTFont(sys.argv[1])\n"
            "f['OS/2'].ulCodePageRange1, f['OS/2'].ulCodePageRange2 = " + std::string(ranges) +
            "\nf.save(sys.argv[2])\n";
        const std::string command = "/usr/bin/python3 -c " + shellQuote(script) +
                                    " /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf " +
                                    shellQuote(folder + "/fonts/Crafted.ttf");
        EXPECT_EQ(std::system(command.c_str()), 0) << "python3-fonttools is needed";
        std::ofstream(folder + "/fonts.conf")
            << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << folder << "/fonts</dir><cachedir>" << folder
            << "/cache</cachedir></fontconfig>\n";
        fs::create_directory(folder + "/out");
        return "FONTCONFIG_FILE=" + folder + "/fonts.conf";
    };
    const std::string only437 = craft("only437", "1, 1 << 31");
    const std::string none = craft("none", "0, 0");
    auto convert = [&](const std::string& env, const char* codePage) {
        return cli({"-f", "bdf", "-s", "8", "-c", codePage, "-o", "out", "DejaVu Sans"},
                   dir + "/" + (env == only437 ? "only437" : "none"), std::vector<std::string>{env});
    };
    Outcome o = convert(only437, "866");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("skipped DejaVu Sans"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(dir + "/only437/out/DejaVu Sans_8.bdf"));
    o = convert(only437, "437");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(dir + "/only437/out/DejaVu Sans_8.bdf"));
    // Without stated pages, the face's Cyrillic letters make it a face for 866.
    o = convert(none, "866");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(dir + "/none/out/DejaVu Sans_8.bdf")) << o.err;
}

TEST_F(CliTest, NameOptionRenamesTheFontInsideTheFiles)
{
    const Outcome o = cli({"-f", "fnt", "-s", "10", "--name", "My Face", "Liberation Sans"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string data = readFile(dir + "/Liberation Sans_10.fnt");
    EXPECT_NE(data.find(std::string("My Face") + '\0'), std::string::npos);
}

TEST_F(CliTest, FontFilesByPathConvertAsInstalledOnesAndTakeTheirPlace)
{
    const std::string sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    TempDir fonts;
    fs::copy_file(sans, fonts.file("DejaVuSans.ttf"));
    for (const char* out : {"installed", "path", "shadowed"})
        fs::create_directory(dir + "/" + out);
    Outcome o = cli({"-q", "-f", "bdf", "-s", "12", "-o", "installed", "DejaVu Sans"}, dir);
    ASSERT_EQ(o.status, 0) << o.err;
    o = cli({"-q", "-f", "bdf", "-s", "12", "-o", "path", fonts.file("DejaVuSans.ttf")}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string installed = readFile(dir + "/installed/DejaVu Sans_12.bdf");
    EXPECT_FALSE(installed.empty());
    EXPECT_EQ(readFile(dir + "/path/DejaVu Sans_12.bdf"), installed);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/path"), fs::directory_iterator()), 1);

    // A file of the family and style of an installed face stands in its place: listed once, and
    // drawn from the file given, whose outlines are blank.
    copyWithoutOutlines(sans, fonts.file("Blank.ttf"));
    o = cli({"-f", "bdf", "-s", "12", "-o", "shadowed", "all", fonts.file("Blank.ttf")}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("warning: DejaVu Sans: no character drew any ink"), std::string::npos) << o.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/shadowed"), fs::directory_iterator()), 10);
    EXPECT_NE(readFile(dir + "/shadowed/DejaVu Sans_12.bdf"), installed);
}

TEST_F(CliTest, ACollectionListsEveryFaceAndConvertsTheOneChosen)
{
    TempDir fonts;
    const std::string pair = fonts.file("Pair.ttc");
    const std::string script =
        "import sys\nfrom fontTools.ttLib import TTFont\nfrom fontTools.ttLib.ttCollection import TTCollection\n"
        "c = TTCollection()\nc.fonts = [TTFont(f) for f in sys.argv[2:]]\nc.save(sys.argv[1])\n";
    if (std::system("/usr/bin/python3 -c 'import fontTools' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-fonttools is missing";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(pair) +
                           " /usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf"
                           " /usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf").c_str()),
              0);
    // Each face as --list shows the installed one, numbered by its place in the file.
    const std::string all = cli({"--list"}).out;
    auto listed = [&](const std::string& name, int index) {
        const size_t at = all.find("\t" + name + "\t");
        return at == std::string::npos ? std::string()
                                       : std::to_string(index) + all.substr(at, all.find('\n', at) - at + 1);
    };
    Outcome o = cli({"--list", pair});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, listed("Liberation Mono", 0) + listed("DejaVu Serif", 1));

    o = cli({"-q", "-f", "bdf", "-s", "12", pair + ":1"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(names(), std::vector<std::string>{"DejaVu Serif_12.bdf"});
    TempDir installed;
    o = cli({"-q", "-f", "bdf", "-s", "12", "DejaVu Serif"}, installed.path());
    EXPECT_EQ(readFile(dir + "/DejaVu Serif_12.bdf"), readFile(installed.file("DejaVu Serif_12.bdf")));

    // A file named PATH:N is that file, not face N of PATH; -l takes several files.
    fs::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", pair + ":1");
    o = cli({"-l", pair + ":1", pair + ":0"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, listed("DejaVu Sans", 0) + listed("Liberation Mono", 0));
}

TEST_F(CliTest, FilesThatGiveNoFaceAreNamedAndTheOtherFontsWritten)
{
    TempDir fonts;
    const std::string notes = fonts.file("notes.txt"), folder = fonts.file("folder.ttf"),
                      sans = fonts.file("DejaVuSans.ttf");
    std::ofstream(notes) << "not a font\n";
    fs::create_directory(folder);
    fs::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", sans);
    Outcome o = cli({"-f", "bdf", "-s", "8", notes, folder, sans + ":3", "Liberation Mono"}, dir);
    EXPECT_EQ(o.status, 1);
    for (const std::string& message : {notes + ": not a font file FreeType can read",
                                       folder + ": a folder, not a font file",
                                       sans + ":3: no such face; the file holds one face, 0"})
        EXPECT_NE(o.err.find("quenfold-cli: " + message + "\n"), std::string::npos) << message << "\n" << o.err;
    EXPECT_EQ(names(), std::vector<std::string>{"Liberation Mono_8.bdf"});

    // A bitmap font FreeType reads holds no outline face; --list names it and lists the rest.
    o = cli({"--list", dir + "/Liberation Mono_8.bdf", sans});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Liberation Mono_8.bdf: not a TrueType or OpenType font"), std::string::npos) << o.err;
    EXPECT_EQ(o.out.rfind("0\tDejaVu Sans\tDejaVu Sans\t", 0), 0u) << o.out;

    // With nothing else to convert, nothing is: still 1, not a usage error.
    o = cli({"-f", "bdf", "-s", "8", notes}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(names(), std::vector<std::string>{"Liberation Mono_8.bdf"});
}

TEST_F(CliTest, InterruptFinishesTheCurrentFontAndExits130)
{
    const std::string command = "cd " + shellQuote(dir) + " && exec " + shellQuote(QUENFOLD_CLI_PATH) +
                                " -q -f fnt -s '8,9,10,11,12,13,14,15,16,17,18,19,20' all";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the first file exists, then interrupt once.
    for (int i = 0; i < 500 && names().empty(); ++i)
        usleep(10000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    // Whole fonts only: every size of the fonts begun, no temporary file.
    const auto written = names();
    EXPECT_FALSE(written.empty());
    EXPECT_EQ(written.size() % 13, 0u);
    for (const auto& n : written)
        EXPECT_EQ(fs::path(n).extension(), ".fnt") << n;
}

TEST_F(CliTest, FontFilesTruncatedDuringTheRunCostOnlyTheirFonts)
{
    TempDir fontDir;
    const OwnFonts fonts(fontDir, {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                   "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
                                   "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"});
    std::string sizes;
    for (int size = 8; size <= 40; ++size)
        sizes += std::to_string(size) + ",";
    // Under ASan a bus error would otherwise come out as an ordinary exit status.
    Background run({"-f", "bdf", "-s", sizes, "all"}, dir, {fonts.env, "ASAN_OPTIONS=handle_sigbus=0"});
    // Once the first file is written every font file shrinks in place: the size being drawn from a
    // file as it shrinks is refused, faces loaded afterwards fail, each of their files reported.
    ASSERT_TRUE(run.waitForErr("wrote ")) << run.err();
    for (const auto& f : fs::directory_iterator(fonts.folder))
        ASSERT_EQ(truncate(f.path().c_str(), 20000), 0);
    const int status = run.finish();
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n" << run.err();
    EXPECT_EQ(WEXITSTATUS(status), 1) << run.err();
    size_t reported = 0;
    for (size_t at = 0; (at = run.err().find("not written: ", at)) != std::string::npos; ++at)
        ++reported;
    EXPECT_NE(run.err().find("cannot be loaded"), std::string::npos) << run.err();
    EXPECT_GT(names().size(), 0u);
    EXPECT_EQ(names().size() + reported, 3u * 33);
    EXPECT_TRUE(temporaries(names()).empty());
}

TEST_F(CliTest, AFontFileReplacedAfterTheListWasReadMustStillHoldItsFace)
{
    const std::string serif = "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf";
    TempDir fontDir;
    const OwnFonts fonts(fontDir, {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", serif});
    std::string sizes;
    for (int size = 8; size <= 40; ++size)
        sizes += std::to_string(size) + ",";
    // Once DejaVu Sans is being written, Liberation Serif's file is replaced the way package
    // managers do it (a new file renamed over the old): by another face, or by the same face again.
    for (const bool sameFace : {false, true}) {
        fs::copy_file(serif, fonts.file("LiberationSerif-Regular.ttf"), fs::copy_options::overwrite_existing);
        TempDir out;
        Background run({"-f", "bdf", "-s", sizes, "all"}, out.path(), {fonts.env});
        ASSERT_TRUE(run.waitForErr("wrote ")) << run.err();
        const std::string incoming = fontDir.file("incoming.ttf");
        fs::copy_file(sameFace ? serif : "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf", incoming,
                      fs::copy_options::overwrite_existing);
        ASSERT_EQ(std::rename(incoming.c_str(), fonts.file("LiberationSerif-Regular.ttf").c_str()), 0);
        const int status = run.finish();
        ASSERT_TRUE(WIFEXITED(status)) << run.err();
        const auto written = out.names();
        const auto serifFiles = std::count_if(written.begin(), written.end(),
                                              [](const std::string& n) { return n.rfind("Liberation Serif_", 0) == 0; });
        if (sameFace) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << run.err();
            EXPECT_EQ(serifFiles, 33);
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 1) << run.err();
            EXPECT_EQ(serifFiles, 0);
            EXPECT_NE(run.err().find("Liberation Serif_12.bdf: Liberation Serif at 12 points (96 x 96 dpi): the font "
                                     "\"Liberation Serif\" cannot be loaded: its file changed since the list was "
                                     "read and now holds Liberation Mono Regular"),
                      std::string::npos)
                << run.err();
        }
        EXPECT_EQ(written.size(), sameFace ? 66u : 33u);
    }
}

TEST_F(CliTest, NothingWaitsOnAFifo)
{
    // A FIFO at an output file's name is refused and named; the other files are written.
    ASSERT_EQ(mkfifo((dir + "/DejaVu Sans_8.bdf").c_str(), 0644), 0);
    {
        Background run({"-f", "bdf", "-s", "8, 10", "DejaVu Sans"}, dir);
        const std::optional<int> status = run.finishWithin(60);
        ASSERT_TRUE(status) << "the run hangs on the FIFO";
        EXPECT_EQ(WEXITSTATUS(*status), 1);
        EXPECT_NE(run.err().find("DejaVu Sans_8.bdf: a FIFO is in its place; nothing was read or written through it"),
                  std::string::npos)
            << run.err();
        struct stat info {};
        EXPECT_TRUE(stat((dir + "/DejaVu Sans_8.bdf").c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
        EXPECT_TRUE(fs::is_regular_file(dir + "/DejaVu Sans_10.bdf"));
    }
    // A FIFO in the face cache's place is ignored, then replaced by the cache.
    const std::string cache = dir + "/faces.cache";
    ASSERT_EQ(mkfifo(cache.c_str(), 0644), 0);
    Background list({"--list"}, dir, {"QUENFOLD_FACE_CACHE=" + cache});
    const std::optional<int> status = list.finishWithin(60);
    ASSERT_TRUE(status) << "--list hangs on the cache";
    EXPECT_EQ(WEXITSTATUS(*status), 0) << list.err();
    EXPECT_TRUE(fs::is_regular_file(cache));
}

TEST_F(CliTest, SignalsWhileTheFontListIsReadEndAsDocumented)
{
    // A configuration that is a FIFO holds the program inside reading the font list, where it is
    // found by opening the FIFO's other end.
    const std::string conf = dir + "/fonts.conf";
    ASSERT_EQ(mkfifo(conf.c_str(), 0644), 0);
    for (const int sig : {SIGTERM, SIGHUP}) {
        Background run({"-f", "bdf", "-s", "12", "all"}, dir, {"FONTCONFIG_FILE=" + conf});
        int writer = -1;
        for (int i = 0; i < 3000 && writer < 0; ++i) {
            writer = open(conf.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer < 0)
                usleep(1000);
        }
        ASSERT_GE(writer, 0) << "the program never read its configuration";
        kill(run.pid(), sig);
        close(writer);
        const std::optional<int> status = run.finishWithin(60);
        ASSERT_TRUE(status);
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
        EXPECT_EQ(WEXITSTATUS(*status), 128 + sig);
    }
    EXPECT_TRUE(names() == std::vector<std::string>{"fonts.conf"});

    // Started with SIGHUP ignored (nohup), it keeps ignoring it.
    TempDir out;
    const auto before = signal(SIGHUP, SIG_IGN);
    Background run({"-q", "-f", "bdf", "-s", "12", "DejaVu Sans"}, out.path());
    signal(SIGHUP, before);
    kill(run.pid(), SIGHUP);
    const int status = run.finish();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out.names(), std::vector<std::string>{"DejaVu Sans_12.bdf"});
}

TEST_F(CliTest, TermAndHupEndAtOnceAndLeaveNoTemporaryFile)
{
    for (const int sig : {SIGTERM, SIGHUP}) {
        TempDir out;
        // Large files, so the signal is sent while one is being written.
        Background run({"-q", "-f", "bdf", "-s", "1000, 1100, 1200", "DejaVu Sans"}, out.path());
        bool sent = false;
        for (int i = 0; i < 30000 && !sent; ++i) {
            if (!temporaries(out.names()).empty())
                sent = kill(run.pid(), sig) == 0;
            else
                usleep(1000);
        }
        const int status = run.finish();
        EXPECT_TRUE(sent) << "no temporary file seen";
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
        EXPECT_TRUE(temporaries(out.names()).empty());
    }
}

TEST_F(CliTest, StaleTemporaryFilesOfDeadProcessesAreRemovedAtTheStart)
{
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string live = std::to_string(getpid());
    const std::string gone = std::to_string(dead);
    const std::vector<std::string> kept = {
        ".DejaVu Sans_12.bdf." + live + "-7.tmp",  // a run still going
        ".notes.txt." + gone + "-7.tmp",           // not one of ours
        ".DejaVu Sans_12.bdf." + gone + "-7.tmp.keep",
        "DejaVu Sans_12.bdf." + gone + "-7.tmp",
    };
    for (const auto& n : kept)
        std::ofstream(dir + "/" + n) << "x";
    std::ofstream(dir + "/.Other Face.fon." + gone + "-123.tmp") << "x";
    std::ofstream(dir + "/.DejaVu Sans_12.bdf." + gone + "-4294967295.tmp") << "x";

    // The face cache's folder is cleaned the same way.
    std::ofstream(dir + "/.faces.cache." + gone + "-9.tmp") << "x";
    const Outcome o = cli({"-q", "-f", "bdf", "-s", "8", "DejaVu Sans"}, dir, {"QUENFOLD_FACE_CACHE=" + dir + "/faces.cache"});
    EXPECT_EQ(o.status, 0) << o.err;
    auto expected = kept;
    expected.push_back("DejaVu Sans_8.bdf");
    expected.push_back("faces.cache");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(), expected);
}

TEST_F(CliTest, CharsChooseUnicodeCharactersForTheFormatsThatHoldThem)
{
    Outcome o = cli({"-f", "fnt", "--chars", "ascii", "0"}, dir);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("--chars: fnt holds the characters of one 8-bit code page (-c chooses it); --chars is "
                         "taken by bdf, pcf, otb or psf"),
              std::string::npos)
        << o.err;
    o = cli({"-f", "bdf", "--chars", "U+0041, greek", "0"}, dir);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("--chars: cannot read \"greek\""), std::string::npos) << o.err;
    EXPECT_TRUE(names().empty());

    // Characters the face lacks are left out and counted; the file holds the rest.
    o = cli({"-f", "bdf", "--chars", "U+0041-U+0043, U+E000, U+1D49C", "-s", "12", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("1 file written, 0 not written, 2 character(s) the fonts lack left out"), std::string::npos)
        << o.err;
    const std::string bdf = readFile(dir + "/DejaVu Sans_12.bdf");
    EXPECT_NE(bdf.find("\nCHARS 3\n"), std::string::npos);
    EXPECT_NE(bdf.find("\nSTARTCHAR uni0043\nENCODING 67\n"), std::string::npos);

    // PCF holds 16-bit codes: the astral character is left out and said; its name has no space.
    o = cli({"-f", "pcf", "--chars", "U+0041-U+0043, U+1D538", "-s", "12", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("DejaVu Sans: 1 character(s) above U+FFFF left out of its pcf files"), std::string::npos)
        << o.err;
    EXPECT_TRUE(fs::is_regular_file(dir + "/DejaVu-Sans_12.pcf"));
}

TEST_F(CliTest, SizesAreReadWholeAndAnythingElseIsAUsageError)
{
    std::string longList;  // about 100 KB
    while (longList.size() < 100000)
        longList += "12, ";
    std::string upTo10002;
    for (int size = 3; size <= 10002; ++size)
        upTo10002 += std::to_string(size) + ",";
    const std::pair<std::string, std::string> refused[] = {
        {"12abc", "\"12abc\""},
        {"10.5", "\"10.5\""},
        {"8;10", "\"8;10\""},
        {"12, 2", "size 2 is below 3"},
        {"99999999999999999999", "above 4000"},
        {upTo10002, "\"4001\" is above 4000"},
        {longList + "12abc", "\"12abc\""},
        {" , ", "no size"},
    };
    for (const auto& [text, named] : refused) {
        const Outcome o = cli({"-f", "bdf", "-s", text, "DejaVu Sans"}, dir);
        EXPECT_EQ(o.status, 2) << named;
        EXPECT_NE(o.err.find(named), std::string::npos) << o.err.substr(0, 200);
    }
    EXPECT_TRUE(names().empty());

    // White space of any kind separates, and sizes past the first kilobyte count.
    const Outcome o = cli({"-q", "-f", "bdf", "-s", longList + "\t14\n", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(names(), (std::vector<std::string>{"DejaVu Sans_12.bdf", "DejaVu Sans_14.bdf"}));
}

TEST_F(CliTest, MessagesSayWhatHappened)
{
    // Font names in reasons are UTF-8, whatever bytes the font records hold.
    Outcome o = cli({"-f", "fnt", "-s", "72", "--name", "Caf\xc3\xa9", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Caf\xc3\xa9 at 72 points"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("Caf\xe9"), std::string::npos) << o.err;

    o = cli({"-f", "bdf", "-s", "8, 10", "--max-output", "1KiB", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("run stopped: writing on would pass the run's output limit of 1 KiB"),
              std::string::npos) << o.err;
    EXPECT_TRUE(names().empty());

    std::ofstream(dir + "/file") << "x";
    o = cli({"-o", dir + "/file", "DejaVu Sans"}, dir);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("is not a folder"), std::string::npos) << o.err;

    TempDir noFonts;
    const OwnFonts none(noFonts, {});
    o = cli({"all"}, dir, {none.env});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("no fonts found"), std::string::npos) << o.err;

    // A face whose glyph outlines are all gone: its files are written, and a warning names it.
    TempDir blankFonts;
    const OwnFonts blank(blankFonts, {});
    copyWithoutOutlines("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", blank.file("DejaVuSans.ttf"));
    TempDir out;
    o = cli({"-f", "bdf", "-s", "12", "DejaVu Sans"}, out.path(), {blank.env});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("warning: DejaVu Sans: no character drew any ink"), std::string::npos) << o.err;
    EXPECT_EQ(out.names(), std::vector<std::string>{"DejaVu Sans_12.bdf"});
    // A sound face draws ink and gets no warning.
    o = cli({"-f", "bdf", "-s", "12", "DejaVu Sans"}, out.path());
    EXPECT_EQ(o.err.find("warning"), std::string::npos) << o.err;
}

}  // namespace
