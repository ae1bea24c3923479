// Measures the real saver on the X server named by DISPLAY: start to first cells on screen and
// key press to exit (medians of five runs), then CPU over ten seconds after a two-second
// warm-up and resident memory. Prints one figure a line; exits 2 if it cannot measure.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Probe.h"

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

using digitmosaic::bench::Fail;
using digitmosaic::bench::FirstCellsShown;
using digitmosaic::bench::measured;

struct Saver {
    pid_t pid = -1;
    int exitFd = -1;  // pidfd: readable once the process has ended
    Clock::time_point started;
};

// Waits up to the timeout for the saver to end; true when it has ended and been reaped.
bool Reaped(Saver& saver, int timeoutMs) {
    pollfd ended{saver.exitFd, POLLIN, 0};
    if (poll(&ended, 1, timeoutMs) != 1) {
        return false;
    }
    waitpid(saver.pid, nullptr, 0);
    close(saver.exitFd);
    saver.pid = measured = -1;
    return true;
}

void Kill(Saver& saver) {
    if (saver.pid > 0) {
        kill(saver.pid, SIGKILL);
        Reaped(saver, -1);
    }
}

// Starts the saver once the screen is black, so that its first cells can be told apart.
Saver StartSaver(Display* display, const char* binary) {
    for (int tries = 0; FirstCellsShown(display); ++tries) {
        if (tries == 100) {
            Fail("the screen is not black before the saver starts");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Saver saver;
    saver.started = Clock::now();
    saver.pid = fork();
    if (saver.pid == 0) {
        // A private network namespace gives the saver its own instance lock (an abstract
        // socket), so a saver of another session of this user cannot make it quit at once.
        // Where that is not allowed the saver simply shares the lock.
        unshare(CLONE_NEWNET);
        execl(binary, binary, "/s", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (saver.pid < 0) {
        Fail("cannot fork");
    }
    measured = saver.pid;
    saver.exitFd = static_cast<int>(syscall(SYS_pidfd_open, saver.pid, 0));
    if (saver.exitFd < 0) {
        Fail("pidfd_open failed");
    }
    return saver;
}

// Milliseconds from the saver's start to the first non-black pixel on the top or middle row.
double WaitForFirstCells(Display* display, Saver& saver) {
    while (Clock::now() - saver.started < std::chrono::seconds(5)) {
        if (FirstCellsShown(display)) {
            return Millis(Clock::now() - saver.started).count();
        }
        if (Reaped(saver, 0)) {
            Fail("the saver ended before painting anything");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Kill(saver);
    Fail("no cells on screen within 5 s");
}

// Presses a key and returns the milliseconds until the saver has ended and been reaped.
double PressKeyUntilExit(Display* display, Saver& saver) {
    const KeyCode space = XKeysymToKeycode(display, XK_space);
    XTestFakeKeyEvent(display, space, True, 0);
    XFlush(display);
    const auto pressed = Clock::now();
    const bool ended = Reaped(saver, 2000);
    const double elapsed = Millis(Clock::now() - pressed).count();
    XTestFakeKeyEvent(display, space, False, 0);
    XFlush(display);
    if (!ended) {
        Kill(saver);
        Fail("the saver did not end within 2 s of a key press");
    }
    return elapsed;
}

// User plus system time of the process, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));  // after "pid (name) "
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int index = 3; fields >> field; ++index) {  // field 3 is the state
        if (index == 14) {
            utime = std::stol(field);
        } else if (index == 15) {
            stime = std::stol(field);
            return utime + stime;
        }
    }
    Fail("cannot read /proc/" + std::to_string(pid) + "/stat");
}

double ResidentMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stod(line.substr(6)) / 1024.0;  // the kernel reports kB
        }
    }
    Fail("cannot read VmRSS");
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    digitmosaic::bench::probeName = "digitmosaic_probe";
    if (argc != 2) {
        Fail("usage: digitmosaic_probe <path to digitmosaic>");
    }
    Display* display = XOpenDisplay(nullptr);
    int unused = 0;
    if (display == nullptr || !XTestQueryExtension(display, &unused, &unused, &unused, &unused)) {
        Fail("needs an X server with the XTEST extension in DISPLAY");
    }
    std::vector<double> startMs;
    std::vector<double> keyMs;
    for (int run = 0; run < 5; ++run) {
        Saver saver = StartSaver(display, argv[1]);
        startMs.push_back(WaitForFirstCells(display, saver));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        keyMs.push_back(PressKeyUntilExit(display, saver));
    }

    Saver saver = StartSaver(display, argv[1]);
    WaitForFirstCells(display, saver);
    std::this_thread::sleep_until(saver.started + std::chrono::seconds(2));
    const long ticksBefore = CpuTicks(saver.pid);
    const auto before = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const long ticks = CpuTicks(saver.pid) - ticksBefore;
    const double seconds = std::chrono::duration<double>(Clock::now() - before).count();
    const double rssMb = ResidentMegabytes(saver.pid);
    PressKeyUntilExit(display, saver);

    const double cpuPercent =
        100.0 * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
    std::printf("cpu_percent_of_one_core        %.2f\n", cpuPercent);
    std::printf("key_to_exit_ms_median          %.2f\n", Median(keyMs));
    std::printf("start_to_first_cells_ms_median %.1f\n", Median(startMs));
    std::printf("rss_mb                         %.1f\n", rssMb);
    XCloseDisplay(display);
    return 0;
}
