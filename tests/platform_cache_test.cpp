// The catalogue's cache of what the faces' files gave: a catalogue read through it is the
// catalogue read from the files, whether the cache is new, warm, stale or damaged.
#include "platform/FaceCache.h"
#include "platform/FontCatalog.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace {

using qf::test::TempDir;

auto fields(const gdi::FaceInfo& f)
{
    return std::tie(f.family, f.style, f.fullName, f.postscriptName, f.file, f.faceIndex, f.weight, f.italic,
                    f.symbol, f.charsets, f.codePageRanges[0], f.codePageRanges[1], f.enumWeight,
                    f.pitchAndFamily, f.enumHeight, f.enumAveWidth);
}

void expectSameCatalogue(const gdi::FontCatalog& a, const gdi::FontCatalog& b, const char* what)
{
    ASSERT_EQ(a.faces().size(), b.faces().size()) << what;
    for (size_t i = 0; i < a.faces().size(); ++i)
        EXPECT_TRUE(fields(a.faces()[i]) == fields(b.faces()[i])) << what << ": " << a.faces()[i].fullName;
}

// A fontconfig configuration of its own over `fonts`, with its cache beside it.
std::string configFor(const TempDir& dir, const std::string& fonts)
{
    const std::string conf = dir.file("fonts.conf");
    std::ofstream(conf) << "<?xml version=\"1.0\"?>\n<fontconfig>\n  <dir>" << fonts << "</dir>\n  <cachedir>"
                        << dir.file("fc-cache") << "</cachedir>\n</fontconfig>\n";
    return conf;
}

TEST(PlatformFaceCache, CataloguesThroughTheCacheAreTheCatalogueReadFromTheFiles)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    TempDir dir;
    const std::string conf = QUENFOLD_TEST_FONTS_CONF;
    const std::string cache = dir.file("cache/faces.cache");  // its folder is made as needed
    const gdi::FontCatalog read = gdi::FontCatalog::load({conf, ""});
    ASSERT_FALSE(read.faces().empty());

    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "new cache");
    ASSERT_TRUE(std::filesystem::exists(cache));
    const auto written = std::filesystem::last_write_time(cache);
    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "warm cache");
    EXPECT_EQ(std::filesystem::last_write_time(cache), written) << "a cache that answered everything is not rewritten";

    // Damage anywhere makes the cache be ignored and written anew, never misread.
    std::string bytes = qf::test::readFile(cache);
    for (const size_t at : {size_t{0}, bytes.size() / 2, bytes.size() - 1}) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x20);
        std::ofstream(cache, std::ios::binary | std::ios::trunc) << damaged;
        expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "damaged cache");
    }
    std::ofstream(cache, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() / 3);
    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "cut cache");
    EXPECT_EQ(qf::test::readFile(cache), bytes);

    // Another configuration shares the file: its faces are added, and the records it did not look
    // at are kept as they were and still answer.
    std::filesystem::create_directory(dir.file("other"));
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", dir.file("other/face.ttf"));
    const gdi::FontCatalog other = gdi::FontCatalog::load({configFor(dir, dir.file("other")), cache});
    ASSERT_EQ(other.faces().size(), 1u);
    const auto shared = std::filesystem::last_write_time(cache);
    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "after another configuration");
    EXPECT_EQ(std::filesystem::last_write_time(cache), shared);
}

TEST(PlatformFaceCache, AChangedFileIsReadAgain)
{
    ASSERT_TRUE(qf::test::testFontsInstalled());
    TempDir dir;
    std::filesystem::create_directory(dir.file("fonts"));
    const std::string face = dir.file("fonts/face.ttf");
    const std::string cache = dir.file("faces.cache");
    const std::string conf = configFor(dir, dir.file("fonts"));
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", face);

    const gdi::FontCatalog first = gdi::FontCatalog::load({conf, cache});
    ASSERT_EQ(first.faces().size(), 1u);
    EXPECT_EQ(first.faces()[0].family, "DejaVu Sans");

    // Another face under the same name (a package upgrade, say): the cache must not answer for it.
    std::filesystem::remove(face);
    std::filesystem::copy_file("/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf", face);
    const gdi::FontCatalog second = gdi::FontCatalog::load({conf, cache});
    ASSERT_EQ(second.faces().size(), 1u);
    EXPECT_EQ(second.faces()[0].family, "Liberation Mono");
    expectSameCatalogue(second, gdi::FontCatalog::load({conf, ""}), "after the change");

    // Edited in place with its size and modification time kept: only the change time tells.
    std::string bytes = qf::test::readFile(face);
    const std::string from("\0M\0o\0n\0o", 8), to("\0M\0u\0n\0o", 8);  // the UTF-16 names
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at))
        bytes.replace(at, to.size(), to);
    const auto modified = std::filesystem::last_write_time(face);
    std::ofstream(face, std::ios::binary | std::ios::in | std::ios::out).write(bytes.data(), std::streamsize(bytes.size()));
    std::filesystem::last_write_time(face, modified);
    const gdi::FontCatalog edited = gdi::FontCatalog::load({conf, cache});
    ASSERT_EQ(edited.faces().size(), 1u);
    EXPECT_EQ(edited.faces()[0].family, "Liberation Muno");

    // A record with a valid checksum but values no font gives is a miss, read from the file again.
    {
        gdi::FaceInfo crafted = edited.faces()[0];
        crafted.weight = INT32_MIN;
        crafted.charsets.push_back(-5);
        gdi::FaceCache forged(cache);
        forged.store(face, 0, *qf::stampOf(face), crafted);
        forged.save();
    }
    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), edited, "forged record");

    // Gone: nothing is listed, whatever the cache holds.
    std::filesystem::remove(face);
    EXPECT_TRUE(gdi::FontCatalog::load({conf, cache}).faces().empty());
}

TEST(PlatformFaceCache, AFolderOfManyFilesIsStampedFileByFile)
{
    // Enough files that their stamps are taken on two threads: each face must still be checked
    // against its own file's, the faces of one file against that file's.
    ASSERT_TRUE(qf::test::testFontsInstalled());
    TempDir dir;
    std::filesystem::create_directory(dir.file("fonts"));
    const std::string original = "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf";
    std::filesystem::copy_file(original, dir.file("fonts/a-copy.ttf"));
    for (int i = 0; i < 300; ++i)
        std::filesystem::create_symlink(original, dir.file("fonts/link-" + std::to_string(1000 + i) + ".ttf"));
    const std::string edited = dir.file("fonts/m-copy.ttf");
    std::filesystem::copy_file(original, edited);
    const std::string conf = configFor(dir, dir.file("fonts"));
    const std::string cache = dir.file("faces.cache");

    const gdi::FontCatalog read = gdi::FontCatalog::load({conf, ""});
    ASSERT_EQ(read.faces().size(), 1u);
    EXPECT_EQ(read.faces()[0].file, dir.file("fonts/a-copy.ttf"));
    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "new cache");
    expectSameCatalogue(gdi::FontCatalog::load({conf, cache}), read, "warm cache");

    // One file among them edited in place, its size and modification time kept: its change time
    // alone tells, and it alone is read again.
    std::string bytes = qf::test::readFile(edited);
    const std::string from("\0M\0o\0n\0o", 8), to("\0M\0u\0n\0o", 8);  // the UTF-16 names
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at))
        bytes.replace(at, to.size(), to);
    const auto modified = std::filesystem::last_write_time(edited);
    std::ofstream(edited, std::ios::binary | std::ios::in | std::ios::out).write(bytes.data(), std::streamsize(bytes.size()));
    std::filesystem::last_write_time(edited, modified);
    const gdi::FontCatalog after = gdi::FontCatalog::load({conf, cache});
    ASSERT_EQ(after.faces().size(), 2u);
    EXPECT_EQ(after.faces()[1].family, "Liberation Muno");
    expectSameCatalogue(after, gdi::FontCatalog::load({conf, ""}), "after the edit");
}

TEST(PlatformFaceCache, TheDefaultPlaceFollowsTheEnvironment)
{
    // The environment as it was, put back at the end.
    struct Saved {
        const char* name;
        bool set;
        std::string value;
        explicit Saved(const char* n) : name(n), set(std::getenv(n) != nullptr), value(set ? std::getenv(n) : "") {}
        ~Saved() { set ? setenv(name, value.c_str(), 1) : unsetenv(name); }
    } cacheVariable("QUENFOLD_FACE_CACHE"), xdgVariable("XDG_CACHE_HOME");
    setenv("QUENFOLD_FACE_CACHE", "/somewhere/faces.cache", 1);
    EXPECT_EQ(gdi::FontCatalog::defaultCacheFile(), "/somewhere/faces.cache");
    setenv("QUENFOLD_FACE_CACHE", "", 1);
    EXPECT_EQ(gdi::FontCatalog::defaultCacheFile(), "");  // no cache at all
    unsetenv("QUENFOLD_FACE_CACHE");
    setenv("XDG_CACHE_HOME", "/xdg", 1);
    EXPECT_EQ(gdi::FontCatalog::defaultCacheFile(), "/xdg/quenfold/faces.cache");
    unsetenv("XDG_CACHE_HOME");
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        EXPECT_EQ(gdi::FontCatalog::defaultCacheFile(), std::string(home) + "/.cache/quenfold/faces.cache");
    }
}

}  // namespace
