// Helpers shared by the BDF and PCL writer tests: a glyph source that keeps a copy of everything
// the rasteriser drew, real fonts by family name, and running X11's bdftopcf on a file.
#pragma once

#include "platform/FontCatalog.h"
#include "platform/gdi.h"
#include "render/GlyphRasteriser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qf::test {

// Passes everything through to another source and keeps a copy of each rendered glyph.
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
    bool prepare(int width, std::string* error) override { return inner_.prepare(width, error); }
    void finish() override { inner_.finish(); }
    RenderedGlyph render(uint8_t code, int originX) override
    {
        const RenderedGlyph g = inner_.render(code, originX);
        Glyph& copy = glyphs[code];
        copy.cx = g.cx;
        copy.width = g.width;
        copy.height = g.height;
        copy.widthBytes = g.widthBytes;
        if (g.rows)
            copy.rows.assign(g.rows, g.rows + static_cast<size_t>(g.widthBytes) * g.height);
        return g;
    }

    std::map<int, Glyph> glyphs;

private:
    GlyphSource& inner_;
};

// The font engine is another part of the program; until it is there, real-font tests skip.
inline bool haveRealFonts() { return !gdi::FontCatalog::instance().faces().empty(); }

inline gdi::LOGFONT logFontFor(const char* family, int charset, int weight = gdi::FW_NORMAL)
{
    gdi::LOGFONT lf;
    lf.lfWeight = weight;
    lf.lfCharSet = static_cast<gdi::BYTE>(charset);
    std::strncpy(lf.lfFaceName, family, sizeof lf.lfFaceName - 1);
    return lf;
}

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
    const std::string command = std::string(program) + " -o /dev/null '" + bdfPath + "' 2>&1";
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

// A fresh folder under the system's temporary folder, removed with its files on destruction.
class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/quenfold-writer-XXXXXX";
        if (::mkdtemp(pattern))
            path_ = pattern;
    }
    ~TempFolder()
    {
        if (!path_.empty())
            std::system(("rm -rf '" + path_ + "'").c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace qf::test
