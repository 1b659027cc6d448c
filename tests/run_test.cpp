// The generation run over real test fonts, driven by a scripted host.
#include "platform/FileLayer.h"
#include "run/CodePageTable.h"
#include "run/FontList.h"
#include "run/GenerationRun.h"
#include "run/OutputBudget.h"
#include "tests/FaultyFiles.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using qf::FontListEntry;
using qf::GenerationRun;
using qf::GenerationSettings;
using qf::OutputFormat;
using qf::test::readFile;
using qf::test::TempDir;

FontListEntry entry(const char* face, const char* name, std::vector<int32_t> charsets,
                    int weight = 400, int charset = 0)
{
    FontListEntry e;
    e.name = name;
    e.logFont = qf::test::logFont(face, 0, weight, false, charset);
    e.charsets = std::move(charsets);
    e.selected = 1;
    return e;
}

// Answers from a script and records what the run asked and showed.
class ScriptedHost : public qf::RunHost {
public:
    std::string folder;
    bool cancelChooser = false;
    std::vector<int> answers;  // to successive code page prompts
    bool continueOversized = true;
    std::function<void(int)> onPump;  // called with the number of pumps so far

    std::vector<std::string> prompts;
    std::vector<std::string> oversized;
    std::string offeredFolder;
    int total = -1;
    std::vector<int> positions;
    std::vector<qf::RunFailure> reported;
    bool ended = false;
    bool runningFlag = false;
    int pumps = 0;

    bool chooseFolder(const std::string& initial, std::string& chosen) override
    {
        offeredFolder = initial;
        chosen = folder;
        return !cancelChooser;
    }
    int confirmCodePage(const std::string& message) override
    {
        prompts.push_back(message);
        if (answers.empty())
            return 0;
        const int a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    bool goOnWithoutFile(const std::string& notice, const std::string& question) override
    {
        oversized.push_back(notice + "\n\n" + question);
        return continueOversized;
    }
    void beginRun(int t) override { total = t; }
    void setProgress(int p) override { positions.push_back(p); }
    void endRun(const std::vector<qf::RunFailure>& failures) override
    {
        reported = failures;
        ended = true;
    }
    void pumpMessages() override
    {
        ++pumps;
        if (onPump)
            onPump(pumps);
    }
    bool running() const override { return runningFlag; }
    void setRunning(bool r) override { runningFlag = r; }
};

struct RunFixture : ::testing::Test {
    TempDir dir;
    std::vector<FontListEntry> fonts;
    GenerationSettings settings;
    ScriptedHost host;

    void SetUp() override
    {
        settings.fonts = &fonts;
        settings.sizes = {8, 10};
        settings.format = OutputFormat::FNT;
        host.folder = dir.path();
    }
    qf::RunResult run(qf::FileLayer& files = qf::FileLayer::system())
    {
        GenerationRun r(settings, host, files);
        return r.execute();
    }
};

TEST_F(RunFixture, WritesEveryFontAndSizeInEntryOrderWithProgress)
{
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0}), entry("Liberation Mono", "Liberation Mono", {0})};
    fonts.push_back(entry("Liberation Sans", "Liberation Sans", {0}));
    fonts[1].selected = 0;
    const auto result = run();
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.written, (std::vector<std::string>{
                                  dir.path() + "/DejaVu Sans_8.fnt", dir.path() + "/DejaVu Sans_10.fnt",
                                  dir.path() + "/Liberation Sans_8.fnt", dir.path() + "/Liberation Sans_10.fnt"}));
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(host.total, 4);
    EXPECT_EQ(host.positions, (std::vector<int>{0, 1, 2, 3}));  // the last position is N - 1
    EXPECT_TRUE(host.ended);
    EXPECT_FALSE(host.runningFlag);
    EXPECT_EQ(settings.outputFolder, dir.path());
    EXPECT_EQ(dir.names().size(), 4u);
}

TEST_F(RunFixture, ARunMadeAgainLeavesFilesThatHoldTheSameBytes)
{
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    ASSERT_TRUE(run().failures.empty());
    const std::string same = dir.file("DejaVu Sans_8.fnt"), changed = dir.file("DejaVu Sans_10.fnt");
    const std::string bytes = readFile(changed);
    std::ofstream(changed, std::ios::binary | std::ios::in | std::ios::out).write("X", 1);
    struct stat before {};
    ASSERT_EQ(::stat(same.c_str(), &before), 0);

    const auto result = run();
    EXPECT_EQ(result.written, (std::vector<std::string>{same, changed}));  // reported all the same
    struct stat after {};
    ASSERT_EQ(::stat(same.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(readFile(changed), bytes);
}

TEST_F(RunFixture, CancelledChooserChangesNothing)
{
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    settings.outputFolder = "/previous";
    host.cancelChooser = true;
    const auto result = run();
    EXPECT_FALSE(result.started);
    EXPECT_EQ(host.offeredFolder, "/previous");
    EXPECT_EQ(settings.outputFolder, "/previous");
    EXPECT_EQ(host.total, -1);
    EXPECT_FALSE(host.ended);
    EXPECT_TRUE(dir.names().empty());
}

TEST_F(RunFixture, BadSettingsRefuseToStart)
{
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    for (const auto& [x, y] : {std::pair{0u, 96u}, {96u, 0u}, {65536u, 96u}}) {
        settings.resolutionX = x;
        settings.resolutionY = y;
        const auto result = run();
        EXPECT_FALSE(result.started);
        EXPECT_FALSE(result.refusal.empty());
    }
    EXPECT_TRUE(host.offeredFolder.empty());
    EXPECT_TRUE(dir.names().empty());
}

TEST_F(RunFixture, PromptAnswersAndTheirEffectOnLaterFonts)
{
    // Row 1 is code page 1250 (character set 238); none of these entries claims it.
    settings.codePageIndex = 1;
    settings.sizes = {8};
    auto five = [&] {
        fonts.clear();
        for (const char* n : {"A", "B", "C", "D", "E"})
            fonts.push_back(entry("DejaVu Sans", n, {0}));
    };

    five();
    host.answers = {qf::kAnswerYes, qf::kAnswerSkip, qf::kAnswerYesToAll};
    auto result = run();
    EXPECT_EQ(host.prompts.size(), 3u);  // no prompt after Yes to all
    EXPECT_EQ(result.skippedFonts, std::vector<std::string>{"B"});
    EXPECT_EQ(result.written.size(), 4u);
    EXPECT_NE(host.prompts[0].find("Font A cannot support selected codepage."), std::string::npos);
    EXPECT_EQ(fonts[0].logFont.lfCharSet, 238);  // the processed entry keeps the run's set
    EXPECT_EQ(fonts[1].logFont.lfCharSet, 0);    // the skipped one is untouched

    five();
    host.prompts.clear();
    host.answers = {qf::kAnswerSkipAll};
    result = run();
    EXPECT_EQ(host.prompts.size(), 1u);  // the next run prompts again, then skips silently
    EXPECT_EQ(result.skippedFonts.size(), 5u);
    EXPECT_TRUE(result.written.empty());

    five();
    host.prompts.clear();
    host.answers = {qf::kAnswerYes, qf::kAnswerStop};
    host.positions.clear();
    result = run();
    EXPECT_EQ(host.prompts.size(), 2u);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(host.positions, std::vector<int>{0});  // only A was rendered
    EXPECT_TRUE(host.ended);
}

TEST_F(RunFixture, DefaultCharsetEntryIsNeverPromptedAndKeepsItsSet)
{
    settings.codePageIndex = 2;  // 1251
    settings.sizes = {8};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0}, 400, gdi::DEFAULT_CHARSET)};
    const auto result = run();
    EXPECT_TRUE(host.prompts.empty());
    EXPECT_EQ(result.written.size(), 1u);
    EXPECT_EQ(fonts[0].logFont.lfCharSet, gdi::DEFAULT_CHARSET);
}

TEST_F(RunFixture, StopDuringSecondOfFourSizesFinishesTheFont)
{
    settings.sizes = {8, 9, 10, 11};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0}), entry("Liberation Sans", "Liberation Sans", {0})};
    host.onPump = [&](int pumps) {
        if (pumps == 2)
            host.runningFlag = false;  // Stop clicked while the second size was rendered
    };
    const auto result = run();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.written.size(), 4u);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"DejaVu Sans_10.fnt", "DejaVu Sans_11.fnt",
                                                     "DejaVu Sans_8.fnt", "DejaVu Sans_9.fnt"}));
}

TEST_F(RunFixture, StylesSharingAFaceNameEachGetTheirOwnFile)
{
    settings.sizes = {10};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0}), entry("DejaVu Sans", "DejaVu Sans Bold", {0}, 700),
             entry("DejaVu Sans", "My Bold", {0}, 700), entry("DejaVu Sans", "DejaVu Sans", {0})};
    for (FontListEntry& e : fonts)
        e.fullName = e.name;
    fonts[2].fullName = "DejaVu Sans Bold";  // renamed by the user: the file keeps the enumerated name
    {
        std::ofstream old(dir.path() + "/DejaVu Sans_10.fnt");
        old << "from an earlier run";
    }
    auto result = run();
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(result.written.size(), 4u);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"DejaVu Sans (2)_10.fnt", "DejaVu Sans Bold (2)_10.fnt",
                                                     "DejaVu Sans Bold_10.fnt", "DejaVu Sans_10.fnt"}));
    EXPECT_NE(readFile(dir.path() + "/DejaVu Sans Bold (2)_10.fnt").find("My Bold"), std::string::npos);
    EXPECT_EQ(readFile(dir.path() + "/DejaVu Sans_10.fnt").find("earlier run"), std::string::npos);

    // A library per style too; an entry left out at the code page test takes no name.
    settings.format = OutputFormat::FON;
    settings.codePageIndex = 1;  // 1250
    fonts[0].charsets = {0, 238};
    fonts[1].charsets = {0};
    fonts[2].charsets = {238};
    fonts[3].selected = 0;
    host.answers = {qf::kAnswerSkip};
    result = run();
    EXPECT_EQ(result.written, (std::vector<std::string>{dir.path() + "/DejaVu Sans.fon",
                                                        dir.path() + "/DejaVu Sans Bold.fon"}));
}

TEST_F(RunFixture, FonLibraryKeepsTheSizesThatCouldBeMade)
{
    // 72 points at 96 dpi cannot be addressed with 16-bit offsets; 8 and 12 can.
    settings.format = OutputFormat::FON;
    settings.sizes = {8, 12, 72};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    const auto result = run();
    // The library is written; the size it could not hold is left out of it, not a failure.
    EXPECT_EQ(result.written, std::vector<std::string>{dir.path() + "/DejaVu Sans.fon"});
    EXPECT_TRUE(result.failures.empty());
    ASSERT_EQ(result.leftOut.size(), 1u);
    EXPECT_EQ(result.leftOut[0].file, dir.path() + "/DejaVu Sans.fon");
    EXPECT_NE(result.leftOut[0].reason.find("72 points left out of the library"), std::string::npos)
        << result.leftOut[0].reason;
    EXPECT_TRUE(host.oversized.empty());
    EXPECT_NE(readFile(dir.path() + "/DejaVu Sans.fon").find("FONTRES 100,96,96:DejaVu Sans 8,12"),
              std::string::npos);

    // The 64 KB question is asked of the sizes kept only: Liberation Sans at 36 and 48 points
    // exceeds it, 72 is not counted.
    settings.sizes = {36, 48, 72};
    host.continueOversized = true;
    fonts = {entry("Liberation Sans", "Liberation Sans", {0})};
    const auto big = run();
    EXPECT_EQ(host.oversized.size(), 1u);
    EXPECT_EQ(big.failures.size(), 1u);  // no library, so the size left out is a failure too
    EXPECT_TRUE(big.leftOut.empty());
    EXPECT_TRUE(big.written.empty());
}

TEST(RunNames, FileNamesFollowFolderFaceSizeAndStayInTheFolder)
{
    EXPECT_EQ(GenerationRun::fileName("/out/", "Arial", 12, ".fnt"), "/out/Arial_12.fnt");
    EXPECT_EQ(GenerationRun::fileName("/out/", "Arial", -1, ".fon"), "/out/Arial.fon");
    EXPECT_EQ(GenerationRun::fileName("//", "Arial", 12, ".fnt"), "//Arial_12.fnt");  // the root
    EXPECT_EQ(GenerationRun::fileName("/o/", "a/../b", 8, ".bdf"), "/o/a_.._b_8.bdf");
    EXPECT_EQ(GenerationRun::fileName("/o/", "..", 8, ".bdf"), "/o/_.._8.bdf");
    EXPECT_EQ(GenerationRun::fileName("/o/", ".", -1, ".fon"), "/o/_..fon");
    EXPECT_EQ(GenerationRun::fileName("/o/", " Sp ace ", 9, ".sfp"), "/o/ Sp ace _9.sfp");
    EXPECT_EQ(GenerationRun::fileName("/o/", "Caf\xE9", 9, ".sfl"), "/o/Caf\xC3\xA9_9.sfl");
}

TEST_F(RunFixture, RootFolderGivesDoubleSeparator)
{
    // Checked on the names only: nothing may be written to the real root.
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    struct RecordingFiles : qf::FileLayer {
        std::vector<std::string> targets;
        int open(const char*, int, mode_t) override
        {
            errno = EROFS;
            return -1;
        }
    } files;
    host.folder = "/";
    settings.sizes = {8};
    const auto result = run(files);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].file, "//DejaVu Sans_8.fnt");
}

TEST_F(RunFixture, OversizedFonAsksAndNoEndsTheRun)
{
    settings.format = OutputFormat::FON;
    settings.sizes = {36, 48};
    fonts = {entry("Liberation Sans", "Liberation Sans", {0}), entry("DejaVu Sans", "DejaVu Sans", {0})};
    host.continueOversized = false;
    const auto result = run();
    ASSERT_EQ(host.oversized.size(), 1u);
    EXPECT_EQ(host.oversized[0], "Size of the FON file generated for a font Liberation Sans exceed 64K, "
                                 "so font is not created.\n\nContinue fonts generation?");
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.withheldFiles, 1);
    EXPECT_TRUE(dir.names().empty());
    EXPECT_EQ(host.positions.size(), 2u);  // the second font was never started
}

TEST_F(RunFixture, FonOfOneFontHoldsEverySize)
{
    settings.format = OutputFormat::FON;
    settings.sizes = {8, 10, 12, 14};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    const auto result = run();
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"DejaVu Sans.fon"});
    const std::string data = readFile(dir.path() + "/DejaVu Sans.fon");
    EXPECT_NE(data.find("FONTRES 100,96,96:DejaVu Sans 8,10,12,14"), std::string::npos);
}

TEST_F(RunFixture, WriterRefusalIsReportedPerSizeAndTheRestWritten)
{
    settings.sizes = {12, 72};  // 72 points at 96 dpi overflows the FNT's 16-bit offsets
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    const auto result = run();
    EXPECT_EQ(result.written, std::vector<std::string>{dir.path() + "/DejaVu Sans_12.fnt"});
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].file, dir.path() + "/DejaVu Sans_72.fnt");
    EXPECT_FALSE(result.failures[0].reason.empty());
    EXPECT_EQ(host.reported.size(), 1u);
}

// File faults: every failure reported with its file, nothing partial left, nothing old damaged.
using qf::test::FaultyFiles;

TEST_F(RunFixture, FileFaultsAreCollectedAndLoseNothing)
{
    settings.sizes = {8, 10, 12, 14, 16};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    for (int size : {8, 10, 12, 14})
        std::ofstream(dir.path() + "/DejaVu Sans_" + std::to_string(size) + ".fnt") << "old";

    FaultyFiles files;
    files.fail(FaultyFiles::Op::Open, EACCES);      // size 8
    files.fail(FaultyFiles::Op::Write, ENOSPC);     // size 10
    files.fail(FaultyFiles::Op::Close, EIO, 1);     // size 12 (the second close: size 10's failed write closed first)
    files.fail(FaultyFiles::Op::Rename, EXDEV);     // size 14 (the first rename reached)
    files.fail(FaultyFiles::Op::Fsync, EDQUOT, 3);  // the folder at the run's end, after sizes 12, 14 and 16
    const auto result = run(files);

    ASSERT_EQ(result.failures.size(), 5u);
    EXPECT_EQ(result.failures[0].reason, "Permission denied");
    EXPECT_EQ(result.failures[1].reason, "No space left on device");
    EXPECT_EQ(result.failures[2].reason, "Input/output error");
    EXPECT_EQ(result.failures[3].reason, "Invalid cross-device link");
    EXPECT_EQ(result.failures[4].reason, "written, but its folder could not be flushed to disk: Disk quota exceeded");
    EXPECT_TRUE(result.written.empty());
    EXPECT_EQ(host.reported.size(), 5u);
    for (int size : {8, 10, 12, 14})
        EXPECT_EQ(readFile(dir.path() + "/DejaVu Sans_" + std::to_string(size) + ".fnt"), "old");
    EXPECT_EQ(dir.names().size(), 5u);  // no temporary files left
}

// A failure names its font in UTF-8 whatever made it (the file layer or the writer), though the
// font list holds the name in cp1252.
TEST_F(RunFixture, FailuresNameTheirFontInUtf8)
{
    settings.sizes = {12, 72};  // 72 points at 96 dpi is refused by the FNT writer
    fonts = {entry("DejaVu Sans", "Caf\xE9 Sans", {0})};
    FaultyFiles files;
    files.fail(FaultyFiles::Op::Open, EACCES);  // size 12
    const auto result = run(files);
    ASSERT_EQ(result.failures.size(), 2u);
    for (const qf::RunFailure& failure : result.failures) {
        EXPECT_EQ(failure.font, "Caf\xC3\xA9 Sans") << failure.reason;
        EXPECT_EQ(failure.reason.find("Caf\xE9"), std::string::npos) << failure.reason;
    }
    EXPECT_EQ(result.failures[0].reason, "Permission denied");
    EXPECT_EQ(result.failures[1].reason.rfind("Caf\xC3\xA9 Sans at 72 points", 0), 0u) << result.failures[1].reason;
}

TEST_F(RunFixture, FolderRemovedDuringTheRunIsReportedForEveryFileItHeldOrWouldHave)
{
    settings.sizes = {8};
    settings.format = OutputFormat::BDF;
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0}), entry("Liberation Sans", "Liberation Sans", {0})};
    host.onPump = [&](int pumps) {
        if (pumps == 1)
            fs::remove_all(dir.path());
    };
    const auto result = run();
    // The file written before the folder went is gone with it: lost, not written.
    EXPECT_TRUE(result.written.empty());
    ASSERT_EQ(result.failures.size(), 2u);
    EXPECT_NE(result.failures[0].reason.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(result.failures[1].file, dir.path() + "/DejaVu Sans_8.bdf");
    EXPECT_EQ(result.failures[1].reason, "lost: its folder was removed during the run");
}

TEST_F(RunFixture, FullFileSystemLosesNothing)
{
    // A real full tmpfs, where the machine lets us mount one (root in a sandbox may not).
    TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=24k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mountPoint.path()};
    host.folder = mountPoint.path();
    settings.sizes = {8, 24, 36};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    const auto result = run();
    EXPECT_FALSE(result.failures.empty());
    for (const auto& failure : result.failures)
        EXPECT_NE(failure.reason.find("No space left on device"), std::string::npos) << failure.reason;
    // Only whole files remain.
    for (const auto& e : fs::directory_iterator(mountPoint.path()))
        EXPECT_EQ(e.path().extension(), ".fnt") << e.path();
}

TEST_F(RunFixture, OutputLimitStopsTheRunBeforeTheFileThatWouldPassIt)
{
    settings.sizes = {8, 10, 12};
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0}), entry("Liberation Sans", "Liberation Sans", {0})};
    fonts[1].selected = 0;
    ASSERT_TRUE(run().failures.empty());
    uint64_t total = 0;
    for (const auto& n : dir.names())
        total += fs::file_size(dir.file(n));
    fs::remove(dir.file("DejaVu Sans_12.fnt"));

    // One byte short of all three: the first two stay as they are, the third is not written.
    settings.maxOutputBytes = total - 1;
    fonts[1].selected = 1;
    const auto result = run();
    EXPECT_EQ(result.written.size(), 2u);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].file, dir.file("DejaVu Sans_12.fnt"));
    EXPECT_NE(result.failures[0].reason.find("limit of " + std::to_string(total - 1) + " bytes"),
              std::string::npos) << result.failures[0].reason;
    EXPECT_TRUE(result.stopped);
    EXPECT_NE(result.stopReason.find("output limit"), std::string::npos) << result.stopReason;
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"DejaVu Sans_10.fnt", "DejaVu Sans_8.fnt"}));
    EXPECT_EQ(qf::OutputBudget::describe(uint64_t{1} << 30), "1 GiB");
}

}  // namespace

// Threads change how fast a run goes, never what it makes: a face's whole repertoire at one size
// (its characters split across threads) and a collection of fonts at one size (fonts drawn ahead
// of their turn, one of them asked about) give the same files, bytes, order, questions and progress.
TEST_F(RunFixture, ThreadsLeaveFilesOrderAndQuestionsAsOneThreadMakesThem)
{
    struct Made {
        std::vector<std::string> written, prompts, warnings, skipped;
        std::vector<int> positions;
        std::vector<std::string> bytes;
    };
    auto runWith = [&](int jobs) {
        settings.jobs = jobs;
        host.prompts.clear();
        host.positions.clear();
        const auto result = run();
        Made made{result.written, host.prompts, result.warnings, result.skippedFonts, host.positions, {}};
        for (const std::string& file : result.written)
            made.bytes.push_back(readFile(file));
        EXPECT_TRUE(result.failures.empty());
        return made;
    };
    auto expectSame = [](const Made& one, const Made& two) {
        EXPECT_EQ(one.written, two.written);
        EXPECT_EQ(one.prompts, two.prompts);
        EXPECT_EQ(one.warnings, two.warnings);
        EXPECT_EQ(one.skipped, two.skipped);
        EXPECT_EQ(one.positions, two.positions);
        EXPECT_TRUE(one.bytes == two.bytes);
    };

    settings.sizes = {11};
    settings.format = OutputFormat::BDF;
    fonts = {entry("DejaVu Sans", "DejaVu Sans", {0})};
    qf::CharacterSelection all;
    std::string error;
    ASSERT_TRUE(qf::parseCharacterSelection("all", all, error));
    settings.characters = all;
    const Made unicode = runWith(1);
    ASSERT_EQ(unicode.written.size(), 1u);
    ASSERT_GT(unicode.bytes[0].size(), 200'000u);  // thousands of characters: split across threads
    expectSame(unicode, runWith(2));

    settings.characters.reset();
    settings.codePageIndex = 1;  // 1250, which "B" is asked about and skipped
    fonts.clear();
    for (const char* face : {"DejaVu Sans", "Liberation Mono", "Liberation Sans", "DejaVu Serif", "Liberation Serif"})
        for (const char* style : {"", " Bold"})
            fonts.push_back(entry(face, (std::string(face) + style).c_str(), {238}, *style ? 700 : 400));
    fonts[3].charsets = {0};
    host.answers = {qf::kAnswerSkip};
    const Made collection = runWith(1);
    ASSERT_EQ(collection.written.size(), 9u);
    ASSERT_EQ(collection.prompts.size(), 1u);
    host.answers = {qf::kAnswerSkip};
    expectSame(collection, runWith(3));
}
