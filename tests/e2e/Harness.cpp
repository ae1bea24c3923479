#include "Harness.h"

#include <gtest/gtest.h>  // before Xlib, whose macros would clash with it

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

extern char** environ;

namespace e2e {

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& env, int passFd)
    : errors_(std::tmpfile()) {
    std::vector<std::string> command{"env"};
    for (const std::string& change : env) {
        if (change.rfind('-', 0) == 0) {
            command.insert(command.end(), {"-u", change.substr(1)});
        }
    }
    for (const std::string& change : env) {
        if (change.rfind('-', 0) != 0) command.push_back(change);
    }
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : command) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errors_) posix_spawn_file_actions_adddup2(&actions, fileno(errors_), 2);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
    if (!errors_ || posix_spawnp(&pid_, "env", &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << args.front();
    }
    posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
    for (int signal : {SIGTERM, SIGKILL}) {
        if (Wait(0ms) == "running") kill(pid_, signal), Wait(2s);
    }
    if (errors_) std::fclose(errors_);
}

std::string Child::Wait(std::chrono::milliseconds timeout) {
    for (const auto end = Clock::now() + timeout; !status_ && pid_ > 0;) {
        if (int status; waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = status;
        else if (Clock::now() >= end)
            return "running";
        else
            std::this_thread::sleep_for(5ms);
    }
    if (!status_) return "not started";
    return WIFEXITED(*status_) ? "exit " + std::to_string(WEXITSTATUS(*status_))
                               : "signal " + std::to_string(WTERMSIG(*status_));
}

std::string Child::Errors() const {
    std::string text;
    char buffer[4096];
    for (ssize_t got; errors_ && (got = pread(fileno(errors_), buffer, sizeof buffer,
                                              off_t(text.size()))) > 0;) {
        text.append(buffer, std::size_t(got));
    }
    return text;
}

std::string ToString(const Rect& r) {
    return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) +
           "+" + std::to_string(r.y);
}

Image Image::Crop(const Rect& r) const {
    Image part{r.width, r.height, {}};
    part.pixels.reserve(std::size_t(r.width * r.height));
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) part.pixels.push_back(At(x, y));
    return part;
}

std::size_t Image::Colours(int left, int top, int right, int bottom) const {
    std::set<std::uint32_t> seen;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) seen.insert(At(x, y));
    return seen.size();
}

XServer::XServer(std::vector<std::string> command, std::chrono::milliseconds timeout) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        ADD_FAILURE() << "no pipe for -displayfd";
        return;
    }
    command.insert(command.begin() + 1, {"-displayfd", "3"});
    server_ = std::make_unique<Child>(command, std::vector<std::string>{}, pipeFds[1]);
    close(pipeFds[1]);
    std::string number;
    const auto end = Clock::now() + timeout;
    for (pollfd ready{pipeFds[0], POLLIN, 0};
         Clock::now() < end && number.find('\n') == number.npos;) {
        if (poll(&ready, 1, 50) == 1) {
            char buffer[16];
            const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
            if (got <= 0) break;
            number.append(buffer, std::size_t(got));
        } else if (server_->Wait(0ms) != "running") {
            break;
        }
    }
    close(pipeFds[0]);
    if (number.find('\n') == number.npos) {
        ADD_FAILURE() << command.front() << " did not come up: " << server_->Errors();
        return;
    }
    name_ = number.substr(0, number.find('\n'));
    name_.insert(name_.begin(), ':');
    display_ = XOpenDisplay(name_.c_str());
    if (!display_) ADD_FAILURE() << "cannot connect to " << command.front() << " on " << name_;
}

XServer::~XServer() {
    if (display_) XCloseDisplay(display_);
    server_.reset();  // by its process id
}

void XServer::Kill() {
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
    if (server_) kill(server_->Pid(), SIGKILL), server_->Wait(2s);
}

void XServer::WatchMapsAndBells() {
    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!display_ || !XkbQueryExtension(display_, &opcode, &bellEvent_, &error, &major, &minor)) {
        ADD_FAILURE() << "no XKB on " << name_;
        return;
    }
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, False);
}

std::string XServer::MapsAndBells() {
    if (!display_) return {};
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MapNotify) noted_ += noted_.empty() ? "map" : " map";
        if (event.type == bellEvent_ &&
            reinterpret_cast<XkbAnyEvent*>(&event)->xkb_type == XkbBellNotify)
            noted_ += noted_.empty() ? "bell" : " bell";
    }
    return noted_;
}

Image XServer::Screenshot(int left, int top, int width, int height) const {
    Image image;
    if (!display_) return image;
    XWindowAttributes root{};
    XGetWindowAttributes(display_, DefaultRootWindow(display_), &root);
    image.width = width ? width : root.width;
    image.height = height ? height : root.height;
    XImage* shot = XGetImage(display_, DefaultRootWindow(display_), left, top,
                             unsigned(image.width), unsigned(image.height), AllPlanes, ZPixmap);
    if (!shot) {
        ADD_FAILURE() << "XGetImage failed on " << name_;
        image.pixels.assign(std::size_t(image.width * image.height), 0);
        return image;
    }
    image.pixels.reserve(std::size_t(image.width * image.height));
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.pixels.push_back(std::uint32_t(XGetPixel(shot, x, y)) & 0xFFFFFF);
    XDestroyImage(shot);
    return image;
}

std::vector<TopLevel> XServer::MappedTopLevels() const {
    std::vector<TopLevel> found;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!display_ ||
        !XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
        return found;
    }
    const Atom pidAtom = XInternAtom(display_, "_NET_WM_PID", False);
    // A window may go between the query and the look: the error handler stays quiet meanwhile.
    auto* previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(display_, children[i], &a) || a.map_state != IsViewable) continue;
        TopLevel top{children[i], {a.x, a.y, a.width, a.height}, 0, {}};
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                               &format, &items, &after, &data) == Success &&
            data && items == 1 && format == 32) {
            top.pid = *reinterpret_cast<long*>(data);
        }
        if (data) XFree(data);
        if (XClassHint hint{}; XGetClassHint(display_, children[i], &hint)) {
            if (hint.res_class) top.className = hint.res_class;
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        found.push_back(top);
    }
    XSetErrorHandler(previous);
    if (children) XFree(children);
    return found;
}

std::pair<int, int> XServer::Pointer() const {
    Window root, child;
    int x = -1, y = -1, wx, wy;
    unsigned mask;
    if (display_) {
        XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &wx, &wy,
                      &mask);
    }
    return {x, y};
}

// Runs a command with DISPLAY set, ended after the timeout; its status as pclose gives it and what
// it printed, or nothing when it cannot be started.
std::optional<std::pair<int, std::string>> XServer::Shell(const std::string& command,
                                                          std::chrono::milliseconds timeout,
                                                          const char* errors) const {
    const std::string line = "DISPLAY=" + name_ + " timeout " +
                             std::to_string(double(timeout.count()) / 1000) + " " + command +
                             " 2>" + errors;
    std::FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return std::nullopt;
    }
    std::string out;
    for (int c; (c = std::fgetc(pipe)) != EOF;) out += char(c);
    return std::pair(pclose(pipe), out);
}

bool XServer::Must(const std::string& command, std::chrono::milliseconds timeout) const {
    const auto ran = Shell("sh -c '" + command + "'", timeout, "&1");
    if (!ran) return false;
    const auto& [status, out] = *ran;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    ADD_FAILURE() << "on " << name_ << ": `" << command << "` failed ("
                  << (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                        : std::string("signal"))
                  << "): " << out;
    return false;
}

std::string XServer::Run(const std::string& command, std::chrono::milliseconds timeout) const {
    const auto ran = Shell(command, timeout, "/dev/null");
    if (!ran) return {};
    if (WIFEXITED(ran->first) && WEXITSTATUS(ran->first) == 124) {
        ADD_FAILURE() << "timed out: " << command;
    }
    return ran->second;
}

std::string SaverBinary() {
    const char* given = std::getenv("DIGITMOSAIC_BINARY");
    return given && *given ? given : DIGITMOSAIC_BINARY;
}

}  // namespace e2e
