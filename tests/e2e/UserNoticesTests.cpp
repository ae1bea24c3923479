// What a user at the screen would notice, end to end on Xvfb: where the keys go, what stays above
// the saver, the pointer's arrow, the pace and one saver per user.
#include "Harness.h"  // before Xlib, whose macros its own headers cannot take

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>

namespace {

using namespace e2e;

// Keys already held or typed while the saver runs reach no other program: with no window manager
// to hand the focus on, a window of the test's own has it and listens for keys. The saver holds the
// keyboard (another client's grab fails), hides the pointer's arrow (the server's cursor image is
// wholly transparent), paints one row a refresh (far below a whole core), and Shift held down from
// before it started does not keep a key from ending it.
TEST(WithoutAWindowManager, KeysReachOnlyTheSaverThatHidesThePointerAndPaintsPaced) {
    Server x;
    ASSERT_TRUE(x.Up());
    _XDisplay* other = XOpenDisplay(x.Name().c_str());  // the program behind the saver
    ASSERT_NE(other, nullptr);
    std::shared_ptr<_XDisplay> closing(other, XCloseDisplay);
    const Window behind =
        XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 960, 540, 0, 0, 0x404040);
    XSelectInput(other, behind, KeyPressMask), XMapWindow(other, behind), XSync(other, False);
    XSetInputFocus(other, behind, RevertToParent, CurrentTime), XSync(other, False);
    x.Sh("xdotool keydown shift");
    auto saver = x.Start({"/s"});
    ASSERT_TRUE(Shows(x, kScreen, 8s)) << saver->Errors();
    for (XEvent event; XPending(other) > 0;) XNextEvent(other, &event);  // Shift, before the saver

    int base = 0, error = 0;
    ASSERT_TRUE(XFixesQueryExtension(other, &base, &error));
    const std::shared_ptr<XFixesCursorImage> cursor(XFixesGetCursorImage(other), XFree);
    ASSERT_TRUE(cursor);
    EXPECT_EQ(std::count_if(cursor->pixels, cursor->pixels + cursor->width * cursor->height,
                            [](unsigned long argb) { return (argb >> 24) != 0; }),
              0);
    EXPECT_EQ(XGrabKeyboard(other, behind, False, GrabModeAsync, GrabModeAsync, CurrentTime),
              AlreadyGrabbed);
    const std::string used = "awk '{print $14 + $15}' /proc/" + std::to_string(saver->Pid()) +
                             "/stat";  // clock ticks of processor time, user and system
    const long before = std::stol(x.Sh(used));
    std::this_thread::sleep_for(2s);
    const long ticks = std::stol(x.Sh(used)) - before, core = 2 * sysconf(_SC_CLK_TCK);
    EXPECT_LT(ticks, core / 4) << "painting unpaced: " << ticks << " ticks of " << core;

    x.Sh("xdotool key a keyup shift");
    EXPECT_EQ(saver->Wait(2s), "exit 0") << "a key with Shift held from before";
    int reached = 0;
    for (XEvent event; XSync(other, False), XPending(other) > 0; reached += event.type == KeyPress)
        XNextEvent(other, &event);
    EXPECT_EQ(reached, 0) << "keys reached the program behind the saver";
}

// Under Openbox, a dock across the top and a window kept above the others (both reserving the
// top rows) are covered too; the
// about window is on screen, its frame mapped by the manager, before its bell rings.
TEST(UnderAWindowManager, DocksAndWindowsKeptAboveAreCoveredAndTheAboutWindowShowsBeforeItsBell) {
    Server x;
    ASSERT_TRUE(x.Up());
    const Rect dock{0, 0, 960, 40}, above{600, 300, 200, 150};
    for (const auto& [area, property, value] :
         {std::tuple(dock, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK"),
          std::tuple(above, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE")}) {
        const std::string set = "xprop -id " + std::to_string(x.Map(area, 0x808080)) + " -f ";
        x.Sh(set + property + " 32a -set " + property + " " + value + "; " + set +
             "_NET_WM_STRUT_PARTIAL 32c -set _NET_WM_STRUT_PARTIAL 0,0,40,0,0,0,0,0,0,959,0,0");
    }
    Child manager({"openbox"}, {"DISPLAY=" + x.Name()});  // takes on the windows as they are
    x.Sh("until xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window; do sleep 0.1; done");
    std::this_thread::sleep_for(500ms);
    auto saver = x.Start({"/s"});
    EXPECT_TRUE(Shows(x, dock, 8s)) << "the dock stays above the saver";
    EXPECT_TRUE(Shows(x, above, 8s)) << "the window kept above stays above the saver";
    x.Sh("xdotool key a");
    EXPECT_EQ(saver->Wait(2s), "exit 0");
    x.MapsAndBells();  // the about window's frame is mapped before the bell rings
    auto about = x.Start({"/c"});
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(x.MapsAndBells(), " map bell") << about->Errors();
}

// A display of the test's own on a local TCP port that passes one client's requests on to the
// server's socket, holding back the first write that takes a selection's ownership until released.
class HoldingProxy {
  public:
    explicit HoldingProxy(const std::string& server) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET, at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (number_ = 100; number_ < 200; ++number_)  // display numbers, 6000 onwards
            if (at.sin_port = htons(std::uint16_t(6000 + number_));
                bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
                break;
        if (number_ == 200 || listen(listener_, 1) != 0) ADD_FAILURE() << "no port for a proxy";
        thread_ = std::thread([this, path = "/tmp/.X11-unix/X" + server.substr(1)] { Pass(path); });
    }
    ~HoldingProxy() {
        stop_ = true, thread_.join();
        close(listener_);
    }
    std::string Name() const { return "localhost:" + std::to_string(number_); }
    bool Held() const { return held_; }
    void Release() { released_ = true; }

  private:
    void Pass(const std::string& path) {
        pollfd waiting{listener_, POLLIN, 0};
        while (!stop_ && poll(&waiting, 1, 50) <= 0) {
        }
        if (stop_) return;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un to{};
        to.sun_family = AF_UNIX;
        path.copy(to.sun_path, sizeof to.sun_path - 1);
        if (connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) stop_ = true;
        // The client's requests come in whole writes; the one that takes the selection starts a
        // write of its own, after the reply that found the selection free.
        for (pollfd both[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}}; !stop_;) {
            if (poll(both, 2, 50) <= 0) continue;
            char buffer[65536];
            for (int from : {0, 1}) {
                if (!both[from].revents) continue;
                const ssize_t got = read(both[from].fd, buffer, sizeof buffer);
                if (from == 0 && got > 0 && buffer[0] == 22 && !held_)  // SetSelectionOwner
                    for (held_ = true; !released_ && !stop_;) std::this_thread::sleep_for(5ms);
                if (got <= 0 || write(both[1 - from].fd, buffer, std::size_t(got)) != got)
                    stop_ = true;
            }
        }
        close(client), close(server);
    }

    int listener_ = -1, number_ = 0;
    std::atomic<bool> stop_ = false, held_ = false, released_ = false;
    std::thread thread_;
};

// One saver per user and server: one that is about to take the lock when another starts (its
// request to take it held back) is the one that runs, and the other ends at once. Another user's
// saver on the same display runs beside the first (both in the root window).
TEST(OnOneDisplay, ASaverTakingTheLockKeepsOthersOutButNotAnotherUsers) {
    Server x;
    ASSERT_TRUE(x.Up());
    {
        HoldingProxy proxy(x.Name());
        auto taking = x.Start({"/s"}, {"DISPLAY=" + proxy.Name()});
        for (const auto end = Clock::now() + 5s; !proxy.Held(); std::this_thread::sleep_for(5ms))
            ASSERT_LT(Clock::now(), end) << taking->Errors();
        auto later = x.Start({"/s"});
        std::this_thread::sleep_for(1s);
        proxy.Release();
        EXPECT_EQ(later->Wait(3s), "exit 0") << "two savers run";
        EXPECT_EQ(taking->Wait(0ms), "running") << taking->Errors();
    }
    if (!UserNamespaces()) GTEST_SKIP() << "a saver as another user needs root or user namespaces";
    TempDir home(kHostUser, 0755), runtime(kHostUser);
    const std::string copy = home.path + "/digitmosaic";
    std::filesystem::copy_file(SaverBinary(), copy);
    ASSERT_EQ(chown(copy.c_str(), home.owner, home.group), 0);
    auto mine = x.Start({"/s", "-root"});
    ASSERT_TRUE(Shows(x, kScreen, 8s)) << mine->Errors();
    Child theirs(AsAnotherUser({"DISPLAY=" + x.Name(), "XDG_RUNTIME_DIR=" + runtime.path},
                               {copy, "/s", "-root"}));
    EXPECT_EQ(theirs.Wait(2s), "running") << "another user's saver kept out: " << theirs.Errors();
    EXPECT_EQ(mine->Wait(0ms), "running");
}

}  // namespace
