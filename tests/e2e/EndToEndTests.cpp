// The real binary on private servers, driven with xdotool (or wtype) and the test's own X
// connection and read back from screenshots: in its own windows on Xvfb (and, for what it touches
// on the machine, under strace), and in the hosts that run screen savers on Linux: in a host's
// window as the settings' previews and MATE pass one, on the root window, in XScreenSaver's daemon
// and MATE's screen saver, and on monitors that come, change and go.
#include <fcntl.h>
#include <sys/ptrace.h>

#include <regex>
#include <set>
#include <sstream>

#include "Harness.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;
const std::string kOwn = "--classname '^digitmosaic$'";  // the program's windows

// The one window of the saver or the about window on the server, once visible.
std::pair<unsigned long, Rect> WindowOf(const Server& server) {
    for (const auto end = Clock::now() + 5s; Clock::now() < end;)
        if (const auto found = server.Windows(kOwn); found.size() == 1) return found[0];
    ADD_FAILURE() << "not one window of the program's on " << server.Name();
    return {};
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(x_.Up()); }
    std::string Xdotool(const std::string& args) const { return x_.Sh("xdotool " + args); }
    Server x_;
};

// The first starts with standard input, output and error closed: they become /dev/null. The last
// runs at device pixel ratio 2 (the desktop's Xft.dpi of 192) under a window manager (Openbox), a
// window of the test's own active: the saver covers every device pixel with cells (each row of
// cells its own, not the first one repeated) and takes the keyboard. Wheel steps end nothing.
TEST_F(EndToEnd, SaverCoversTheScreenRedrawsAndEndsOnKeysWithModifiersClicksMovesOrItsWindowGoing) {
    for (const std::string ending : {"key shift+a", "click 1", "click 3", "mousemove 100 100",
                                     "close", "windowclose", "key ctrl+alt+z"}) {
        SCOPED_TRACE(ending);
        const bool scaled = ending == "key ctrl+alt+z";
        std::unique_ptr<Child> manager;
        if (scaled) {
            x_.Sh("echo 'Xft.dpi: 192' | xrdb -nocpp -merge");
            manager = std::make_unique<Child>(Strings{"openbox"}, Strings{"DISPLAY=" + x_.Name()});
            x_.Sh("until xdotool windowactivate --sync " + std::to_string(x_.Map({9, 9, 90, 90})) +
                  " 2>/dev/null; do sleep 0.1; done");  // once the manager runs
        }
        auto saver =
            x_.Start({"/s"}, {}, ending == "key shift+a" ? "exec <&- >&- 2>&-; exec" : "exec");
        ASSERT_TRUE(Shows(x_, kScreen, 8s, scaled)) << saver->Errors();
        const auto [window, area] = WindowOf(x_);
        if (scaled) {
            const Image shot = x_.Shot();
            std::set<std::vector<std::uint32_t>> lines;
            for (int y = 0; y < shot.height; ++y)
                lines.emplace(shot.pixels.begin() + y * shot.width,
                              shot.pixels.begin() + (y + 1) * shot.width);
            EXPECT_GT(lines.size(), 20U) << "the same lines over and over";
        }
        EXPECT_EQ(Xdotool("getmouselocation").substr(0, 12), "x:959 y:539 ") << "not parked";
        EXPECT_EQ(x_.Sh("grep -c libQt6 /proc/" + std::to_string(saver->Pid()) + "/maps", true),
                  "0\n")
            << "the toolkit's libraries mapped";
        if (ending == "key shift+a") {
            EXPECT_EQ(x_.Sh("cd /proc/" + std::to_string(saver->Pid()) + "/fd && readlink 0 1 2"),
                      "/dev/null\n/dev/null\n/dev/null\n");
            // Covered in part or wholly, or unmapped, then shown again, it shows its picture again
            // at once. Wholly covered or unmapped, it sleeps until an event comes: not a wake in
            // two seconds.
            EXPECT_LT(x_.LostUnderPopup({380, 170, 200, 200},
                                        [&] { EXPECT_TRUE(Painting(x_, kScreen)); }),
                      400);
            EXPECT_LT(x_.LostUnderPopup(
                          kScreen, [&] { EXPECT_LE(SleepsOver(saver->Pid(), 2s), 1) << "woken"; }),
                      400);
            Xdotool("windowunmap --sync " + std::to_string(window) + " sleep 0.3");
            EXPECT_LE(SleepsOver(saver->Pid(), 2s), 1) << "woken while unmapped";
            Xdotool("windowmap --sync " + std::to_string(window));
            EXPECT_TRUE(Painting(x_, kScreen)) << "shown again";
        }
        if (ending == "mousemove 100 100") {  // the first two moves do not end it, the third does
            Xdotool("mousemove 100 100 sleep 0.3 mousemove 300 200 click 4 click 5 sleep 0.3");
            EXPECT_EQ(saver->Wait(0ms), "running");
        }
        if (ending == "close")
            x_.Close(window);
        else
            Xdotool(ending == "windowclose" ? ending + " " + std::to_string(window) : ending);
        EXPECT_EQ(saver->Wait(1s), "exit 0");
    }
}

// The window appears, then the bell rings once; left alone past the watchdog's five seconds, it
// stays. The libraries' complaints (here about a broken font configuration) never reach stderr.
// With a wide font the desktop picks for every family, the whole notice shows: all its words, each
// line whole, the last ending above the label's bottom edge.
TEST_F(EndToEnd, AboutWindowBeepsOnceShowsItsWholeNoticeAndEndsOnOkReturnSpaceEscapeOrClosing) {
    x_.MapsAndBells();
    TempDir fonts;
    const std::string wide = fonts.Write(
        "fonts.conf",
        "<?xml version=\"1.0\"?><!DOCTYPE fontconfig SYSTEM \"fonts.dtd\"><fontconfig>"
        "<include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include><match target=\"pattern\">"
        "<edit name=\"family\" mode=\"prepend\" binding=\"strong\"><string>OCR A Std</string>"
        "</edit></match></fontconfig>");
    for (const std::string ending :
         {"click 1", "Return", "space", "Escape", "close", "windowclose"}) {
        SCOPED_TRACE(ending);
        auto about =
            x_.Start({"/c"}, {"FONTCONFIG_FILE=" + (ending == "click 1" ? wide : "/proc/version")});
        const auto [window, area] = WindowOf(x_);
        const std::string id = std::to_string(window);
        if (ending == "click 1") {
            EXPECT_EQ(std::pair(area.width, area.height), std::pair(214, 86));
            std::this_thread::sleep_for(500ms);  // time for the bell, and a second if one came
            EXPECT_EQ(x_.MapsAndBells(), " map bell");
            EXPECT_EQ(about->Wait(6s), "running") << about->Errors();
            const Rect label{8, 8, 201, 49};  // the notice's label, in twips 120, 120, 3015 by 735
            const Image shot = x_.Shot(label);
            const auto inked = [&](int left, int right, int top, int bottom) {  // darker than grey
                for (int y = top; y < bottom; ++y)
                    for (int i = left; i < right; ++i)
                        if ((shot.pixels[std::size_t(y * label.width + i)] & 0xFF) < 0x80)
                            return true;
                return false;
            };
            // Words: runs of inked columns more than half a line's height apart, line by line.
            int words = 0, lines = 0;
            for (int top = 0, y = 0; y <= label.height; ++y) {
                if (y < label.height && inked(0, label.width, y, y + 1)) continue;
                lines += y > top;
                for (int gap = 99, i = 0; y > top && i < label.width; ++i, ++gap)
                    if (inked(i, i + 1, top, y)) words += 2 * gap > y - top, gap = -1;
                top = y + 1;
            }
            EXPECT_EQ(words, 22) << lines << " lines";
            EXPECT_FALSE(inked(0, label.width, label.height - 1, label.height)) << "notice cut";
        }
        if (ending == "close")
            x_.Close(window);
        else
            Xdotool(ending == "click 1" ? "mousemove --window " + id + " 104 68 click 1"  // OK
                    : ending == "windowclose" ? "windowclose " + id
                                              : "windowfocus --sync " + id + " key " + ending);
        EXPECT_EQ(about->Wait(2s), "exit 0");
        EXPECT_EQ(about->Errors(), "");
    }
}

// Other arguments end silently without touching the display (nothing listens on :9999). A display
// without true colour, a bad host window variable or DISPLAY (cut), no display, an unusable
// authority file or cookie, and the display lost under a saver or an about window: one line of the
// program's own, status 1.
TEST_F(EndToEnd, OtherArgumentsEndSilentlyAndBadOrLostDisplaysGiveOneLineAndStatusOne) {
    for (const Strings& args : std::vector<Strings>{
             {"/p", "1234"}, {}, {"/s", "junk"}, {"/S"}, {"/C"}, {"/s "}, {"/c "}, {"/s:123"}}) {
        auto program = x_.Start(args, {"DISPLAY=:9999"});
        EXPECT_EQ(program->Wait(1s), "exit 0");
        EXPECT_EQ(program->Errors(), "") << testing::PrintToString(args);
    }
    Server eightBit(Server::kXvfb, {"-screen", "0", "320x240x8"});
    Refused(*eightBit.Start({"/s"}), "digitmosaic: the display cannot show colours");
    const std::string value(100000, '7');
    Refused(*x_.Start({"/s"}, {"XSCREENSAVER_WINDOW=" + value}),
            "digitmosaic: XSCREENSAVER_WINDOW is not a window id: \"" + value.substr(0, 40) +
                "\u2026\"\n");
    Refused(*x_.Start({"/s"}, {"DISPLAY=" + value}),
            "digitmosaic: cannot open a window: could not connect to display \"" +
                value.substr(0, 40) + "\u2026\": ");
    for (const char* display : {"DISPLAY=:9999", "WAYLAND_DISPLAY=w"})
        Refused(*x_.Start({"/s"}, {},
                          "unset DISPLAY XDG_RUNTIME_DIR; " + std::string(display) + " exec"),
                "digitmosaic: cannot open a window: ");
    // An authority file that never ends, and a cookie the server refuses: one line, at once, the
    // second naming the server's reason. The cookies are wildcard entries: any host, any display.
    const auto cookie = [](char fill) {
        return std::string("\xff\xff\0\0\0\0\0\x12MIT-MAGIC-COOKIE-1\0\x10", 28) +
               std::string(16, fill);
    };
    TempDir cookies;
    const std::string good = cookies.Write("good", cookie('g'));
    setenv("XAUTHORITY", good.c_str(), 1);  // for the test's own connection
    Server locked(Server::kXvfb, {"-auth", good});
    unsetenv("XAUTHORITY");
    for (const char* argument : {"/s", "/c"}) {
        Refused(*x_.Start({argument}, {"XAUTHORITY=/dev/zero"}),
                "digitmosaic: cannot open a window: XAUTHORITY is not a regular file");
        auto refused =
            locked.Start({argument}, {"XAUTHORITY=" + cookies.Write("bad", cookie('b'))});
        Refused(*refused, "digitmosaic: cannot open a window: could not connect to display");
        EXPECT_NE(refused->Errors().find(": Invalid MIT-MAGIC-COOKIE-1 key\n"), std::string::npos);
        Server lost;
        auto program = lost.Start({argument});
        EXPECT_NE(WindowOf(lost).first, 0U);
        lost.Kill();
        Refused(*program, "digitmosaic: lost the connection to the display\n");
    }
}

// Hostile limits (too few descriptors, each count from 8 to 24, too little address space or
// stack) give one line and status 1, or a saver or about window that a key ends, never a crash's
// signal nor the watchdog's line. A saver whose painting loop stops (its main thread alone stopped,
// as a reply that never comes would stop it) ends within seconds with one line, status 1; one
// stopped whole (SIGSTOP) for longer and continued runs on. Stopped while wholly covered (resting),
// it ends too once uncovered, its line given up on a standard error that is a full pipe nobody
// reads. Another client holding both grabs leaves no input to end the saver: one line, status 1;
// holding the keyboard alone, keys go to it and a click still ends the saver.
TEST_F(EndToEnd, NoLimitOrStoppedLoopLeavesAScreenThatIgnoresKeys) {
    Strings limits{"ulimit -v 90000; exec",       "ulimit -v 100000; exec",
                   "exec prlimit --as=103168000", "exec prlimit --as=103680000",
                   "exec prlimit --as=104704000", "exec prlimit --stack=16384",
                   "exec prlimit --stack=65536",  "exec prlimit --stack=98304"};
    for (int descriptors = 8; descriptors <= 24; ++descriptors)
        limits.push_back("ulimit -n " + std::to_string(descriptors) + "; exec");
    for (const std::string& limit : limits) {
        for (const std::string argument : {"/s", "/c"}) {
            if (argument == "/c" && limit.starts_with("ulimit -v")) continue;
            SCOPED_TRACE(argument + " " + limit);
            auto program = x_.Start({argument}, {}, limit);
            for (const auto end = Clock::now() + 4s;
                 Clock::now() < end && program->Wait(0ms) == "running";)
                if (const auto found = x_.Windows(kOwn); found.size() == 1) {
                    Xdotool(argument == "/s" ? "sleep 0.3 key a"
                                             : "windowfocus --sync " +
                                                   std::to_string(found[0].first) + " key Escape");
                    break;
                }
            if (program->Wait(3s) != "exit 0") Refused(*program, "digitmosaic: ");
            EXPECT_EQ(program->Errors().find("stopped responding"), std::string::npos);
        }
    }
    auto saver = x_.Start({"/s"});
    ASSERT_TRUE(Shows(x_, kScreen, 3s));
    kill(saver->Pid(), SIGSTOP);
    std::this_thread::sleep_for(7s);
    kill(saver->Pid(), SIGCONT);
    EXPECT_EQ(saver->Wait(2s), "running") << "stopped whole and continued: " << saver->Errors();
    const auto stop = [](Child& program) {  // its main thread alone
        int stopped = 0;
        return ptrace(PTRACE_SEIZE, program.Pid(), nullptr, nullptr) == 0 &&
               ptrace(PTRACE_INTERRUPT, program.Pid(), nullptr, nullptr) == 0 &&
               waitpid(program.Pid(), &stopped, __WALL) == program.Pid();
    };
    ASSERT_TRUE(stop(*saver));
    Xdotool("key a");  // nothing reads it now
    EXPECT_EQ(saver->Wait(8s), "exit 1");
    EXPECT_EQ(saver->Errors(), "digitmosaic: stopped responding; ending\n");

    int full[2];
    ASSERT_EQ(pipe2(full, O_NONBLOCK | O_CLOEXEC), 0);
    while (write(full[1], "0123456789abcdef", 16) > 0) {
    }
    fcntl(full[1], F_SETFL, 0);  // blocking again, as a stalled reader's pipe is
    auto covered = x_.Start({"/s"}, {}, "exec 2>&3 3>&-; exec", full[1]);
    close(full[1]);
    ASSERT_TRUE(Shows(x_, kScreen, 3s));
    const unsigned long cover = x_.Map(kScreen, 0x808080, 0, true);
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(stop(*covered));
    std::this_thread::sleep_for(1s);
    x_.Sh("xdotool windowunmap " + std::to_string(cover));
    EXPECT_EQ(covered->Wait(8s), "exit 1") << "stopped while covered, then uncovered";
    close(full[0]);

    ASSERT_TRUE(x_.Grab(true, true));
    Xdotool("mousemove 12 34");
    Refused(*x_.Start({"/s"}), "digitmosaic: another program holds the keyboard and the pointer\n");
    EXPECT_EQ(Xdotool("getmouselocation").substr(0, 10), "x:12 y:34 ") << "the pointer left parked";
    ASSERT_TRUE(x_.Grab(true, false));
    auto clicked = x_.Start({"/s"});
    ASSERT_TRUE(Shows(x_, kScreen, 3s));
    Xdotool("key a");
    EXPECT_EQ(clicked->Wait(3s), "running") << "the keyboard held elsewhere: " << clicked->Errors();
    Xdotool("click 1");
    EXPECT_EQ(clicked->Wait(2s), "exit 0");
}

// Twenty savers started at the same instant: cells within a second and after two seconds exactly
// one runs, every round, and a key ends it. Later starts, with either spelling of the display and
// as the about window, end at once and leave the running one's descriptors as they were.
TEST_F(EndToEnd, OfTwentySaversStartedAtOnceOneRunsAndLaterStartsEndAtOnce) {
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int gate[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        std::vector<std::unique_ptr<Child>> savers;
        for (int i = 0; i < 20; ++i)  // each waits at the gate, then becomes the saver
            savers.push_back(x_.Start({"/s"}, {}, "read go <&3; exec 3<&-; exec", gate[0]));
        std::this_thread::sleep_for(300ms);
        close(gate[0]), close(gate[1]);  // all twenty go
        EXPECT_TRUE(Shows(x_, kScreen, 1s));
        std::this_thread::sleep_for(2s);
        const auto runs = [](const auto& saver) { return saver->Wait(0ms) == "running"; };
        ASSERT_EQ(std::count_if(savers.begin(), savers.end(), runs), 1);
        Child* const running = std::find_if(savers.begin(), savers.end(), runs)->get();
        const fs::path fds = "/proc/" + std::to_string(running->Pid()) + "/fd";
        const auto before = std::distance(fs::directory_iterator(fds), {});
        for (int i = 0; round == 0 && i < 20; ++i)
            savers.push_back(
                x_.Start({i ? "/s" : "/c"}, {"DISPLAY=" + x_.Name() + (i % 2 ? ".0" : "")}));
        for (std::size_t i = 20; i < savers.size(); ++i) EXPECT_EQ(savers[i]->Wait(5s), "exit 0");
        EXPECT_EQ(std::distance(fs::directory_iterator(fds), {}), before) << "its descriptors";
        Xdotool("key a");
        for (const auto& saver : savers) EXPECT_EQ(saver->Wait(1s), "exit 0");
    }
}

// Under strace, with the session's services gone from the environment and a private, empty HOME
// and TMPDIR (or no HOME, where the toolkit would make its runtime directory in TMPDIR when the
// user has none in /run/user): the saver and the about window start no process (so run no other
// program), create or write no file (/dev/null aside), connect to nothing but the display (no
// session bus, no accessibility bridge); the folders stay empty. Calls are matched with their
// paths taken out, so that no folder's name can pass for one.
TEST_F(EndToEnd, ItWritesNothingStartsNothingAndConnectsOnlyToTheDisplay) {
    TempDir home, tmp, traces;
    const std::string display = "/tmp/.X11-unix/X" + x_.Name().substr(1) + "\"";
    for (const std::string& folders :
         Strings{"HOME=" + home.path + " TMPDIR=" + tmp.path, "TMPDIR=" + tmp.path}) {
        for (const std::string argument : {"/s", "/c"}) {
            SCOPED_TRACE(argument + " " + folders);
            auto program = x_.Start(
                {argument}, {},
                "exec env -i PATH=/usr/bin:/bin DISPLAY=" + x_.Name() + " " + folders +
                    " strace -f -qq -o " + traces.path + "/t -e 'trace=/^(exec|v?fork|clone|open|" +
                    "creat|mkdir|rename|(sym)?link|unlink|chmod|fchmodat|truncate|connect)'");
            const std::string window = std::to_string(WindowOf(x_).first);  // once shown
            Xdotool(argument == "/s" ? "key a"
                                     : "mousemove --window " + window + " 104 68 click 1");
            EXPECT_EQ(program->Wait(5s), "exit 0") << program->Errors();
            std::ifstream trace(traces.path + "/t");              // strace writes it anew each run
            for (std::string call; std::getline(trace, call);) {  // paths match nothing below
                const bool null = call.find("\"/dev/null\"") != call.npos,
                           server = call.find(display) != call.npos;
                call = std::regex_replace(call, std::regex("\"[^\"]*\""), "");
                const auto is = [&](const char* what) { return call.find(what) != call.npos; };
                EXPECT_FALSE(
                    ((is("clone") || is("fork(")) && !is("CLONE_THREAD")) ||
                    ((is("O_WRONLY") || is("O_RDWR") || is("creat")) && !null) ||
                    (!is(" = -1 ") && (is("mkdir") || is("rename") || is("link") || is("chmod") ||
                                       is("truncate") || (is("connect(") && !server))))
                    << call;
            }
            EXPECT_TRUE(fs::is_empty(home.path) && fs::is_empty(tmp.path));
        }
    }
}

std::string Hex(unsigned long window) {
    return (std::ostringstream() << "0x" << std::hex << window).str();
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
// windows as they were; SIGTERM ends it at once.
// - XScreenSaver's settings dialog runs its preview as "/s --window-id ID", XSCREENSAVER_WINDOW
//   naming the same window, an area inside the dialog. What is drawn there is fitted to it,
//   redrawn where a popup covered it, and follows a resize along one axis, then the other (its
//   colours are checked in ColourTests).
// - "-root" with no window named: the desktop's virtual root where one is marked, else the root
//   window itself, under the other windows.
// - One saver per window, however named (hexadecimal, decimal, the argument); each ends with its
//   window. A window that is gone, or a bad argument that wins over a good variable: one line,
//   status 1, and nothing drawn or mapped.
// The server shares no memory here, as one on another machine: the picture is kept on the server.
TEST(InHostWindow, PreviewRootAndOnePerWindowPaintOnlyTheirWindowFittedRedrawnAndEndAtSigterm) {
    Server x(Server::kXvfb, {"-extension", "MIT-SHM"});
    ASSERT_TRUE(x.Up());
    x.Sh("xdotool mousemove 940 530");
    Image untouched;
    std::size_t topLevels = 0;
    const auto from = [&] {
        topLevels = x.Windows("--maxdepth 1 ''").size(), untouched = x.Shot();
    };
    const auto leftAlone = [&](const Rect& a) {
        const Image now = a == kScreen ? Image{} : x.Shot();  // nothing is outside the screen
        int changed = 0;
        for (int y = 0; y < now.height; ++y)
            for (int i = 0; i < now.width; ++i)
                changed += (i < a.x || y < a.y || i >= a.x + a.width || y >= a.y + a.height) &&
                           untouched.pixels[y * now.width + i] != now.pixels[y * now.width + i];
        EXPECT_EQ(changed, 0) << "pixels outside " << ToString(a);
        EXPECT_EQ(x.Sh("xdotool getmouselocation").substr(0, 12), "x:940 y:530 ") << "pointer";
        EXPECT_EQ(x.Windows("--maxdepth 1 ''").size(), topLevels) << "a window was mapped";
    };
    const unsigned long dialog = x.Map({20, 20, 900, 500}, 0x808080),
                        preview = x.Map({20, 15, 695, 390}, 0, dialog);
    Rect area{40, 35, 695, 390};  // the preview on the screen
    from();
    auto saver =
        x.Start({"/s", "--window-id", Hex(preview)}, {"XSCREENSAVER_WINDOW=" + Hex(preview)});
    ASSERT_TRUE(Shows(x, area, 1s)) << "no cells within 1 s: " << saver->Errors();
    EXPECT_TRUE(Shows(x, area, 8s, true)) << "not fitted";
    leftAlone(area);
    EXPECT_LT(x.LostUnderPopup({100, 60, 100, 300}), 300) << "not redrawn after a popup";
    EXPECT_LT(x.LostUnderPopup(area), 300);
    for (const Rect to : {Rect{40, 35, 860, 390}, Rect{40, 35, 860, 470}})  // area follows
        ResizedKeepsAndFills(x, std::exchange(area, to), to,
                             "xdotool windowsize " + Hex(preview) + " " + std::to_string(to.width) +
                                 " " + std::to_string(to.height));
    kill(saver->Pid(), SIGTERM);
    EXPECT_EQ(saver->Wait(300ms), "signal 15") << "after SIGTERM";
    x.Sh("xdotool windowclose " + Hex(dialog));
    const Rect desktop{100, 80, 480, 300};
    const unsigned long root = x.Map(desktop, 0, 0, false, true);
    x.Map({700, 300, 200, 200}, 0x808080);
    from();
    saver = x.Start({"/s", "-root"});
    EXPECT_TRUE(Shows(x, desktop, 8s, true)) << saver->Errors();
    leftAlone(desktop);
    x.Sh("xdotool windowclose " + Hex(root));
    from();
    saver = x.Start({"/s", "--root"});
    EXPECT_TRUE(Shows(x, {0, 0, 960, 300}, 8s, true) && Shows(x, {0, 300, 700, 240}, 8s, true));
    leftAlone(kScreen);
    const Image above = x.Shot({700, 300, 200, 200});
    EXPECT_EQ(std::count(above.pixels.begin(), above.pixels.end(), 0x808080U), 40000) << "above";

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
}

// XScreenSaver's daemon, as an unprivileged user whose settings run the saver (copied where that
// user may run it). Its watchdog raises its own window about once a minute: the picture must still
// show after that.
TEST(InXScreenSaver, PictureShowsInItsWindowPastTheWatchdogAndAKeyEndsTheSaver) {
    Server x;
    TempDir home(kHostUser, 0755);
    const std::string saver = home.path + "/digitmosaic";
    std::filesystem::copy_file(SaverBinary(), saver);
    ASSERT_TRUE(x.Up() && chown(saver.c_str(), home.owner, home.group) == 0);
    home.Write(".xscreensaver",
               "mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\n"
               "timeout: 1:00:00\nprograms: \"Digit Mosaic\" " +
                   saver + " /s \\n\n");
    Child daemon(AsHostUser({"HOME=" + home.path, "DISPLAY=" + x.Name(), "PATH=/usr/bin:/bin"},
                            {"xscreensaver", "-no-splash", "-verbose"}));
    const std::string find = "pgrep -f '^" + saver + " /s'";  // the saver it ran, by its path
    pid_t pid = 0;  // the saver it ran, ended by its id with the test (signal 0 while not found)
    std::shared_ptr<void> ending(nullptr, [&](void*) { kill(pid, pid > 0 ? SIGKILL : 0); });
    auto activated = Clock::now() + 10s;  // it answers once it has set up its windows
    while (x.Sh("xscreensaver-command -activate >/dev/null && echo yes", true) != "yes\n")
        ASSERT_LT(Clock::now(), activated) << daemon.Errors();
    activated = Clock::now();
    while (std::this_thread::sleep_for(20ms), !(pid = std::atoi(x.Sh(find, true).c_str())))
        ASSERT_LT(Clock::now(), activated + 5s) << "no saver started: " << daemon.Errors();
    EXPECT_TRUE(Shows(x, kScreen, 3s)) << daemon.Errors();
    std::this_thread::sleep_until(activated + 65s);
    ASSERT_EQ(kill(pid, 0), 0) << "the saver ended by itself: " << daemon.Errors();
    EXPECT_TRUE(Shows(x, kScreen, 500ms)) << "no picture past the watchdog's raise";
    x.Sh("xdotool key a; timeout 2 tail --pid=" + std::to_string(pid) + " -f /dev/null", true);
    EXPECT_NE(kill(pid, 0), 0) << "a key did not end it: " << daemon.Errors();
}

// MATE's screen saver, as an unprivileged user under dbus-run-session, its theme set to the saver's
// entry. It runs its entries' programs only from system folders: the installed tree (the install
// rules' output, or the unpacked package given in DIGITMOSAIC_INSTALLED) is laid over /usr in a
// private mount namespace, so the machine stays as it was.
TEST(InMateScreensaver, ActivationRunsTheInstalledSaverFullScreenAndDeactivationEndsIt) {
    Server x;
    ASSERT_TRUE(x.Up());
    if (!UserNamespaces()) GTEST_SKIP() << "laying a tree over /usr needs root or user namespaces";
    TempDir into(geteuid(), 0755), home(kHostUser, 0755), runtime(kHostUser);
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
    Child mate(
        OverUsr(given && *given ? given : into.path,  // the accessibility bus stays off
                {"HOME=" + home.path, "XDG_RUNTIME_DIR=" + runtime.path, "DISPLAY=" + x.Name(),
                 "PATH=/usr/bin:/bin", "NO_AT_BRIDGE=1", "GTK_A11Y=none"},
                {"dbus-run-session", "--", "sh", session}));
    pid_t pid = -1;
    std::string bus;
    const auto children = [&](const std::string& command, const char* after = "") {  // their ids
        return x.Sh(command + "$(pgrep -P " + std::to_string(pid) + ")" + after, true);
    };
    const auto command = [&](const std::string& option) {
        std::string status;
        e2e::Run(AsHostUser({"DBUS_SESSION_BUS_ADDRESS=" + bus, "DISPLAY=" + x.Name()},
                            {"mate-screensaver-command", option}),
                 {}, 5s, &status);
        return status == "exit 0";
    };
    std::shared_ptr<void> ending(nullptr, [&](void*) {  // its savers, then it; the session follows
        if (pid > 0) children("kill " + std::to_string(pid) + " ");
        mate.Wait(5s);  // the session ends its bus: a signal to the session would leave it running
    });
    for (const auto end = Clock::now() + 10s;
         !(std::ifstream(home.path + "/bus") >> pid >> bus) || !command("--query");)
        ASSERT_LT(Clock::now(), end) << "mate-screensaver does not answer: " << mate.Errors();
    ASSERT_TRUE(command("--activate")) << mate.Errors();
    std::string cmdline, saver("/usr/libexec/xscreensaver/digitmosaic\0/s\0", 41);
    for (const auto end = Clock::now() + 5s; cmdline != saver && Clock::now() < end;)
        cmdline = children("cat /proc/", "/cmdline");  // its one child's, once the saver
    ASSERT_EQ(cmdline, saver) << children("echo ") << mate.Errors();
    EXPECT_TRUE(Shows(x, kScreen, 8s, true)) << "not full screen: " << mate.Errors();
    ASSERT_TRUE(command("--deactivate")) << mate.Errors();
    for (const auto end = Clock::now() + 2s; Clock::now() < end && cmdline != "\n";)
        cmdline = children("echo ");  // the ids of its children: none once it ends the saver
    EXPECT_EQ(cmdline, "\n") << "a saver runs after deactivation";
}

// Enables the dummy driver's output at exactly that place and size, with a mode made for it.
std::string Enable(const std::string& output, const Rect& a, bool primary = false) {
    const std::string mode = ToString(a);
    return "xrandr --newmode " + mode + " $(gtf " + std::to_string(a.width) + " " +
           std::to_string(a.height) + " 60 | sed -n 's/.*Modeline \"[^\"]*\"//p') 2>/dev/null; " +
           "xrandr --addmode " + output + " " + mode + " 2>/dev/null; xrandr --output " + output +
           " --mode " + mode + " --pos " + std::to_string(a.x) + "x" + std::to_string(a.y) +
           (primary ? " --primary" : "") + " && ";
}

// Waits until the saver has a window exactly on each monitor, and no other, and cells on each.
void Covers(const Server& x, const std::vector<Rect>& monitors) {
    std::vector<Rect> windows;
    const auto fit = [&] { return std::ranges::is_permutation(monitors, windows); };
    for (const auto end = Clock::now() + 1s; Clock::now() < end && !fit();)
        for (windows.clear(); const auto& [id, area] : x.Windows(kOwn)) windows.push_back(area);
    EXPECT_TRUE(fit()) << "the saver has " << windows.size() << " windows";
    for (const Rect& m : monitors) EXPECT_TRUE(Shows(x, m, 1s)) << "no cells on " << ToString(m);
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
}

}  // namespace
