#include "RealHosts.h"

#include <gtest/gtest.h>  // before Xlib, whose macros would clash with it

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace e2e {

namespace {

// Runs a shell line and returns its standard output, bytes as they come.
std::string Output(const std::string& line, int* status = nullptr) {
    std::string out;
    std::FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) return out;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    const int result = pclose(pipe);
    if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return out;
}

// The command line that runs a program as the unprivileged user, in exactly this environment.
std::vector<std::string> AsNobody(std::vector<std::string> environment,
                                  const std::vector<std::string>& command) {
    const std::string id = std::to_string(kNobody);
    std::vector<std::string> line{"setpriv",        "--reuid=" + id, "--regid=" + id,
                                  "--clear-groups", "env",           "-i"};
    line.insert(line.end(), environment.begin(), environment.end());
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

std::vector<std::string> DummyXorgCommand(const TempDir& dir) {
    // A seat other than seat0 takes no VT, so servers started side by side do not switch each
    // other away.
    return {"Xorg", "-config",  DIGITMOSAIC_XORG_CONF,    "-noreset", "-nolisten",
            "tcp",  "-logfile", dir.Path() + "/xorg.log", "-seat",    "seat-e2e",
            "-br"};
}

}  // namespace

TempDir::TempDir(uid_t owner, unsigned mode) : owner_(owner) {
    char name[] = "/tmp/digitmosaic-e2e-XXXXXX";
    if (!mkdtemp(name)) {
        ADD_FAILURE() << "cannot make a temporary directory";
        return;
    }
    path_ = name;
    if (chmod(name, mode) != 0 || chown(name, owner, owner) != 0)
        ADD_FAILURE() << "cannot hand " << path_ << " to user " << owner;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& text, unsigned mode) const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path) << text;
    if (chmod(path.c_str(), mode) != 0 || chown(path.c_str(), owner_, owner_) != 0)
        ADD_FAILURE() << "cannot write " << path;
    return path;
}

std::string TempDir::Copy(const std::string& from, const std::string& name, unsigned mode) const {
    const std::string path = path_ + "/" + name;
    std::error_code error;
    std::filesystem::copy_file(from, path, error);
    if (error || chmod(path.c_str(), mode) != 0 || chown(path.c_str(), owner_, owner_) != 0)
        ADD_FAILURE() << "cannot copy " << from << " to " << path << ": " << error.message();
    return path;
}

bool ProcessRuns(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto end = text.rfind(')');
    return end != std::string::npos && end + 2 < text.size() && text[end + 2] != 'Z' &&
           text[end + 2] != 'X';
}

std::vector<std::string> SaverEnvironment(const std::string& display, const TempDir& runtime,
                                          const std::string& hostWindow) {
    std::vector<std::string> env{"-DISPLAY",           "-WAYLAND_DISPLAY",
                                 "-QT_QPA_PLATFORM",   "-XSCREENSAVER_WINDOW",
                                 "DISPLAY=" + display, "XDG_RUNTIME_DIR=" + runtime.Path()};
    if (!hostWindow.empty()) env.push_back("XSCREENSAVER_WINDOW=" + hostWindow);
    return env;
}

std::string InstalledTree(const TempDir& into) {
    if (const char* given = std::getenv("DIGITMOSAIC_INSTALLED"); given && *given) return given;
    int status = -1;
    const std::string out = Output("DESTDIR='" + into.Path() +
                                       "' '" DIGITMOSAIC_CMAKE "' --install '" DIGITMOSAIC_BUILD_DIR
                                       "' --prefix /usr 2>&1",
                                   &status);
    if (status != 0) {
        ADD_FAILURE() << "cmake --install failed: " << out;
        return {};
    }
    return into.Path();
}

// --- X.org with the dummy driver ---

DummyXorg::DummyXorg() : server_(DummyXorgCommand(dir_)) {
    if (!server_.Up()) {
        std::ifstream log(dir_.Path() + "/xorg.log");
        std::string errors;
        for (std::string line; std::getline(log, line);)
            if (line.find("(EE)") != std::string::npos) errors += line + "\n";
        ADD_FAILURE() << "the errors in Xorg's log:\n" << errors;
    }
}

bool DummyXorg::Enable(const std::string& output, const Rect& area, bool primary) {
    // A mode of that size at 60 Hz, with blanking the dummy driver accepts.
    const int width = area.width, height = area.height;
    const int htotal = width + 160, vtotal = height + 30;
    const std::string mode = "e2e-" + std::to_string(width) + "x" + std::to_string(height);
    char clock[32];
    std::snprintf(clock, sizeof clock, "%.2f", htotal * vtotal * 60 / 1e6);
    const std::string timings = std::string(clock) + " " + std::to_string(width) + " " +
                                std::to_string(width + 48) + " " + std::to_string(width + 80) +
                                " " + std::to_string(htotal) + " " + std::to_string(height) + " " +
                                std::to_string(height + 3) + " " + std::to_string(height + 8) +
                                " " + std::to_string(vtotal);
    // Making a mode that exists already, or adding it twice, fails harmlessly.
    return server_.Must("xrandr --newmode " + mode + " " + timings + " 2>/dev/null; " +
                        "xrandr --addmode " + output + " " + mode + " 2>/dev/null; " +
                        "xrandr --output " + output + " --mode " + mode + " --pos " +
                        std::to_string(area.x) + "x" + std::to_string(area.y) +
                        (primary ? " --primary" : ""));
}

bool DummyXorg::Disable(const std::string& output) {
    return server_.Must("xrandr --output " + output + " --off");
}

std::vector<Rect> DummyXorg::Monitors() const {
    std::vector<Rect> monitors;
    std::istringstream lines(server_.Run("xrandr --listmonitors"));
    for (std::string line; std::getline(lines, line);) {
        Rect r;
        if (std::sscanf(line.c_str(), " %*d: %*s %d/%*dx%d/%*d+%d+%d", &r.width, &r.height, &r.x,
                        &r.y) == 4)
            monitors.push_back(r);
    }
    return monitors;
}

// --- XScreenSaver ---

XScreenSaverDaemon::XScreenSaverDaemon(const XServer& server)
    : server_(server), home_(kNobody, 0755) {
    const std::string saver = home_.Copy(SaverBinary(), "digitmosaic");
    home_.Write(".xscreensaver",
                "mode: one\nselected: 0\nlock: False\nfade: False\n"
                "unfade: False\nsplash: False\ntimeout: 1:00:00\n"
                "programs: \"Digit Mosaic\" " +
                    saver + " /s \\n\n");
    daemon_ = std::make_unique<Child>(
        AsNobody({"HOME=" + home_.Path(), "DISPLAY=" + server.Name(), "PATH=/usr/bin:/bin"},
                 {"xscreensaver", "-no-splash", "-verbose"}));
}

XScreenSaverDaemon::~XScreenSaverDaemon() {
    const std::string log = Log();
    daemon_.reset();  // by its process id; it ends its savers
    // Anything it left behind, by the process ids it logged.
    static const std::regex forked("forked \"[^\"]*\" in pid ([0-9]+)");
    for (std::sregex_iterator i(log.begin(), log.end(), forked), end; i != end; ++i) {
        const pid_t pid = std::stoi((*i)[1]);
        if (ProcessRuns(pid)) kill(pid, SIGKILL);
    }
}

bool XScreenSaverDaemon::Activate(std::chrono::milliseconds timeout) const {
    for (const auto end = Clock::now() + timeout; Clock::now() < end;) {
        // It answers only once the daemon has set up its windows.
        if (server_.Run("sh -c 'xscreensaver-command -activate >/dev/null 2>&1 && echo yes'") ==
            "yes\n")
            return true;
        std::this_thread::sleep_for(100ms);
    }
    ADD_FAILURE() << "xscreensaver-command -activate did not reach the daemon within "
                  << timeout.count() << " ms; its log:\n"
                  << Log();
    return false;
}

std::optional<XScreenSaverDaemon::Launch> XScreenSaverDaemon::WaitForLaunch(
    std::chrono::milliseconds timeout) const {
    static const std::regex forked("forked \"[^\"]*\" in pid ([0-9]+) on window (0x[0-9a-fA-F]+)");
    for (const auto end = Clock::now() + timeout;; std::this_thread::sleep_for(20ms)) {
        const std::string log = Log();
        if (std::smatch m; std::regex_search(log, m, forked))
            return Launch{std::stoi(m[1]), std::stoul(m[2], nullptr, 16)};
        if (Clock::now() >= end) {
            ADD_FAILURE() << "XScreenSaver did not start the saver within " << timeout.count()
                          << " ms; its log:\n"
                          << log;
            return std::nullopt;
        }
    }
}

// --- MATE's screen saver ---

MateScreensaver::MateScreensaver(const XServer& server, const std::string& installedRoot,
                                 std::chrono::milliseconds timeout)
    : display_(server.Name()) {
    const std::string session = home_.Write(
        "session.sh",
        "gsettings set org.mate.screensaver mode single &&\n"
        "gsettings set org.mate.screensaver themes \"['screensavers-digitmosaic']\" &&\n"
        "gsettings set org.mate.screensaver lock-enabled false &&\n"
        "echo \"$$ $DBUS_SESSION_BUS_ADDRESS\" > \"$HOME/bus.new\" &&\n"
        "mv \"$HOME/bus.new\" \"$HOME/bus\" && exec mate-screensaver --no-daemon --debug\n");
    // Lays the tree over /usr as root, then becomes the user; the accessibility bus stays off.
    std::vector<std::string> user =
        AsNobody({"HOME=" + home_.Path(), "XDG_RUNTIME_DIR=" + runtime_.Path(),
                  "DISPLAY=" + display_, "PATH=/usr/bin:/bin", "NO_AT_BRIDGE=1", "GTK_A11Y=none"},
                 {"dbus-run-session", "--", "sh", session});
    std::string line = "mount -t overlay overlay -o lowerdir=\"$0/usr:/usr\" /usr && exec";
    for (const std::string& word : user) line += " '" + word + "'";
    session_ = std::make_unique<Child>(std::vector<std::string>{
        "unshare", "--mount", "--propagation", "private", "sh", "-c", line, installedRoot});
    // Up once it has its bus, and answers on it.
    for (const auto end = Clock::now() + timeout;
         Clock::now() < end && session_->Wait(0ms) == "running";
         std::this_thread::sleep_for(50ms)) {
        std::ifstream file(home_.Path() + "/bus");
        pid_t pid = -1;
        if (!(file >> pid >> bus_) || !Command("--query")) continue;
        pid_ = pid;
        break;
    }
    if (pid_ < 0)
        ADD_FAILURE() << "mate-screensaver did not answer within " << timeout.count() << " ms ("
                      << session_->Wait(0ms) << "): " << Log();
}

MateScreensaver::~MateScreensaver() {
    // Its savers, then it; its bus ends with it, and the session with the bus.
    for (const pid_t child : Children()) kill(child, SIGTERM);
    if (pid_ > 0 && ProcessRuns(pid_)) kill(pid_, SIGTERM);
    session_.reset();
}

bool MateScreensaver::Command(const std::string& option) const {
    int status = -1;
    Output(
        "timeout 5 " +
            [&] {
                std::string line;
                for (const std::string& word :
                     AsNobody({"DBUS_SESSION_BUS_ADDRESS=" + bus_, "DISPLAY=" + display_},
                              {"mate-screensaver-command", option}))
                    line += " '" + word + "'";
                return line;
            }() +
            " >/dev/null 2>&1",
        &status);
    return status == 0;
}

std::vector<pid_t> MateScreensaver::Children() const {
    std::vector<pid_t> children;
    const std::string id = std::to_string(pid_);
    std::ifstream list("/proc/" + id + "/task/" + id + "/children");
    for (pid_t child; pid_ > 0 && list >> child;)
        if (ProcessRuns(child)) children.push_back(child);
    return children;
}

// --- sway ---

HeadlessSway::HeadlessSway(const std::vector<Rect>& outputs, std::chrono::milliseconds timeout) {
    std::string config = "xwayland disable\n";
    int width = 0, height = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const Rect& o = outputs[i];
        config += "output HEADLESS-" + std::to_string(i + 1) + " resolution " +
                  std::to_string(o.width) + "x" + std::to_string(o.height) + " position " +
                  std::to_string(o.x) + " " + std::to_string(o.y) + "\n";
        width = std::max(width, o.x + o.width), height = std::max(height, o.y + o.height);
    }
    sway_ = std::make_unique<Child>(
        AsNobody({"HOME=" + runtime_.Path(), "XDG_RUNTIME_DIR=" + runtime_.Path(),
                  "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "PATH=/usr/bin:/bin"},
                 {"sway", "-c", runtime_.Write("config", config)}));
    std::string socket, ipc;
    const auto end = Clock::now() + timeout;
    for (; (socket.empty() || ipc.empty()) && Clock::now() < end && sway_->Wait(0ms) == "running";
         std::this_thread::sleep_for(20ms)) {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(runtime_.Path(), ignored)) {
            const std::string name = entry.path().filename();
            if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos)
                socket = entry.path();
            if (name.rfind("sway-ipc.", 0) == 0) ipc = entry.path();
        }
    }
    // The headless backend starts with one output; sway makes the others on request.
    for (std::size_t i = 1; !ipc.empty() && i < outputs.size(); ++i)
        Output("SWAYSOCK=" + ipc + " timeout 5 swaymsg create_output >/dev/null 2>&1");
    socket_ = socket;
    // Up once grim sees all outputs laid out.
    for (Image shot; !socket_.empty() && (shot.width != width || shot.height != height);
         std::this_thread::sleep_for(20ms)) {
        shot = Screenshot();
        if (Clock::now() >= end) socket_.clear();
    }
    if (socket_.empty())
        ADD_FAILURE() << "sway did not come up with " << outputs.size() << " outputs within "
                      << timeout.count() << " ms (" << sway_->Wait(0ms) << "): " << Log();
}

HeadlessSway::~HeadlessSway() { sway_.reset(); }

std::vector<std::string> HeadlessSway::ClientEnvironment() const {
    return {"-DISPLAY",
            "-QT_QPA_PLATFORM",
            "-XSCREENSAVER_WINDOW",
            "WAYLAND_DISPLAY=" + socket_,
            "XDG_RUNTIME_DIR=" + clientRuntime_.Path(),
            "XDG_SESSION_TYPE=wayland"};
}

Image HeadlessSway::Screenshot() const {
    Image image;
    const std::string ppm =
        Output("WAYLAND_DISPLAY=" + socket_ + " timeout 5 grim -t ppm - 2>/dev/null");
    // "P6\n<width> <height>\n255\n" and then RGB bytes.
    std::istringstream header(ppm);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    header >> magic >> width >> height >> maximum;
    const std::size_t start = std::size_t(header.tellg()) + 1;
    if (!header || magic != "P6" || maximum != 255 ||
        ppm.size() < start + std::size_t(3 * width * height))
        return image;
    image.width = width, image.height = height;
    image.pixels.reserve(std::size_t(width * height));
    for (std::size_t i = start; i + 2 < ppm.size(); i += 3) {
        image.pixels.push_back(std::uint32_t(std::uint8_t(ppm[i])) << 16 |
                               std::uint32_t(std::uint8_t(ppm[i + 1])) << 8 |
                               std::uint8_t(ppm[i + 2]));
    }
    return image;
}

bool HeadlessSway::Type(const std::string& key) const {
    int status = -1;
    Output("WAYLAND_DISPLAY=" + socket_ + " timeout 5 wtype -s 300 " + key + " 2>&1", &status);
    return status == 0;
}

// --- a host window ---

HostWindow::HostWindow(_XDisplay* display, const Rect& area, unsigned long parent,
                       unsigned long background)
    : display_(display) {
    id_ = XCreateSimpleWindow(display, parent ? parent : DefaultRootWindow(display), area.x, area.y,
                              unsigned(area.width), unsigned(area.height), 0, 0, background);
    XMapWindow(display, id_);
    XSync(display, False);
}

HostWindow::~HostWindow() { Destroy(); }

std::string HostWindow::Hex() const {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", id_);
    return text;
}

void HostWindow::Resize(int width, int height) {
    XResizeWindow(display_, id_, unsigned(width), unsigned(height));
    XSync(display_, False);
}

void HostWindow::MarkVirtualRoot() {
    const Window self = id_;
    XChangeProperty(display_, id_, XInternAtom(display_, "__SWM_VROOT", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&self), 1);
    XSync(display_, False);
}

void HostWindow::Destroy() {
    if (!id_) return;
    XDestroyWindow(display_, id_);
    XSync(display_, False);
    id_ = 0;
}

}  // namespace e2e
