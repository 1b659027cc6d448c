// Installing: `cmake --install` of this build into a temporary prefix gives both programs, a
// desktop entry the desktop's own validator accepts, the icon at every theme size, the manual
// pages and the copyright and changelog.
#include "tests/TestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace qf {
namespace {

struct Outcome {
    int status = -1;
    std::string output;
};

Outcome RunCommand(const std::string& command)
{
    Outcome o;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return o;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        o.output.append(buffer, n);
    const int status = ::pclose(pipe);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

bool Executable(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IXUSR);
}

TEST(GuiInstall, PutsTheProgramsTheDesktopEntryTheIconsAndTheManualPagesUnderThePrefix)
{
    test::TempDir prefix;
    const Outcome install = RunCommand(test::shellQuote(QUENFOLD_CMAKE_COMMAND) + " --install " +
                                test::shellQuote(QUENFOLD_BUILD_DIR) + " --prefix " + test::shellQuote(prefix.path()));
    ASSERT_EQ(install.status, 0) << install.output;

    EXPECT_TRUE(Executable(prefix.file("bin/quenfold")));
    EXPECT_TRUE(Executable(prefix.file("bin/quenfold-cli")));

    const std::string entry = prefix.file("share/applications/quenfold.desktop");
    const std::string text = test::readFile(entry);
    EXPECT_NE(text.find("\nExec=quenfold\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=quenfold\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nCategories=Graphics;2DGraphics;RasterGraphics;\n"), std::string::npos) << text;
    // Not even a hint: two main categories, say, put the program in two menus.
    const Outcome valid = RunCommand("desktop-file-validate " + test::shellQuote(entry));
    EXPECT_EQ(valid.status, 0) << "desktop-file-validate (desktop-file-utils) rejects it: " << valid.output;
    EXPECT_EQ(valid.output, "");

    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string png =
            prefix.file("share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/quenfold.png");
        const QImage icon(QString::fromStdString(png));
        EXPECT_EQ(icon.size(), QSize(size, size)) << png;
        EXPECT_TRUE(icon.hasAlphaChannel()) << png;
    }
    const std::string svg = test::readFile(prefix.file("share/icons/hicolor/scalable/apps/quenfold.svg"));
    EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);

    // The manual pages as Debian wants them: gzip -9n (no time stamp, so a rebuild gives the same
    // bytes), and groff reads them without a warning.
    for (const char* name : {"quenfold", "quenfold-cli"}) {
        const std::string page = name;
        const std::string gz = prefix.file("share/man/man1/" + page + ".1.gz");
        const std::string bytes = test::readFile(gz);
        ASSERT_GE(bytes.size(), 10u) << gz;
        EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\0')) << gz << " has a time stamp";
        const Outcome roff = RunCommand("gzip -dc " + test::shellQuote(gz) + " | groff -man -ww -z");
        EXPECT_EQ(roff.status, 0) << roff.output;
        EXPECT_EQ(roff.output, "") << gz;
        EXPECT_NE(RunCommand("gzip -dc " + test::shellQuote(gz)).output.find("\n.SH NAME\n" + page + " \\- "),
                  std::string::npos) << gz;
    }
    EXPECT_FALSE(test::readFile(prefix.file("share/doc/quenfold/copyright")).empty());
    EXPECT_FALSE(test::readFile(prefix.file("share/doc/quenfold/changelog.gz")).empty());

    // Nothing of the build or the tests comes along.
    std::vector<std::string> bin;
    for (const auto& e : std::filesystem::directory_iterator(prefix.file("bin")))
        bin.push_back(e.path().filename().string());
    std::sort(bin.begin(), bin.end());
    EXPECT_EQ(bin, (std::vector<std::string>{"quenfold", "quenfold-cli"}));
}

}  // namespace
}  // namespace qf
