// The real binary in a private Xvfb, driven with xdotool, read back from screenshots of the root
// window and, for what it touches on the machine, from strace.
#include <gtest/gtest.h>  // before Xlib, whose macros would clash with it

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"

namespace {

using namespace e2e;
using namespace std::string_literals;
constexpr int kWidth = 960, kHeight = 540;
const std::vector<std::string> kXvfb = {"Xvfb", "-screen", "0",         "960x540x24", "-dpi",
                                        "96",   "-br",     "-nolisten", "tcp"};

// The environment of a saver on the given display: no other display, no platform override.
std::vector<std::string> OnDisplay(const std::string& display) {
    return {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM", "DISPLAY=" + display};
}

// What changed between two screenshots: the cells painted in between.
struct Change {
    int count = 0, left = kWidth, top = kHeight, right = 0, bottom = 0;  // right, bottom excluded
    bool middle = false;
    std::set<std::uint32_t> colours;
};

Change Compare(const Image& before, const Image& after) {
    Change c;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (before.At(x, y) == after.At(x, y)) continue;
            ++c.count, c.colours.insert(after.At(x, y));
            c.left = std::min(c.left, x), c.right = std::max(c.right, x + 1);
            c.top = std::min(c.top, y), c.bottom = y + 1;
        }
    }
    c.middle = before.At(kWidth / 2, kHeight / 2) != after.At(kWidth / 2, kHeight / 2);
    return c;
}

// Raster pictures present a row of cells per refresh: whole screen rows, taller than one cell
// of the coarsest grid. A spiral fills whole screen rows only in its last ring, one cell high
// and with a side of the ring beside them.
bool IsRowBand(const Change& c) {
    return c.count == kWidth * (c.bottom - c.top) && c.bottom - c.top > kHeight / 40 + 1;
}

// Spiral pictures, past their first cells, grow as a ring round an unchanged middle, centred to
// within a cell and clear of the screen's edges.
bool IsRing(const Change& c) {
    return c.count && !c.middle && c.left > 0 && c.top > 0 && c.right < kWidth &&
           c.bottom < kHeight && c.left < kWidth / 2 && c.top < kHeight / 2 &&
           std::abs(c.left + c.right - kWidth) <= 2 * (kWidth / 48 + 1) &&
           std::abs(c.top + c.bottom - kHeight) <= 2 * (kHeight / 40 + 1);
}

// A digit picture shows its palette, at most ten colours. Base-2 averages mix two palette
// colours, so a stretch of them can show as few shades, but all on the line between the two.
bool AreDigitColours(const std::set<std::uint32_t>& colours) {
    const auto channels = [](std::uint32_t c) {
        return std::array{double(c >> 16), double(c >> 8 & 255), double(c & 255)};
    };
    const auto minus = [](auto a, auto b) {
        return std::array{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    };
    const auto length = [](auto v) { return std::hypot(v[0], v[1], v[2]); };
    if (colours.size() < 2 || colours.size() > 10) return colours.size() == 1;
    const auto a = channels(*colours.begin());
    auto axis = minus(a, a);
    for (auto c : colours)
        if (length(minus(channels(c), a)) > length(axis)) axis = minus(channels(c), a);
    for (auto c : colours) {
        const auto v = minus(channels(c), a);
        const std::array cross{v[1] * axis[2] - v[2] * axis[1], v[2] * axis[0] - v[0] * axis[2],
                               v[0] * axis[1] - v[1] * axis[0]};
        if (length(cross) > 3 * length(axis)) return true;
    }
    return colours.size() == 2;
}

// The saver's binary on an Xvfb of the test's own.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(xvfb_.Up()); }

    // The saver with the given arguments on this test's display (or on the one given).
    std::unique_ptr<Child> Run(std::vector<std::string> args, const std::string& display = "",
                               const std::vector<std::string>& more = {}) {
        args.insert(args.begin(), SaverBinary());
        auto env = OnDisplay(display.empty() ? xvfb_.Name() : display);
        env.insert(env.end(), more.begin(), more.end());
        return std::make_unique<Child>(args, env);
    }
    std::string Xdotool(const std::string& args) const { return xvfb_.Xdotool(args); }
    Image Screenshot() const { return xvfb_.Screenshot(); }
    // Starts the saver and waits until it paints cells in more than one colour.
    std::unique_ptr<Child> Saver(std::chrono::milliseconds within = 3s) {
        return Painting(Run({"/s"}), xvfb_, within);
    }
    static std::unique_ptr<Child> Painting(std::unique_ptr<Child> saver, const XServer& server,
                                           std::chrono::milliseconds within = 3s) {
        for (const auto end = Clock::now() + within; Clock::now() < end;) {
            if (server.Screenshot().Colours(0, 0, kWidth, kHeight) > 1) return saver;
        }
        ADD_FAILURE() << "no cells on " << server.Name() << " within " << within.count()
                      << " ms: " << saver->Errors();
        return saver;
    }
    // Waits for the about window on the server; returns its id.
    static std::string AboutWindow(const XServer& server, const Child& about) {
        std::string window;
        for (auto end = Clock::now() + 5s; window.empty() && Clock::now() < end;)
            window = server.Xdotool("search --sync --onlyvisible --name '^Form2$'");
        if (window.empty()) ADD_FAILURE() << "no about window: " << about.Errors();
        if (!window.empty()) window.pop_back();
        return window;
    }

    XServer xvfb_{kXvfb};
};

TEST_F(EndToEnd, SaverParksThePointerCoversTheScreenAndPaintsWithinASecond) {
    auto saver = Saver(1s);
    EXPECT_EQ(Xdotool("getmouselocation --shell").substr(0, 14), "X=959\nY=539\nSC");
    const std::string window =
        Xdotool("search --pid " + std::to_string(saver->Pid()) + " --onlyvisible");
    const std::string geometry = Xdotool("getwindowgeometry --shell " + window);
    EXPECT_NE(geometry.find("X=0\nY=0\nWIDTH=960\nHEIGHT=540\n"), std::string::npos) << geometry;
}

// The first one starts with standard input, output and error closed: they become /dev/null, so
// nothing written to them can reach the display's socket.
TEST_F(EndToEnd, SaverEndsOnAKeyAClickOrAButtonAtOnce) {
    for (const char* action : {"key a", "click 1", "click 3"}) {
        const bool closed = action == std::string("key a");
        auto saver =
            closed
                ? Painting(std::make_unique<Child>(
                               std::vector<std::string>{
                                   "sh", "-c", "exec <&- >&- 2>&-; exec \"$0\" /s", SaverBinary()},
                               OnDisplay(xvfb_.Name())),
                           xvfb_)
                : Saver();
        for (int fd = 0; closed && fd < 3; ++fd) {
            const auto path = "/proc/" + std::to_string(saver->Pid()) + "/fd/" + std::to_string(fd);
            EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/null") << fd;
        }
        Xdotool(action);
        EXPECT_EQ(saver->Wait(1s), "exit 0") << action;
    }
}

TEST_F(EndToEnd, SaverEndsOnTheThirdMouseMoveNotTheFirstTwo) {
    auto saver = Saver();
    for (const char* point : {"100 100", "300 200"}) {
        Xdotool(std::string("mousemove ") + point);
        EXPECT_EQ(saver->Wait(300ms), "running") << "after the move to " << point;
    }
    Xdotool("mousemove 500 300");
    EXPECT_EQ(saver->Wait(1s), "exit 0");
}

// The window appears, then the bell rings, once; a click on the notice does nothing, OK ends it.
// So does its destruction by another client, and Escape.
// The libraries' complaints (here about a broken font configuration) never reach stderr.
TEST_F(EndToEnd, AboutWindowAppearsThenBeepsAndOkEndsIt) {
    xvfb_.WatchMapsAndBells();
    auto about = Run({"/c"}, "", {"FONTCONFIG_FILE=/proc/version"});
    const std::string window = AboutWindow(xvfb_, *about);
    ASSERT_FALSE(window.empty());
    const std::string geometry = Xdotool("getwindowgeometry --shell " + window);
    EXPECT_NE(geometry.find("WIDTH=214\nHEIGHT=86"), std::string::npos) << geometry;
    for (auto end = Clock::now() + 2s; xvfb_.MapsAndBells() == "map" && Clock::now() < end;)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(200ms);  // time for a second bell, if one came
    EXPECT_EQ(xvfb_.MapsAndBells(), "map bell");
    Xdotool("mousemove --window " + window + " 20 20 click 1");  // on the notice: nothing
    EXPECT_EQ(about->Wait(300ms), "running");
    Xdotool("mousemove --window " + window + " 104 68 click 1");  // on "OK"
    EXPECT_EQ(about->Wait(2s), "exit 0");
    EXPECT_EQ(about->Errors(), "");
    // Destroyed by another client, or Escape: it ends, and leaves nothing to keep a saver away.
    for (const char* ending : {"windowclose ", "windowfocus --sync "}) {
        auto next = Run({"/c"});
        const std::string id = AboutWindow(xvfb_, *next);
        Xdotool(ending + id + (ending[6] == 'f' ? " key Escape" : ""));
        EXPECT_EQ(next->Wait(2s), "exit 0") << ending << next->Errors();
    }
    EXPECT_EQ(Saver()->Wait(300ms), "running");
}

TEST_F(EndToEnd, OtherArgumentsEndAtOnceWithoutTouchingTheDisplay) {
    // On a display where nothing listens, a program that opened a window would fail.
    const std::vector<std::vector<std::string>> arguments = {
        {"/S"}, {"/C"}, {"/s "}, {"/c:123"}, {"/p", "1234"}, {""}, {"--help"}, {}};
    for (const auto& args : arguments) {
        auto program = Run(args, ":9999");
        EXPECT_EQ(program->Wait(1s), "exit 0") << args.size();
        EXPECT_EQ(program->Errors(), "");
    }
}

TEST_F(EndToEnd, ASecondInstanceEndsAtOnceAndAKilledOneLeavesNothingBehind) {
    auto first = Saver();
    EXPECT_EQ(Run({"/s"})->Wait(1s), "exit 0");
    EXPECT_EQ(Run({"/c"})->Wait(1s), "exit 0");
    EXPECT_EQ(first->Wait(0ms), "running");
    kill(first->Pid(), SIGKILL);
    first->Wait(1s);
    auto next = Saver();
    EXPECT_EQ(next->Wait(300ms), "running");
}

// Hostile limits (too few descriptors, too little address space) give one line and status 1, or a
// saver that a key ends: never a screen that ignores keys, and never by the watchdog, since their
// causes are checked. A saver whose painting loop stops (here its main thread alone is stopped, as
// a reply that never comes would stop it) ends within seconds with one line, status 1; a saver
// stopped whole (SIGSTOP) for longer and continued runs on.
TEST_F(EndToEnd, NoLimitOrStoppedLoopLeavesAScreenThatIgnoresKeys) {
    for (const char* limit :
         {"ulimit -n 8", "ulimit -n 12", "ulimit -v 90000", "ulimit -v 100000"}) {
        std::string command = limit;
        command += "; exec \"$0\" /s";
        Child saver({"sh", "-c", command, SaverBinary()}, OnDisplay(xvfb_.Name()));
        std::this_thread::sleep_for(1500ms);
        Xdotool("key a");
        const std::string status = saver.Wait(3s), errors = saver.Errors();
        const bool refused = status == "exit 1" && errors.rfind("digitmosaic: ", 0) == 0 &&
                             std::count(errors.begin(), errors.end(), '\n') == 1 &&
                             errors.find("stopped responding") == errors.npos;
        EXPECT_TRUE(status == "exit 0" || refused) << limit << ": " << status << ", " << errors;
    }
    auto saver = Saver();
    kill(saver->Pid(), SIGSTOP);
    std::this_thread::sleep_for(7s);
    kill(saver->Pid(), SIGCONT);
    EXPECT_EQ(saver->Wait(2s), "running") << "stopped whole and continued: " << saver->Errors();
    ASSERT_EQ(ptrace(PTRACE_SEIZE, saver->Pid(), nullptr, nullptr), 0);
    ASSERT_EQ(ptrace(PTRACE_INTERRUPT, saver->Pid(), nullptr, nullptr), 0);
    int stopped = 0;
    ASSERT_EQ(waitpid(saver->Pid(), &stopped, __WALL), saver->Pid());
    ASSERT_TRUE(WIFSTOPPED(stopped));
    Xdotool("key a");  // nothing reads it now
    EXPECT_EQ(saver->Wait(8s), "exit 1");
    EXPECT_EQ(saver->Errors(), "digitmosaic: stopped responding; ending\n");
}

// No display, one that does not answer, a Wayland display that cannot be found (with or without
// an X display that does not answer), a display without true colour (8-bit PseudoColor), a host
// window variable of 100,000 characters: one line of the program's own, none of the toolkit's,
// and a long value cut to its first 40 characters.
TEST_F(EndToEnd, WithoutADisplayOrOnABadOneItSaysSoInOneLineAndEndsWithStatusOne) {
    XServer eightBit({"Xvfb", "-screen", "0", "320x240x8", "-nolisten", "tcp"});
    ASSERT_TRUE(eightBit.Up());
    const std::string longValue(100000, '7');
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {OnDisplay(eightBit.Name()), "digitmosaic: the display cannot show colours"},
        {{"XSCREENSAVER_WINDOW=" + longValue},
         "digitmosaic: XSCREENSAVER_WINDOW is not a window id: \"" + longValue.substr(0, 40) +
             "\u2026\"\n"}};
    for (const auto& [env, line] : refused) {
        auto program = Run({"/s"}, "", env);
        EXPECT_EQ(program->Wait(5s), "exit 1") << line;
        const std::string errors = program->Errors();
        EXPECT_EQ(errors.substr(0, line.size()), line);
        EXPECT_LT(errors.size(), 120U);
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
    const std::vector<std::vector<std::string>> environments = {
        {"DISPLAY="},
        {"DISPLAY=:9999"},
        {"-DISPLAY", "-XDG_RUNTIME_DIR", "WAYLAND_DISPLAY=wayland-0"},
        {"-XDG_RUNTIME_DIR", "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:9999"},
        {"-DISPLAY", "XDG_RUNTIME_DIR=/nonexistent", "WAYLAND_DISPLAY=wayland-0"}};
    for (const auto& environment : environments) {
        std::vector<std::string> env = {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"};
        env.insert(env.end(), environment.begin(), environment.end());
        Child program({SaverBinary(), "/s"}, env);
        EXPECT_EQ(program.Wait(5s), "exit 1") << environment.back();
        const std::string errors = program.Errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_EQ(errors.rfind("digitmosaic: cannot open a window: ", 0), 0U) << errors;
    }
}

// The X server killed under a running saver or about window: status 1 and one line that says so.
TEST_F(EndToEnd, ALostDisplayEndsWithStatusOneAndOneLine) {
    for (const char* argument : {"/s", "/c"}) {
        XServer server(kXvfb);
        ASSERT_TRUE(server.Up());
        auto program = std::make_unique<Child>(std::vector<std::string>{SaverBinary(), argument},
                                               OnDisplay(server.Name()));
        if (argument == std::string("/s")) program = Painting(std::move(program), server);
        if (argument == std::string("/c")) AboutWindow(server, *program);
        server.Kill();
        EXPECT_EQ(program->Wait(5s), "exit 1") << argument;
        EXPECT_EQ(program->Errors(), "digitmosaic: lost the connection to the display\n");
    }
}

// An authority file with one cookie, good for any display (family "wild"), readable by its owner.
std::string CookieFile() {
    char path[] = "/tmp/digitmosaic-auth-XXXXXX";
    const int fd = mkstemp(path);
    std::string entry = "\xff\xff";
    for (const std::string& field : {""s, ""s, "MIT-MAGIC-COOKIE-1"s, "0123456789abcdef"s}) {
        entry += {char(field.size() >> 8), char(field.size() & 255)};
        entry += field;
    }
    std::random_device random;
    for (std::size_t i = entry.size() - 16; i < entry.size(); ++i) entry[i] = char(random());
    const bool written = write(fd, entry.data(), entry.size()) == ssize_t(entry.size());
    close(fd);
    return written ? path : "";
}

// Another user (65534), from before the starts until the end, claims what it can: it binds and
// listens on every abstract socket name a lock of this user's savers on this display could take,
// and keeps trying to reach the display, which asks for the user's cookie, until stop[1] is
// closed. Returns its pid; it exits with status 0 unless it reached the display.
pid_t Adversary(const std::string& display, const int stop[2]) {
    std::string base = "digitmosaic.";
    base += std::to_string(getuid());
    base += '.';
    base += display;
    base += ',';
    const pid_t pid = fork();
    if (pid != 0) return pid;
    close(stop[1]);
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(2);
    if (const int null = open("/dev/null", O_WRONLY); null >= 0) dup2(null, STDERR_FILENO);
    for (int i = 0; i < 8; ++i) {
        const std::string name = i == 0 ? base : base + "#" + std::to_string(i);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::copy(name.begin(), name.end(), addr.sun_path + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        bind(fd, reinterpret_cast<sockaddr*>(&addr),
             socklen_t(sizeof(sa_family_t) + 1 + name.size()));
        listen(fd, 1);
    }
    for (pollfd ended{stop[0], POLLIN, 0}; poll(&ended, 1, 20) == 0;) {
        if (Display* reached = XOpenDisplay(display.c_str())) {
            XCloseDisplay(reached);
            _exit(1);
        }
    }
    _exit(0);
}

// Twenty savers started at the same instant on one display (one that asks for the user's cookie),
// while another user claims what it can: the window comes within a second and after two seconds
// exactly one saver runs, every round, and the first key ends it. On another display a saver runs
// beside it.
TEST_F(EndToEnd, OfTwentySaversStartedAtOnceExactlyOneRunsPerDisplay) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
    const std::string cookie = CookieFile();
    ASSERT_FALSE(cookie.empty());
    setenv("XAUTHORITY", cookie.c_str(), 1);
    XServer secured({"Xvfb", "-screen", "0", "960x540x24", "-nolisten", "tcp", "-auth", cookie});
    ASSERT_TRUE(secured.Up());
    int stop[2];
    ASSERT_EQ(pipe2(stop, O_CLOEXEC), 0);
    const pid_t adversary = Adversary(secured.Name(), stop);
    int adversaryStatus = -1;
    std::shared_ptr<void> ending(nullptr, [&](void*) {  // however the test ends
        close(stop[1]), waitpid(adversary, &adversaryStatus, 0), close(stop[0]);
        unsetenv("XAUTHORITY");
        std::remove(cookie.c_str());
    });
    std::this_thread::sleep_for(100ms);
    for (int round = 0; round < 4; ++round) {
        int gate[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        std::vector<std::unique_ptr<Child>> savers;
        for (int i = 0; i < 20; ++i) {  // each waits at the gate, then becomes the saver
            savers.push_back(std::make_unique<Child>(
                std::vector<std::string>{"sh", "-c", "read go <&3; exec 3<&-; exec \"$0\" /s",
                                         SaverBinary()},
                OnDisplay(secured.Name()), gate[0]));
        }
        std::this_thread::sleep_for(300ms);
        close(gate[0]), close(gate[1]);  // all twenty go
        const auto opened = Clock::now();
        while (secured.Screenshot().Colours(0, 0, kWidth, kHeight) < 2 &&
               Clock::now() < opened + 2s)
            std::this_thread::sleep_for(10ms);
        EXPECT_LT(Clock::now() - opened, 1s) << "round " << round;
        std::this_thread::sleep_for(2s);
        ASSERT_EQ(std::count_if(savers.begin(), savers.end(),
                                [](const auto& saver) { return saver->Wait(0ms) == "running"; }),
                  1)
            << "round " << round;
        if (round == 0) {
            XServer other(kXvfb);
            ASSERT_TRUE(other.Up());
            EXPECT_EQ(Painting(Run({"/s"}, other.Name()), other)->Wait(0ms), "running");
        }
        secured.Xdotool("key a");
        for (const auto& saver : savers) EXPECT_EQ(saver->Wait(1s), "exit 0") << round;
    }
    ending.reset();
    EXPECT_EQ(adversaryStatus, 0) << "the other user reached the display";
}

// Under strace, with the session's services gone from the environment and a private, empty HOME
// and TMPDIR (or no HOME and a TMPDIR that cannot be written): the saver and the about window
// execute no program, start no process, create or write no file (/dev/null aside), connect to
// nothing but the display; the folders stay empty. The saver starts two threads and no more.
TEST_F(EndToEnd, ItWritesNothingStartsNothingAndConnectsOnlyToTheDisplay) {
    if (Child({"strace", "-o", "/dev/null", "true"}).Wait(5s) != "exit 0")
        GTEST_SKIP() << "strace cannot trace processes here";
    namespace fs = std::filesystem;
    char folders[] = "/tmp/digitmosaic-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(folders), nullptr);
    const std::string home = folders + "/home"s, tmp = folders + "/tmp"s, traces = folders + "/t"s;
    for (const std::string& dir : {home, tmp, traces}) fs::create_directory(dir);
    const std::string display = "/tmp/.X11-unix/X" + xvfb_.Name().substr(1) + "\"";
    for (const bool withHome : {true, false}) {
        for (const char* argument : {"/s", "/c"}) {
            SCOPED_TRACE(std::string(argument) + (withHome ? " with HOME" : " without HOME"));
            std::vector<std::string> command = {"env", "-i", "PATH=/usr/bin:/bin",
                                                "DISPLAY=" + xvfb_.Name()};
            if (withHome) command.insert(command.end(), {"HOME=" + home, "TMPDIR=" + tmp});
            if (!withHome) command.push_back("TMPDIR=/nonexistent");
            command.insert(command.end(), {"strace", "-f", "-ff", "-qq", "-o", traces + "/t", "-e",
                                           "trace=execve,execveat,fork,vfork,clone,clone3,open,"
                                           "openat,creat,mkdir,mkdirat,rename,renameat,renameat2,"
                                           "link,linkat,symlink,symlinkat,unlink,unlinkat,chmod,"
                                           "fchmodat,truncate,connect",
                                           SaverBinary(), argument});
            auto program = std::make_unique<Child>(command);
            if (argument == std::string("/s")) {
                program = Painting(std::move(program), xvfb_, 5s);
                Xdotool("key a");
            } else if (const std::string window = AboutWindow(xvfb_, *program); !window.empty()) {
                Xdotool("mousemove --window " + window + " 104 68 click 1");
            }
            EXPECT_EQ(program->Wait(5s), "exit 0") << program->Errors();
            int programs = 0, threads = 0;
            for (const auto& file : fs::directory_iterator(traces)) {
                std::ifstream trace(file.path());
                for (std::string call; std::getline(trace, call);) {
                    const bool failed = call.find(" = -1 ") != call.npos;
                    const auto is = [&](const char* what) { return call.find(what) != call.npos; };
                    programs += is("execve(") || is("execveat(");
                    threads += is("CLONE_THREAD") && !failed;
                    EXPECT_FALSE((is("clone") || is("fork(")) && !is("CLONE_THREAD")) << call;
                    EXPECT_FALSE(
                        (is("O_WRONLY") || is("O_RDWR") || is("O_CREAT") || is("creat(")) &&
                        !is("\"/dev/null\""))
                        << call;
                    EXPECT_FALSE(!failed && (is("mkdir") || is("rename") || is("link") ||
                                             is("chmod") || is("truncate")))
                        << call;  // a directory made, a file renamed, linked, removed or changed
                    EXPECT_FALSE(!failed && is("connect(") && !is(display.c_str())) << call;
                }
                fs::remove(file.path());
            }
            EXPECT_EQ(programs, 1) << "programs executed";
            // The display's reader and the watchdog: no session bus, no accessibility bridge.
            if (argument == std::string("/s")) {
                EXPECT_EQ(threads, 2) << "threads started";
            }
            EXPECT_TRUE(fs::is_empty(home) && fs::is_empty(tmp));
        }
    }
    fs::remove_all(folders);
}

// Each kind shows up in about half of the pictures, independently: ninety seconds is plenty.
TEST_F(EndToEnd, PicturesGrowAsRowsAndAsRingsInDigitAndAverageColours) {
    auto saver = Saver();
    std::set<std::string> seen;
    Image before = Screenshot();
    for (auto end = Clock::now() + 90s; seen.size() < 4 && Clock::now() < end;) {
        std::this_thread::sleep_for(120ms);
        Image after = Screenshot();
        const Change c = Compare(before, after);
        before = std::move(after);
        if (IsRowBand(c)) seen.insert("raster");
        if (IsRing(c)) seen.insert("spiral");
        if (c.colours.size() > 20) seen.insert("average");
        // Digits need a good stretch of the screen to tell them from base-2 averages.
        if (c.count >= kWidth * kHeight / 20 && AreDigitColours(c.colours)) seen.insert("digits");
    }
    EXPECT_EQ(seen.count("raster"), 1U) << "no picture grew row by row";
    EXPECT_EQ(seen.count("spiral"), 1U) << "no picture grew as a ring round the middle";
    EXPECT_EQ(seen.count("digits"), 1U) << "no picture in at most ten colours";
    EXPECT_EQ(seen.count("average"), 1U) << "no picture in more than twenty colours";
    EXPECT_EQ(saver->Wait(0ms), "running");
}

}  // namespace
