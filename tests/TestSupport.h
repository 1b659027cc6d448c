// Helpers every kind of test needs: a temporary folder, whole files, shell quoting, little-endian
// fields, and the known test fonts (their presence, and LOGFONTs that name them).
#pragma once

#include "platform/FontCatalog.h"
#include "platform/gdi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace qf::test {

// A fresh folder under /tmp, removed with everything in it on destruction, also when a test has
// already removed it.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/quenfold-test-XXXXXX";
        if (const char* made = ::mkdtemp(pattern))
            path_ = made;
        else
            ADD_FAILURE() << "cannot make a temporary folder: " << std::strerror(errno);
    }
    ~TempDir()
    {
        if (path_.empty())
            return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // The names of the folder's entries, sorted; none when the folder is gone.
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        std::error_code ignored;
        for (const auto& e : std::filesystem::directory_iterator(path_, ignored))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::string path_;
};

// A file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A word for /bin/sh that stands for exactly this text, quotes and spaces included.
inline std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Little-endian fields of a byte image; an index past the end throws, so a wrong offset shows.
inline uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

inline void put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// The build's set-up always installs the test fonts, so an empty catalogue is a broken machine,
// not a reason to skip: tests that draw real fonts start with
// ASSERT_TRUE(qf::test::testFontsInstalled()).
inline ::testing::AssertionResult testFontsInstalled()
{
    if (gdi::FontCatalog::instance().faces().empty())
        return ::testing::AssertionFailure() << "no test fonts: is fonts-dejavu-core/fonts-liberation installed?";
    return ::testing::AssertionSuccess();
}

inline gdi::LOGFONT logFont(const std::string& face, int height = 0, int weight = gdi::FW_NORMAL,
                            bool italic = false, int charset = gdi::ANSI_CHARSET, int width = 0)
{
    gdi::LOGFONT lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 255 : 0;
    lf.lfCharSet = static_cast<gdi::BYTE>(charset);
    std::strncpy(lf.lfFaceName, face.c_str(), gdi::LF_FACESIZE - 1);
    return lf;
}

// A face of a given character set, as the writers are handed it after a code page was chosen.
inline gdi::LOGFONT logFontFor(const std::string& family, int charset)
{
    return logFont(family, 0, gdi::FW_NORMAL, false, charset);
}

}  // namespace qf::test
