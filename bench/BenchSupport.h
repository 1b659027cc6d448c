// What the benchmarks of real faces share: the known test fonts in place of the machine's, and the
// face they draw.
#pragma once

#include "formats/FontWriter.h"
#include "platform/FileLayer.h"
#include "platform/gdi.h"
#include "run/GenerationRun.h"

#include <cstdlib>
#include <cstring>

namespace qf::bench {

inline constexpr char kFace[] = "DejaVu Sans";

// The known test fonts, whatever the machine has; call before the font catalogue is first read.
inline void useTestFonts()
{
    static const bool set = [] { return setenv("FONTCONFIG_FILE", QUENFOLD_TEST_FONTS_CONF, 1) == 0; }();
    (void)set;
}

inline gdi::LOGFONT logFont(const char* face = kFace)
{
    gdi::LOGFONT lf;
    std::strncpy(lf.lfFaceName, face, sizeof lf.lfFaceName - 1);
    lf.lfWeight = gdi::FW_NORMAL;
    lf.lfCharSet = gdi::ANSI_CHARSET;
    return lf;
}

// What the run asks a writer for this font at this size, at a square resolution.
inline WriteRequest requestFor(const gdi::LOGFONT& lf, int points, int dpi)
{
    WriteRequest request;
    request.font = lf;
    request.name = lf.lfFaceName;
    request.pointSize = points;
    request.resolutionX = request.resolutionY = dpi;
    return request;
}

// Accepts every write and keeps nothing, so disk speed does not enter the comparison.
class DiscardingFiles : public FileLayer {
public:
    int open(const char*, int, mode_t) override { return 1000; }
    ssize_t write(int, const void*, size_t size) override { return static_cast<ssize_t>(size); }
    int fsync(int) override { return 0; }
    int close(int) override { return 0; }
    int rename(const char*, const char*) override { return 0; }
    int unlink(const char*) override { return 0; }
};

// Says yes to everything and lets the run go on to its end.
class QuietHost : public RunHost {
public:
    bool chooseFolder(const std::string&, std::string& chosen) override
    {
        chosen = "/nonexistent";
        return true;
    }
    int confirmCodePage(const std::string&) override { return kAnswerYesToAll; }
    bool goOnWithoutFile(const std::string&, const std::string&) override { return true; }
    void beginRun(int) override {}
    void setProgress(int) override {}
    void endRun(const std::vector<RunFailure>&) override {}
    void pumpMessages() override {}
    bool running() const override { return running_; }
    void setRunning(bool r) override { running_ = r; }

private:
    bool running_ = false;
};

}  // namespace qf::bench
