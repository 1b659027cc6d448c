// How long the target view takes to show what an input change asks for: making the line's
// bitmaps (the work its thread does) and the whole update, from handing the view its content to
// the last line shown, at 12 and 72 points for a 96 and a 300 dpi target; and judging a size as
// the run would (its own thread's work once a size, font, format or resolution changes).
#include "bench/BenchSupport.h"
#include "ui/TargetBitmaps.h"
#include "ui/TargetView.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QObject>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr char kSample[] = "ABCabc123";

qf::TargetContent Content(int32_t size, int32_t dpi, qf::GlyphStorage storage)
{
    qf::TargetContent content;
    content.font = qf::bench::logFont();
    content.codePageRow = 0;
    content.text = QString::fromLatin1(kSample);
    content.sizes = {size};
    content.resolutionX = dpi;
    content.resolutionY = dpi;
    content.storage = storage;
    return content;
}

// The bitmaps of one line, as the view's thread makes them for one change.
void BM_TargetLine(benchmark::State& state)
{
    const auto size = static_cast<int32_t>(state.range(0));
    const auto dpi = static_cast<int32_t>(state.range(1));
    const auto storage = state.range(2) ? qf::GlyphStorage::InkBox : qf::GlyphStorage::Cell;
    const qf::TargetRequest request = qf::TargetView::MakeRequest(Content(size, dpi, storage), 96, 96);
    for (auto _ : state) {
        qf::TargetLine line = qf::RenderTargetLine(request, size);
        benchmark::DoNotOptimize(line.glyphs.data());
    }
    state.SetLabel(storage == qf::GlyphStorage::Cell ? "cell (FNT, FON)" : "ink box (BDF, PCL)");
}

// Whether the run makes a size's file: the format's writer making it whole, read back.
void BM_TargetJudgement(benchmark::State& state)
{
    const auto size = static_cast<int32_t>(state.range(0));
    const auto dpi = static_cast<int32_t>(state.range(1));
    const auto format = state.range(2) ? qf::OutputFormat::BDF : qf::OutputFormat::FNT;
    qf::TargetContent content = Content(size, dpi, qf::formatInfo(format).storage);
    content.format = format;
    content.name = "Bench";
    const qf::TargetRequest request = qf::TargetView::MakeRequest(content, 96, 96);
    for (auto _ : state) {
        qf::TargetJudge judge(request);
        benchmark::DoNotOptimize(judge.refusal(size));
    }
    state.SetLabel(format == qf::OutputFormat::FNT ? "FNT" : "BDF");
}

// The whole update: the view handed new content (a new text each time, as typing does) until its
// line has arrived, then one paint of what it shows.
void BM_TargetViewUpdate(benchmark::State& state)
{
    const auto size = static_cast<int32_t>(state.range(0));
    const auto dpi = static_cast<int32_t>(state.range(1));
    qf::TargetView view;
    view.resize(400, 300);
    QImage canvas(view.viewport()->size(), QImage::Format_RGB32);
    qf::TargetContent content = Content(size, dpi, qf::GlyphStorage::Cell);
    int step = 0;
    for (auto _ : state) {
        content.text = QString::fromLatin1(kSample) + QString::number(step++ % 10);
        QEventLoop loop;
        QObject::connect(&view, &qf::TargetView::completed, &loop, &QEventLoop::quit);
        view.setContent(content);
        if (!view.isComplete())
            loop.exec();
        view.render(canvas);
        benchmark::DoNotOptimize(canvas.bits());
    }
}

void Sizes(benchmark::internal::Benchmark* b, bool storages)
{
    for (const int size : {12, 72})
        for (const int dpi : {96, 300})
            for (int s = 0; s <= (storages ? 1 : 0); ++s)
                b->Args({size, dpi, s});
    b->ArgNames({"pt", "dpi", "inkbox"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_TargetLine)->Apply([](benchmark::internal::Benchmark* b) { Sizes(b, true); });
BENCHMARK(BM_TargetJudgement)->Apply([](benchmark::internal::Benchmark* b) { Sizes(b, true); });
BENCHMARK(BM_TargetViewUpdate)->Apply([](benchmark::internal::Benchmark* b) { Sizes(b, false); })->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    qf::bench::useTestFonts();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
