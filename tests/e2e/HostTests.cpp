// The saver in the hosts that run screen savers on Linux, each on a server of its own: in a host's
// window as the settings' previews and MATE pass one, on the root window, in XScreenSaver's daemon
// and MATE's screen saver, on monitors that come, change and go, and on a Wayland compositor.
#include <charconv>
#include <regex>

#include "Harness.h"

namespace {

using namespace e2e;

std::string Hex(unsigned long window) {
    char text[32];
    return std::string(text, std::to_chars(text, text + 32, window, 16).ptr).insert(0, "0x");
}

// The areas of the saver's own windows.
std::vector<Rect> SaverWindows(const Server& x) {
    std::vector<Rect> areas;
    for (const auto& [id, area] : x.Windows("--classname '^digitmosaic$'")) areas.push_back(area);
    return areas;
}

// The earlier picture stays where it was (what went black is lost) while the host's window or the
// monitor is resized, then the whole new area gets cells.
void ResizedKeepsAndFills(const Server& x, const Rect& from, const Rect& to,
                          const std::string& by) {
    SCOPED_TRACE(ToString(from) + " to " + ToString(to));
    const Image earlier = x.Shot(from);
    x.Sh(by);
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(Lost(earlier, x.Shot(from)), from.width * from.height / 50) << "picture lost";
    EXPECT_TRUE(Shows(x, to, 12s, true)) << "not refitted";
}

// In a host's window, or the root, the saver leaves the screen outside it, the pointer and the
// windows as they were, and SIGTERM ends it at once.
// - XScreenSaver's settings dialog runs its preview as "/s --window-id ID", XSCREENSAVER_WINDOW
//   naming the same window, an area inside the dialog. What is drawn there is in true colours,
//   fitted to it, redrawn where a popup covered it, and follows a resize along one axis, then the
//   other.
// - "-root" with no window named: the desktop's virtual root where one is marked, else the root
//   window itself, under the other windows.
// - One saver per window, however named (hexadecimal, decimal, the argument); each ends with its
//   window. A window that is gone, or a bad argument that wins over a good variable: one line,
//   status 1, and nothing drawn or mapped.
TEST(InHostWindow, PreviewRootAndOnePerWindowPaintOnlyTheirWindowFittedRedrawnAndEndAtSigterm) {
    Server x;
    ASSERT_TRUE(x.Up());
    x.Sh("xdotool mousemove 940 530");
    Image untouched;
    std::size_t topLevels = 0;
    const auto from = [&] {
        topLevels = x.Windows("--maxdepth 1 ''").size(), untouched = x.Shot();
    };
    const auto leftAlone = [&](const Rect& a) {
        const Image now = x.Shot();
        int changed = 0;
        for (int y = 0; y < now.height; ++y)
            for (int i = 0; i < now.width; ++i)
                changed += (i < a.x || y < a.y || i >= a.x + a.width || y >= a.y + a.height) &&
                           untouched.pixels[y * now.width + i] != now.pixels[y * now.width + i];
        EXPECT_EQ(changed, 0) << "pixels outside " << ToString(a);
        EXPECT_EQ(x.Sh("xdotool getmouselocation").substr(0, 12), "x:940 y:530 ") << "pointer";
        EXPECT_EQ(x.Windows("--maxdepth 1 ''").size(), topLevels) << "a window was mapped";
    };
    const auto endsAtSigterm = [](Child& saver) {
        kill(saver.Pid(), SIGTERM);
        EXPECT_EQ(saver.Wait(300ms), "signal 15") << "after SIGTERM";
    };
    const unsigned long dialog = x.Map({20, 20, 900, 500}, 0x808080),
                        preview = x.Map({20, 15, 695, 390}, 0, dialog);
    Rect area{40, 35, 695, 390};  // the preview on the screen
    from();
    auto saver =
        x.Start({"/s", "--window-id", Hex(preview)}, {"XSCREENSAVER_WINDOW=" + Hex(preview)});
    ASSERT_TRUE(Shows(x, area, 1s)) << "no cells within 1 s: " << saver->Errors();
    EXPECT_TRUE(Shows(x, area, 8s, true)) << "not fitted";
    std::uint32_t channels = 0;
    for (std::uint32_t pixel : x.Shot(area).pixels) channels |= pixel;
    EXPECT_TRUE(channels & 0xFF && channels & 0xFF00 && channels & 0xFF0000) << channels;
    leftAlone(area);
    EXPECT_LT(x.LostUnderPopup({100, 60, 100, 300}), 300) << "not redrawn after a popup";
    EXPECT_LT(x.LostUnderPopup(area), 300);
    for (const Rect to : {Rect{40, 35, 860, 390}, Rect{40, 35, 860, 470}}) {
        ResizedKeepsAndFills(x, area, to,
                             "xdotool windowsize " + Hex(preview) + " " + std::to_string(to.width) +
                                 " " + std::to_string(to.height));
        area = to;
    }
    endsAtSigterm(*saver);

    x.Sh("xdotool windowclose " + Hex(dialog));
    const Rect desktop{100, 80, 480, 300};
    const unsigned long root = x.Map(desktop, 0, 0, false, true);
    x.Map({700, 300, 200, 200}, 0x808080);
    from();
    saver = x.Start({"/s", "-root"});
    EXPECT_TRUE(Shows(x, desktop, 8s, true)) << saver->Errors();
    leftAlone(desktop);
    endsAtSigterm(*saver);
    x.Sh("xdotool windowclose " + Hex(root));
    from();
    saver = x.Start({"/s", "--root"});
    EXPECT_TRUE(Shows(x, {0, 0, 960, 300}, 8s, true) && Shows(x, {0, 300, 700, 240}, 8s, true));
    leftAlone(kScreen);
    const Image above = x.Shot({700, 300, 200, 200});
    EXPECT_EQ(std::count(above.pixels.begin(), above.pixels.end(), 0x808080U), 40000) << "above";
    endsAtSigterm(*saver);

    const unsigned long left = x.Map({0, 0, 480, 540}), right = x.Map({480, 0, 480, 540});
    const std::string gone = std::to_string(x.Map({0, 0, 9, 9}));
    x.Sh("xdotool windowclose " + gone);
    from();
    for (const auto& [value, args] : {std::pair{gone, Strings{"/s"}},
                                      std::pair{Hex(left), Strings{"/s", "--window-id", "junk"}}}) {
        saver = x.Start(args, {"XSCREENSAVER_WINDOW=" + value});
        bool mapped = false, drawn = false;  // looked at all along: briefly counts too
        for (const auto end = Clock::now() + 3s;
             saver->Wait(0ms) == "running" && !(Clock::now() > end);)
            mapped |= x.Windows("--maxdepth 1 ''").size() > topLevels,
                drawn |= x.Shot().pixels != untouched.pixels;
        Refused(*saver, "digitmosaic: ");
        EXPECT_FALSE(mapped || drawn) << value;
    }
    auto inLeft = x.Start({"/s"}, {"XSCREENSAVER_WINDOW=" + Hex(left)});
    auto inRight = x.Start({"/s"}, {"XSCREENSAVER_WINDOW=" + std::to_string(right)});
    EXPECT_TRUE(Shows(x, {0, 0, 480, 540}, 1s) && Shows(x, {480, 0, 480, 540}, 1s));
    EXPECT_EQ(x.Start({"/s", "-window-id", Hex(left)})->Wait(1s), "exit 0") << "a second one";
    EXPECT_EQ(inRight->Wait(0ms), "running") << inRight->Errors();
    x.Sh("xdotool windowclose " + Hex(right));
    EXPECT_EQ(inRight->Wait(1s), "exit 0") << "after its window was destroyed";
    endsAtSigterm(*inLeft);
}

// XScreenSaver's daemon, as an unprivileged user whose settings run the saver (copied where that
// user may run it). Its watchdog raises its own window about once a minute: the picture must still
// show after that.
TEST(InXScreenSaver, PictureShowsInItsWindowPastTheWatchdogAndAKeyEndsTheSaver) {
    Server x;
    TempDir home(kNobody, 0755);
    const std::string saver = home.path + "/digitmosaic";
    std::filesystem::copy_file(SaverBinary(), saver);
    ASSERT_TRUE(x.Up() && chown(saver.c_str(), kNobody, kNobody) == 0);
    home.Write(".xscreensaver",
               "mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\n"
               "timeout: 1:00:00\nprograms: \"Digit Mosaic\" " +
                   saver + " /s \\n\n");
    Child daemon(AsNobody({"HOME=" + home.path, "DISPLAY=" + x.Name(), "PATH=/usr/bin:/bin"},
                          {"xscreensaver", "-no-splash", "-verbose"}));
    static const std::regex forked("forked \"[^\"]*\" in pid ([0-9]+) on window");
    std::shared_ptr<void> ending(nullptr, [&](void*) {  // what it left behind, by the ids it logged
        const std::string log = daemon.Errors();
        for (std::sregex_iterator i(log.begin(), log.end(), forked), end; i != end; ++i)
            kill(std::stoi((*i)[1]), SIGKILL);
    });
    auto activated = Clock::now() + 10s;  // it answers once it has set up its windows
    while (x.Sh("xscreensaver-command -activate >/dev/null && echo yes", true) != "yes\n")
        ASSERT_LT(Clock::now(), activated) << daemon.Errors();
    activated = Clock::now();
    std::smatch launch;
    std::string log;
    while (std::this_thread::sleep_for(20ms),
           !std::regex_search(log = daemon.Errors(), launch, forked))
        ASSERT_LT(Clock::now(), activated + 5s) << "no saver started: " << log;
    const pid_t pid = std::stoi(launch[1]);
    EXPECT_TRUE(Shows(x, kScreen, 3s)) << log;
    EXPECT_EQ(SaverWindows(x).size(), 0U) << "a window of its own, not XScreenSaver's";
    std::this_thread::sleep_until(activated + 65s);
    ASSERT_EQ(kill(pid, 0), 0) << "the saver ended by itself: " << daemon.Errors();
    EXPECT_TRUE(Shows(x, kScreen, 500ms)) << "no picture past the watchdog's raise";
    x.Sh("xdotool key a");
    for (const auto end = Clock::now() + 2s; !kill(pid, 0) && Clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    EXPECT_NE(kill(pid, 0), 0) << "a key did not end it: " << daemon.Errors();
}

// MATE's screen saver, as an unprivileged user under dbus-run-session, its theme set to the saver's
// entry. It runs its entries' programs only from system folders: the installed tree (the install
// rules' output, or the unpacked package given in DIGITMOSAIC_INSTALLED) is laid over /usr in a
// private mount namespace, so the machine stays as it was.
TEST(InMateScreensaver, ActivationRunsTheInstalledSaverFullScreenAndDeactivationEndsIt) {
    Server x;
    ASSERT_TRUE(x.Up());
    TempDir into(0, 0755), home(kNobody, 0755), runtime(kNobody);
    const char* given = std::getenv("DIGITMOSAIC_INSTALLED");
    if (!given || !*given)
        e2e::Run({DIGITMOSAIC_CMAKE, "--install", DIGITMOSAIC_BUILD_DIR, "--prefix", "/usr"},
                 {"DESTDIR=" + into.path});
    const std::string session = home.Write(
        "session.sh",
        "gsettings set org.mate.screensaver mode single &&\n"
        "gsettings set org.mate.screensaver themes \"['screensavers-digitmosaic']\" &&\n"
        "gsettings set org.mate.screensaver lock-enabled false &&\n"
        "echo \"$$ $DBUS_SESSION_BUS_ADDRESS\" > \"$HOME/bus.new\" &&\n"
        "mv \"$HOME/bus.new\" \"$HOME/bus\" && exec mate-screensaver --no-daemon --debug\n");
    std::string line = "mount -t overlay overlay -o lowerdir=\"$0/usr:/usr\" /usr && exec";
    for (const std::string& word :  // the accessibility bus stays off
         AsNobody({"HOME=" + home.path, "XDG_RUNTIME_DIR=" + runtime.path, "DISPLAY=" + x.Name(),
                   "PATH=/usr/bin:/bin", "NO_AT_BRIDGE=1", "GTK_A11Y=none"},
                  {"dbus-run-session", "--", "sh", session}))
        line += " '" + word + "'";
    Child mate({"unshare", "--mount", "--propagation", "private", "sh", "-c", line,
                given && *given ? given : into.path});
    pid_t pid = -1;
    std::string bus;
    const auto children = [&](const std::string& command, const char* after = "") {  // their ids
        return x.Sh(command + "$(pgrep -P " + std::to_string(pid) + ")" + after, true);
    };
    const auto command = [&](const std::string& option) {
        std::string status;
        e2e::Run(AsNobody({"DBUS_SESSION_BUS_ADDRESS=" + bus, "DISPLAY=" + x.Name()},
                          {"mate-screensaver-command", option}),
                 {}, 5s, &status);
        return status == "exit 0";
    };
    std::shared_ptr<void> ending(nullptr, [&](void*) {  // its savers, then it; the session follows
        if (pid > 0) children("kill " + std::to_string(pid) + " ");
    });
    for (const auto end = Clock::now() + 10s;
         !(std::ifstream(home.path + "/bus") >> pid >> bus) || !command("--query");)
        ASSERT_LT(Clock::now(), end) << "mate-screensaver does not answer: " << mate.Errors();
    ASSERT_TRUE(command("--activate")) << mate.Errors();
    std::string cmdline, saver("/usr/libexec/xscreensaver/digitmosaic\0/s\0", 41);
    for (const auto end = Clock::now() + 5s; cmdline != saver && Clock::now() < end;)
        cmdline = children("cat /proc/", "/cmdline");  // its one child's, once the saver
    ASSERT_EQ(cmdline, saver) << children("echo ") << mate.Errors();
    EXPECT_TRUE(Shows(x, kScreen, 3s)) << "no cells 3 s after activation: " << mate.Errors();
    EXPECT_TRUE(Shows(x, kScreen, 8s, true)) << "not full screen";
    ASSERT_TRUE(command("--deactivate")) << mate.Errors();
    for (const auto end = Clock::now() + 2s; Clock::now() < end && children("echo ") != "\n";)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(children("echo "), "\n") << "a saver runs after deactivation";
}

// Enables the dummy driver's output at exactly that place and size, with a mode made for it.
std::string Enable(const std::string& output, const Rect& a, bool primary = false) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "xrandr --newmode e2e-%dx%d %.2f %d %d %d %d %d %d %d %d 2>/dev/null; "
                  "xrandr --addmode %s e2e-%dx%d 2>/dev/null; "
                  "xrandr --output %s --mode e2e-%dx%d --pos %dx%d %s && ",
                  a.width, a.height, (a.width + 160) * (a.height + 30) * 60 / 1e6, a.width,
                  a.width + 48, a.width + 80, a.width + 160, a.height, a.height + 3, a.height + 8,
                  a.height + 30, output.c_str(), a.width, a.height, output.c_str(), a.width,
                  a.height, a.x, a.y, primary ? "--primary" : "");
    return line;
}

// Waits until the saver has a window exactly on each monitor, and no other, and cells on each.
void Covers(const Server& x, const std::vector<Rect>& monitors) {
    std::vector<Rect> windows;
    for (const auto end = Clock::now() + 1s; Clock::now() < end;)
        if (windows = SaverWindows(x);
            std::is_permutation(monitors.begin(), monitors.end(), windows.begin(), windows.end()))
            break;
    std::string text;
    for (const Rect& w : windows) text += ToString(w) + " ";
    EXPECT_EQ(windows.size(), monitors.size()) << "the saver's windows: " << text;
    for (const Rect& m : monitors)
        EXPECT_TRUE(Shows(x, m, 1s)) << "no cells on " << ToString(m) << " among " << text;
}

TEST(OnSeveralMonitors, EveryMonitorIsCoveredAndFollowedAsMonitorsComeChangeAndGo) {
    Server x(Server::kDummyXorg);
    ASSERT_TRUE(x.Up());
    const Rect primary{0, 0, 1280, 720}, second{1280, 0, 1024, 768}, third{0, 720, 800, 600};
    // Monitors listed once, as desktops do: else this server's later resizes reach no client.
    x.Sh(Enable("DUMMY0", primary, true) + Enable("DUMMY1", second) + "xrandr --listmonitors");
    auto saver = x.Start({"/s"});
    Covers(x, {primary, second});
    EXPECT_EQ(x.Sh("xdotool getmouselocation").substr(0, 13), "x:1279 y:719 ") << "not parked";
    x.Sh(Enable("DUMMY2", third) + "true");
    Covers(x, {primary, second, third});
    Rect area = second;  // grows along one axis, then the other
    for (const Rect to : {Rect{1280, 0, 1280, 768}, Rect{1280, 0, 1280, 1024}}) {
        ResizedKeepsAndFills(x, area, to, Enable("DUMMY1", to) + "true");
        Covers(x, {primary, area = to, third});
    }
    x.Sh("xrandr --output DUMMY2 --off");
    Covers(x, {primary, area});
    EXPECT_EQ(saver->Wait(0ms), "running") << saver->Errors();
}

// Headless sway with two outputs: each is covered, over the desktop, and a key typed with wtype
// (after giving the saver time to bind the virtual keyboard it adds) ends the saver silently.
TEST(OnWayland, EveryOutputShowsThePictureFullScreenAndAKeyEndsTheSaverSilently) {
    const std::vector<Rect> outputs{kScreen, {960, 0, 640, 480}};
    Server sway(Server::kSway, {}, outputs);
    ASSERT_TRUE(sway.Up());
    const Image desktop[] = {sway.Shot(outputs[0]), sway.Shot(outputs[1])};
    auto saver = sway.Start({"/s"});
    for (int i : {0, 1})
        EXPECT_TRUE(Shows(sway, outputs[i], 8s, true, desktop[i])) << i << saver->Errors();
    sway.Sh("wtype -s 300 a");
    EXPECT_EQ(saver->Wait(2s), "exit 0");
    EXPECT_EQ(saver->Errors(), "");
}

}  // namespace
