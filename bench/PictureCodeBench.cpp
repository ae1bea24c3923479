// The picture code alone: DrawPicture for each kind of picture against a host that draws
// nothing, in cells per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

#include "LargestPicture.h"
#include "host/RandomUnit.h"
#include "picture/PictureLoop.h"

namespace digitmosaic::bench {
namespace {

// Draws nothing and delivers no events; its random units come from a cheap xorshift.
class NullHost final : public HostServices {
  public:
    float RandomUnit() override {
        bits_ ^= bits_ << 13;
        bits_ ^= bits_ >> 17;
        bits_ ^= bits_ << 5;
        return UnitFromBits(bits_);
    }
    void SeedRandom(float /*seed*/) override {}
    float SecondsSinceMidnight() override { return 0; }
    void PumpEvents() override {}
    [[noreturn]] void EndProgram() override { std::abort(); }
    std::string ArgumentString() override { return "/s"; }
    bool AnotherInstanceRunning() override { return false; }
    float ScreenWidthTwips() override { return 28800; }
    float ScreenHeightTwips() override { return 16200; }
    void SetCursorPos(std::int32_t /*x*/, std::int32_t /*y*/) override {}
    void SystemBeep() override {}
    void OpenWindow(SaverWindowEvents& /*window*/) override {}
    void OpenWindow(AboutWindowEvents& /*window*/) override {}
    void ShowWindow(SaverWindowEvents& /*window*/) override {}
    void UnloadWindow(SaverWindowEvents& /*window*/) override {}
    void UnloadWindow(AboutWindowEvents& /*window*/) override {}
    void SetLogicalScale(double /*x1*/, double /*y1*/, double /*x2*/, double /*y2*/) override {}
    void DrawBox(float /*x*/, float /*y*/, float /*dx*/, float /*dy*/,
                 PackedColor /*color*/) override {}

  private:
    std::uint32_t bits_ = 2463534242U;
};

void BM_PictureCode(benchmark::State& state) {
    NullHost host;
    for (auto _ : state) {
        PictureState picture = LargestPicture(state);
        DrawPicture(picture, host);
        benchmark::DoNotOptimize(picture);
    }
    state.SetItemsProcessed(state.iterations() * kLargestCells);
}
BENCHMARK(BM_PictureCode)
    ->ArgsProduct({{0, 1}, {0, 1}, {2, 10}})
    ->ArgNames({"average", "spiral", "base"});

}  // namespace
}  // namespace digitmosaic::bench
