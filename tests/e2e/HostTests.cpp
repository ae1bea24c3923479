// The saver in the hosts that run screen savers on Linux, each on a server of its own: embedded
// in a host's window (as MATE's screensaver and its preview pass one), in XScreenSaver's daemon,
// standalone across several monitors that change while it runs, and on a Wayland compositor.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Harness.h"
#include "RealHosts.h"

namespace {

using namespace e2e;

std::string Ms(Clock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}

bool Inside(const Rect& r, int x, int y) {
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

// Which pixels of an area have shown anything but what they showed before the saver (black on
// the X servers here), over successive screenshots of that area.
class Painted {
  public:
    explicit Painted(const Rect& area, Image before = {})
        : area_(area), before_(std::move(before)), seen_(std::size_t(area.width * area.height)) {}
    void Add(const Image& shot) {
        for (int y = 0; y < area_.height; ++y)
            for (int x = 0; x < area_.width; ++x)
                if (shot.At(x, y) != (before_.width ? before_.At(x, y) : 0))
                    seen_[std::size_t(y * area_.width + x)] = true;
    }
    // Pixels inside `part` (in the same coordinates as the area) never painted.
    int Missing(const Rect& part) const {
        int missing = 0;
        for (int y = part.y; y < part.y + part.height; ++y)
            for (int x = part.x; x < part.x + part.width; ++x)
                missing += !seen_[std::size_t((y - area_.y) * area_.width + x - area_.x)];
        return missing;
    }

  private:
    Rect area_;
    Image before_;
    std::vector<bool> seen_;
};

// Watches an area of the screen until every pixel of the given parts of it has shown a cell,
// for at most the given time; returns how many never did.
int WatchUntilPainted(const XServer& x, const Rect& area, const std::vector<Rect>& parts,
                      std::chrono::milliseconds within) {
    Painted painted(area);
    int missing = 0;
    for (const auto end = Clock::now() + within; Clock::now() < end;) {
        painted.Add(x.Screenshot(area.x, area.y, area.width, area.height));
        missing = 0;
        for (const Rect& part : parts) missing += painted.Missing(part);
        if (missing == 0) break;
        std::this_thread::sleep_for(50ms);
    }
    return missing;
}

// Watches the whole screen until every pixel of the area has shown cells, for at most the given
// time; empty when so and no pixel outside it changed from the untouched screen, else what failed.
std::string FillsOnly(const XServer& server, const Rect& area, const Image& untouched,
                      std::chrono::milliseconds within) {
    Painted painted(area);
    int outside = 0, firstX = -1, firstY = -1;
    for (const auto end = Clock::now() + within; Clock::now() < end && painted.Missing(area);) {
        const Image shot = server.Screenshot();
        painted.Add(shot.Crop(area));
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                if (!Inside(area, x, y) && shot.At(x, y) != untouched.At(x, y) && !outside++)
                    firstX = x, firstY = y;
        std::this_thread::sleep_for(50ms);
    }
    std::string failed;
    if (const int missing = painted.Missing(area))
        failed += std::to_string(missing) + " pixels of " + ToString(area) +
                  " never showed cells " + "in " + std::to_string(within.count()) +
                  " ms: not fitted; ";
    if (outside)
        failed += std::to_string(outside) + " pixel changes outside " + ToString(area) +
                  ", the first at " + std::to_string(firstX) + "," + std::to_string(firstY);
    return failed;
}

// The command line of a process, its arguments separated by blanks.
std::string CommandLine(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (!line.empty()) line.pop_back();
    return line;
}

// Waits until the area shows cells in more than one colour; the time it took, or nothing.
std::optional<Clock::duration> CellsWithin(const XServer& x, const Rect& r,
                                           std::chrono::milliseconds within,
                                           Clock::time_point since = Clock::now()) {
    for (const auto end = since + within;;) {
        if (x.Screenshot(r.x, r.y, r.width, r.height).Colours(0, 0, r.width, r.height) > 1)
            return Clock::now() - since;
        if (Clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

std::vector<Rect> WindowsOf(const XServer& x, pid_t pid) {
    std::vector<Rect> areas;
    for (const TopLevel& top : x.MappedTopLevels())
        if (top.pid == pid) areas.push_back(top.area);
    return areas;
}

std::string Describe(const std::vector<Rect>& areas) {
    std::string text;
    for (const Rect& r : areas) text += (text.empty() ? "" : ", ") + ToString(r);
    return text.empty() ? "none" : text;
}

// Waits until each monitor has a window of the saver's exactly on it and shows cells there;
// empty when so, else what is missing.
std::string CoveredWithin(const XServer& x, pid_t pid, const std::vector<Rect>& monitors,
                          std::chrono::milliseconds within) {
    for (const auto end = Clock::now() + within;; std::this_thread::sleep_for(20ms)) {
        const std::vector<Rect> windows = WindowsOf(x, pid);
        std::string missing;
        for (const Rect& m : monitors) {
            if (std::find(windows.begin(), windows.end(), m) == windows.end())
                missing += " no saver window on the monitor " + ToString(m) + ";";
            else if (x.Screenshot(m.x, m.y, m.width, m.height).Colours(0, 0, m.width, m.height) < 2)
                missing += " no cells on the monitor " + ToString(m) + ";";
        }
        if (missing.empty()) return {};
        if (Clock::now() >= end)
            return "after " + std::to_string(within.count()) + " ms:" + missing +
                   " the saver's windows: " + Describe(windows);
    }
}

// --- embedded in a host's window, as the settings' previews run it, and standalone, on Xvfb ---

class OnXvfb : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(x_.Up()); }
    // "/s" and the arguments a host adds, XSCREENSAVER_WINDOW set to the window when not empty.
    std::unique_ptr<Child> Saver(const std::string& window,
                                 const std::vector<std::string>& added = {}) {
        std::vector<std::string> args{SaverBinary(), "/s"};
        args.insert(args.end(), added.begin(), added.end());
        return std::make_unique<Child>(args, SaverEnvironment(x_.Name(), runtime_, window));
    }
    std::vector<TopLevel> NewTopLevels(const std::vector<TopLevel>& before) const {
        std::vector<TopLevel> added;
        for (const TopLevel& now : x_.MappedTopLevels()) {
            if (std::none_of(before.begin(), before.end(),
                             [&](const TopLevel& b) { return b.id == now.id; }))
                added.push_back(now);
        }
        return added;
    }

    XServer x_{{"Xvfb", "-screen", "0", "960x540x24", "-dpi", "96", "-br", "-nolisten", "tcp"}};
    TempDir runtime_;
};

// XScreenSaver's settings dialog runs its preview as "/s --window-id ID", with XSCREENSAVER_WINDOW
// naming the same window: a 695 x 390 area inside the dialog.
TEST_F(OnXvfb, SettingsPreviewIsFittedFollowsResizesTouchesNothingElseAndEndsAtSigterm) {
    HostWindow dialog(x_.Connection(), {20, 20, 900, 500}, 0, 0x808080);
    HostWindow preview(x_.Connection(), {20, 15, 695, 390}, dialog.Id());
    Rect area{40, 35, 695, 390};  // the preview on the screen
    x_.Xdotool("mousemove 940 530");
    const std::vector<TopLevel> before = x_.MappedTopLevels();
    const Image untouched = x_.Screenshot();

    auto saver = Saver(preview.Hex(), {"--window-id", preview.Hex()});
    const auto first = CellsWithin(x_, area, 1000ms);
    ASSERT_TRUE(first) << "no cells in the preview window within 1 s; the saver "
                       << saver->Wait(0ms) << ", stderr: " << saver->Errors();
    // Every pixel of the window shows cells once a picture has covered it, and none outside.
    EXPECT_EQ(FillsOnly(x_, area, untouched, 8s), "");
    EXPECT_EQ(x_.Pointer(), std::make_pair(940, 530)) << "the saver moved the pointer";
    for (const TopLevel& top : NewTopLevels(before))
        ADD_FAILURE() << "a new top-level window " << ToString(top.area) << " (pid " << top.pid
                      << ", saver " << saver->Pid() << ") while embedded";

    // Grown: the new part shows cells once the next picture is fitted.
    preview.Resize(860, 470);
    area = {40, 35, 860, 470};
    // Right of the old area, and below it.
    const int missing = WatchUntilPainted(x_, area, {{735, 35, 165, 470}, {40, 425, 695, 80}}, 12s);
    EXPECT_EQ(missing, 0) << "after the window grew from 695x390 to 860x470, " << missing
                          << " pixels of its new area showed no cells within 12 s";
    EXPECT_EQ(saver->Wait(0ms), "running") << saver->Errors();
    kill(saver->Pid(), SIGTERM);
    EXPECT_EQ(saver->Wait(1s), "signal 15") << "after SIGTERM";
}

// "-root" with no window named: the desktop's virtual root where one is marked, else the root
// window itself, under the other windows; as in a host's window, the pointer stays and no window
// of its own appears.
TEST_F(OnXvfb, RootSaverPaintsTheVirtualRootOrTheRootAndEndsAtSigterm) {
    HostWindow desktop(x_.Connection(), {100, 80, 480, 300});
    desktop.MarkVirtualRoot();
    HostWindow other(x_.Connection(), {700, 300, 200, 200}, 0, 0x808080);
    x_.Xdotool("mousemove 940 530");
    const std::vector<TopLevel> before = x_.MappedTopLevels();
    const Image untouched = x_.Screenshot();
    auto saver = Saver("", {"-root"});
    ASSERT_TRUE(CellsWithin(x_, {100, 80, 480, 300}, 1000ms)) << saver->Errors();
    EXPECT_EQ(FillsOnly(x_, {100, 80, 480, 300}, untouched, 8s), "") << "in the virtual root";
    kill(saver->Pid(), SIGTERM);
    EXPECT_EQ(saver->Wait(1s), "signal 15") << "after SIGTERM";

    desktop.Destroy();
    auto onRoot = Saver("", {"--root"});
    // Everywhere but under the grey window.
    EXPECT_EQ(WatchUntilPainted(x_, {0, 0, 960, 540}, {{0, 0, 960, 300}, {0, 300, 700, 240}}, 8s),
              0)
        << "pixels of the root window showed no cells within 8 s; " << onRoot->Errors();
    EXPECT_EQ(x_.Screenshot(700, 300, 200, 200).Colours(0, 0, 200, 200), 1U)
        << "the saver painted over the window above the root";
    EXPECT_EQ(x_.Pointer(), std::make_pair(940, 530)) << "the saver moved the pointer";
    EXPECT_EQ(Describe(WindowsOf(x_, onRoot->Pid())), "none");
    EXPECT_EQ(NewTopLevels(before).size(), 0U) << "a window appeared";
    kill(onRoot->Pid(), SIGTERM);
    EXPECT_EQ(onRoot->Wait(1s), "signal 15") << "after SIGTERM";
}

TEST_F(OnXvfb, EmbeddedSaversRunOnePerWindowAndEndWithItOrAtSigterm) {
    HostWindow left(x_.Connection(), {0, 0, 480, 540});
    HostWindow right(x_.Connection(), {480, 0, 480, 540});
    const auto start = Clock::now();
    auto inLeft = Saver(left.Hex());
    auto inRight = Saver(std::to_string(right.Id()));  // decimal works as well as hexadecimal
    for (const Rect& r : {Rect{0, 0, 480, 540}, Rect{480, 0, 480, 540}}) {
        EXPECT_TRUE(CellsWithin(x_, r, 1000ms, start))
            << "no cells in the host window " << ToString(r) << " within 1 s of the start; "
            << "stderr: " << inLeft->Errors() << inRight->Errors();
    }

    auto second = Saver("", {"-window-id", left.Hex()});
    EXPECT_EQ(second->Wait(1s), "exit 0") << "a second saver for the same window, named otherwise";
    EXPECT_EQ(inLeft->Wait(0ms), "running") << inLeft->Errors();
    EXPECT_EQ(inRight->Wait(0ms), "running") << inRight->Errors();

    right.Destroy();
    EXPECT_EQ(inRight->Wait(1s), "exit 0") << "after its host window was destroyed";

    const auto term = Clock::now();
    kill(inLeft->Pid(), SIGTERM);
    if (inLeft->Wait(100ms) == "running") {
        const std::string later = inLeft->Wait(2s);
        ADD_FAILURE() << "still running 100 ms after SIGTERM; "
                      << (later == "running" ? "and 2 s after"
                                             : later + " after " + Ms(Clock::now() - term));
    }
}

TEST_F(OnXvfb, EmbeddedBadWindowGivesOneLineStatusOneAndDrawsNothing) {
    std::string gone;
    {
        HostWindow window(x_.Connection(), {0, 0, 10, 10});
        gone = std::to_string(window.Id());
    }
    HostWindow valid(x_.Connection(), {0, 0, 10, 10});
    const std::vector<TopLevel> before = x_.MappedTopLevels();
    // XSCREENSAVER_WINDOW, then the argument, which wins over the variable.
    for (const auto& [value, added] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"junk", {}},
             {"0x", {}},
             {"12ab", {}},
             {"0xfffffffff", {}},
             {gone, {}},
             {valid.Hex(), {"--window-id", "junk"}},
             {"", {"-root", "-window-id", gone}}}) {
        const Image untouched = x_.Screenshot();
        auto saver = Saver(value, added);
        // Looked at all along, so that a window shown only briefly counts too.
        bool mapped = false, drawn = false;
        for (const auto end = Clock::now() + 3s;
             saver->Wait(0ms) == "running" && Clock::now() < end;) {
            mapped = mapped || !NewTopLevels(before).empty();
            drawn = drawn || x_.Screenshot().pixels != untouched.pixels;
        }
        const std::string status = saver->Wait(0ms);
        const std::string errors = saver->Errors();
        std::string wrong;
        if (status != "exit 1") wrong += " status: " + status + ";";
        if (std::count(errors.begin(), errors.end(), '\n') != 1 ||
            errors.rfind("digitmosaic: ", 0) != 0)
            wrong += " not one line from digitmosaic on stderr but \"" + errors + "\";";
        if (mapped) wrong += " a window was mapped;";
        if (drawn) wrong += " the screen changed;";
        EXPECT_EQ(wrong, "") << "XSCREENSAVER_WINDOW=" << value << ", " << added.size()
                             << " arguments after /s";
    }
}

// Standalone: a window of its own that another client destroys.
TEST_F(OnXvfb, StandaloneSaverEndsWhenAnotherClientDestroysItsWindow) {
    auto saver = Saver("");
    ASSERT_TRUE(CellsWithin(x_, {0, 0, 960, 540}, 3000ms)) << saver->Errors();
    std::vector<TopLevel> mine;
    for (const TopLevel& top : x_.MappedTopLevels())
        if (top.pid == saver->Pid()) mine.push_back(top);
    ASSERT_EQ(mine.size(), 1U) << "the saver's mapped windows";
    x_.Xdotool("windowclose " + std::to_string(mine.front().id));
    EXPECT_EQ(saver->Wait(1s), "exit 0") << "after xdotool windowclose on its window";
}

// --- in XScreenSaver's daemon, on Xvfb ---

// The only slow test: XScreenSaver's watchdog raises its own window about once a minute, and the
// picture must still show after that.
TEST(InXScreenSaver, PictureShowsInItsWindowPastTheWatchdogAndAKeyEndsTheSaver) {
    XServer x({"Xvfb", "-screen", "0", "960x540x24", "-dpi", "96", "-br", "-nolisten", "tcp"});
    ASSERT_TRUE(x.Up());
    XScreenSaverDaemon daemon(x);
    ASSERT_TRUE(daemon.Activate());
    const auto activated = Clock::now();
    const auto launch = daemon.WaitForLaunch(5s);
    ASSERT_TRUE(launch);
    EXPECT_TRUE(CellsWithin(x, {0, 0, 960, 540}, 3000ms))
        << "no picture on the screen 3 s after XScreenSaver started the saver; its log:\n"
        << daemon.Log();
    // XScreenSaver marks its own windows with the saver's process id: tell them by their class.
    const auto others = [&] {
        std::vector<Rect> areas;
        for (const TopLevel& top : x.MappedTopLevels())
            if (top.className != "XScreenSaver") areas.push_back(top.area);
        return Describe(areas);
    };
    EXPECT_EQ(others(), "none") << "windows besides XScreenSaver's: the saver did not paint in "
                                << "XScreenSaver's window 0x" << std::hex << launch->window;

    std::this_thread::sleep_until(activated + 65s);
    ASSERT_TRUE(ProcessRuns(launch->pid)) << "the saver ended by itself; log:\n" << daemon.Log();
    EXPECT_TRUE(CellsWithin(x, {0, 0, 960, 540}, 500ms))
        << "65 s after activation, past the watchdog's raise, the screen shows no picture; "
        << "the mapped windows, bottom to top: " << [&] {
               std::string text;
               for (const TopLevel& top : x.MappedTopLevels())
                   text += ToString(top.area) + " (" + top.className + ") ";
               return text;
           }();

    x.Xdotool("key a");
    bool ended = false;
    for (const auto end = Clock::now() + 2s; !ended && Clock::now() < end;) {
        std::this_thread::sleep_for(10ms);
        ended = !ProcessRuns(launch->pid);
    }
    EXPECT_TRUE(ended) << "a key seen by XScreenSaver did not end the saver within 2 s; log:\n"
                       << daemon.Log();
}

// --- in MATE's screen saver, installed, on Xvfb ---

TEST(InMateScreensaver, ActivationRunsTheInstalledSaverFullScreenAndDeactivationEndsIt) {
    XServer x({"Xvfb", "-screen", "0", "960x540x24", "-dpi", "96", "-br", "-nolisten", "tcp"});
    ASSERT_TRUE(x.Up());
    TempDir into(0, 0755);
    const std::string tree = InstalledTree(into);
    ASSERT_FALSE(tree.empty());
    MateScreensaver mate(x, tree);
    ASSERT_TRUE(mate.Up());
    ASSERT_TRUE(mate.Command("--activate")) << mate.Log();
    std::vector<pid_t> savers;
    for (const auto end = Clock::now() + 5s; savers.empty() && Clock::now() < end;)
        std::this_thread::sleep_for(20ms), savers = mate.Children();
    ASSERT_EQ(savers.size(), 1U) << "mate-screensaver's children 5 s after activation; its log:\n"
                                 << mate.Log();
    EXPECT_EQ(CommandLine(savers[0]), "/usr/libexec/xscreensaver/digitmosaic /s");
    const Rect screen{0, 0, 960, 540};
    EXPECT_TRUE(CellsWithin(x, screen, 3000ms)) << "no cells 3 s after activation; its log:\n"
                                                << mate.Log();
    EXPECT_EQ(WatchUntilPainted(x, screen, {screen}, 8s), 0) << "not full screen";

    ASSERT_TRUE(mate.Command("--deactivate")) << mate.Log();
    bool ended = false;
    for (const auto end = Clock::now() + 2s; !ended && Clock::now() < end;)
        std::this_thread::sleep_for(20ms),
            ended = !ProcessRuns(savers[0]) && mate.Children().empty();
    EXPECT_TRUE(ended) << "the saver or another child of mate-screensaver still runs 2 s after "
                       << "deactivation";
}

// --- several monitors on the X.org dummy driver ---

TEST(OnSeveralMonitors, EveryMonitorIsCoveredAndFollowedAsMonitorsComeChangeAndGo) {
    DummyXorg xorg;
    XServer& x = xorg.Server();
    ASSERT_TRUE(x.Up());
    const Rect primary{0, 0, 1280, 720}, second{1280, 0, 1024, 768}, third{0, 720, 800, 600};
    ASSERT_TRUE(xorg.Enable("DUMMY0", primary, true));
    ASSERT_TRUE(xorg.Enable("DUMMY1", second));
    ASSERT_EQ(xorg.Monitors(), (std::vector<Rect>{primary, second}));
    TempDir runtime;
    Child saver({SaverBinary(), "/s"}, SaverEnvironment(x.Name(), runtime));

    EXPECT_EQ(CoveredWithin(x, saver.Pid(), {primary, second}, 1000ms), "")
        << "two monitors at the start; stderr: " << saver.Errors();
    EXPECT_EQ(x.Pointer(), std::make_pair(1279, 719)) << "the primary's bottom-right corner";

    ASSERT_TRUE(xorg.Enable("DUMMY2", third));
    EXPECT_EQ(CoveredWithin(x, saver.Pid(), {primary, second, third}, 1000ms), "")
        << "a third monitor enabled while it runs";

    // The second grows: its window follows, what it showed stays, the new part gets cells.
    const Rect grown{1280, 0, 1280, 1024};
    const Image earlier = x.Screenshot(second.x, second.y, second.width, second.height);
    ASSERT_TRUE(xorg.Enable("DUMMY1", grown));
    // The picture goes on growing meanwhile, by up to a screen row of cells per refresh: look
    // as soon as the window has its new size, and allow for what was painted in between.
    for (const auto end = Clock::now() + 1s; Clock::now() < end; std::this_thread::sleep_for(5ms)) {
        const std::vector<Rect> windows = WindowsOf(x, saver.Pid());
        if (std::find(windows.begin(), windows.end(), grown) != windows.end()) break;
    }
    const Image later = x.Screenshot(second.x, second.y, second.width, second.height);
    EXPECT_EQ(CoveredWithin(x, saver.Pid(), {primary, grown, third}, 1000ms), "")
        << "the second monitor resized from " << ToString(second) << " to " << ToString(grown);
    const auto kept =
        std::inner_product(earlier.pixels.begin(), earlier.pixels.end(), later.pixels.begin(), 0L,
                           std::plus<>(), std::equal_to<>());
    EXPECT_GE(kept * 2, long(earlier.pixels.size()))
        << "only " << kept * 100 / long(earlier.pixels.size())
        << "% of the earlier picture stayed where it was after the resize";
    const int missing =
        WatchUntilPainted(x, grown, {{2304, 0, 256, 1024}, {1280, 768, 1024, 256}}, 12s);
    EXPECT_EQ(missing, 0) << missing << " pixels of the grown monitor's new area showed no cells "
                          << "within 12 s";

    ASSERT_TRUE(xorg.Disable("DUMMY2"));
    std::vector<Rect> windows;
    for (const auto end = Clock::now() + 1s; Clock::now() < end; std::this_thread::sleep_for(20ms))
        if ((windows = WindowsOf(x, saver.Pid())).size() == 2) break;
    EXPECT_EQ(Describe(windows), Describe({primary, grown}))
        << "the saver's windows after the third monitor was disabled";
    EXPECT_EQ(saver.Wait(1s), "running") << saver.Errors();
}

// --- on a Wayland compositor ---

TEST(OnWayland, EveryOutputShowsThePictureFullScreenAndAKeyEndsTheSaverSilently) {
    const std::vector<Rect> outputs{{0, 0, 960, 540}, {960, 0, 640, 480}};
    HeadlessSway sway(outputs);
    ASSERT_TRUE(sway.Up());
    const Image desktop = sway.Screenshot();
    Child saver({SaverBinary(), "/s"}, sway.ClientEnvironment());
    // Cells: two colours or more that are neither the desktop's nor the black under them.
    std::set<std::uint32_t> other(desktop.pixels.begin(), desktop.pixels.end());
    other.insert(0);
    std::vector<Painted> painted;
    std::vector<bool> cells(outputs.size());
    for (const Rect& o : outputs) painted.emplace_back(o, desktop.Crop(o));
    const auto done = [&] {
        for (std::size_t i = 0; i < outputs.size(); ++i)
            if (!cells[i] || painted[i].Missing(outputs[i])) return false;
        return true;
    };
    for (const auto end = Clock::now() + 8s; !done() && Clock::now() < end;) {
        const Image shot = sway.Screenshot();
        if (shot.width != desktop.width || shot.height != desktop.height) continue;
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const Image part = shot.Crop(outputs[i]);
            std::set<std::uint32_t> colours;
            for (std::uint32_t c : part.pixels)
                if (!other.count(c)) colours.insert(c);
            cells[i] = cells[i] || colours.size() >= 2;
            painted[i].Add(part);
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_TRUE(cells[i]) << "no cells on the output " << ToString(outputs[i])
                              << " within 8 s; stderr: " << saver.Errors();
        EXPECT_EQ(painted[i].Missing(outputs[i]), 0)
            << "pixels of the output " << ToString(outputs[i])
            << " still showed the desktop after 8 s: not covered full screen";
    }
    ASSERT_TRUE(sway.Type("a")) << "wtype failed";
    EXPECT_EQ(saver.Wait(2s), "exit 0") << "after a key typed with wtype";
    EXPECT_EQ(saver.Errors(), "");
}

}  // namespace
