// A host's window as a surface: the saver inside a screen-saver host's window (XScreenSaver,
// MATE), an X window that another client owns and names in XSCREENSAVER_WINDOW or with
// "--window-id", or the desktop's root window for "-root". The saver opens no window of its own
// and selects no input there: input belongs to the host, which ends the saver. It follows the
// window's size, repaints what the server lost, and unloads the saver when the window goes.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>

#include "x11/XcbSurface.h"

namespace digitmosaic {

class HostWindow final : public XcbSurface {
  public:
    // Ends the process with one line on stderr and status 1 when the id names no window the
    // saver can paint in; the line names the id's source.
    static std::unique_ptr<HostWindow> Open(BackendEvents& events, xcb_connection_t* connection,
                                            std::uint32_t id, const std::string& source);

    // The root window given, or the virtual root that a desktop put over it (__SWM_VROOT on one
    // of the root's children), where its background shows.
    static std::uint32_t DesktopRoot(xcb_connection_t* connection, xcb_window_t root);

    // The host shows its window: the saver puts its picture in.
    void Show() override { Present(); }

  private:
    using XcbSurface::XcbSurface;
};

}  // namespace digitmosaic
