// The real binary on sway with two outputs, driven with wtype, a virtual pointer and swaymsg, and
// read back from screenshots and sway's tree: every output covered at every start, outputs that
// come, change and go while it paints, what ends it and what does not, its sleep while hidden, and
// an X display beside the compositor left alone.
#include <sys/socket.h>
#include <sys/un.h>

#include <regex>

#include "Harness.h"

namespace {

using namespace e2e;

const std::vector<Rect> kOutputs{kScreen, {960, 0, 640, 480}};

std::string Swaymsg(const Server& sway, const std::string& arguments) {
    return sway.Sh("SWAYSOCK=$(echo ${WAYLAND_DISPLAY%/*}/sway-ipc.*) swaymsg " + arguments);
}

// The outputs that hold a window of the saver's, in sway's order ("HEADLESS-1 HEADLESS-2"), once
// they are the ones expected or two seconds have passed.
std::string OutputsWithSaver(const Server& sway, const std::string& expected) {
    static const std::regex kNode(
        "\"name\": \"((HEADLESS|X11)-[0-9]+)\"|\"app_id\": \"digitmosaic\"");
    std::string found;
    for (const auto end = Clock::now() + 2s; found != expected && Clock::now() < end;) {
        const std::string tree = Swaymsg(sway, "-t get_tree");
        std::string output;
        found.clear();
        for (std::sregex_iterator at(tree.begin(), tree.end(), kNode), last; at != last; ++at)
            if ((*at)[1].matched)
                output = (*at)[1];
            else
                found += (found.empty() ? "" : " ") + output;
    }
    return found;
}

class OnWayland : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sway_.Up());
        for (const Rect& output : kOutputs) desktop_.push_back(sway_.Shot(output));
    }
    // The steps of a virtual pointer that comes for them and goes after.
    void Pointer(const std::string& steps) const {
        sway_.Sh(std::string(DIGITMOSAIC_VIRTUAL_POINTER) + " " + steps);
    }
    // Every pixel of every output has shown something other than the desktop, and cells.
    void CoversEveryOutput(const Child& saver, const std::string& when) const {
        for (std::size_t i = 0; i < kOutputs.size(); ++i)
            EXPECT_TRUE(Shows(sway_, kOutputs[i], 8s, true, desktop_[i]))
                << when << ": output " << i << " not covered. " << saver.Errors();
    }
    // The saver ended with status 0 and said nothing, and the desktop is back.
    void EndedSilently(Child& saver, const std::string& when) const {
        EXPECT_EQ(saver.Wait(3s), "exit 0") << when;
        EXPECT_EQ(saver.Out() + saver.Errors(), "") << when;
        bool back = false;
        for (const auto end = Clock::now() + 2s; !back && Clock::now() < end;)
            back = sway_.Shot(kOutputs[0]).pixels == desktop_[0].pixels &&
                   sway_.Shot(kOutputs[1]).pixels == desktop_[1].pixels;
        EXPECT_TRUE(back) << when << ": the desktop is not back";
    }

    Server sway_{Server::kSway, {}, kOutputs};
    std::vector<Image> desktop_;
};

// Ten starts in a row, each over the desktop the last one left: every output is covered by a
// fullscreen window of its own, black and then cells, and the seat has no keyboard until wtype
// adds its virtual one with the first key already down: that key ends the saver, as its window
// closed through the compositor on either output does. A second saver started beside the first
// ends at once, and an X display named beside the compositor is left alone.
TEST_F(OnWayland, EveryStartCoversEveryOutputAndAKeyOrItsWindowClosedEndsIt) {
    Server x;
    ASSERT_TRUE(x.Up());
    for (int start = 1; start <= 10; ++start) {
        const std::string when = "start " + std::to_string(start);
        auto saver = sway_.Start({"/s"}, start == 1 ? Strings{"DISPLAY=" + x.Name()} : Strings{});
        CoversEveryOutput(*saver, when);
        EXPECT_EQ(OutputsWithSaver(sway_, "HEADLESS-1 HEADLESS-2"), "HEADLESS-1 HEADLESS-2")
            << when;
        if (start == 1) {
            auto second = sway_.Start({"/s"});
            EXPECT_EQ(second->Wait(3s), "exit 0");
            EXPECT_EQ(second->Out() + second->Errors(), "");
            EXPECT_EQ(OutputsWithSaver(sway_, "HEADLESS-1 HEADLESS-2"), "HEADLESS-1 HEADLESS-2");
            const Image onX = x.Shot();
            EXPECT_EQ(std::count(onX.pixels.begin(), onX.pixels.end(), 0U), onX.width * onX.height);
            EXPECT_TRUE(x.Windows("--name '.'").empty()) << "a window on the X display";
            EXPECT_EQ(
                sway_.Sh("grep -c libQt6 /proc/" + std::to_string(saver->Pid()) + "/maps", true),
                "0\n")
                << "the toolkit's libraries mapped";
        }
        if (start <= 2)
            Swaymsg(sway_, "'focus output HEADLESS-" + std::to_string(start) + ", kill'");
        else
            sway_.Sh(start % 2 ? "wtype a" : "wtype -M ctrl -M shift x");
        EndedSilently(*saver, when);
    }
}

// A click of any button ends it, a motion ends it only the third time (the pointer's coming onto a
// window is none), and wheel steps end nothing.
TEST_F(OnWayland, AClickOrTheThirdMotionEndsItAndTheWheelOrTwoMotionsDoNot) {
    for (const auto& [harmless, ending] : std::vector<std::pair<std::string, std::string>>{
             {"move 5 5", "click left"},
             {"move 5 5 wheel 3 wheel -2", "click right"},
             {"wheel 1", "click middle"},
             {"", "click side"},
             {"move 5 5 sleep 100 move -5 -5", "move 5 5"}}) {
        auto saver = sway_.Start({"/s"});
        EXPECT_TRUE(Shows(sway_, kOutputs[0], 8s)) << ending << ": " << saver->Errors();
        if (!harmless.empty()) Pointer(harmless);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(saver->Wait(0ms), "running") << "ended by " << harmless;
        Pointer(ending);
        EndedSilently(*saver, ending);
    }
}

// Headless sway cannot power its outputs off; other workspaces shown on them hide the saver the
// same way, and the compositor stops its frame callbacks. It sleeps without a wake, longer than the
// watchdog's patience, and paints again when shown. An output given a larger mode keeps its
// picture where it was and is covered whole. The compositor going away ends it with one line.
TEST_F(OnWayland, HiddenItSleepsShownOrResizedItPaintsAndTheCompositorGoingEndsIt) {
    auto saver = sway_.Start({"/s"});
    CoversEveryOutput(*saver, "at start");
    Swaymsg(sway_, "'focus output HEADLESS-1, workspace 8, focus output HEADLESS-2, workspace 9'");
    std::this_thread::sleep_for(1500ms);  // the last frame's news, and the watchdog's last wake
    EXPECT_LE(SleepsOver(saver->Pid(), 2s), 1) << "woken while hidden";
    std::this_thread::sleep_for(4s);
    Swaymsg(sway_, "'workspace 1, workspace 2'");
    for (const Rect& output : kOutputs) EXPECT_TRUE(Painting(sway_, output)) << saver->Errors();
    const Image before = sway_.Shot(kOutputs[1]);
    Swaymsg(sway_, "output HEADLESS-2 resolution 800x600");
    EXPECT_EQ(Lost(before, sway_.Shot(kOutputs[1])), 0) << "the picture was lost";
    EXPECT_TRUE(Shows(sway_, {960, 0, 800, 600}, 8s, true)) << saver->Errors();
    sway_.Kill();
    Refused(*saver, "digitmosaic: lost the connection to the display");
}

// A Wayland socket with no compositor behind it (one that hangs up at once) is refused with one
// line and status 1, before anything is shown.
TEST(OnWaylandSocket, ASocketWithNoCompositorBehindItIsRefusedWithOneLine) {
    TempDir dir;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    (dir.path + "/wayland-9").copy(address.sun_path, sizeof address.sun_path - 1);
    const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 4), 0);
    std::thread hangingUp([listening] {
        for (int connection; (connection = accept(listening, nullptr, nullptr)) >= 0;)
            close(connection);
    });
    Child saver({SaverBinary(), "/s"},
                {"-u", "DISPLAY", "XDG_RUNTIME_DIR=" + dir.path, "WAYLAND_DISPLAY=wayland-9"});
    Refused(saver, "digitmosaic: cannot open a window: no Wayland compositor answers at wayland-9");
    shutdown(listening, SHUT_RDWR);
    hangingUp.join();
    close(listening);
}

// Sway's outputs as windows on an X server, which sway 1.7 can add and remove (a headless output
// cannot be disabled): one created while the saver paints is covered too, one unplugged loses its
// window while the others paint on, and another created after is covered again.
TEST(OnWaylandOutputs, OutputsThatComeAndGoWhileItPaintsAreFollowed) {
    Server sway(Server::kSwayOnX, {}, kOutputs);
    ASSERT_TRUE(sway.Up());
    auto saver = sway.Start({"/s"});
    for (const Rect& output : kOutputs) EXPECT_TRUE(Shows(sway, output, 8s)) << saver->Errors();
    EXPECT_EQ(OutputsWithSaver(sway, "X11-1 X11-2"), "X11-1 X11-2");

    Swaymsg(sway, "create_output");
    Swaymsg(sway, "output X11-3 mode 640x480 position 1600 0");
    EXPECT_TRUE(Shows(sway, {1600, 0, 640, 480}, 8s)) << "a new output is not covered";
    EXPECT_EQ(OutputsWithSaver(sway, "X11-1 X11-2 X11-3"), "X11-1 X11-2 X11-3");

    sway.Unplug("X11-2");
    EXPECT_EQ(OutputsWithSaver(sway, "X11-1 X11-3"), "X11-1 X11-3")
        << "the window of an output unplugged stays";
    EXPECT_TRUE(Painting(sway, kOutputs[0])) << "not painting on after an output went";

    Swaymsg(sway, "create_output");
    Swaymsg(sway, "output X11-4 mode 640x480 position 960 0");
    EXPECT_EQ(OutputsWithSaver(sway, "X11-1 X11-3 X11-4"), "X11-1 X11-3 X11-4");
    EXPECT_TRUE(Shows(sway, kOutputs[1], 8s)) << "an output plugged in again is not covered";
    EXPECT_EQ(saver->Wait(0ms) + saver->Out() + saver->Errors(), "running");
}

}  // namespace
