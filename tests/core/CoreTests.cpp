// The saver core without a display: the logical units on device pixels by tables (cells tile a
// surface exactly, boxes are clipped, pointer positions come back in twips then in logical units,
// changes merge into a few strips), and the core on a fake backend and clock: what counts as seen,
// the pumps' beat and the sleep while unseen. (Boxes filled into pixels the colour tests check.)
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "core/DirtyStrips.h"
#include "core/PixelGrid.h"
#include "core/SaverCore.h"

namespace digitmosaic {
namespace {

// Every grid the program draws, on surfaces of many sizes and ratios: the cells along the diagonal
// (then the bottom row) share their edges and cover the surface from edge to edge.
TEST(PixelGrid, CellsTileEverySurfaceExactly) {
    const int surfaces[][2] = {{1920, 1080}, {3840, 2160}, {1366, 768}, {641, 479},
                               {358, 299},   {480, 300},   {695, 390},  {1280, 1024}};
    for (const auto& [width, height] : surfaces) {
        for (int rows = 40, columns = 48; rows <= 299; rows += 37, columns = 6 * rows / 5) {
            SCOPED_TRACE(testing::Message() << columns << "x" << rows << " on " << width);
            PixelGrid grid;
            grid.Resize(width, height, 96, 96);
            grid.SetLogicalScale(0, 0, columns, rows);
            Strip last{0, 0, 0, 0};
            for (int col = 0; col < columns; ++col) {
                const auto box = grid.Box(float(col), float(std::min(col, rows - 1)), 1, 1);
                ASSERT_TRUE(box && box->left == last.right) << "column " << col;
                ASSERT_EQ(box->top, col < rows ? last.bottom : last.top) << "row " << col;
                last = *box;
            }
            EXPECT_EQ(std::pair(last.right, last.bottom), std::pair(width, height));
        }
    }
}

// Boxes beyond the surface are clipped and empty ones cover nothing. Pointer positions come back
// in twips until a scale is set (15 a pixel at 96 dots per inch, 7.5 at 192), then in logical
// units; each axis by its own size.
TEST(PixelGrid, BoxesAreClippedAndPointerPositionsComeBackInTwipsThenInLogicalUnits) {
    PixelGrid grid;
    grid.Resize(200, 50, 96, 192);
    EXPECT_EQ(std::pair(grid.LogicalX(100), grid.LogicalY(50)), std::pair(1500.F, 375.F));
    grid.SetLogicalScale(0, 0, 20, 10);
    EXPECT_EQ(std::pair(grid.LogicalX(50), grid.LogicalY(30)), std::pair(5.F, 6.F));
    const float outside[][3] = {{-3, 2, 1}, {25, 2, 1}, {2, -40, 1}, {2, 1e9F, 1}, {2, 2, 0}};
    for (const auto& [x, y, dx] : outside)
        EXPECT_EQ(grid.Box(x, y, dx, 1), std::nullopt) << x << "," << y;
    EXPECT_EQ(grid.Box(-1, 9, 2, 5), (Strip{0, 45, 10, 50}));  // over the bottom-left corner
}

// A row of boxes, then boxes scattered (beyond the bounds at times) until past 32 strips they
// become their bounding box: nothing drawn is ever left out, merged or overflowing the list. All
// of a surface marked is one strip.
TEST(DirtyStrips, NeverLoseABox) {
    DirtyStrips dirty;
    std::mt19937 scatter(3);
    std::vector<Strip> drawn;
    for (int i = 0; i < 100; ++i) {
        const int x = i < 10 ? 10 * i : 20 * i % 990, y = i < 10 ? 20 : int(scatter() % 90);
        dirty.Mark(drawn.emplace_back(Strip{x, y, x + 10, y + 10}));
        ASSERT_LE(dirty.Strips().size(), 32U);
        for (const Strip& box : drawn)
            ASSERT_TRUE(std::any_of(dirty.Strips().begin(), dirty.Strips().end(),
                                    [&](const Strip& s) { return United(s, box) == s; }))
                << "box " << box.left << "," << box.top << " lost";
    }
    dirty.MarkAll(640, 480);
    EXPECT_EQ(dirty.Strips(), (std::vector<Strip>{{0, 0, 640, 480}}));
}

using Clock = Backend::Clock;
using namespace std::chrono_literals;

Clock::time_point fakeNow{};
Clock::time_point FakeNow() { return fakeNow; }

// A surface of 960 x 540 pixels at 96 dots per inch, seen or not as the test says.
struct FakeSurface final : Surface {
    FakeSurface() { pending_.Grid().Resize(960, 540, 96, 96); }
    void Present() override { ++presents; }
    bool Visible() const override { return visible; }
    int presents = 0;
    bool visible = true;
};

// Records every wait; a wait with a deadline moves the clock to it, one without runs the next
// scripted arrival (the test fails where none is left, as the saver would sleep for ever).
struct FakeBackend final : Backend {
    void Connect() override {}
    bool AnotherInstanceRunning() override { return false; }
    ScreenSize PrimaryScreen() override { return {960, 540, 96}; }
    void ParkPointer(int, int) override {}
    void Beep() override {}
    void OpenSurfaces(BackendEvents& reported) override { events = &reported; }
    void Show() override {}
    const std::vector<Surface*>& Surfaces() const override { return surfaces; }
    Clock::duration Refresh() const override { return 10ms; }
    std::uint64_t FramesAsked() const override { return frames; }
    bool Wait(std::optional<Clock::time_point> deadline) override {
        waits.push_back(deadline ? (*deadline - fakeNow) / 1ms : -1);
        if (deadline && frameIn > 0ms && fakeNow + frameIn < *deadline) {
            fakeNow += frameIn;  // the server asks for the next picture first
            ++frames;
            return true;
        }
        if (deadline) {
            fakeNow = std::max(fakeNow, *deadline);
            return false;
        }
        events->Sleeping();
        if (arrivals.empty()) {
            ADD_FAILURE() << "asleep with nothing to come";
            for (Surface* surface : surfaces) static_cast<FakeSurface*>(surface)->visible = true;
        } else {
            arrivals.front()();
            arrivals.erase(arrivals.begin());
        }
        events->Awake();
        return true;
    }
    int EventDescriptor() const override { return -1; }
    void Hide() override {}

    std::vector<Surface*> surfaces;
    BackendEvents* events = nullptr;
    std::vector<long> waits;  // in milliseconds from the clock; -1 for none
    std::vector<std::function<void()>> arrivals;
    Clock::duration frameIn{};  // after which a wait sees the server ask for a frame
    std::uint64_t frames = 0;
};

// The saver window's handlers as a log, in the units they were given.
struct LoggedSaver final : SaverWindowEvents {
    void Form_Load() override {}
    void Form_Click() override { log += "click "; }
    void Form_KeyDown(int, int shift) override { log += "key/" + std::to_string(shift) + " "; }
    void Form_MouseDown(int button, int shift, float x, float y) override {
        log += "down" + std::to_string(button) + "/" + std::to_string(shift) + At(x, y);
    }
    void Form_MouseMove(int buttons, int, float x, float y) override {
        log += "move" + std::to_string(buttons) + At(x, y);
    }
    void Form_Unload(bool&) override { log += "unload "; }
    static std::string At(float x, float y) {
        std::string at = "@";
        at += std::to_string(static_cast<int>(x));
        at += ',';
        at += std::to_string(static_cast<int>(y));
        return at += ' ';
    }
    std::string log;
};

struct CoreFixture {
    explicit CoreFixture(std::vector<bool> visible) {
        auto owned = std::make_unique<FakeBackend>();
        backend = owned.get();
        for (std::size_t i = 0; i < visible.size(); ++i) {
            surfaces.push_back(std::make_unique<FakeSurface>());
            surfaces.back()->visible = visible[i];
            backend->surfaces.push_back(surfaces.back().get());
        }
        core = std::make_unique<SaverCore>(StartUp{}, std::move(owned), nullptr, &FakeNow);
        core->OpenWindow(saver);
    }
    std::vector<std::unique_ptr<FakeSurface>> surfaces;
    FakeBackend* backend;
    std::unique_ptr<SaverCore> core;
    LoggedSaver saver;
};

// One surface seen is enough to paint on all of them; with none seen the pump sleeps with no
// deadline until the server shows one again, then paints, keeping the beat from then on.
TEST(SaverCore, PaintsWhileAnySurfaceIsSeenAndSleepsWithoutDeadlineOnlyWhileNoneIs) {
    for (const auto& visible : std::vector<std::vector<bool>>{
             {true}, {true, false}, {false, true}, {false, false, true}}) {
        CoreFixture f(visible);
        f.core->PumpEvents();
        f.core->PumpEvents();
        EXPECT_EQ(f.backend->waits, (std::vector<long>{10, 10})) << visible.size();
        for (auto& surface : f.surfaces) EXPECT_EQ(surface->presents, 2);
    }
    CoreFixture f({false, false});
    f.backend->arrivals = {[] {}, [&f] { f.surfaces[0]->visible = true; }};
    f.core->PumpEvents();
    EXPECT_EQ(f.backend->waits, (std::vector<long>{-1, -1, 10}));
    for (auto& surface : f.surfaces) EXPECT_EQ(surface->presents, 1);
}

// Pumps come one a refresh, counted from the beat; one late by a little keeps it, one a whole
// refresh behind (or after a sleep) starts it afresh. A server that asks for each picture (frame
// callbacks) paces them instead, the beat then only a bound.
TEST(SaverCore, PumpsKeepTheBeatOfTheRefreshOrTheServersPace) {
    CoreFixture f({true});
    f.core->PumpEvents();  // 0 -> 10
    fakeNow += 4ms;        // painting took 4 ms
    f.core->PumpEvents();  // 14 -> 20
    fakeNow += 25ms;       // a whole refresh behind
    f.core->PumpEvents();  // 45 -> 55
    const Clock::time_point before = fakeNow;
    f.backend->frameIn = 3ms;
    f.core->PumpEvents();  // 55 -> asked at 58
    EXPECT_EQ(f.backend->waits, (std::vector<long>{10, 6, 10, 10}));
    EXPECT_EQ(fakeNow - before, 3ms);
}

// Input reaches the handlers in their units: positions in the picture's logical units on the
// surface it came from (one that came mid-picture too), the desktop's button and shift codes, the
// wheel as nothing, a release as a click, a closed surface as the saver's unload.
TEST(SaverCore, InputReachesTheHandlersInTheirUnits) {
    CoreFixture f({true});
    f.core->SetLogicalScale(0, 0, 48, 40);
    BackendEvents& events = *f.backend->events;
    FakeSurface added;
    events.SurfaceAdded(added);
    events.KeyPressed(38, {true, true, false});
    events.ButtonPressed(*f.surfaces[0], Button::Left, {}, 480, 270);
    events.ButtonPressed(added, Button::Right, {false, false, true}, 959, 539);
    events.ButtonPressed(added, Button::Middle, {}, 0, 0);
    events.ButtonPressed(added, Button::Wheel, {}, 0, 0);
    events.ButtonReleased(added, Button::Wheel);
    events.ButtonReleased(added, Button::Left);
    events.PointerMoved(added, {true, true, true}, {}, 240, 135);
    events.SurfaceClosed();
    EXPECT_EQ(f.saver.log,
              "key/3 down1/0@24,20 down2/4@47,39 down4/0@0,0 click move7@12,10 unload ");
}

}  // namespace
}  // namespace digitmosaic
