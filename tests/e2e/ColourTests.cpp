// The saver's colours, pixel for pixel: runs under a frozen wall clock, read back from screenshots
// of the shared-memory canvas, the pixmap canvas and a 16-bit display, in the saver's own window
// and in a host's, against the same pictures painted by the program code in the test.
#include "Harness.h"
#include "QuietHost.h"
#include "core/SaverCore.h"
#include "saver/form1.h"

namespace {

using namespace e2e;
using namespace digitmosaic;

// The wall clock frozen at 12:34:56 UTC; the monotonic clock, which paces the pumps, runs on. Every
// run seeds its pictures with the same time of day. The preloaded library is not the sanitizers'.
const Strings kFrozen{"TZ=UTC", "LD_PRELOAD=" DIGITMOSAIC_FAKETIME, "DONT_FAKE_MONOTONIC=1",
                      "FAKETIME=2024-03-01 12:34:56"};
const std::string kAnyOrder =
    "export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0; exec";

// The first three pictures of such a run on a surface of the size, each pixel's colour in each
// (0xRRGGBB), drawn by the saver window's code on a host that keeps nothing else.
struct Pictures final : QuietHost {
    struct Painted {};
    PixelGrid grid;
    std::vector<std::vector<std::uint32_t>> colours;
    SaverCore saverCore{{}, nullptr, nullptr};  // for its random sequence

    Pictures(int width, int height) {
        grid.Resize(width, height, 96, 96);
        PictureState state{.Running = true};
        form1 saver(*this, state);
        try {
            saver.Form_Load();
        } catch (Painted) {
        }
    }
    float RandomUnit() override { return saverCore.RandomUnit(); }
    void SeedRandom(float seed) override { saverCore.SeedRandom(seed); }
    float SecondsSinceMidnight() override { return 12 * 3600 + 34 * 60 + 56; }
    void SetLogicalScale(double x1, double y1, double x2, double y2) override {
        if (colours.size() == 3) throw Painted{};
        grid.SetLogicalScale(x1, y1, x2, y2);
        colours.emplace_back(std::size_t(grid.Width() * grid.Height()));
    }
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override {
        const auto c = std::uint32_t(color);  // red in the low byte, blue in the high one
        if (const auto box = grid.Box(x, y, dx, dy))
            for (int row = box->top; row < box->bottom; ++row)
                std::fill_n(colours.back().begin() + row * grid.Width() + box->left,
                            box->right - box->left, (c & 0xFF) << 16 | (c & 0xFF00) | c >> 16);
    }
    void PumpEvents() override {}
    [[noreturn]] void EndProgram() override { throw Painted{}; }
    float ScreenWidthTwips() override { return 0; }
    float ScreenHeightTwips() override { return 0; }
};

// On each server, a saver full screen, then one in a host's window: every pixel it painted has the
// colour one of the pictures has there, to the bits the display keeps (5-6-5 at depth 16), and the
// picture is kept in shared memory only where the server shares it at depth 24.
TEST(Colours, EveryPaintedPixelHasTheProgramsColourOnBothCanvasesAndAtDepth16) {
    for (const auto& [name, options, kept, shared] :
         {std::tuple("shared memory", Strings{}, 0xFFFFFFU, true),
          std::tuple("pixmap", Strings{"-extension", "MIT-SHM"}, 0xFFFFFFU, false),
          std::tuple("depth 16", Strings{"-screen", "0", "960x540x16"}, 0xF8FCF8U, false)}) {
        Server x(Server::kXvfb, options);
        ASSERT_TRUE(x.Up() && std::filesystem::exists(DIGITMOSAIC_FAKETIME)) << "no faketime";
        for (const Rect area : {kScreen, Rect{100, 60, 640, 360}}) {
            SCOPED_TRACE(std::string(name) + " in " + ToString(area));
            Strings env = kFrozen;
            if (area != kScreen)
                env.push_back("XSCREENSAVER_WINDOW=" + std::to_string(x.Map(area)));
            auto saver = x.Start({"/s"}, env, kAnyOrder);
            ASSERT_TRUE(Shows(x, area, 8s)) << saver->Errors();
            std::this_thread::sleep_for(500ms);
            const Image shot = x.Shot(area);
            const Pictures pictures(area.width, area.height);
            int painted = 0, wrong = 0;
            for (std::size_t i = 0; i < shot.pixels.size(); ++i) {
                painted += shot.pixels[i] != 0;
                wrong +=
                    shot.pixels[i] != 0 &&
                    std::none_of(pictures.colours.begin(), pictures.colours.end(),
                                 [&](const auto& c) { return (c[i] & kept) == shot.pixels[i]; });
            }
            EXPECT_GT(painted, 20000);
            EXPECT_EQ(wrong, 0) << "of " << painted << " painted";
            std::ifstream maps("/proc/" + std::to_string(saver->Pid()) + "/maps");
            const std::string mapped{std::istreambuf_iterator<char>(maps), {}};
            EXPECT_EQ(mapped.find("memfd:digitmosaic-picture") != mapped.npos, shared);
        }
    }
}

}  // namespace
