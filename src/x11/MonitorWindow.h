// The saver's own window on one monitor, a surface: a black, borderless window over the whole
// monitor (asked of a window manager as full screen), with the pointer hidden, that keeps every
// picture painted so far and gives the saver's handlers the keys, buttons and moves that reach it,
// and a window manager's request to close it.
#pragma once

#include <xcb/xcb.h>

#include "x11/Monitors.h"
#include "x11/XcbSurface.h"

namespace digitmosaic {

// The atoms the saver's windows name, asked of the server once.
struct WindowAtoms {
    xcb_atom_t protocols, deleteWindow, state, fullScreen, motifHints, name, utf8, type, normal,
        pid, activeWindow, supported;
    static WindowAtoms Intern(xcb_connection_t* connection);
};

class MonitorWindow final : public XcbSurface {
  public:
    // Creates the window, unmapped, over the monitor.
    MonitorWindow(BackendEvents& events, xcb_connection_t* connection, const xcb_screen_t& screen,
                  const xcb_visualtype_t& visual, const WindowAtoms& atoms, const Monitor& monitor,
                  double dotsPerInch);
    ~MonitorWindow() override;
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    const Monitor& On() const { return monitor_; }
    // Follows the monitor to its new place or size.
    void Cover(const Monitor& monitor);
    // Maps the window above the others.
    void Show() override;
    // Takes the keyboard once the window is mapped (now, if it is).
    void TakeKeyboard();
    bool Handle(const xcb_generic_event_t& event) override;

  private:
    // Sets the focus on the window and asks a window manager to activate it.
    void Activate();

    const WindowAtoms& atoms_;
    xcb_window_t root_;
    Monitor monitor_;
    bool focusOnMap_ = false;  // the keyboard is to be taken once mapped
};

}  // namespace digitmosaic
