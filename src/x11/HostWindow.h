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

#include "geometry/PendingBoxes.h"
#include "geometry/Surface.h"
#include "host/HostServices.h"
#include "x11/XcbCanvas.h"

namespace digitmosaic {

class HostWindow final : public Surface {
  public:
    // Ends the process with one line on stderr and status 1 when the id names no window the
    // saver can paint in; the line names the id's source.
    HostWindow(SaverWindowEvents& events, xcb_connection_t* connection, std::uint32_t id,
               const std::string& source);

    // The default screen's root window, or the virtual root that a desktop put over it
    // (__SWM_VROOT on one of the root's children), where its background shows.
    static std::uint32_t DesktopRoot(xcb_connection_t* connection);

    void SetLogicalScale(double x1, double y1, double x2, double y2) override;
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override;
    void Present() override;
    // The host shows its window: the saver puts its picture in.
    void Show() override { Present(); }
    // Raises the saver's unload event: the window is not the saver's to close.
    void Unload() override;
    bool Visible() const override { return mapped_ && !obscured_; }
    // Handles the server's news of the window; true when the event was about it; its
    // destruction unloads the saver.
    bool Handle(const xcb_generic_event_t& event);

  private:
    void Fit(int width, int height);

    SaverWindowEvents& events_;
    std::uint32_t id_;
    std::unique_ptr<XcbCanvas> canvas_;
    PendingBoxes pending_;  // drawn since the last Present
    bool mapped_ = true;
    bool obscured_ = false;
};

}  // namespace digitmosaic
