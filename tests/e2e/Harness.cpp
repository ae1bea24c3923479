// The harness's servers, screenshots and the one wait for cells.
#include "Harness.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <bit>
#include <unordered_set>

namespace e2e {

Server::Server(Kind kind, const Strings& options, const std::vector<Rect>& outputs)
    : kind_(kind), dir_(Sway() ? kHostUser : geteuid()) {
    const auto end = Clock::now() + 10s;
    if (Sway()) {  // with as many outputs as asked for, placed as asked
        const bool onX = kind == kSwayOnX;
        Strings env{
            "HOME=" + dir_.path,
            "XDG_RUNTIME_DIR=" + dir_.path,
            "WLR_RENDERER=pixman",
            "PATH=/usr/bin:/bin",
            (onX ? "WLR_X11_OUTPUTS=" : "WLR_HEADLESS_OUTPUTS=") + std::to_string(outputs.size()),
            onX ? "WLR_BACKENDS=x11" : "WLR_BACKENDS=headless"};
        if (onX) {
            // The atoms its windows are named and closed with exist before it looks them up.
            outputsHost_ = std::make_unique<Server>(kXvfb);
            if (!outputsHost_->Up()) return;
            Atom atoms[4];
            char* names[] = {const_cast<char*>("WM_PROTOCOLS"),
                             const_cast<char*>("WM_DELETE_WINDOW"),
                             const_cast<char*>("_NET_WM_NAME"), const_cast<char*>("UTF8_STRING")};
            XInternAtoms(outputsHost_->display_, names, 4, False, atoms);
            XSync(outputsHost_->display_, False);
            env.push_back("DISPLAY=" + outputsHost_->Name());
        }
        std::string config = "xwayland disable\n";
        int width = 0, height = 0;
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const Rect& o = outputs[i];
            config += std::string(onX ? "output X11-" : "output HEADLESS-") +
                      std::to_string(i + 1) + (onX ? " mode " : " resolution ") +
                      std::to_string(o.width) + "x" + std::to_string(o.height) + " position " +
                      std::to_string(o.x) + " " + std::to_string(o.y) + "\n";
            width = std::max(width, o.x + o.width), height = std::max(height, o.y + o.height);
        }
        process_ =
            std::make_unique<Child>(AsHostUser(env, {"sway", "-c", dir_.Write("config", config)}));
        name_ = dir_.path + "/wayland-1";
        for (Image shot; Up() && (shot.width != width || shot.height != height);)  // all placed
            if (shot = Shot(); Clock::now() >= end) name_.clear();
        if (!Up()) ADD_FAILURE() << "sway did not come up: " << process_->Errors();
        return;
    }
    // The X.org server itself, not Debian's wrapper, which lets only a console's user start it: it
    // needs no root on the dummy driver. Its configuration is the tests' alone (no folder of
    // snippets).
    const char* xorg = "/usr/lib/xorg/Xorg";
    Strings command = kind == kXvfb ? Strings{"Xvfb", "-screen", "0", "960x540x24", "-dpi", "96"}
                                    : Strings{xorg,       "-config",  DIGITMOSAIC_XORG_CONF,
                                              "-noreset", "-logfile", dir_.path + "/xorg.log",
                                              "-seat",    "seat-e2e"};  // no VT taken on this seat
    if (kind == kDummyXorg) command.insert(command.end(), {"-configdir", dir_.path});
    command.insert(command.end(), {"-br", "-nolisten", "tcp", "-displayfd", "1"});
    command.insert(command.end(), options.begin(), options.end());
    process_ = std::make_unique<Child>(command);
    for (std::string number; Clock::now() < end && process_->Wait(5ms) == "running" && !Up();)
        if ((number = process_->Out()).find('\n') != number.npos)
            name_ = ":" + number.substr(0, number.size() - 1);
    if (Up() && !(display_ = XOpenDisplay(name_.c_str()))) name_.clear();
    if (!Up()) ADD_FAILURE() << command[0] << " did not come up: " << process_->Errors();
}

void Server::Kill() {
    if (display_) XCloseDisplay(display_), display_ = nullptr;
    if (process_ && !Sway()) kill(process_->Pid(), SIGKILL);
    process_.reset();  // by its process id
    outputsHost_.reset();
}

void Server::Unplug(const std::string& output) const {
    if (!outputsHost_) {
        ADD_FAILURE() << "no output of sway's is a window";
        return;
    }
    _XDisplay* x = outputsHost_->display_;
    const Atom name = XInternAtom(x, "_NET_WM_NAME", False);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, left = 0;
        unsigned char* title = nullptr;
        if (XGetWindowProperty(x, children[i], name, 0, 64, False, AnyPropertyType, &type, &format,
                               &items, &left, &title) == Success &&
            title && std::string(reinterpret_cast<char*>(title)) == "wlroots - " + output)
            outputsHost_->Close(children[i]);
        if (title) XFree(title);
    }
    if (children) XFree(children);
}

std::unique_ptr<Child> Server::Start(const Strings& args, const Strings& env,
                                     const std::string& shell, int passFdAs3) const {
    Strings all{"XDG_RUNTIME_DIR=" + runtime_.path},
        line{"sh", "-c", shell + " \"$0\" \"$@\"", SaverBinary()};
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XSCREENSAVER_WINDOW"})
        all.insert(all.begin(), {"-u", name});
    if (Sway()) all.push_back("XDG_SESSION_TYPE=wayland");
    all.push_back((Sway() ? "WAYLAND_DISPLAY=" : "DISPLAY=") + name_);
    all.insert(all.end(), env.begin(), env.end());
    line.insert(line.end(), args.begin(), args.end());
    return std::make_unique<Child>(line, all, passFdAs3);
}

std::string Server::Sh(const std::string& line, bool quiet, ms timeout) const {
    std::string status;
    return Run({"sh", "-c", line}, {(Sway() ? "WAYLAND_DISPLAY=" : "DISPLAY=") + name_}, timeout,
               quiet ? &status : nullptr);
}

Image Server::Shot(Rect a) const {
    Image image;
    if (Sway()) {  // grim's PPM: "P6\n<width> <height>\n255\n", then RGB bytes
        const std::string at = std::to_string(a.x) + "," + std::to_string(a.y) + " " +
                               std::to_string(a.width) + "x" + std::to_string(a.height);
        const std::string ppm =
            Sh("grim -t ppm " + (a.width ? "-g '" + at + "' -" : "-"), true, 5s);
        int start = 0;
        std::sscanf(ppm.c_str(), "P6 %d %d 255%*c%n", &image.width, &image.height, &start);
        if (!start || ppm.size() != std::size_t(start + 3 * image.width * image.height)) return {};
        const auto* rgb = reinterpret_cast<const std::uint8_t*>(ppm.data()) + start;
        for (int i = 0; i < image.width * image.height; ++i, rgb += 3)
            image.pixels.push_back(std::uint32_t(rgb[0]) << 16 | rgb[1] << 8 | rgb[2]);
        return image;
    }
    if (!display_) return {};
    if (!a.width) a = {0, 0, DisplayWidth(display_, 0), DisplayHeight(display_, 0)};
    XImage* shot = XGetImage(display_, DefaultRootWindow(display_), a.x, a.y, unsigned(a.width),
                             unsigned(a.height), AllPlanes, ZPixmap);
    if (!shot) return image;
    const auto byte = [](unsigned long pixel, unsigned long mask) {  // the channel in 8 bits
        return std::uint32_t((pixel & mask) >> std::countr_zero(mask) << 8 >> std::popcount(mask));
    };
    image = {a.width, a.height, {}};
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            image.pixels.push_back(byte(pixel, shot->red_mask) << 16 |
                                   byte(pixel, shot->green_mask) << 8 |
                                   byte(pixel, shot->blue_mask));
        }
    XDestroyImage(shot);
    return image;
}

std::vector<std::pair<unsigned long, Rect>> Server::Windows(const std::string& search) const {
    const std::string out = Sh("xdotool search --all --onlyvisible " + search +
                                   " getwindowgeometry --shell %@ 2>/dev/null",
                               true);
    std::vector<std::pair<unsigned long, Rect>> found;
    unsigned long id = 0;
    Rect r;
    for (int used = 0, at = 0;
         std::sscanf(out.c_str() + at, " WINDOW=%lu X=%d Y=%d WIDTH=%d HEIGHT=%d SCREEN=%*d%n", &id,
                     &r.x, &r.y, &r.width, &r.height, &used) == 5;
         at += used)
        found.push_back({id, r});
    return found;
}

unsigned long Server::Map(const Rect& a, std::uint32_t background, unsigned long parent, bool popup,
                          bool virtualRoot) const {
    XSetWindowAttributes set{};
    set.background_pixel = background, set.override_redirect = popup;
    const unsigned long id =
        XCreateWindow(display_, parent ? parent : DefaultRootWindow(display_), a.x, a.y,
                      unsigned(a.width), unsigned(a.height), 0, CopyFromParent, InputOutput,
                      nullptr, CWBackPixel | CWOverrideRedirect, &set);
    if (virtualRoot)
        XChangeProperty(display_, id, XInternAtom(display_, "__SWM_VROOT", False), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
    XMapWindow(display_, id), XSync(display_, False);
    return id;
}

void Server::Close(unsigned long window) const {
    XEvent event{};
    event.xclient.type = ClientMessage, event.xclient.window = window, event.xclient.format = 32;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    XSendEvent(display_, window, False, NoEventMask, &event), XSync(display_, False);
}

bool Server::Grab(bool keyboard, bool pointer) const {
    const Window root = DefaultRootWindow(display_);
    XUngrabKeyboard(display_, CurrentTime), XUngrabPointer(display_, CurrentTime);
    const bool held =
        (!keyboard || XGrabKeyboard(display_, root, False, GrabModeAsync, GrabModeAsync,
                                    CurrentTime) == GrabSuccess) &&
        (!pointer || XGrabPointer(display_, root, False, ButtonPressMask, GrabModeAsync,
                                  GrabModeAsync, None, None, CurrentTime) == GrabSuccess);
    XSync(display_, False);
    return held;
}

int Server::LostUnderPopup(const Rect& area, const std::function<void()>& covered) const {
    const Image before = Shot(area);
    const unsigned long popup = Map(area, 0x808080, 0, true);
    std::this_thread::sleep_for(300ms);
    if (covered) covered();
    XDestroyWindow(display_, popup), XSync(display_, False);
    std::this_thread::sleep_for(300ms);
    return Lost(before, Shot(area));
}

std::string Server::MapsAndBells() {
    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (bellEvent_ < 0 &&
        XkbQueryExtension(display_, &opcode, &bellEvent_, &error, &major, &minor)) {
        XkbSelectEvents(display_, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    }
    for (XEvent event; XSync(display_, False), XPending(display_) > 0;) {
        XNextEvent(display_, &event);
        noted_ += event.type == MapNotify ? " map" : event.type == bellEvent_ ? " bell" : "";
    }
    return noted_;
}

int Lost(const Image& before, const Image& after) {
    int lost = 0;
    for (std::size_t i = 0; i < after.pixels.size() && i < before.pixels.size(); ++i)
        lost += before.pixels[i] != after.pixels[i] &&
                (after.pixels[i] == 0x808080 || after.pixels[i] == 0);
    return lost;
}

bool Shows(const Server& s, const Rect& area, ms within, bool all, const Image& before) {
    std::vector<bool> seen(std::size_t(area.width * area.height));
    for (const auto end = Clock::now() + within;; std::this_thread::sleep_for(20ms)) {
        const Image shot = s.Shot(area);
        const bool whole = shot.pixels.size() == seen.size();
        for (std::size_t i = 0; whole && i < seen.size(); ++i)
            seen[i] = seen[i] || shot.pixels[i] != (before.width ? before.pixels[i] : 0);
        if (whole && std::unordered_set(shot.pixels.begin(), shot.pixels.end()).size() > 1 &&
            (!all || !std::count(seen.begin(), seen.end(), false)))
            return true;
        if (Clock::now() >= end) return false;
    }
}

}  // namespace e2e
