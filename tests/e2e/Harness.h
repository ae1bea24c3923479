// The end-to-end tests' one harness: processes ended by their id, the servers the saver meets
// (Xvfb, the X.org dummy driver, headless sway), screenshots and one way to wait for cells on
// screen.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct _XDisplay;  // Xlib's Display; its header's macros stay out of the tests

namespace e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ms = std::chrono::milliseconds;
using Strings = std::vector<std::string>;
// The user the hosts run as: nobody when the tests run as root, which XScreenSaver, MATE's screen
// saver and sway refuse; else the tests' own user.
inline const uid_t kHostUser = geteuid() == 0 ? 65534 : geteuid();

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};
constexpr Rect kScreen{0, 0, 960, 540};       // Xvfb's, unless told otherwise
inline std::string ToString(const Rect& r) {  // "WxH+X+Y", as xrandr writes it
    return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) +
           "+" + std::to_string(r.y);
}

struct Image {  // 0xRRGGBB pixels, row by row; a display's narrower channels at their bytes' tops
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

// A private directory, owned by the user (and the group of the same number, or the tests' own
// group for the tests' user), removed with what it holds.
struct TempDir {
    explicit TempDir(uid_t user = geteuid(), unsigned mode = 0700)
        : owner(user), group(user == geteuid() ? getegid() : user) {
        char name[] = "/tmp/digitmosaic-e2e-XXXXXX";
        path = mkdtemp(name) ? name : "";
        if (path.empty() || chmod(name, mode) != 0 || chown(name, owner, group) != 0)
            ADD_FAILURE() << "no temporary directory for user " << user;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string Write(const std::string& name, const std::string& text) const {  // its path
        const std::string file = path + "/" + name;
        std::ofstream(file) << text;
        if (chown(file.c_str(), owner, group) != 0) ADD_FAILURE() << "cannot write " << file;
        return file;
    }
    std::string path;
    uid_t owner;
    gid_t group;
};

// A process with env(1)'s environment changes ("-u NAME", then "NAME=value"), its output kept;
// ended by its id (SIGTERM, then SIGKILL) if it still runs when the handle goes.
class Child {
  public:
    explicit Child(const Strings& args, const Strings& env = {}, int passFdAs3 = -1) {
        Strings command{"env"};
        command.insert(command.end(), env.begin(), env.end());
        command.insert(command.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const auto& [from, to] : {std::pair(out_ ? fileno(out_) : -1, 1),
                                       {err_ ? fileno(err_) : -1, 2},
                                       {passFdAs3, 3}})
            if (from >= 0) posix_spawn_file_actions_adddup2(&actions, from, to);
        if (!out_ || !err_ || posix_spawnp(&pid_, "env", &actions, nullptr, argv.data(), environ))
            pid_ = -1, ADD_FAILURE() << "cannot start " << args.front();
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        for (int signal : {SIGTERM, SIGKILL})
            if (Wait(0ms) == "running") kill(pid_, signal), Wait(2s);
        for (std::FILE* file : {out_, err_})
            if (file) std::fclose(file);
    }
    std::string Wait(ms timeout) {  // "exit N", "signal N" or, still running, "running"
        for (const auto end = Clock::now() + timeout; !status_ && pid_ > 0;
             std::this_thread::sleep_for(5ms))
            if (int status; waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = status;
            else if (Clock::now() >= end)
                return "running";
        if (!status_) return "not started";
        return WIFEXITED(*status_) ? "exit " + std::to_string(WEXITSTATUS(*status_))
                                   : "signal " + std::to_string(WTERMSIG(*status_));
    }
    std::string Out() const { return Read(out_); }
    std::string Errors() const { return Read(err_); }
    pid_t Pid() const { return pid_; }

  private:
    static std::string Read(std::FILE* file) {  // from the start, through a descriptor of its own
        std::ifstream in("/proc/self/fd/" + std::to_string(file ? fileno(file) : -1));
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::FILE *out_ = std::tmpfile(), *err_ = std::tmpfile();
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a command to its end within the timeout; what it printed. Fails the test unless it ends
// with status 0, or, when `status` is given, only when it does not end.
inline std::string Run(const Strings& args, const Strings& env = {}, ms timeout = 10s,
                       std::string* status = nullptr) {
    Child child(args, env);
    const std::string ended = child.Wait(timeout);
    if (status) *status = ended;
    if (ended == "running" || (!status && ended != "exit 0"))
        ADD_FAILURE() << args.back() << ": " << ended << ": " << child.Errors();
    return child.Out();
}

// One line on stderr that starts with the text, and status 1.
inline void Refused(Child& program, const std::string& line) {
    const std::string status = program.Wait(5s), errors = program.Errors();
    EXPECT_TRUE(status == "exit 1" && errors.rfind(line, 0) == 0 &&
                std::count(errors.begin(), errors.end(), '\n') == 1)
        << status << ": " << errors;
}

// The command with only the environment given (env -i), as kHostUser.
inline Strings AsHostUser(const Strings& env, const Strings& command) {
    const std::string id = std::to_string(kHostUser);
    Strings line{"env", "-i"};
    if (geteuid() == 0)
        line.insert(line.begin(), {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
    line.insert(line.end(), env.begin(), env.end());
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

// Whether this user may make user namespaces of its own (root need not).
inline bool UserNamespaces() {
    static const bool usable = geteuid() == 0 || [] {
        Child probe({"unshare", "--user", "--map-root-user", "--mount", "true"});
        return probe.Wait(5s) == "exit 0";
    }();
    return usable;
}

// The command with only the environment given, as another user than the tests' own: nobody when
// the tests run as root, else the next user's number in a user namespace of its own, where the
// tests' user has that number (see UserNamespaces). What the command sees of itself, from getuid()
// to its files' owners, is that user's.
inline Strings AsAnotherUser(const Strings& env, const Strings& command) {
    if (geteuid() == 0) return AsHostUser(env, command);
    const std::string other = std::to_string(geteuid() + 1);
    Strings line{"unshare", "--map-user=" + other, "--map-group=" + other, "env", "-i"};
    line.insert(line.end(), env.begin(), env.end());
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

// The command, as AsHostUser runs it, with the installed tree's usr laid over /usr in a private
// mount namespace, so that the machine stays as it was. Without root, the mount is made in a user
// namespace where the tests' user is root, and the command runs in one nested in it where that
// user is itself again (see UserNamespaces).
inline Strings OverUsr(const std::string& tree, const Strings& env, const Strings& command) {
    const bool root = geteuid() == 0;
    const std::string asItself = root ? ""
                                      : "unshare --map-user=" + std::to_string(geteuid()) +
                                            " --map-group=" + std::to_string(getegid()),
                      mount = "mount -t overlay overlay -o lowerdir=\"$0/usr:/usr\" /usr && exec " +
                              asItself + " \"$@\"";
    Strings line{"unshare", "--mount", "--propagation", "private", "sh", "-c", mount, tree};
    if (!root) line.insert(line.begin() + 1, {"--user", "--map-root-user"});
    for (const std::string& word : AsHostUser(env, command)) line.push_back(word);
    return line;
}

// How often the process's threads slept over the span (voluntary context switches).
inline long SleepsOver(pid_t pid, ms span) {
    long sleeps = 0;
    for (const int sign : {-1, 1}) {
        if (sign > 0) std::this_thread::sleep_for(span);
        std::string line;
        for (const auto& task :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
            for (std::ifstream status(task.path() / "status"); std::getline(status, line);)
                if (line.starts_with("voluntary_ctxt_switches:"))
                    sleeps += sign * std::stol(line.substr(24));
    }
    return sleeps;
}

// DIGITMOSAIC_BINARY when set (an installed copy), else the build's.
inline std::string SaverBinary() {
    const char* given = std::getenv("DIGITMOSAIC_BINARY");
    return given && *given ? given : DIGITMOSAIC_BINARY;
}

// A server of the test's own, ended by its id with the test: Xvfb (960 x 540, black, or as the
// options say), the X.org server on the dummy driver (outputs DUMMY0 to DUMMY15 for xrandr), or
// sway as kHostUser with outputs at the given places (screenshots with grim): headless, or with its
// outputs as windows on an Xvfb of its own, which can be closed as a monitor is unplugged.
class Server {
  public:
    enum Kind { kXvfb, kDummyXorg, kSway, kSwayOnX };
    explicit Server(Kind kind = kXvfb, const Strings& options = {},
                    const std::vector<Rect>& outputs = {});
    ~Server() { Kill(); }
    bool Up() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }  // ":N", or the Wayland socket's path
    // The saver with the arguments on this display alone, with a private runtime directory, run by
    // the shell's command that ends in "exec" or a wrapper.
    std::unique_ptr<Child> Start(const Strings& args, const Strings& env = {},
                                 const std::string& shell = "exec", int passFdAs3 = -1) const;
    // A shell line on this display; what it printed. Fails the test unless status 0 or `quiet`.
    std::string Sh(const std::string& line, bool quiet = false, ms timeout = 10s) const;
    Image Shot(Rect area = {}) const;  // all of the screen when empty
    void Kill();                       // at once, as a crash would
    // kSwayOnX only. Unplugs the output ("X11-2"): its window on the Xvfb closes.
    void Unplug(const std::string& output) const;

    // X only. The visible windows `xdotool search` finds with the options and pattern, by id.
    std::vector<std::pair<unsigned long, Rect>> Windows(const std::string& search) const;
    // A window of the test's own, mapped; a popup is override-redirect; a virtual root is marked
    // as a desktop's.
    unsigned long Map(const Rect& area, std::uint32_t background = 0, unsigned long parent = 0,
                      bool popup = false, bool virtualRoot = false) const;
    void Close(unsigned long window) const;  // WM_DELETE_WINDOW, as a window manager asks
    // Holds the keyboard's and the pointer's grabs through the test's connection, as another client
    // (an open menu, a game) would; what is not asked for is released. True when all were had.
    bool Grab(bool keyboard, bool pointer) const;
    // How many pixels of the area a grey popup over it leaves lost (see Lost) once gone;
    // `covered` runs while it is there.
    int LostUnderPopup(const Rect& area, const std::function<void()>& covered = {}) const;
    // Top-level windows mapped (" map") and bells rung (" bell") since the first call, in order.
    std::string MapsAndBells();

  private:
    bool Sway() const { return kind_ == kSway || kind_ == kSwayOnX; }

    Kind kind_;
    std::unique_ptr<Server> outputsHost_;  // kSwayOnX: the Xvfb its outputs are windows on
    TempDir dir_, runtime_;
    std::unique_ptr<Child> process_;
    std::string name_, noted_;
    _XDisplay* display_ = nullptr;
    int bellEvent_ = -1;
};

// Pixels that went black, or grey (0x808080), where `before` showed something else.
int Lost(const Image& before, const Image& after);

// Whether the area shows something else 300 ms later.
inline bool Painting(const Server& s, const Rect& area) {
    const Image before = s.Shot(area);
    std::this_thread::sleep_for(300ms);
    return s.Shot(area).pixels != before.pixels;
}

// Watches the area for at most `within`: true once it shows cells (two colours or more) and, when
// `all`, once every pixel of it has shown something other than `before` (black when empty).
bool Shows(const Server& s, const Rect& area, ms within, bool all = false,
           const Image& before = {});

}  // namespace e2e
