// quenfold-cli --check on files of every format, ours and other tools', sound and damaged; and the
// run reading back what it writes.
#include "tests/CliRun.h"
#include "tests/TestSupport.h"

#include "formats/FileCheck.h"
#include "formats/Format.h"
#include "formats/FontWriter.h"
#include "platform/DeviceContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using qf::test::cli;
using qf::test::Outcome;
using qf::test::readFile;
using qf::test::shellQuote;
using qf::test::TempDir;

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Every format's files as the run writes them, two sizes of one face each.
struct OurFiles {
    TempDir dir;
    OurFiles()
    {
        for (const qf::FormatInfo& f : qf::formatTable()) {
            const Outcome o = cli({"-q", "-o", dir.path(), "-f", f.option, "-s", "8, 12", "DejaVu Sans Mono"});
            EXPECT_EQ(o.status, 0) << f.option << ": " << o.err;
        }
    }
};

TEST(FileCheck, EveryFileTheRunWritesChecksSoundAndSaysWhatItHolds)
{
    OurFiles ours;
    std::vector<std::string> args{"--check"};
    const std::vector<std::string> files = filesIn(ours.dir.path());
    ASSERT_EQ(files.size(), 7u * 2 + 1);  // every per-size format twice, the FON library once
    args.insert(args.end(), files.begin(), files.end());
    const Outcome o = cli(args);
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(count(o.out, ": sound"), files.size()) << o.out;
    EXPECT_EQ(o.out.find("error:"), std::string::npos) << o.out;
    for (const char* format : {"FNT 2.0", "FON", "PCL soft font (portrait)", "PCL soft font (landscape)", "BDF 2.1",
                               "PCF", "OTB", "PSF2"})
        EXPECT_NE(o.out.find(std::string(": ") + format + ", "), std::string::npos) << format << "\n" << o.out;
    EXPECT_NE(o.out.find("DejaVu Sans Mono"), std::string::npos);
    EXPECT_NE(o.err.find("15 files checked: 15 sound, 0 with errors"), std::string::npos) << o.err;

    // Glyphs without ink, last or alone, still point inside a PCF's bitmap data, as the X server
    // asks; the console's blank glyph is at position 32, which it erases with.
    TempDir edge;
    for (const char* chars : {"U+0041, U+2003", "U+0020"})
        EXPECT_EQ(cli({"-q", "-o", edge.path(), "-f", "pcf", "--chars", chars, "-s", "12", "DejaVu Sans"}).status, 0)
            << chars;
    EXPECT_EQ(cli({"-q", "-o", edge.path(), "-f", "psf", "-s", "12", "DejaVu Sans"}).status, 0);
    args = {"--check"};
    for (const std::string& file : filesIn(edge.path()))
        args.push_back(file);
    const Outcome edges = cli(args);
    EXPECT_EQ(edges.status, 0) << edges.out;
    EXPECT_EQ(count(edges.out, ": sound, no problems\n"), 2u) << edges.out;
}

// Other tools' files: their known faults are warnings, as the readers they are made for accept them.
TEST(FileCheck, OtherToolsKnownFaultsAreReportedAsWarnings)
{
    TempDir dir;
    const std::string bdf = dir.file("otf2bdf.bdf"), pcf = dir.file("bdftopcf.pcf"), otb = dir.file("fonttosfnt.otb");
    const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    // otf2bdf exits 8 after writing its file; the file is what counts.
    ASSERT_EQ(std::system(("otf2bdf -p 12 -r 96 " + font + " -o " + shellQuote(bdf) + " 2>/dev/null;"
                           "bdftopcf -o " + shellQuote(pcf) + " " + shellQuote(bdf) + " && "
                           "fonttosfnt -b -c -g 2 -m 2 -o " + shellQuote(otb) + " " + shellQuote(pcf)).c_str()), 0)
        << "otf2bdf and xfonts-utils are needed";
    const Outcome o = cli({"--check", bdf, pcf, otb});
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.out.find("error:"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("AVERAGE_WIDTH"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("hmtx"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("bdftopcf.pcf: PCF, "), std::string::npos) << o.out;
}

// A damaged copy of any file gets an error that names where it is, and exit 1; never a crash.
TEST(FileCheck, DamagedCopiesGetAnErrorNamingWhere)
{
    OurFiles ours;
    TempDir damaged;
    std::vector<std::string> args{"--check"};
    for (const std::string& file : filesIn(ours.dir.path())) {
        const std::string bytes = readFile(file);
        const std::string name = fs::path(file).filename().string();
        for (const size_t cut : {size_t{3}, bytes.size() / 4, bytes.size() / 2, bytes.size() - 12}) {
            args.push_back(damaged.file(std::to_string(cut) + "-cut-" + name));
            writeBytes(args.back(), bytes.substr(0, cut));
        }
    }
    // Header fields whose damage no reader survives.
    auto poke = [&](const std::string& name, size_t at, const std::string& with) {
        std::string bytes = readFile(ours.dir.file(name));
        ASSERT_GT(bytes.size(), at + with.size()) << name;
        bytes.replace(at, with.size(), with);
        args.push_back(damaged.file("poked-" + name));
        writeBytes(args.back(), bytes);
    };
    const std::string ones(4, '\xff');
    poke("DejaVu Sans Mono_12.fnt", 105, ones);   // dfFace
    poke("DejaVu Sans Mono.fon", 0x3C, ones);     // the NE header's offset
    poke("DejaVu-Sans-Mono_12.pcf", 20, ones);    // the first table's offset
    poke("DejaVu Sans Mono_12.otb", 20, ones);    // the first table's offset
    poke("DejaVu Sans Mono_12.psf", 20, ones);    // charsize
    const Outcome o = cli(args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(count(o.out, ": sound"), 0u) << o.out;
    EXPECT_NE(o.err.find(std::to_string(args.size() - 1) + " files checked: 0 sound"), std::string::npos) << o.err;
    // Every report's first finding says where: a byte offset or a line.
    std::istringstream lines(o.out);
    std::string line, file;
    for (bool first = false; std::getline(lines, line);) {
        if (line.rfind("  ", 0) != 0) {
            file = line;
            first = true;
        } else if (first && line.rfind("  error: ", 0) == 0) {
            EXPECT_TRUE(line.find("byte ") != std::string::npos || line.find("line ") != std::string::npos)
                << file << "\n" << line;
            first = false;
        }
    }
}

TEST(FileCheck, WhatIsNoFontFileIsNamedAndNothingWaits)
{
    TempDir dir;
    writeBytes(dir.file("empty.bdf"), "");
    writeBytes(dir.file("text.fnt"), "hello\n");
    ASSERT_EQ(::mkfifo(dir.file("fifo.pcf").c_str(), 0600), 0);
    // A name and a property with escape sequences are shown escaped, never sent to the terminal.
    writeBytes(dir.file("evil.bdf"), "STARTFONT 2.1\nFONT \x1b]0;owned\x07\nSIZE 12 96 96\n");
    const Outcome o = cli({"--check", dir.file("empty.bdf"), dir.file("text.fnt"), dir.file("fifo.pcf"), dir.path(),
                           dir.file("missing.otb"), dir.file("evil.bdf")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("empty.bdf: "), std::string::npos);
    EXPECT_NE(o.out.find("fifo.pcf: not read: not a regular file"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(dir.path() + ": not read: a folder"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("missing.otb: not read: No such file"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find('\x1b'), std::string::npos) << o.out;
    EXPECT_NE(o.err.find("6 files checked: 0 sound, 3 with errors, 3 not read"), std::string::npos) << o.err;
    EXPECT_EQ(cli({"--check"}).status, 2);
    EXPECT_EQ(cli({"--check", "--list", "x.bdf"}).status, 2);

    // Each reader takes no bytes at all (a span without data) without reading through a null pointer.
    for (void (*check)(std::span<const uint8_t>, qf::CheckReport&) :
         {&qf::checkFnt, &qf::checkFon, &qf::checkPcl, &qf::checkPcf, &qf::checkOtb, &qf::checkPsf}) {
        qf::CheckReport report;
        check({}, report);
        EXPECT_GT(report.errors(), 0u);
    }
    qf::CheckReport bdf;
    qf::checkBdf({}, bdf);
    EXPECT_GT(bdf.errors(), 0u);
}

// A writer whose file its reader rejects: the run is told why, and the bytes are gone.
TEST(FileCheck, AFileItsReaderRejectsIsRefusedNotWritten)
{
    struct Garbage final : qf::FontWriter, qf::LibraryBuilder {
        std::string bytes;
        qf::WriteProblem fill(qf::OutputSink& out) const
        {
            out.clear();
            out.append(bytes.data(), bytes.size());
            return {};
        }
        qf::WriteProblem write(gdi::DeviceContext&, const qf::WriteRequest&, qf::OutputSink& out) const override
        {
            return fill(out);
        }
        qf::WriteProblem build(std::span<const qf::OutputSink>, qf::OutputSink& out) const override { return fill(out); }
    };
    gdi::DeviceContext dc;
    qf::WriteRequest request;
    request.name = "Broken";
    request.pointSize = 12;
    qf::OutputSink out;
    Garbage writer;
    writer.bytes = "STARTFONT 2.1\nFONT -x-\nCHARS 5\nENDFONT\n";
    qf::WriteProblem problem = qf::writeSafely(writer, dc, request, out);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_EQ(problem.text.rfind("Broken at 12 points (96 x 96 dpi): the file made does not read back soundly (", 0), 0u)
        << problem.text;
    EXPECT_EQ(out.size(), 0u);
    writer.bytes = "MZ";
    problem = qf::buildSafely(writer, {}, out);
    EXPECT_EQ(problem.kind, qf::WriteProblem::Kind::Refused);
    EXPECT_EQ(out.size(), 0u);
}

}  // namespace
