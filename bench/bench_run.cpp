// A whole run over the test fonts against the same writer calls made directly: what the run adds
// (the code page test, the slots, progress, file naming and writing) beyond the writers' own time.
#include "bench/BenchSupport.h"
#include "formats/FonWriter.h"
#include "formats/FontWriter.h"
#include "platform/DeviceContext.h"
#include "platform/FileLayer.h"
#include "run/FontList.h"
#include "run/GenerationRun.h"

#include <benchmark/benchmark.h>

#include <cerrno>

namespace {

using qf::bench::DiscardingFiles;
using qf::bench::QuietHost;
using qf::bench::useTestFonts;

const std::vector<int32_t> kSizes = {8, 10, 12, 14};

std::vector<qf::FontListEntry> allFonts()
{
    useTestFonts();
    std::vector<qf::FontListEntry> fonts;
    qf::BuildFontList(fonts, gdi::kGdiMajorVersion);
    for (auto& entry : fonts)
        entry.selected = 1;
    return fonts;
}

void BM_Run(benchmark::State& state)
{
    auto fonts = allFonts();
    DiscardingFiles files;
    QuietHost host;
    qf::GenerationSettings settings;
    settings.fonts = &fonts;
    settings.sizes = kSizes;
    settings.format = static_cast<qf::OutputFormat>(state.range(0));
    for (auto _ : state) {
        qf::GenerationRun run(settings, host, files);
        benchmark::DoNotOptimize(run.execute());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fonts.size() * kSizes.size()));
    state.SetLabel(qf::formatInfo(settings.format).option);
}

// The writer calls the run makes, made directly.
void BM_WritersAlone(benchmark::State& state)
{
    auto fonts = allFonts();
    const auto format = static_cast<qf::OutputFormat>(state.range(0));
    const qf::FontWriter& writer = qf::writerFor(format);
    const qf::FormatInfo& info = qf::formatInfo(format);
    for (auto _ : state) {
        gdi::DeviceContext dc;
        for (const auto& entry : fonts) {
            std::vector<qf::OutputSink> images(kSizes.size());
            qf::WriteRequest request;
            request.font = entry.logFont;
            request.name = entry.name;
            request.resolutionX = request.resolutionY = info.fixedResolution ? info.fixedResolution : 96;
            for (size_t i = 0; i < kSizes.size(); ++i) {
                request.pointSize = kSizes[i];
                benchmark::DoNotOptimize(writer.write(dc, request, images[i]));
            }
            if (info.library) {
                qf::OutputSink library;
                benchmark::DoNotOptimize(info.library().build(images, library));
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fonts.size() * kSizes.size()));
    state.SetLabel(info.option);
}

// Every format of the table, by its row.
const int kLastFormat = static_cast<int>(qf::formatTable().size()) - 1;
BENCHMARK(BM_Run)->DenseRange(0, kLastFormat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritersAlone)->DenseRange(0, kLastFormat)->Unit(benchmark::kMillisecond);

}  // namespace
