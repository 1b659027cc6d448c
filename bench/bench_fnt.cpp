// FNT and FON building: whole builds of a real face (realisation, drawing, packing), and the
// packing and the library on their own.
#include "bench/BenchSupport.h"
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "platform/DeviceContext.h"
#include "testkit/TestGlyphSource.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using qf::bench::kFace;
using qf::bench::logFont;
using qf::bench::useTestFonts;

// One FNT build, realisation included. A size the 16-bit character table cannot address is
// refused; the time to that refusal is measured instead and the row says so.
void BM_FntBuild(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    const int res = static_cast<int>(state.range(1));
    gdi::DeviceContext dc;
    const qf::WriteRequest request = qf::bench::requestFor(logFont(), points, res);
    qf::OutputSink image;
    qf::WriteProblem problem;
    for (auto _ : state) {
        problem = qf::FntBuilder().write(dc, request, image);
        benchmark::DoNotOptimize(image.data());
    }
    if (!problem) {
        state.counters["fnt_bytes"] = static_cast<double>(image.size());
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
    } else {
        state.SetLabel("refused: " + problem.text.substr(0, 60) + "...");
    }
}
BENCHMARK(BM_FntBuild)
    ->ArgNames({"pt", "dpi"})
    ->ArgsProduct({{8, 12, 24, 72}, {96, 300}})
    ->Unit(benchmark::kMillisecond);

// A whole FON of four sizes at 96 dpi: the four builds and the library.
void BM_FonFourSizes(benchmark::State& state)
{
    useTestFonts();
    gdi::DeviceContext dc;
    const gdi::LOGFONT lf = logFont();
    qf::OutputSink fon;
    qf::WriteProblem problem;
    for (auto _ : state) {
        std::vector<qf::OutputSink> images(4);
        const int sizes[] = {8, 10, 12, 14};
        for (size_t i = 0; i < 4; ++i)
            qf::FntBuilder().write(dc, qf::bench::requestFor(lf, sizes[i], 96), images[i]);
        problem = qf::FonWriter::build(images, fon);
        benchmark::DoNotOptimize(fon.data());
    }
    state.counters["fon_bytes"] = static_cast<double>(fon.size());
    if (problem)
        state.SetLabel("refused: " + problem.text.substr(0, 60) + "...");
}
BENCHMARK(BM_FonFourSizes)->Unit(benchmark::kMillisecond);

// Packing alone, from synthetic glyphs: 224 characters as wide as 0.6 of the cell is high, each
// with a diagonal of ink. Cost should follow the glyphs' area.
void BM_FntPackSynthetic(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    const int width = height * 6 / 10;
    qf::test::TestGlyphSource source(qf::test::TestGlyphSource::metricsFor(0x20, 0xFF, height, width, width));
    for (int c = 0x20; c <= 0xFF; ++c) {
        std::vector<std::string> rows;
        for (int y = 0; y < height; ++y)
            rows.push_back(std::string(static_cast<size_t>(y * width / height), '.') + "#");
        source.setGlyph(c, width, rows);
    }
    qf::OutputSink image;
    for (auto _ : state) {
        qf::FntBuilder::pack(source, qf::test::requestFor(kFace), image);
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["fnt_bytes"] = static_cast<double>(image.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}
BENCHMARK(BM_FntPackSynthetic)->Arg(11)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);

// The library alone, around four ready images.
void BM_FonWriterOnly(benchmark::State& state)
{
    std::vector<qf::OutputSink> images;
    for (int points : {8, 10, 12, 14}) {
        const int height = points * 96 / 72 + 3;
        qf::test::TestGlyphSource source(
            qf::test::TestGlyphSource::metricsFor(0x20, 0xFF, height, height / 2, height));
        source.setDefaultAdvance(height / 2);
        qf::OutputSink image;
        qf::FntBuilder::pack(source, qf::test::requestFor(kFace, points), image);
        images.push_back(std::move(image));
    }
    qf::OutputSink fon;
    for (auto _ : state) {
        qf::FonWriter::build(images, fon);
        benchmark::DoNotOptimize(fon.data());
    }
    state.counters["fon_bytes"] = static_cast<double>(fon.size());
}
BENCHMARK(BM_FonWriterOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
