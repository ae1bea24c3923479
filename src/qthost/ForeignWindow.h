// The saver inside a screen-saver host's window (XScreenSaver, MATE): paints into an X window
// that another client owns and that it names in XSCREENSAVER_WINDOW. The saver opens no window
// of its own and selects no input there: input belongs to the host, which ends the saver. It
// follows the window's size, repaints what the server lost, and unloads the saver when the
// window goes.
#pragma once

#include <xcb/xcb.h>

#include <QImage>
#include <cstdint>
#include <vector>

#include "host/HostServices.h"
#include "qthost/PixelGrid.h"

namespace digitmosaic {

class ForeignWindow final {
  public:
    // Ends the process with one line on stderr and status 1 when the id names no window the
    // saver can paint in.
    ForeignWindow(SaverWindowEvents& events, xcb_connection_t* connection, std::uint32_t id);
    ~ForeignWindow();
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    void SetLogicalScale(double x1, double y1, double x2, double y2);
    void DrawBox(float x, float y, float dx, float dy, PackedColor color);
    // Puts on screen what was drawn (or lost) since the last call.
    void Present();
    // Handles the server's news of the window; true when the event was about it.
    bool Handle(const xcb_generic_event_t& event);

    std::uint32_t Id() const { return id_; }
    const QImage& Picture() const { return canvas_; }

  private:
    void Fit(int width, int height);
    void Put(const Strip& strip);

    SaverWindowEvents& events_;
    xcb_connection_t* connection_;
    std::uint32_t id_;
    std::uint32_t gc_ = 0;
    std::uint8_t depth_ = 24;
    std::size_t mostBytes_ = 0;        // of image data in one request
    QImage canvas_;                    // what the window shows
    PendingBoxes pending_;             // drawn since the last Present
    std::vector<std::uint32_t> rows_;  // one strip packed for the server
};

}  // namespace digitmosaic
