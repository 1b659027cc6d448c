// BDF and PCL soft fonts of a real face, realisation included, and the bare drawing of every code
// that they and the FNT build share. The FNT build of the same face and sizes is BM_FntBuild
// (bench_fnt.cpp).
#include "bench/BenchSupport.h"
#include "formats/BdfWriter.h"
#include "formats/PclSoftFontWriter.h"
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"

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
    const gdi::ByteMap characters = gdi::byteCharacters(lf.lfCharSet, dc.oemCodePage());
    std::string text, error;
    for (auto _ : state) {
        qf::GlyphRasteriser rasteriser(dc);
        if (!rasteriser.realise(lf, points, dpi, dpi, &error) ||
            !qf::BdfWriter::pack(rasteriser, characters, points, dpi, dpi, kFace, kFace, text, &error)) {
            state.SkipWithError(error.c_str());
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
    const gdi::LOGFONT lf = logFont();
    const std::string path = "/tmp/quenfold-bench-" + std::to_string(::getpid()) + ".bdf";
    std::string error;
    for (auto _ : state)
        if (qf::BdfWriter::write(dc, lf, points, 96, 96, path, kFace, &error) != 0) {
            state.SkipWithError(error.c_str());
            break;
        }
    ::unlink(path.c_str());
}

void BM_Pcl(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    const bool landscape = state.range(1) != 0;
    gdi::DeviceContext dc;
    const gdi::LOGFONT lf = logFont();
    uint32_t length = 0;
    std::string error;
    for (auto _ : state) {
        qf::Image image = qf::PclSoftFontWriter::build(dc, lf, points, 300, 300, 309, length, landscape, kFace, &error);
        if (!image) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(image.get());
    }
    state.counters["pcl_bytes"] = length;
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
        if (!rasteriser.realise(lf, points, dpi, dpi, &error) ||
            !rasteriser.prepare(fntWidth ? 10 * rasteriser.metrics().tmHeight
                                         : 4 * rasteriser.metrics().tmMaxCharWidth,
                                &error)) {
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
