// The saver core's painting path, unpaced, on a backend that keeps a 1920 x 1080 picture in
// memory: the largest picture of each kind through the real SaverCore, pumps and presents
// included, timed against one memset of a buffer the size of the picture, in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <vector>

#include "LargestPicture.h"
#include "core/SaverCore.h"
#include "picture/PictureLoop.h"

namespace digitmosaic::bench {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A screen in memory: each present fills the boxes drawn since the last one into its pixels.
class MemoryScreen final : public Surface {
  public:
    MemoryScreen() : pixels_(std::size_t{kWidth} * kHeight) {
        pending_.Grid().Resize(kWidth, kHeight, 96, 96);
    }
    void Present() override {
        pending_.FillInto(pixels_.data(), kWidth, kWidth, kHeight);
        pending_.Clear();
        benchmark::DoNotOptimize(pixels_.data());
    }
    bool Visible() const override { return true; }

  private:
    std::vector<Pixel> pixels_;
};

// A backend with one screen in memory, no refresh to wait for and nothing ever arriving.
class MemoryBackend final : public Backend {
  public:
    void Connect() override {}
    bool AnotherInstanceRunning() override { return false; }
    ScreenSize PrimaryScreen() override { return {kWidth, kHeight, 96}; }
    void ParkPointer(int /*x*/, int /*y*/) override {}
    void Beep() override {}
    void OpenSurfaces(BackendEvents& /*events*/) override {}
    void Show() override {}
    const std::vector<Surface*>& Surfaces() const override { return surfaces_; }
    Clock::duration Refresh() const override { return Clock::duration::zero(); }
    bool Wait(std::optional<Clock::time_point> /*deadline*/) override { return false; }
    int EventDescriptor() const override { return -1; }
    void Hide() override {}

  private:
    MemoryScreen screen_;
    std::vector<Surface*> surfaces_{&screen_};
};

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

using Seconds = std::chrono::duration<double>;

void BM_CoreCanvas(benchmark::State& state) {
    SaverCore core({}, std::make_unique<MemoryBackend>(), {});
    IdleSaver saver;
    core.OpenWindow(saver);
    std::vector<std::byte> frame(std::size_t{kWidth} * kHeight * 4);
    std::memset(frame.data(), 1, frame.size());  // faults the pages in before any timing

    Seconds painting{};
    Seconds filling{};
    int fill = 0;
    for (auto _ : state) {
        PictureState picture = LargestPicture(state);
        const auto start = std::chrono::steady_clock::now();
        DrawPicture(picture, core);
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
    benchmark::DoNotOptimize(frame.data());
    const auto iterations = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kLargestCells);
    state.counters["memset_ms"] = filling.count() * 1e3 / iterations;
    state.counters["x_memset"] = painting / filling;
}
BENCHMARK(BM_CoreCanvas)
    ->ArgsProduct({{0, 1}, {0, 1}, {2, 10}})
    ->ArgNames({"average", "spiral", "base"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace digitmosaic::bench
