// Measures, on the X server named by DISPLAY, how fast full-screen programs give the screen
// back: each program is started on a black screen (start to its first non-black pixel on the
// top or middle row is noted), then a key is pressed through XTest and the time to the first
// UnmapNotify of a top-level window is taken, as another client sees it (SubstructureNotify on
// the root), and the time to the end of the process. Before the key, a full-screen window covers
// the program for 3 s: its CPU time (all threads) and its sleeps (voluntary context switches) over
// the last 2 s are noted, and the time from uncovering to the first pixel on the middle row that
// is not the cover's white (for a window whose background is a colour, that is the server's
// background fill, not the picture). The programs take turns, ROUNDS times each;
// prints per program the median, minimum and maximum of each figure. Exits 2 if it cannot measure.
// Usage: digitmosaic_probe ROUNDS NAME COMMAND [ARGS...] [-- NAME COMMAND [ARGS...]]...
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

pid_t measured = -1;  // the running program, stopped if a measurement fails

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "digitmosaic_probe: %s\n", why.c_str());
    if (measured > 0) {
        kill(measured, SIGKILL);
        waitpid(measured, nullptr, 0);
    }
    std::exit(2);
}

// True when the row shows anything but the colour (0xRRGGBB).
bool RowShowsOtherThan(Display* display, int y, unsigned long colour) {
    const int width = DisplayWidth(display, DefaultScreen(display));
    XImage* row =
        XGetImage(display, DefaultRootWindow(display), 0, y, width, 1, AllPlanes, ZPixmap);
    if (row == nullptr) {
        Fail("cannot read the screen");
    }
    bool other = false;
    for (int x = 0; x < width && !other; ++x) {
        other = (XGetPixel(row, x, 0) & 0xFFFFFF) != colour;
    }
    XDestroyImage(row);
    return other;
}

bool FirstCellsShown(Display* display) {
    return RowShowsOtherThan(display, 0, 0) ||
           RowShowsOtherThan(display, DisplayHeight(display, DefaultScreen(display)) / 2, 0);
}

struct Program {
    std::string name;
    std::vector<char*> argv;  // null-terminated
    std::vector<double> firstCellsMs;
    std::vector<double> unmapMs;
    std::vector<double> exitMs;
    std::vector<double> coveredCpuMs;
    std::vector<double> coveredWakes;
    std::vector<double> uncoverMs;
};

// Sums a field over every thread of the process: schedstat's first (nanoseconds on a CPU), or the
// status line's value.
double ThreadsSum(pid_t pid, const char* status) {
    double sum = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    for (dirent* entry; dir && (entry = readdir(dir));) {
        if (entry->d_name[0] == '.') continue;
        const std::string base = tasks + "/" + entry->d_name;
        std::FILE* file = std::fopen((base + (status ? "/status" : "/schedstat")).c_str(), "r");
        char line[256];
        while (file && std::fgets(line, sizeof line, file)) {
            if (!status) {
                sum += std::strtod(line, nullptr);
                break;
            }
            if (std::strncmp(line, status, std::strlen(status)) == 0) {
                sum += std::strtod(line + std::strlen(status), nullptr);
            }
        }
        if (file) std::fclose(file);
    }
    if (dir) closedir(dir);
    return sum;
}

// Covers the screen with a white override-redirect window for 3 s and notes what the program does
// meanwhile, then how soon the picture is back once the window goes.
void MeasureCovered(Display* display, pid_t pid, Program& program) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, DefaultScreen(display));
    const Window cover = XCreateWindow(
        display, DefaultRootWindow(display), 0, 0, DisplayWidth(display, DefaultScreen(display)),
        DisplayHeight(display, DefaultScreen(display)), 0, CopyFromParent, InputOutput,
        CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, cover);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpuBefore = ThreadsSum(pid, nullptr);
    const double wakesBefore = ThreadsSum(pid, "voluntary_ctxt_switches:");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    program.coveredCpuMs.push_back((ThreadsSum(pid, nullptr) - cpuBefore) / 1e6);
    program.coveredWakes.push_back(ThreadsSum(pid, "voluntary_ctxt_switches:") - wakesBefore);
    XDestroyWindow(display, cover);
    XSync(display, False);
    const auto uncovered = Clock::now();
    while (
        !RowShowsOtherThan(display, DisplayHeight(display, DefaultScreen(display)) / 2, 0xFFFFFF) &&
        Clock::now() - uncovered < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    program.uncoverMs.push_back(Millis(Clock::now() - uncovered).count());
}

// Ends the program: waits up to the timeout for it to end by itself, then kills it.
void Reap(pid_t pid, int exitFd, int timeoutMs) {
    pollfd ended{exitFd, POLLIN, 0};
    if (poll(&ended, 1, timeoutMs) != 1) {
        kill(pid, SIGKILL);
    }
    waitpid(pid, nullptr, 0);
    close(exitFd);
    measured = -1;
}

// Waits for the first UnmapNotify of a top-level window and for the process to end, noting
// when each happened; false if either does not come in time.
bool WaitForUnmapAndExit(Display* display, int exitFd, Clock::time_point deadline,
                         Clock::time_point& unmappedAt, Clock::time_point& endedAt) {
    bool unmapped = false;
    bool ended = false;
    while (!unmapped || !ended) {
        while (!unmapped && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == UnmapNotify && event.xunmap.event == DefaultRootWindow(display)) {
                unmappedAt = Clock::now();
                unmapped = true;
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd sources[2] = {{ConnectionNumber(display), POLLIN, 0}, {exitFd, POLLIN, 0}};
        poll(sources, ended ? 1 : 2, static_cast<int>(left.count()));
        if (!ended && (sources[1].revents & POLLIN) != 0) {
            endedAt = Clock::now();
            ended = true;
        }
    }
    return true;
}

void MeasureOnce(Display* display, Program& program) {
    for (int tries = 0; FirstCellsShown(display); ++tries) {
        if (tries == 200) {
            Fail("the screen is not black before " + program.name + " starts");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto started = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(program.argv[0], program.argv.data());
        _exit(127);
    }
    if (pid < 0) {
        Fail("cannot fork");
    }
    measured = pid;
    const int exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (exitFd < 0) {
        Fail("pidfd_open failed");
    }
    pollfd ended{exitFd, POLLIN, 0};
    while (!FirstCellsShown(display)) {
        if (Clock::now() - started > std::chrono::seconds(5)) {
            Fail(program.name + " showed nothing within 5 s");
        }
        if (poll(&ended, 1, 1) == 1) {
            Fail(program.name + " ended before showing anything");
        }
    }
    program.firstCellsMs.push_back(Millis(Clock::now() - started).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    MeasureCovered(display, pid, program);

    XSync(display, True);  // nothing seen before the press counts
    const KeyCode space = XKeysymToKeycode(display, XK_space);
    XTestFakeKeyEvent(display, space, True, 0);
    XFlush(display);
    const auto pressed = Clock::now();
    Clock::time_point unmappedAt;
    Clock::time_point endedAt;
    const bool done = WaitForUnmapAndExit(display, exitFd, pressed + std::chrono::seconds(2),
                                          unmappedAt, endedAt);
    XTestFakeKeyEvent(display, space, False, 0);
    XFlush(display);
    Reap(pid, exitFd, 0);
    if (!done) {
        Fail(program.name + " did not unmap its window and end within 2 s of a key press");
    }
    program.unmapMs.push_back(Millis(unmappedAt - pressed).count());
    program.exitMs.push_back(Millis(endedAt - pressed).count());
}

void PrintFigures(const char* what, const std::string& name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%-16s %-26s %8.2f %8.2f %8.2f\n", name.c_str(), what, values[values.size() / 2],
                values.front(), values.back());
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 0;
    if (argc < 4 || std::sscanf(argv[1], "%d", &rounds) != 1 || rounds < 1) {
        Fail("usage: digitmosaic_probe ROUNDS NAME COMMAND [ARGS...] [-- NAME COMMAND...]...");
    }
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i) {
        if (programs.empty() || std::string(argv[i]) == "--") {
            if (std::string(argv[i]) == "--" && ++i == argc) {
                break;
            }
            if (i + 1 >= argc) {
                Fail("a program name without a command");
            }
            programs.push_back({argv[i], {argv[i + 1]}, {}, {}, {}, {}, {}, {}});
            ++i;
        } else {
            programs.back().argv.push_back(argv[i]);
        }
    }
    for (Program& program : programs) {
        program.argv.push_back(nullptr);
    }

    Display* display = XOpenDisplay(nullptr);
    int unused = 0;
    if (display == nullptr || !XTestQueryExtension(display, &unused, &unused, &unused, &unused)) {
        Fail("needs an X server with the XTEST extension in DISPLAY");
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    for (int round = 0; round < rounds; ++round) {
        for (Program& program : programs) {
            MeasureOnce(display, program);
        }
    }
    std::printf("%-16s %-26s %8s %8s %8s\n", "program", "figure (ms)", "median", "min", "max");
    for (const Program& program : programs) {
        PrintFigures("key press to unmap", program.name, program.unmapMs);
        PrintFigures("key press to process end", program.name, program.exitMs);
        PrintFigures("start to first cells", program.name, program.firstCellsMs);
        PrintFigures("covered: CPU ms in 2 s", program.name, program.coveredCpuMs);
        PrintFigures("covered: sleeps in 2 s", program.name, program.coveredWakes);
        PrintFigures("uncovered to picture", program.name, program.uncoverMs);
    }
    XCloseDisplay(display);
    return 0;
}
