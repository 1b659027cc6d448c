// The format table is the one description of a format: everything that lists formats (the batch
// front end's usage and manual page, the window's help, the corpus of every format's files) lists
// each row, and each row has what a run asks of it.
#include "cli/Options.h"
#include "formats/FontWriter.h"
#include "platform/DeviceContext.h"
#include "testkit/TestGlyphSource.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <new>
#include <regex>

namespace {

TEST(FormatTable, EveryRowIsCompleteAndListedWhereverFormatsAre)
{
    const std::string usage = qf::cli::usageText();
    const std::string help = qf::test::readFile(QUENFOLD_SOURCE_DIR "/res/quenfold-help.txt");
    const std::string corpus = qf::test::readFile(QUENFOLD_SOURCE_DIR "/scripts/corpus.sh");
    const std::string manual = qf::test::readFile(QUENFOLD_SOURCE_DIR "/packaging/quenfold-cli.1");
    ASSERT_FALSE(help.empty());
    ASSERT_FALSE(corpus.empty());
    ASSERT_FALSE(manual.empty());
    int row = 0;
    for (const qf::FormatInfo& f : qf::formatTable()) {
        SCOPED_TRACE(f.option);
        EXPECT_EQ(static_cast<int>(f.format), row++);
        EXPECT_EQ(&qf::formatInfo(f.format), &f);
        EXPECT_EQ(qf::formatByOption(f.option), &f);
        ASSERT_NE(f.writer, nullptr);
        (void)f.writer();
        if (f.library)
            (void)f.library();
        EXPECT_EQ(f.extension, "." + std::string(f.option));
        EXPECT_NE(usage.find(f.option), std::string::npos);
        std::string upper = f.option;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_NE(help.find("(" + upper + ")"), std::string::npos) << "the help text does not name it";
        EXPECT_TRUE(std::regex_search(corpus, std::regex("(for format in[^\\n]*\\b|-f )" + std::string(f.option) + "\\b")))
            << "scripts/corpus.sh makes no file of it";
        EXPECT_TRUE(std::regex_search(manual, std::regex("\\n\\.BR? " + std::string(f.option) + "\\b")))
            << "the manual page's --format does not name it";
    }
}

// A writer whose memory runs out: the size is refused with the reason, nothing thrown.
class Exhausted final : public qf::FontWriter {
public:
    qf::WriteProblem write(gdi::DeviceContext&, const qf::WriteRequest&, qf::OutputSink& out) const override
    {
        out.append("partial", 7);
        throw std::bad_alloc();
    }
};

TEST(FormatTable, RunningOutOfMemoryRefusesTheSize)
{
    gdi::DeviceContext dc;
    qf::OutputSink out;
    const qf::WriteProblem problem = qf::writeSafely(Exhausted(), dc, qf::test::requestFor("Face", 12), out);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_EQ(problem.text, "Face at 12 points (96 x 96 dpi): there is not enough memory to make it");
    EXPECT_EQ(out.size(), 0u);
}

}  // namespace
