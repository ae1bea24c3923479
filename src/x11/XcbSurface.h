// An X window as a surface: the picture kept in memory shared with the server where it can be, else
// in a server pixmap, fitted to the window's size, repainted where the server lost it, and counted
// as seen only while the window is mapped and not wholly covered. The window's destruction raises
// the saver's unload event.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

#include "core/BackendEvents.h"
#include "core/Surface.h"
#include "x11/Canvas.h"

namespace digitmosaic {

class XcbSurface : public Surface {
  public:
    // For a window of the given depth, of a visual that PixmapCanvas::TrueColorVisual accepted,
    // whose structure, exposures and visibility the connection watches.
    XcbSurface(BackendEvents& events, xcb_connection_t* connection, xcb_window_t id,
               std::uint8_t depth, const xcb_visualtype_t& visual, double dotsPerInch);
    ~XcbSurface() override;
    XcbSurface(const XcbSurface&) = delete;
    XcbSurface& operator=(const XcbSurface&) = delete;

    void Present() override;
    bool Visible() const override { return mapped_ && !obscured_; }
    // Maps it: the saver's window covers its monitor; a host's window gets the picture.
    virtual void Show() = 0;
    bool Mapped() const { return mapped_; }

    // Handles the server's news of the window; true when the event was about it.
    virtual bool Handle(const xcb_generic_event_t& event);
    xcb_window_t Id() const { return id_; }

  protected:
    // Sizes the picture to the window, keeping the earlier pictures where they were.
    void Fit(int width, int height);

    BackendEvents& events_;
    xcb_connection_t* connection_;
    xcb_window_t id_;
    bool mapped_ = false;

  private:
    std::uint8_t depth_;
    const xcb_visualtype_t& visual_;
    std::unique_ptr<Canvas> canvas_;
    double dotsPerInch_;
    bool obscured_ = false;
};

}  // namespace digitmosaic
