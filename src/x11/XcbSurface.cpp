// An X window as a surface: fitting, presenting, and the server's news of the window.
#include "x11/XcbSurface.h"

#include "x11/PixmapCanvas.h"
#include "x11/SharedMemoryCanvas.h"

namespace digitmosaic {

XcbSurface::XcbSurface(BackendEvents& events, xcb_connection_t* connection, xcb_window_t id,
                       std::uint8_t depth, const xcb_visualtype_t& visual, double dotsPerInch)
    : events_(events),
      connection_(connection),
      id_(id),
      depth_(depth),
      visual_(visual),
      canvas_(SharedMemoryCanvas::Create(connection, id, depth, visual)),
      dotsPerInch_(dotsPerInch) {
    if (!canvas_) {
        canvas_ = std::make_unique<PixmapCanvas>(connection, id, depth, visual);
    }
}

XcbSurface::~XcbSurface() = default;

void XcbSurface::Fit(int width, int height) {
    canvas_->Fill(pending_);  // what was drawn for the old size goes in first
    pending_.Clear();
    if (!canvas_->Resize(width, height)) {
        // The server shares no picture this large: it is kept on the server from now on.
        canvas_ = std::make_unique<PixmapCanvas>(connection_, id_, depth_, visual_);
        canvas_->Resize(width, height);
    }
    pending_.Grid().Resize(width, height, dotsPerInch_, dotsPerInch_);
    pending_.MarkAll();
}

void XcbSurface::Present() {
    canvas_->Fill(pending_);
    canvas_->Show(pending_.Strips());
    pending_.Clear();
}

bool XcbSurface::Handle(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            if (configure.window != id_) {
                return false;
            }
            if (configure.width != pending_.Grid().Width() ||
                configure.height != pending_.Grid().Height()) {
                Fit(configure.width, configure.height);
            }
            return true;
        }
        case XCB_EXPOSE: {
            const auto& expose = reinterpret_cast<const xcb_expose_event_t&>(event);
            if (expose.window != id_) {
                return false;
            }
            pending_.Mark(
                Strip{expose.x, expose.y, expose.x + expose.width, expose.y + expose.height});
            obscured_ = false;  // that part shows
            return true;
        }
        case XCB_VISIBILITY_NOTIFY: {
            const auto& visibility = reinterpret_cast<const xcb_visibility_notify_event_t&>(event);
            if (visibility.window != id_) {
                return false;
            }
            obscured_ = visibility.state == XCB_VISIBILITY_FULLY_OBSCURED;
            return true;
        }
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY: {
            // Both events keep the window's id at the same place.
            const auto& mapping = reinterpret_cast<const xcb_map_notify_event_t&>(event);
            if (mapping.window != id_) {
                return false;
            }
            mapped_ = (event.response_type & 0x7F) == XCB_MAP_NOTIFY;
            return true;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
            if (destroyed.window != id_) {
                return false;
            }
            events_.SurfaceClosed();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace digitmosaic
