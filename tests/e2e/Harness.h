// What the end-to-end tests share: child processes that are always ended, an X server of their
// own on the display number it picks itself, screenshots of its root window and xdotool.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct _XDisplay;  // Xlib's Display; its header's macros stay out of the tests

namespace e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A child process with the given environment changes ("NAME=value" sets, "-NAME" removes) and
// its stderr kept; ended by its process id (SIGTERM, then SIGKILL) if it still runs when the
// handle goes, so a failing test leaves nothing behind.
class Child {
  public:
    explicit Child(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   int passFd = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // "exit N", "signal N" or, if it still runs after the timeout, "running".
    std::string Wait(std::chrono::milliseconds timeout);
    std::string Errors() const;
    pid_t Pid() const { return pid_; }

  private:
    std::FILE* errors_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A rectangle in root-window (or output) pixels.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};
std::string ToString(const Rect& r);  // "WxH+X+Y", as xrandr writes it

// A mapped child of the root window: what the user can see of a client.
struct TopLevel {
    unsigned long id = 0;
    Rect area;
    long pid = 0;           // _NET_WM_PID, 0 when not set
    std::string className;  // WM_CLASS's class, empty when not set
};

// A screenshot: 0xRRGGBB pixels, row by row.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[std::size_t(y * width + x)]; }
    Image Crop(const Rect& r) const;
    // Distinct colours inside the rectangle.
    std::size_t Colours(int left, int top, int right, int bottom) const;
};

// An X server started for one test, on the display number it chooses (-displayfd), with a
// client connection of the test's own. Ended with the test.
class XServer {
  public:
    // The command without the display; "-displayfd" is added. Fails the test if it does not
    // come up within the timeout.
    explicit XServer(std::vector<std::string> command,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Up() const { return display_ != nullptr; }
    const std::string& Name() const { return name_; }  // ":N"
    _XDisplay* Connection() const { return display_; }
    Child& Process() { return *server_; }

    // The root window's pixels inside the rectangle (all of it when empty).
    Image Screenshot(int left = 0, int top = 0, int width = 0, int height = 0) const;
    // The root window's mapped children, bottom to top.
    std::vector<TopLevel> MappedTopLevels() const;
    // Where the pointer is, in root pixels.
    std::pair<int, int> Pointer() const;
    // Runs a shell command (without single quotes) with DISPLAY set to this server and fails
    // the test, with what the command printed, unless it exits with status 0.
    bool Must(const std::string& command,
              std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Runs a command with DISPLAY set to this server; returns its standard output. The command
    // is ended after the timeout, so a wait that never ends fails the test instead of hanging.
    std::string Run(const std::string& command,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    std::string Xdotool(const std::string& args) const { return Run("xdotool " + args); }

    // Ends the server at once (SIGKILL), as a crash would; the test's own connection goes first.
    void Kill();
    // From now on notes top-level windows being mapped ("map") and bells rung ("bell");
    // MapsAndBells returns what came so far, in the server's order, separated by spaces.
    void WatchMapsAndBells();
    std::string MapsAndBells();

  private:
    std::optional<std::pair<int, std::string>> Shell(const std::string& command,
                                                     std::chrono::milliseconds timeout,
                                                     const char* errors) const;

    std::string name_;
    std::unique_ptr<Child> server_;
    _XDisplay* display_ = nullptr;
    int bellEvent_ = -1;  // the XKB extension's event code
    std::string noted_;
};

// The saver's binary under test: DIGITMOSAIC_BINARY from the environment when set (an installed
// copy, say), else the one built with the tests.
std::string SaverBinary();

}  // namespace e2e
