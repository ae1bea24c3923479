// One seat's keyboard and pointer, taken and let go as the seat's capabilities change (a virtual
// keyboard may be the first to come), their input told to the core in device pixels.
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <functional>

#include "core/BackendEvents.h"

namespace digitmosaic {

class OutputSurface;

class Seat {
  public:
    // Which of the saver's surfaces a wl_surface is; null for none.
    using Find = std::function<const OutputSurface*(wl_surface*)>;

    Seat(wl_registry* registry, std::uint32_t name, std::uint32_t version, Find find);
    ~Seat();
    Seat(const Seat&) = delete;
    Seat& operator=(const Seat&) = delete;

    std::uint32_t Name() const { return name_; }
    // Input is told from now on; before, it is dropped.
    void Report(BackendEvents& events) { events_ = &events; }
    // The surface goes: the pointer is on it no longer.
    void Forget(wl_surface* surface);

  private:
    static const wl_seat_listener seatListener_;
    static const wl_keyboard_listener keyboardListener_;
    static const wl_pointer_listener pointerListener_;

    void Capabilities(std::uint32_t capabilities);
    void ButtonChanged(std::uint32_t button, bool pressed);
    void Motion(wl_fixed_t x, wl_fixed_t y);

    std::uint32_t name_;
    Find find_;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    BackendEvents* events_ = nullptr;
    bool newKeyboard_ = false;  // came once input was told, and has had no focus yet
    Modifiers modifiers_;
    ButtonsHeld held_;
    wl_surface* pointerOn_ = nullptr;
    double x_ = 0;  // in device pixels on that surface
    double y_ = 0;
};

}  // namespace digitmosaic
