#include "formats/FileCheck.h"

#include <cstring>

namespace qf {

void CheckReport::add(bool isError, std::string where, std::string text)
{
    (isError ? errors_ : warnings_) += 1;
    if (findings_.size() < kMaxFindings)
        findings_.push_back({isError, std::move(where), std::move(text)});
}

std::string CheckReport::firstError() const
{
    for (const CheckFinding& finding : findings_) {
        if (finding.error)
            return finding.where.empty() ? finding.text : finding.where + ": " + finding.text;
    }
    return {};
}

std::string byteAt(uint64_t offset)
{
    return "byte " + std::to_string(offset);
}

namespace {

bool startsWith(std::span<const uint8_t> bytes, const char* magic, size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

}  // namespace

CheckReport checkFontFile(std::span<const uint8_t> bytes, const std::function<void(size_t)>& passed)
{
    CheckReport report;
    if (startsWith(bytes, "MZ", 2))
        checkFon(bytes, report);
    else if (startsWith(bytes, "STARTFONT", 9))
        checkBdf(bytes, report, passed);
    else if (startsWith(bytes, "\1fcp", 4))
        checkPcf(bytes, report);
    else if (startsWith(bytes, "\x72\xb5\x4a\x86", 4) || startsWith(bytes, "\x36\x04", 2))
        checkPsf(bytes, report);
    else if (startsWith(bytes, "\0\1\0\0", 4) || startsWith(bytes, "true", 4) || startsWith(bytes, "OTTO", 4))
        checkOtb(bytes, report);
    else if (startsWith(bytes, "\x1b", 1))
        checkPcl(bytes, report);
    else if (startsWith(bytes, "\0\2", 2) || startsWith(bytes, "\0\3", 2))
        checkFnt(bytes, report);
    else if (startsWith(bytes, "\x1f\x8b", 2))
        report.error(byteAt(0), "the file is compressed with gzip; check it uncompressed (gunzip or zcat it first)");
    else
        report.error(byteAt(0), bytes.empty() ? "the file is empty"
                                              : "not a bitmap font file of a format Quenfold reads (FNT, FON, "
                                                "PCL soft font, BDF, PCF, OTB or PSF2)");
    return report;
}

}  // namespace qf
