// BDF and PCL soft fonts of a real face, realisation included, and the bare drawing of every code
// that they and the FNT build share. The FNT build of the same face and sizes is BM_FntBuild
// (bench_fnt.cpp).
#include "bench/BenchSupport.h"
#include "formats/BdfWriter.h"
#include "formats/PclSoftFontWriter.h"
#include "platform/DeviceContext.h"
#include "platform/FileLayer.h"
#include "render/GlyphRasteriser.h"
#include "testkit/StatusText.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>

namespace {

using qf::bench::kFace;
using qf::bench::logFont;
using qf::bench::useTestFonts;

// The BDF text in memory: realisation, drawing and packing, without the file.
void BM_BdfText(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    const int dpi = static_cast<int>(state.range(1));
    gdi::DeviceContext dc;
    const gdi::LOGFONT lf = logFont();
    const qf::WriteRequest request = qf::bench::requestFor(lf, points, dpi);
    qf::OutputSink text;
    for (auto _ : state) {
        const qf::WriteProblem problem = qf::BdfWriter().write(dc, request, text);
        if (problem) {
            state.SkipWithError(problem.text.c_str());
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bdf_bytes"] = static_cast<double>(text.size());
}

// The whole write, the file included (temporary file, then rename).
void BM_BdfWrite(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    gdi::DeviceContext dc;
    const qf::WriteRequest request = qf::bench::requestFor(logFont(), points, 96);
    const std::string path = "/tmp/quenfold-bench-" + std::to_string(::getpid()) + ".bdf";
    qf::OutputSink text;
    for (auto _ : state) {
        qf::WriteProblem problem = qf::BdfWriter().write(dc, request, text);
        const qf::Status written = problem ? qf::Status() : qf::writeFileWhole(path, text.data(), text.size());
        const std::string failure = problem ? problem.text : written ? std::string() : written.failure().text();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
    }
    ::unlink(path.c_str());
}

void BM_Pcl(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    const bool landscape = state.range(1) != 0;
    gdi::DeviceContext dc;
    const qf::WriteRequest request = qf::bench::requestFor(logFont(), points, 300);
    const qf::PclSoftFontWriter writer(landscape);
    qf::OutputSink image;
    for (auto _ : state) {
        const qf::WriteProblem problem = writer.write(dc, request, image);
        if (problem) {
            state.SkipWithError(problem.text.c_str());
            break;
        }
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["pcl_bytes"] = static_cast<double>(image.size());
}

// Drawing and reading back every code, nothing packed: the floor under a writer. The scratch is
// as wide as the PCL writer's (4 x tmMaxCharWidth; the BDF writer's is 64 columns wider) or, with
// fnt:1, as the FNT builder's (10 x tmHeight): the least an FNT build of that size could take,
// also where the FNT builder refuses the size.
void BM_DrawOnly(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    const int dpi = static_cast<int>(state.range(1));
    const bool fntWidth = state.range(2) != 0;
    gdi::DeviceContext dc;
    const gdi::LOGFONT lf = logFont();
    std::string error;
    for (auto _ : state) {
        qf::GlyphRasteriser rasteriser(dc);
        if (!qf::test::done(rasteriser.realise(lf, points, dpi, dpi), error) ||
            !qf::test::done(rasteriser.prepare(fntWidth ? 10 * rasteriser.metrics().tmHeight
                                                        : 4 * rasteriser.metrics().tmMaxCharWidth),
                            error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        const gdi::TEXTMETRIC& tm = rasteriser.metrics();
        for (int c = tm.tmFirstChar; c <= tm.tmLastChar; ++c)
            benchmark::DoNotOptimize(rasteriser.render(static_cast<uint8_t>(c), 0).rows);
        rasteriser.finish();
    }
}

BENCHMARK(BM_BdfText)->ArgNames({"pt", "dpi"})->ArgsProduct({{12, 72}, {96, 300}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BdfWrite)->ArgNames({"pt"})->Arg(12)->Arg(72)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcl)->ArgNames({"pt", "landscape"})->ArgsProduct({{12, 72}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawOnly)
    ->ArgNames({"pt", "dpi", "fnt"})
    ->ArgsProduct({{12, 72}, {96, 300}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
