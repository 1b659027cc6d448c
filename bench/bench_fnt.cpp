// FNT and FON building: whole builds of a real face (realisation, drawing, packing), and the
// packing and the library on their own.
#include "bench/BenchSupport.h"
#include "formats/FntBuilder.h"
#include "formats/FonWriter.h"
#include "platform/DeviceContext.h"
#include "tests/TestGlyphSource.h"

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
    const gdi::LOGFONT lf = logFont();
    uint32_t length = 0;
    std::string error;
    for (auto _ : state) {
        qf::Image image = qf::FntBuilder::build(dc, lf, points, res, res, length, kFace, &error);
        benchmark::DoNotOptimize(image.get());
    }
    if (length > 0) {
        state.counters["fnt_bytes"] = length;
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
    } else {
        state.SetLabel("refused: " + error.substr(0, 60) + "...");
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
    uint32_t length = 0;
    std::string error;
    for (auto _ : state) {
        std::vector<qf::ImageSlot> slots;
        for (int points : {8, 10, 12, 14}) {
            qf::ImageSlot slot;
            slot.image = qf::FntBuilder::build(dc, lf, points, 96, 96, slot.length, kFace, &error);
            slots.push_back(std::move(slot));
        }
        qf::Image fon = qf::FonWriter::build(slots.data(), 4, length, &error);
        benchmark::DoNotOptimize(fon.get());
    }
    state.counters["fon_bytes"] = length;
    if (length == 0)
        state.SetLabel("refused: " + error.substr(0, 60) + "...");
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
    uint32_t length = 0;
    for (auto _ : state) {
        qf::Image image = qf::FntBuilder::pack(source, 12, 96, 96, length, kFace, nullptr);
        benchmark::DoNotOptimize(image.get());
    }
    state.counters["fnt_bytes"] = length;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}
BENCHMARK(BM_FntPackSynthetic)->Arg(11)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);

// The library alone, around four ready images.
void BM_FonWriterOnly(benchmark::State& state)
{
    std::vector<qf::ImageSlot> slots;
    for (int points : {8, 10, 12, 14}) {
        const int height = points * 96 / 72 + 3;
        qf::test::TestGlyphSource source(
            qf::test::TestGlyphSource::metricsFor(0x20, 0xFF, height, height / 2, height));
        source.setDefaultAdvance(height / 2);
        qf::ImageSlot slot;
        slot.image = qf::FntBuilder::pack(source, points, 96, 96, slot.length, kFace, nullptr);
        slots.push_back(std::move(slot));
    }
    uint32_t length = 0;
    for (auto _ : state) {
        qf::Image fon = qf::FonWriter::build(slots.data(), 4, length, nullptr);
        benchmark::DoNotOptimize(fon.get());
    }
    state.counters["fon_bytes"] = length;
}
BENCHMARK(BM_FonWriterOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
