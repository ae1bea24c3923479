// The real binary in its own windows on a private Xvfb, driven with xdotool and the test's own X
// connection, read back from screenshots and, for what it touches on the machine, from strace.
#include <fcntl.h>
#include <sys/ptrace.h>

#include <sstream>

#include "Harness.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

// The one window of the saver or the about window on the server, once visible.
std::pair<unsigned long, Rect> WindowOf(const Server& server) {
    for (const auto end = Clock::now() + 5s; Clock::now() < end;)
        if (const auto found = server.Windows("--classname '^digitmosaic$'"); found.size() == 1)
            return found[0];
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
// window of the test's own active: the saver covers every device pixel and takes the keyboard.
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
        const auto start = Clock::now();
        auto saver =
            x_.Start({"/s"}, {}, ending == "key shift+a" ? "exec <&- >&- 2>&-; exec" : "exec");
        ASSERT_TRUE(Shows(x_, kScreen, 3s, scaled)) << saver->Errors();
        const auto [window, area] = WindowOf(x_);
        // At ratio 2 the toolkit moves it by logical pixels: the last spans (958, 538) to the
        // corner.
        const std::string at = Xdotool("getmouselocation").substr(0, 12);
        EXPECT_TRUE(at == "x:959 y:539 " || (scaled && at == "x:958 y:538 ")) << at;
        if (ending == "key shift+a") {
            EXPECT_LT(Clock::now() - start, 1s) << "no cells within a second";
            EXPECT_EQ(area, kScreen);
            for (const char* fd : {"0", "1", "2"})
                EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(saver->Pid()) + "/fd/" + fd),
                          "/dev/null");
            // Covered in part or wholly, then uncovered, it shows its picture again at once. (What
            // it costs while covered the benchmarks measure.)
            EXPECT_LT(x_.LostUnderPopup({380, 170, 200, 200}), 400) << "not redrawn after a popup";
            EXPECT_LT(x_.LostUnderPopup(kScreen), 400);
            const Image now = x_.Shot();
            std::this_thread::sleep_for(300ms);
            EXPECT_NE(x_.Shot().pixels, now.pixels) << "painting did not go on";
        }
        if (ending == "mousemove 100 100") {  // the first two moves do not end it, the third does
            Xdotool("mousemove 100 100 sleep 0.3 mousemove 300 200 sleep 0.3");
            EXPECT_EQ(saver->Wait(0ms), "running");
        }
        if (ending == "close")
            x_.Close(window);
        else
            Xdotool(ending == "windowclose" ? ending + " " + std::to_string(window) : ending);
        EXPECT_EQ(saver->Wait(1s), "exit 0");
    }
}

// The window appears, then the bell rings once; a click on the notice does nothing; covered and
// uncovered, it shows again. The libraries' complaints (here about a broken font configuration)
// never reach stderr. Afterwards nothing keeps a saver away.
TEST_F(EndToEnd, AboutWindowBeepsOnceRedrawsAndEndsOnOkReturnSpaceEscapeCloseOrDestruction) {
    x_.MapsAndBells();
    for (const std::string ending :
         {"click 1", "Return", "space", "Escape", "close", "windowclose"}) {
        SCOPED_TRACE(ending);
        auto about = x_.Start({"/c"}, {"FONTCONFIG_FILE=/proc/version"});
        const auto [window, area] = WindowOf(x_);
        const std::string id = std::to_string(window);
        if (ending == "click 1") {
            EXPECT_EQ(std::pair(area.width, area.height), std::pair(214, 86));
            for (auto end = Clock::now() + 2s; x_.MapsAndBells() == " map" && Clock::now() < end;)
                std::this_thread::sleep_for(20ms);
            std::this_thread::sleep_for(200ms);  // time for a second bell, if one came
            EXPECT_EQ(x_.MapsAndBells(), " map bell");
            Xdotool("mousemove --window " + id + " 20 20 click 1");  // on the notice: nothing
            EXPECT_EQ(about->Wait(300ms), "running");
            EXPECT_EQ(x_.LostUnderPopup(area), 0) << "not redrawn after a popup";
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
    EXPECT_EQ(x_.Start({"/s"})->Wait(300ms), "running");
}

// Other arguments end silently without touching the display (nothing listens on :9999). A display
// without true colour, a bad host window variable (cut to its first 40 characters), no display, and
// the display lost under a saver or an about window: one line of the program's own, status 1.
TEST_F(EndToEnd, OtherArgumentsEndSilentlyAndBadOrLostDisplaysGiveOneLineAndStatusOne) {
    for (const Strings& args : {Strings{"/p", "1234"}, Strings{}, Strings{"/s", "junk"}}) {
        auto program = x_.Start(args, {"DISPLAY=:9999"});
        EXPECT_EQ(program->Wait(1s) + program->Errors(), "exit 0") << args.size();
    }
    Server eightBit(Server::kXvfb, {"-screen", "0", "320x240x8"});
    Refused(*eightBit.Start({"/s"}), "digitmosaic: the display cannot show colours");
    const std::string value(100000, '7');
    Refused(*x_.Start({"/s"}, {"XSCREENSAVER_WINDOW=" + value}),
            "digitmosaic: XSCREENSAVER_WINDOW is not a window id: \"" + value.substr(0, 40) +
                "\u2026\"\n");
    for (const char* display : {"DISPLAY=:9999", "WAYLAND_DISPLAY=w"})
        Refused(*x_.Start({"/s"}, {},
                          std::string("unset DISPLAY XDG_RUNTIME_DIR; ") + display + " exec"),
                "digitmosaic: cannot open a window: ");
    for (const char* argument : {"/s", "/c"}) {
        Server lost;
        auto program = lost.Start({argument});
        EXPECT_NE(WindowOf(lost).first, 0U);
        lost.Kill();
        Refused(*program, "digitmosaic: lost the connection to the display\n");
    }
}

// Hostile limits (too few descriptors, too little address space) give one line and status 1, or a
// saver that a key ends, never by the watchdog. A saver whose painting loop stops (its main thread
// alone stopped, as a reply that never comes would stop it) ends within seconds with one line,
// status 1; one stopped whole (SIGSTOP) for longer and continued runs on.
TEST_F(EndToEnd, NoLimitOrStoppedLoopLeavesAScreenThatIgnoresKeys) {
    for (const char* limit :
         {"ulimit -n 8", "ulimit -n 12", "ulimit -v 90000", "ulimit -v 100000"}) {
        auto saver = x_.Start({"/s"}, {}, limit + std::string("; exec"));
        std::this_thread::sleep_for(1500ms);
        Xdotool("key a");
        const std::string status = saver->Wait(3s), errors = saver->Errors();
        if (status != "exit 0") Refused(*saver, "digitmosaic: ");
        EXPECT_EQ(errors.find("stopped responding"), errors.npos) << limit;
    }
    auto saver = x_.Start({"/s"});
    ASSERT_TRUE(Shows(x_, kScreen, 3s));
    kill(saver->Pid(), SIGSTOP);
    std::this_thread::sleep_for(7s);
    kill(saver->Pid(), SIGCONT);
    EXPECT_EQ(saver->Wait(2s), "running") << "stopped whole and continued: " << saver->Errors();
    int stopped = 0;
    ASSERT_TRUE(ptrace(PTRACE_SEIZE, saver->Pid(), nullptr, nullptr) == 0 &&
                ptrace(PTRACE_INTERRUPT, saver->Pid(), nullptr, nullptr) == 0 &&
                waitpid(saver->Pid(), &stopped, __WALL) == saver->Pid());
    Xdotool("key a");  // nothing reads it now
    EXPECT_EQ(saver->Wait(8s) + saver->Errors(), "exit 1digitmosaic: stopped responding; ending\n");
}

// Twenty savers started at the same instant: cells within a second and after two seconds exactly
// one runs, every round, and a key ends it. Later starts, with either spelling of the display and
// as the about window, end at once and leave the running one's descriptors as they were; a saver
// runs on another display beside it; one killed leaves nothing that keeps the next away.
TEST_F(EndToEnd, OfTwentySaversStartedAtOnceOneRunsAndLaterStartsEndAtOnce) {
    Server other;
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
        EXPECT_TRUE(round || (other.Start({"/s"}) && Shows(other, kScreen, 3s))) << "beside";
        if (round == 1) {
            kill(running->Pid(), SIGKILL);
            savers.push_back(x_.Start({"/s"}));
            EXPECT_EQ(savers.back()->Wait(1s), "running") << "after one was killed";
        }
        Xdotool("key a");
        for (const auto& saver : savers)
            EXPECT_EQ(saver->Wait(1s),
                      round == 1 && saver.get() == running ? "signal 9" : "exit 0");
    }
}

// Under strace, with the session's services gone from the environment and a private, empty HOME
// and TMPDIR (or no HOME, where the toolkit would make its runtime directory in TMPDIR when the
// user has none in /run/user): the saver and the about window
// execute no program, start no process, create or write no file (/dev/null aside), connect to
// nothing but the display; the folders stay empty. The saver starts two threads: the display's
// reader and the watchdog; no session bus, no accessibility bridge.
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
                    " strace -f -qq -o " + traces.path +
                    "/t -e trace=execve,execveat,fork,vfork,clone,clone3,open,openat,creat,mkdir,"
                    "mkdirat,rename,renameat,renameat2,link,linkat,symlink,symlinkat,unlink,"
                    "unlinkat,chmod,fchmodat,truncate,connect");
            Xdotool(argument == "/s" ? "key a"
                                     : "mousemove --window " + std::to_string(WindowOf(x_).first) +
                                           " 104 68 click 1");
            EXPECT_EQ(program->Wait(5s), "exit 0") << program->Errors();
            std::istringstream trace(
                e2e::Run({"sh", "-c", "cd \"$0\" && cat t && rm t", traces.path}));
            int programs = 0, threads = 0;
            for (std::string call; std::getline(trace, call);) {
                const auto is = [&](const char* what) { return call.find(what) != call.npos; };
                const bool failed = is(" = -1 ");
                programs += is("execve");
                threads += is("CLONE_THREAD") && !failed;
                EXPECT_FALSE(
                    ((is("clone") || is("fork(")) && !is("CLONE_THREAD")) ||
                    ((is("O_WRONLY") || is("O_RDWR") || is("creat")) && !is("\"/dev/null\"")) ||
                    (!failed && (is("mkdir") || is("rename") || is("link") || is("chmod") ||
                                 is("truncate") || (is("connect(") && !is(display.c_str())))))
                    << call;
            }
            EXPECT_EQ(programs, 1) << "programs executed";
            EXPECT_TRUE(argument != "/s" || threads == 2) << threads << " threads started";
            EXPECT_TRUE(fs::is_empty(home.path) && fs::is_empty(tmp.path));
        }
    }
}

}  // namespace
