// Helpers of the writer tests: a glyph source that keeps a copy of everything the rasteriser drew,
// and X11's bdftopcf run on what the BDF writer wrote.
#pragma once

#include "render/GlyphRasteriser.h"
#include "testkit/TestGlyphSource.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace qf::test {

// Passes everything through to another source and keeps a copy of each rendered glyph; a glyph
// drawn without rows is kept blank, so its pixels can still be asked for.
class RecordingSource : public GlyphSource {
public:
    struct Glyph {
        int32_t cx = 0;
        int width = 0, height = 0, widthBytes = 0;
        std::vector<uint8_t> rows;
        bool pixel(int x, int y) const
        {
            return x >= 0 && y >= 0 && x < width && y < height &&
                   (rows[static_cast<size_t>(y) * widthBytes + x / 8] & (0x80 >> (x % 8))) != 0;
        }
    };

    explicit RecordingSource(GlyphSource& inner) : inner_(inner) {}
    const gdi::TEXTMETRIC& metrics() const override { return inner_.metrics(); }
    qf::Status prepare(int width, int rowsAround = 0) override
    {
        return inner_.prepare(width, rowsAround);
    }
    void finish() override { inner_.finish(); }
    RenderedGlyph render(uint8_t code, int originX) override { return record(inner_.render(code, originX)); }
    RenderedGlyph renderCharacter(char32_t c, int originX) override
    {
        return record(inner_.renderCharacter(c, originX));
    }

    std::map<int, Glyph> glyphs;

private:
    RenderedGlyph record(const RenderedGlyph& g)
    {
        Glyph& copy = glyphs[g.code];
        copy.cx = g.cx;
        copy.width = g.width;
        copy.height = g.height;
        copy.widthBytes = g.widthBytes;
        if (g.rows)
            copy.rows.assign(g.rows, g.rows + static_cast<size_t>(g.widthBytes) * g.height);
        else
            copy.rows.assign(static_cast<size_t>(g.widthBytes) * g.height, 0);
        return g;
    }

    GlyphSource& inner_;
};

struct CommandResult {
    bool ran = false;  // false when the program is not installed
    int status = -1;
    std::string output;
};

// Runs bdftopcf on a BDF file, its PCF output discarded.
inline CommandResult runBdftopcf(const std::string& bdfPath)
{
    CommandResult result;
    const char* candidates[] = {"/usr/bin/bdftopcf", "/usr/local/bin/bdftopcf"};
    const char* program = nullptr;
    for (const char* c : candidates)
        if (::access(c, X_OK) == 0)
            program = c;
    if (!program)
        return result;
    result.ran = true;
    const std::string command = std::string(program) + " -o /dev/null " + shellQuote(bdfPath) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        result.output += buffer;
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// bdftopcf must accept every file the BDF writer produces. Its absence fails the test: a check
// that passes without its reader proves nothing (the package is xfonts-utils).
inline void expectBdftopcfAcceptsFile(const std::string& bdfPath)
{
    const CommandResult result = runBdftopcf(bdfPath);
    ASSERT_TRUE(result.ran) << "bdftopcf is not installed (package xfonts-utils)";
    EXPECT_EQ(result.status, 0) << result.output;
}

inline void expectBdftopcfAccepts(const std::string& bdfText)
{
    TempDir folder;
    const std::string path = folder.file("font.bdf");
    std::ofstream(path, std::ios::binary) << bdfText;
    expectBdftopcfAcceptsFile(path);
}

// True when an X server and the tools to give it a font folder are installed.
inline bool haveXServer()
{
    return std::system("command -v Xvfb >/dev/null && command -v xlsfonts >/dev/null && command -v mkfontdir >/dev/null") ==
           0;
}

// What xlsfonts (with `flags`) answers for `pattern` from an X server of its own whose font path is
// `folder` (indexed by mkfontdir first); empty when the server cannot be run. The server takes a
// free display and says which once it accepts connections (-displayfd), so runs side by side,
// or a server left from elsewhere, never meet.
inline std::string xlsfontsFrom(const std::string& folder, const std::string& pattern, const std::string& flags = "")
{
    const std::string script =
        "cd " + shellQuote(folder) + " && mkfontdir . && rm -f .display && "
        "(Xvfb -displayfd 3 -nolisten tcp -fp \"$PWD/\",built-ins 3>.display >/dev/null 2>&1 & echo $! > .xvfb.pid) && "
        "for i in $(seq 300); do [ -s .display ] && break; sleep 0.1; done; "
        "DISPLAY=:$(head -1 .display) xlsfonts " + flags + " -fn " + shellQuote(pattern) +
        " > .listed 2>&1; kill $(cat .xvfb.pid)";
    if (std::system(script.c_str()) != 0)
        return {};
    return readFile(folder + "/.listed");
}

}  // namespace qf::test
