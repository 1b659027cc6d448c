// Runs at scale: one face's whole repertoire at one size (its characters split across threads),
// a collection of fonts at one size (fonts drawn ahead across threads), and one large file (what it
// costs in memory). Threads are the second argument where there is one: compare the rows side by side.
// bench/compare-scale.sh measures the same for the whole process, against FreeType's own floor.
#include "bench/BenchSupport.h"
#include "run/CharacterSet.h"
#include "run/FontList.h"
#include "run/GenerationRun.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

using qf::bench::DiscardingFiles;
using qf::bench::QuietHost;

std::vector<qf::FontListEntry> testFonts()
{
    qf::bench::useTestFonts();
    std::vector<qf::FontListEntry> fonts;
    qf::BuildFontList(fonts, gdi::kGdiMajorVersion);
    return fonts;
}

std::vector<qf::FontListEntry> oneFont(const char* name)
{
    std::vector<qf::FontListEntry> fonts;
    for (qf::FontListEntry& entry : testFonts())
        if (entry.name == name) {
            entry.selected = 1;
            fonts.push_back(entry);
        }
    return fonts;
}

qf::CharacterSelection everyCharacter()
{
    qf::CharacterSelection all;
    std::string error;
    qf::parseCharacterSelection("all", all, error);
    return all;
}

qf::RunResult runOnce(qf::GenerationSettings& settings)
{
    DiscardingFiles files;
    QuietHost host;
    return qf::GenerationRun(settings, host, files).execute();
}

// Every character DejaVu Sans maps, at 12 points: format (row of the table), threads.
void BM_WholeRepertoire(benchmark::State& state)
{
    auto fonts = oneFont(qf::bench::kFace);
    qf::GenerationSettings settings;
    settings.fonts = &fonts;
    settings.sizes = {12};
    settings.format = static_cast<qf::OutputFormat>(state.range(0));
    settings.jobs = static_cast<int>(state.range(1));
    settings.characters = everyCharacter();
    size_t written = 0;
    for (auto _ : state)
        written += runOnce(settings).written.size();
    if (written != static_cast<size_t>(state.iterations()))
        state.SkipWithError("a file was not made");
    state.SetLabel(qf::formatInfo(settings.format).option);
}

// Every test font, eight times over, as BDF at 12 points: threads.
void BM_Collection(benchmark::State& state)
{
    std::vector<qf::FontListEntry> fonts;
    for (int copy = 0; copy < 8; ++copy)
        for (qf::FontListEntry& entry : testFonts()) {
            entry.selected = 1;
            fonts.push_back(entry);
        }
    qf::GenerationSettings settings;
    settings.fonts = &fonts;
    settings.sizes = {12};
    settings.format = qf::OutputFormat::BDF;
    settings.jobs = static_cast<int>(state.range(0));
    size_t written = 0;
    for (auto _ : state)
        written += runOnce(settings).written.size();
    if (written != static_cast<size_t>(state.iterations()) * fonts.size())
        state.SkipWithError("a file was not made");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fonts.size()));
}

// The whole repertoire as one large BDF: point size, threads. Counter: the process's peak resident
// memory so far, in MiB; it is the run's own only when the benchmark runs alone
// (--benchmark_filter=BM_LargeBdf/72), and the files are not written (bench/compare-scale.sh
// measures a real run's peak).
void BM_LargeBdf(benchmark::State& state)
{
    auto fonts = oneFont(qf::bench::kFace);
    qf::GenerationSettings settings;
    settings.fonts = &fonts;
    settings.sizes = {static_cast<int32_t>(state.range(0))};
    settings.format = qf::OutputFormat::BDF;
    settings.jobs = static_cast<int>(state.range(1));
    settings.characters = everyCharacter();
    for (auto _ : state) {
        const qf::RunResult result = runOnce(settings);
        if (result.written.empty())
            state.SkipWithError(result.failures.empty() ? "not made" : result.failures.front().reason.c_str());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

const int kBdf = static_cast<int>(qf::OutputFormat::BDF);
const int kPcf = static_cast<int>(qf::OutputFormat::PCF);
const int kOtb = static_cast<int>(qf::OutputFormat::OTB);
BENCHMARK(BM_WholeRepertoire)
    ->ArgsProduct({{kBdf, kPcf, kOtb}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Collection)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LargeBdf)->Args({72, 2})->Args({200, 2})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
