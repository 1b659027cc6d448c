// The platform layer's own costs: one character drawn and read back (the per-glyph path every
// writer pays 224 times a size), a character's first drawing with its outline loaded, and the
// catalogue of installed faces read at start-up with and without the face cache.
//
// The start-up case over a thousand faces needs a folder made by bench/make-installed-faces.py:
//   bench/make-installed-faces.py /tmp/faces1000 && fc-cache   (with FONTCONFIG_FILE set to it)
//   QUENFOLD_BENCH_FACES=/tmp/faces1000/fonts.conf build/quenfold-bench --benchmark_filter=Catalogue
#include "bench/BenchSupport.h"
#include "platform/DeviceContext.h"
#include "platform/FontCatalog.h"
#include "render/GlyphRasteriser.h"
#include "run/FontList.h"
#include "testkit/StatusText.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using qf::bench::logFont;
using qf::bench::useTestFonts;

constexpr int kMargin = 32;  // the BDF and PCL writers' margin left of the origin

// Steady state: the font realised and the outlines loaded, one character drawn, cleared after and
// read back per iteration. Forty-eight characters in turn, fewer than a font keeps outlines of.
void BM_GlyphRender(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    gdi::DeviceContext dc;
    qf::GlyphRasteriser rasteriser(dc);
    std::string error;
    if (!qf::test::done(rasteriser.realise(logFont(), points, 96, 96), error) ||
        !qf::test::done(rasteriser.prepare(4 * rasteriser.metrics().tmMaxCharWidth + 2 * kMargin), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int code = 'A';
    for (auto _ : state) {
        benchmark::DoNotOptimize(rasteriser.render(static_cast<uint8_t>(code), kMargin).rows);
        code = code == 'A' + 47 ? 'A' : code + 1;
    }
    rasteriser.finish();
    state.SetItemsProcessed(state.iterations());
}

// What a size costs per character: a fresh rendering font each round, so every outline is loaded
// and hinted once and drawn once, as in a run.
void BM_GlyphFirstDraw(benchmark::State& state)
{
    useTestFonts();
    const int points = static_cast<int>(state.range(0));
    gdi::DeviceContext dc;
    std::string error;
    int glyphs = 0;
    for (auto _ : state) {
        qf::GlyphRasteriser rasteriser(dc);
        if (!qf::test::done(rasteriser.realise(logFont(), points, 96, 96), error) ||
            !qf::test::done(rasteriser.prepare(4 * rasteriser.metrics().tmMaxCharWidth + 2 * kMargin), error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        for (int c = 0x20; c <= 0xFF; ++c, ++glyphs)
            benchmark::DoNotOptimize(rasteriser.render(static_cast<uint8_t>(c), kMargin).rows);
        rasteriser.finish();
    }
    state.SetItemsProcessed(glyphs);
}

// The catalogue read anew: fontconfig's list, then each face's names and tables from its file
// (cache:0) or from a warm face cache (cache:1).
void catalogue(benchmark::State& state, const std::string& configFile)
{
    const bool cached = state.range(0) != 0;
    const std::string cacheFile =
        cached ? "/tmp/quenfold-bench-faces-" + std::to_string(::getpid()) + ".cache" : std::string();
    if (cached)
        gdi::FontCatalog::load({configFile, cacheFile});  // warms it
    size_t faces = 0;
    for (auto _ : state) {
        const gdi::FontCatalog catalogue = gdi::FontCatalog::load({configFile, cacheFile});
        faces = catalogue.faces().size();
        benchmark::DoNotOptimize(faces);
    }
    if (cached)
        ::unlink(cacheFile.c_str());
    state.counters["faces"] = static_cast<double>(faces);
}

void BM_CatalogueTestFonts(benchmark::State& state) { catalogue(state, QUENFOLD_TEST_FONTS_CONF); }

void BM_CatalogueThousandFaces(benchmark::State& state)
{
    const char* conf = std::getenv("QUENFOLD_BENCH_FACES");
    if (!conf || !*conf) {
        state.SkipWithError("set QUENFOLD_BENCH_FACES to the fonts.conf of bench/make-installed-faces.py");
        return;
    }
    catalogue(state, conf);
}

// The font list the program shows, from the catalogue in memory: the enumeration and its callbacks.
void BM_FontList(benchmark::State& state)
{
    useTestFonts();
    std::vector<qf::FontListEntry> fonts;
    for (auto _ : state) {
        qf::BuildFontList(fonts, gdi::OsMajorVersion());
        benchmark::DoNotOptimize(fonts.data());
    }
    state.counters["styles"] = static_cast<double>(fonts.size());
}

BENCHMARK(BM_GlyphRender)->ArgNames({"pt"})->Arg(12)->Arg(72);
BENCHMARK(BM_GlyphFirstDraw)->ArgNames({"pt"})->Arg(12)->Arg(72)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogueTestFonts)->ArgNames({"cache"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogueThousandFaces)->ArgNames({"cache"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FontList)->Unit(benchmark::kMicrosecond);

}  // namespace
