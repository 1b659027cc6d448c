// What a bitmap font file holds and what is wrong with it, whoever wrote it. Every format has a
// reader beside its writer that fills a CheckReport from the file's bytes; checkFontFile tells the
// format from the content and calls the right one. The run reads each file it makes with the same
// readers before it is written, and `quenfold-cli --check` reports on any file.
//
// Errors are what makes real readers (FreeType, Windows, the X server, Pango, the console, a
// printer) refuse a file or read it wrongly; warnings are inconsistencies they tolerate. Readers
// never trust a count or an offset of the file: any bytes give a report, in memory bounded by the
// file's own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace qf {

struct CheckFinding {
    bool error = false;
    std::string where;  // the field or table, with its byte offset or line: "dfFace (byte 105)"
    std::string text;   // what is wrong, with what was expected
};

class CheckReport {
public:
    // A report keeps this many findings; past them it counts (a hostile file can have millions).
    static constexpr size_t kMaxFindings = 100;

    std::string format;              // "FNT 3.0", "FON", "PCL soft font (portrait)", "BDF 2.1", ...
    std::vector<std::string> fonts;  // each font and size the file holds: "DejaVu Sans 12 pt (96 x 96 dpi)"
    size_t glyphs = 0;

    void error(std::string where, std::string text) { add(true, std::move(where), std::move(text)); }
    void warning(std::string where, std::string text) { add(false, std::move(where), std::move(text)); }

    const std::vector<CheckFinding>& findings() const { return findings_; }
    size_t errors() const { return errors_; }
    size_t warnings() const { return warnings_; }
    bool hasError() const { return errors_ != 0; }
    // The first error as one line, "where: text", or an empty string.
    std::string firstError() const;

private:
    void add(bool isError, std::string where, std::string text);

    std::vector<CheckFinding> findings_;
    size_t errors_ = 0;
    size_t warnings_ = 0;
};

// "byte 1234": how findings name an offset.
std::string byteAt(uint64_t offset);

// Tells the format from the bytes and checks them; a file of no format we read is an error.
// passed, when given, hears how far a reader that goes through the file once has come, so the
// pages behind it can be let go (a streamed file larger than memory should hold).
CheckReport checkFontFile(std::span<const uint8_t> bytes, const std::function<void(size_t)>& passed = {});

// One reader per format, each beside its writer. They fill report.format, fonts and glyphs and
// add every finding; they do not stop at the first error unless nothing after it can be read.
void checkFnt(std::span<const uint8_t> bytes, CheckReport& report);
void checkFon(std::span<const uint8_t> bytes, CheckReport& report);
void checkPcl(std::span<const uint8_t> bytes, CheckReport& report);
void checkBdf(std::span<const uint8_t> bytes, CheckReport& report, const std::function<void(size_t)>& passed = {});
void checkPcf(std::span<const uint8_t> bytes, CheckReport& report);
void checkOtb(std::span<const uint8_t> bytes, CheckReport& report);
void checkPsf(std::span<const uint8_t> bytes, CheckReport& report);  // PSF2, and PSF1 (the console's older fonts)

}  // namespace qf
