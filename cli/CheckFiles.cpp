#include "cli/CheckFiles.h"

#include "cli/Printable.h"
#include "formats/FileCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <new>
#include <unistd.h>
#include <vector>

namespace qf::cli {

namespace {

// No bitmap font comes near this; a larger file is named, not read into memory.
constexpr uint64_t kMaxCheckedFile = uint64_t{1} << 30;

// Reads a whole regular file. Opened without waiting, so a FIFO named by mistake never blocks;
// anything but a regular file is refused before it is read. Read, not mapped: a file cut short
// while it is checked must not end the process with SIGBUS.
std::string readWhole(const std::string& path, std::vector<uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    std::string error;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        error = std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        error = "a folder, not a file";
    else if (!S_ISREG(info.st_mode))
        error = "not a regular file (a FIFO, socket or device); nothing was read from it";
    else if (static_cast<uint64_t>(info.st_size) > kMaxCheckedFile)
        error = "larger than 1 GiB, which no bitmap font file is";
    if (error.empty()) {
        try {
            bytes.resize(static_cast<size_t>(info.st_size));
        } catch (const std::bad_alloc&) {
            ::close(fd);
            return "there is not enough memory to read it";
        }
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = std::strerror(errno);
                break;
            }
            if (got == 0)
                break;  // cut short since fstat: check what there is
            done += static_cast<size_t>(got);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return error;
}

std::string plural(size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

int checkFiles(const std::vector<std::string>& files, bool quiet, const volatile std::sig_atomic_t& interrupts)
{
    size_t sound = 0;
    size_t withErrors = 0;
    size_t unreadable = 0;
    size_t warnings = 0;
    for (const std::string& file : files) {
        if (interrupts > 0)
            break;
        const std::string name = printable(file);
        std::vector<uint8_t> bytes;
        if (const std::string error = readWhole(file, bytes); !error.empty()) {
            ++unreadable;
            std::printf("%s: not read: %s\n", name.c_str(), error.c_str());
            continue;
        }
        const CheckReport report = checkFontFile(bytes);
        std::string verdict = report.hasError()    ? plural(report.errors(), "error")
                              : report.warnings() ? "sound"
                                                  : "sound, no problems";
        if (report.warnings() > 0)
            verdict += ", " + plural(report.warnings(), "warning");
        std::string head = name + ": ";
        if (!report.format.empty())
            head += printable(report.format) + ", " + plural(report.glyphs, "glyph") + ": ";
        std::printf("%s%s\n", head.c_str(), verdict.c_str());
        for (const std::string& font : report.fonts)
            std::printf("  %s\n", printable(font).c_str());
        for (const CheckFinding& finding : report.findings())
            std::printf("  %s: %s%s%s\n", finding.error ? "error" : "warning", printable(finding.where).c_str(),
                        finding.where.empty() ? "" : ": ", printable(finding.text).c_str());
        const size_t shown = report.findings().size();
        if (report.errors() + report.warnings() > shown)
            std::printf("  ... and %zu more\n", report.errors() + report.warnings() - shown);
        (report.hasError() ? withErrors : sound) += 1;
        warnings += report.warnings();
    }
    std::fflush(stdout);
    if (!quiet) {
        std::string summary = plural(sound + withErrors + unreadable, "file") + " checked: " +
                              std::to_string(sound) + " sound, " + std::to_string(withErrors) + " with errors";
        if (unreadable > 0)
            summary += ", " + std::to_string(unreadable) + " not read";
        if (warnings > 0)
            summary += ", " + plural(warnings, "warning");
        std::fprintf(stderr, "%s\n", summary.c_str());
    }
    return withErrors + unreadable > 0 ? 1 : 0;
}

}  // namespace qf::cli
