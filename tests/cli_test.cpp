// quenfold-cli as scripts use it: its listing, its files and its exit status.
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <cstdio>
#include <filesystem>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using qf::test::readFile;
using qf::test::shellQuote;
using qf::test::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome cli(const std::vector<std::string>& args, const std::string& cwd = ".", const std::string& env = "")
{
    char errName[] = "/tmp/quenfold-cli-err-XXXXXX";
    const int errFd = mkstemp(errName);
    close(errFd);
    std::string command = "cd " + shellQuote(cwd) + " && " + env + " " + shellQuote(QUENFOLD_CLI_PATH);
    for (const auto& a : args)
        command += " " + shellQuote(a);
    command += " 2>" + shellQuote(errName);
    Outcome o;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot start " << command;
        unlink(errName);
        return o;
    }
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        o.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.err = readFile(errName);
    unlink(errName);
    return o;
}

struct CliTest : ::testing::Test {
    TempDir folder;
    const std::string dir = folder.path();
    std::vector<std::string> names() const { return folder.names(); }
};

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
             {"--name", "X", "0", "1"},
             {"--bogus"},
             {},
         }) {
        const Outcome o = cli(args, dir);
        EXPECT_EQ(o.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(o.err.empty());
    }
    EXPECT_TRUE(names().empty());
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
        return "FONTCONFIG_FILE=" + shellQuote(folder + "/fonts.conf");
    };
    const std::string only437 = craft("only437", "1, 1 << 31");
    const std::string none = craft("none", "0, 0");
    auto convert = [&](const std::string& env, const char* codePage) {
        return cli({"-f", "bdf", "-s", "8", "-c", codePage, "-o", "out", "DejaVu Sans"},
                   dir + "/" + (env == only437 ? "only437" : "none"), env);
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

}  // namespace
