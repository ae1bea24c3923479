// The Qt host's canvas, unpaced, on the offscreen platform with a 1920 x 1080 screen: the
// largest picture of each kind through the real QtHost, pumps and presents included, timed
// against one memset of a buffer the size of the canvas, in the same run.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QWindow>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LargestPicture.h"
#include "picture/PictureLoop.h"
#include "qt/QtHost.h"
#include "qt/SaverWindow.h"
#include "qt/ToolkitMessages.h"

namespace digitmosaic::bench {
namespace {

constexpr int kCanvasWidth = 1920;
constexpr int kCanvasHeight = 1080;
constexpr std::size_t kCanvasBytes = std::size_t{kCanvasWidth} * kCanvasHeight * 4;

// The saver window's program code, minus the picture loop: the benchmark paints instead.
class IdleSaver final : public SaverWindowEvents {
  public:
    void Form_Load() override {}
    void Form_Click() override {}
    void Form_KeyDown(int /*keyCode*/, int /*shift*/) override {}
    void Form_MouseDown(int /*button*/, int /*shift*/, float /*x*/, float /*y*/) override {}
    void Form_MouseMove(int /*button*/, int /*shift*/, float /*x*/, float /*y*/) override {}
    void Form_Unload(bool& /*cancel*/) override {}
};

// One unpaced host for the whole process, its saver window open on the offscreen screen.
// Deliberately never destroyed: the application object must outlive every benchmark.
QtHost& CanvasHost() {
    static QtHost* host = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" DIGITMOSAIC_OFFSCREEN_CONFIG);
        static int argc = 1;
        static char name[] = "digitmosaic_bench";
        static char* argv[] = {name, nullptr};
        static IdleSaver saver;
        auto* started = new QtHost(argc, argv, QtHost::Pacing::Unpaced);
        started->OpenWindow(saver);
        started->PumpEvents();         // lets the window settle at its full-screen size
        std::atexit(EndingOnPurpose);  // the benchmarks' end is no lost display
        return started;
    }();
    return *host;
}

using Seconds = std::chrono::duration<double>;

void BM_QtCanvas(benchmark::State& state) {
    QtHost& host = CanvasHost();
    const auto canvasSize = [] {
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (auto* saver = qobject_cast<SaverWindow*>(window))
                return saver->size() * saver->devicePixelRatio();
        }
        return QSize();
    };
    if (canvasSize() != QSize(kCanvasWidth, kCanvasHeight)) {
        state.SkipWithError("the saver canvas is not 1920 x 1080");
        return;
    }
    std::vector<std::byte> frame(kCanvasBytes);
    std::memset(frame.data(), 1, frame.size());  // faults the pages in before any timing

    Seconds painting{};
    Seconds filling{};
    int fill = 0;
    for (auto _ : state) {
        PictureState picture = LargestPicture(state);
        const auto start = std::chrono::steady_clock::now();
        DrawPicture(picture, host);
        const auto painted = std::chrono::steady_clock::now();

        state.PauseTiming();
        const auto before = std::chrono::steady_clock::now();
        std::memset(frame.data(), ++fill & 0xFF, frame.size());
        benchmark::ClobberMemory();
        const auto after = std::chrono::steady_clock::now();
        state.ResumeTiming();

        painting += painted - start;
        filling += after - before;
    }
    if (canvasSize() != QSize(kCanvasWidth, kCanvasHeight)) {
        state.SkipWithError("the saver canvas changed size while painting");
        return;
    }
    benchmark::DoNotOptimize(frame.data());
    const auto iterations = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kLargestCells);
    state.counters["memset_ms"] = filling.count() * 1e3 / iterations;
    state.counters["x_memset"] = painting / filling;
}
BENCHMARK(BM_QtCanvas)
    ->ArgsProduct({{0, 1}, {0, 1}, {2, 10}})
    ->ArgNames({"average", "spiral", "base"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace digitmosaic::bench
