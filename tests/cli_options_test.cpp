// The batch front end's command line read into values, without starting a process.
#include "cli/Options.h"
#include "run/CodePageTable.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

using qf::cli::Action;
using qf::cli::Options;

std::optional<Options> parse(std::vector<std::string> args, std::string& error)
{
    args.insert(args.begin(), "quenfold-cli");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return qf::cli::parseArguments(static_cast<int>(args.size()), argv.data(), error);
}

TEST(CliOptions, ParsesEveryOptionIntoTheRunsSettings)
{
    qf::test::TempDir out;
    std::string error;
    const auto options = parse({"-q", "-f", "sfl", "-s", "10 12,\t14", "-r", "300x200", "-c", "866", "--unsupported",
                                "stop", "--name", "Caf\xC3\xA9", "--max-output", "2M", "-o", out.path() + "//",
                                "DejaVu Sans", "3"},
                               error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->action, Action::Convert);
    EXPECT_TRUE(options->quiet);
    EXPECT_EQ(options->fonts, (std::vector<std::string>{"DejaVu Sans", "3"}));
    EXPECT_EQ(options->name, "Caf\xC3\xA9");

    qf::GenerationSettings settings;
    int answer = 0;
    std::string folder;
    ASSERT_TRUE(qf::cli::applyOptions(*options, settings, answer, folder, error)) << error;
    EXPECT_EQ(settings.format, qf::OutputFormat::SFL);
    EXPECT_EQ(settings.sizes, (std::vector<int32_t>{10, 12, 14}));
    EXPECT_EQ(settings.resolutionX, 300u);
    EXPECT_EQ(settings.resolutionY, 200u);
    EXPECT_EQ(qf::CodePageTable::row(settings.codePageIndex).codePage, 866);
    EXPECT_EQ(settings.maxOutputBytes, 2u << 20);
    EXPECT_EQ(answer, qf::kAnswerStop);
    EXPECT_EQ(folder, out.path());
    EXPECT_GE(settings.jobs, 1);  // one per core when not given

    // The listing actions, and help, need no FONT.
    EXPECT_EQ(parse({"--list"}, error)->action, Action::List);
    EXPECT_EQ(parse({"-l", "--list-codepages"}, error)->action, Action::ListCodePages);
    EXPECT_EQ(parse({"-h"}, error)->action, Action::Help);
}

TEST(CliOptions, UsageErrorsNameWhatCouldNotBeRead)
{
    std::string error;
    EXPECT_FALSE(parse({}, error));
    EXPECT_EQ(error, "no FONT given");
    EXPECT_FALSE(parse({"--bogus", "0"}, error));
    EXPECT_NE(error.find("--bogus"), std::string::npos);
    EXPECT_FALSE(parse({"0", "-s"}, error));
    EXPECT_NE(error.find("needs a value"), std::string::npos);

    struct Case {
        std::vector<std::string> args;
        const char* named;
    };
    const std::string formats = qf::formatOptions();
    for (const Case& c : {Case{{"-s", "12abc"}, "12abc"}, Case{{"-s", "10.5"}, "10.5"}, Case{{"-s", "5000"}, "4000"},
                          Case{{"-r", "0"}, "\"0\""}, Case{{"-r", "96x70000"}, "96x70000"},
                          Case{{"-f", "ttf"}, formats.c_str()}, Case{{"-c", "1234"}, "1234"},
                          Case{{"--max-output", "0"}, "--max-output"}, Case{{"--unsupported", "maybe"}, "yes, skip or stop"},
                          Case{{"-o", "/nonexistent-folder"}, "/nonexistent-folder"},
                          Case{{"-o", "/dev/null"}, "is not a folder"}, Case{{"-j", "0"}, "--jobs"},
                          Case{{"-j", "2x"}, "--jobs"}}) {
        std::vector<std::string> args = c.args;
        args.push_back("0");
        const auto options = parse(args, error);
        ASSERT_TRUE(options) << error;
        qf::GenerationSettings settings;
        int answer = 0;
        std::string folder;
        EXPECT_FALSE(qf::cli::applyOptions(*options, settings, answer, folder, error)) << c.args[1];
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
    uint64_t bytes = 0;
    EXPECT_TRUE(qf::cli::parseByteCount("1GiB", bytes));
    EXPECT_EQ(bytes, uint64_t{1} << 30);
    EXPECT_FALSE(qf::cli::parseByteCount("1X", bytes));
}

TEST(CliOptions, SelectsFontsByIndexNameOrAllAndRenamesOne)
{
    std::vector<qf::FontListEntry> fonts(3);
    fonts[0].name = "Alpha";
    fonts[1].name = "Caf\xE9";  // cp1252, as the font records hold it
    fonts[2].name = "Gamma";
    auto select = [&](std::vector<std::string> args, std::string& error) {
        for (auto& f : fonts)
            f.selected = 0;
        Options options;
        options.fonts = std::move(args);
        return qf::cli::selectFonts(options, fonts, error);
    };
    std::string error;
    ASSERT_TRUE(select({"2", "Caf\xC3\xA9"}, error)) << error;
    EXPECT_EQ((std::vector<int>{fonts[0].selected, fonts[1].selected, fonts[2].selected}), (std::vector<int>{0, 1, 1}));
    ASSERT_TRUE(select({"all"}, error));
    EXPECT_TRUE(fonts[0].selected && fonts[1].selected && fonts[2].selected);
    EXPECT_FALSE(select({"3"}, error));
    EXPECT_FALSE(select({"Delta"}, error));
    EXPECT_NE(error.find("Delta"), std::string::npos);

    Options renamed;
    renamed.fonts = {"0"};
    renamed.name = "Na\xC3\xAFve \xE2\x82\xAC \xE4\xB8\x80";  // the CJK character has no cp1252 byte
    ASSERT_TRUE(qf::cli::selectFonts(renamed, fonts, error)) << error;
    EXPECT_EQ(fonts[0].name, "Na\xEFve \x80 ?");
    renamed.fonts = {"all"};
    EXPECT_FALSE(qf::cli::selectFonts(renamed, fonts, error));
    EXPECT_EQ(error, "--name needs exactly one FONT");

    std::vector<qf::FontListEntry> none;
    Options all;
    all.fonts = {"all"};
    EXPECT_FALSE(qf::cli::selectFonts(all, none, error));
    EXPECT_NE(error.find("no fonts found"), std::string::npos);
}

// The manual page keeps up with the usage text: an option added to one and not the other fails.
TEST(CliOptions, TheManualPageDescribesEveryOptionOfTheUsageText)
{
    const std::string page = qf::test::readFile(QUENFOLD_SOURCE_DIR "/packaging/quenfold-cli.1");
    ASSERT_FALSE(page.empty());
    // An option's paragraph is tagged ".TP" then the option in bold, its minus signs as roff's "\-".
    auto roff = [](const std::string& option) { return std::regex_replace(option, std::regex("-"), "\\-"); };
    auto described = [&](const std::string& tag) {
        for (const char* macro : {".B ", ".BI ", ".BR "}) {
            const auto at = page.find(std::string(".TP\n") + macro + tag);
            if (at != std::string::npos && std::string(" \n").find(page[at + 4 + std::strlen(macro) + tag.size()]) != std::string::npos)
                return true;
        }
        return false;
    };
    const std::string usage = qf::cli::usageText();
    const std::regex option(R"(\n +(?:(-[a-zA-Z]), )?(--[a-z-]+))");
    int options = 0;
    for (auto m = std::sregex_iterator(usage.begin(), usage.end(), option); m != std::sregex_iterator(); ++m, ++options) {
        const std::string tag = (*m)[1].matched ? roff((*m)[1]) + " \", \" " + roff((*m)[2]) : roff((*m)[2]);
        EXPECT_TRUE(described(tag)) << (*m)[0];
    }
    EXPECT_GE(options, 16);
}

}  // namespace
