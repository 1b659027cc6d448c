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

using qf::bench::useTestFonts;

const std::vector<int32_t> kSizes = {8, 10, 12, 14};

// Accepts every write and keeps nothing, so disk speed does not enter the comparison.
class DiscardingFiles : public qf::FileLayer {
public:
    int open(const char*, int, mode_t) override { return 1000; }
    ssize_t write(int, const void*, size_t size) override { return static_cast<ssize_t>(size); }
    int close(int) override { return 0; }
    int rename(const char*, const char*) override { return 0; }
    int unlink(const char*) override { return 0; }
};

class QuietHost : public qf::RunHost {
public:
    bool chooseFolder(const std::string&, std::string& chosen) override
    {
        chosen = "/nonexistent";
        return true;
    }
    int confirmCodePage(const std::string&) override { return qf::kAnswerYesToAll; }
    bool goOnWithoutFile(const std::string&) override { return true; }
    void beginRun(int) override {}
    void setProgress(int) override {}
    void endRun(const std::vector<qf::RunFailure>&) override {}
    void pumpMessages() override {}
    bool running() const override { return running_; }
    void setRunning(bool r) override { running_ = r; }

private:
    bool running_ = false;
};

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
