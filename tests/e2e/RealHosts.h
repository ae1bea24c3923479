// The hosts a screen saver meets on real Linux desktops, each started for one test and ended by
// process id with it: the X.org server with the dummy driver (monitors that come, go and change
// size), XScreenSaver's daemon, MATE's screen saver, a headless sway, and a host window made the
// way the hosts' previews make theirs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Harness.h"

namespace e2e {

// The unprivileged user that hosts refusing root run as.
constexpr uid_t kNobody = 65534;

// A private directory, removed with everything in it when the handle goes.
class TempDir {
  public:
    // Owned by the given user, with the given mode.
    explicit TempDir(uid_t owner = 0, unsigned mode = 0700);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Writes a file into it, owned like the directory; returns its path.
    std::string Write(const std::string& name, const std::string& text, unsigned mode = 0644) const;
    // Copies a file into it, owned like the directory; returns its path.
    std::string Copy(const std::string& from, const std::string& name, unsigned mode = 0755) const;

  private:
    std::string path_;
    uid_t owner_;
};

// A process as seen from /proc: running, a zombie nobody reaps, or gone.
bool ProcessRuns(pid_t pid);

// The environment a saver started by the test gets on an X display: that display alone, as a
// desktop session has it, with a runtime directory of its own.
std::vector<std::string> SaverEnvironment(const std::string& display, const TempDir& runtime,
                                          const std::string& hostWindow = "");

// The program installed under the directory as the package installs it (DIGITMOSAIC_INSTALLED
// from the environment when set: the unpacked package, say; else the install rules' output put
// there); returns the root of the tree, holding usr/, or empty when the install failed.
std::string InstalledTree(const TempDir& into);

// The X.org server with the dummy video driver: outputs DUMMY0 to DUMMY15, which xrandr
// enables, places and resizes at run time. It takes no VT (it runs on a seat of its own).
class DummyXorg {
  public:
    DummyXorg();
    XServer& Server() { return server_; }
    const XServer& Server() const { return server_; }

    // Enables the output at exactly that place and size (a mode of that size is made for it).
    bool Enable(const std::string& output, const Rect& area, bool primary = false);
    bool Disable(const std::string& output);
    // The monitors as RandR reports them.
    std::vector<Rect> Monitors() const;

  private:
    TempDir dir_;
    XServer server_;
};

// XScreenSaver's daemon, run as an unprivileged user with a home of its own whose settings run
// one program, the saver under test (copied there so that user may run it), with "/s".
class XScreenSaverDaemon {
  public:
    explicit XScreenSaverDaemon(const XServer& server);
    ~XScreenSaverDaemon();

    // Blanks the screen now (xscreensaver-command -activate), once the daemon listens.
    bool Activate(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // What the daemon's verbose log says it started the saver with.
    struct Launch {
        pid_t pid = -1;
        unsigned long window = 0;  // the XSCREENSAVER_WINDOW it passed
    };
    std::optional<Launch> WaitForLaunch(std::chrono::milliseconds timeout) const;
    std::string Log() const { return daemon_ ? daemon_->Errors() : ""; }

  private:
    const XServer& server_;
    TempDir home_;
    TempDir runtime_{kNobody};
    std::unique_ptr<Child> daemon_;
};

// MATE's screen saver, run as the unprivileged user under dbus-run-session with a home of its
// own, its theme set with gsettings to the saver's entry. It runs the programs of its entries only
// from system folders: the installed tree given (the install rules' output, or the unpacked
// package) is laid over /usr in a private mount namespace, so the machine stays as it was.
class MateScreensaver {
  public:
    MateScreensaver(const XServer& server, const std::string& installedRoot,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~MateScreensaver();

    bool Up() const { return pid_ > 0; }
    // mate-screensaver-command with the option, on the session's bus; true on status 0.
    bool Command(const std::string& option) const;
    // The processes mate-screensaver started and that still run.
    std::vector<pid_t> Children() const;
    std::string Log() const { return session_ ? session_->Errors() : ""; }

  private:
    TempDir home_{kNobody, 0755};
    TempDir runtime_{kNobody};
    std::string display_;
    std::unique_ptr<Child> session_;
    std::string bus_;
    pid_t pid_ = -1;
};

// A headless sway (pixman renderer) with outputs HEADLESS-1, HEADLESS-2... at the given places,
// run as an unprivileged user; its clients connect to it by the socket's full path.
// Screenshots with grim, of all outputs together; keys with wtype.
class HeadlessSway {
  public:
    explicit HeadlessSway(const std::vector<Rect>& outputs,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~HeadlessSway();

    bool Up() const { return !socket_.empty(); }
    // For the saver: this compositor alone, as a Wayland session has it.
    std::vector<std::string> ClientEnvironment() const;
    Image Screenshot() const;
    // Types a key (wtype's name for it) after giving the focused client time to bind the
    // virtual keyboard that wtype adds, since the seat has none of its own.
    bool Type(const std::string& key) const;
    std::string Log() const { return sway_ ? sway_->Errors() : ""; }

  private:
    TempDir runtime_{kNobody};
    TempDir clientRuntime_;
    std::unique_ptr<Child> sway_;
    std::string socket_;
};

// A host window made by the test on its own connection, as the hosts' settings dialogs make one
// small preview inside the dialog. Destroyed with the handle unless the test destroyed it first.
class HostWindow {
  public:
    // A child of the given window (the root when 0), in black, mapped.
    HostWindow(_XDisplay* display, const Rect& area, unsigned long parent = 0,
               unsigned long background = 0);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    unsigned long Id() const { return id_; }
    std::string Hex() const;  // as XScreenSaver writes it: "0x..."
    void Resize(int width, int height);
    void Destroy();
    // Marks it as the desktop's virtual root (__SWM_VROOT), as some desktops mark theirs.
    void MarkVirtualRoot();

  private:
    _XDisplay* display_;
    unsigned long id_;
};

}  // namespace e2e
