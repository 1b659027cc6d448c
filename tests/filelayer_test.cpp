// Files are written whole or not at all, whatever fails on the way.
#include "platform/FileLayer.h"
#include "tests/FaultyFiles.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

namespace {

using qf::test::readFile;
using qf::test::TempDir;

using qf::test::FaultyFiles;

TEST(FileLayer, WritesWholeFileThroughShortWrites)
{
    TempDir dir;
    FaultyFiles files;
    files.shortWrites = true;
    const std::string target = dir.path() + "/a b.fnt";
    const std::string data = "0123456789abcdef";
    EXPECT_TRUE(qf::writeFileWhole(target, reinterpret_cast<const uint8_t*>(data.data()), data.size(), files).ok());
    EXPECT_EQ(readFile(target), data);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a b.fnt"});
    EXPECT_STREQ(qf::activeTemporaryFile(), "");
}

TEST(FileLayer, EveryFailureIsReportedAndLeavesTheOldFileAndNoTemporary)
{
    const struct {
        FaultyFiles::Op op;
        int error;
        const char* text;
    } cases[] = {
        {FaultyFiles::Op::Open, EACCES, "Permission denied"},
        {FaultyFiles::Op::Write, ENOSPC, "No space left on device"},
        {FaultyFiles::Op::Fsync, EDQUOT, "Disk quota exceeded"},
        {FaultyFiles::Op::Close, EIO, "Input/output error"},
        {FaultyFiles::Op::Rename, EXDEV, "Invalid cross-device link"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string target = dir.path() + "/font.fon";
        {
            std::ofstream(target, std::ios::binary) << "old contents";
        }
        FaultyFiles files;
        files.shortWrites = true;
        files.fail(c.op, c.error, c.op == FaultyFiles::Op::Write ? 2 : 0);
        const std::string data(100, 'x');
        const qf::Status written =
            qf::writeFileWhole(target, reinterpret_cast<const uint8_t*>(data.data()), data.size(), files);
        ASSERT_FALSE(written.ok()) << c.text;
        EXPECT_EQ(written.failure().text(), target + ": " + c.text);
        EXPECT_EQ(readFile(target), "old contents") << c.text;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"font.fon"}) << c.text;
    }
}

TEST(FileLayer, MissingFolderIsReported)
{
    TempDir dir;
    const std::string target = dir.path() + "/gone/x.bdf";
    const uint8_t byte = 1;
    EXPECT_EQ(qf::writeFileWhole(target, &byte, 1).failure().text(), target + ": No such file or directory");
}

}  // namespace
