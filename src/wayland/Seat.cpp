// Keys, buttons and motion from one seat.
#include "wayland/Seat.h"

#include <unistd.h>

#include <algorithm>

#include "wayland/OutputSurface.h"

namespace digitmosaic {

namespace {

Seat& Of(void* data) { return *static_cast<Seat*>(data); }

// The linux input codes of the buttons.
constexpr std::uint32_t kLeft = 0x110;
constexpr std::uint32_t kRight = 0x111;
constexpr std::uint32_t kMiddle = 0x112;

// The modifiers' bits in the keymap every compositor sends (its xkb modifier indices).
constexpr std::uint32_t kShift = 0x1;
constexpr std::uint32_t kControl = 0x4;
constexpr std::uint32_t kAlt = 0x8;  // Mod1

// xkb numbers a key eight above its linux input code, as an X server does.
constexpr int kXkbOffset = 8;

}  // namespace

const wl_seat_listener Seat::seatListener_ = {
    .capabilities = [](void* data, wl_seat*, std::uint32_t caps) { Of(data).Capabilities(caps); },
    .name = [](void*, wl_seat*, const char*) {},
};

// Only presses count. Keys held when the focus came were pressed before the saver showed, except
// on a keyboard that came while it shows (a virtual one may come with its first key down).
const wl_keyboard_listener Seat::keyboardListener_ = {
    .keymap = [](void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) { close(fd); },
    .enter =
        [](void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array* keys) {
            Seat& seat = Of(data);
            const auto* key = static_cast<const std::uint32_t*>(keys->data);
            for (std::size_t i = 0; seat.newKeyboard_ && i < keys->size / sizeof *key; ++i) {
                seat.events_->KeyPressed(static_cast<int>(key[i]) + kXkbOffset, seat.modifiers_);
            }
            seat.newKeyboard_ = false;
        },
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
            Seat& seat = Of(data);
            if (state == WL_KEYBOARD_KEY_STATE_PRESSED && seat.events_) {
                seat.events_->KeyPressed(static_cast<int>(key) + kXkbOffset, seat.modifiers_);
            }
        },
    .modifiers =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t, std::uint32_t) {
            const std::uint32_t mods = depressed | latched;
            Of(data).modifiers_ = {(mods & kShift) != 0, (mods & kControl) != 0,
                                   (mods & kAlt) != 0};
        },
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

// Entering is no motion; the wheel tells nothing.
const wl_pointer_listener Seat::pointerListener_ = {
    .enter =
        [](void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
           wl_fixed_t y) {
            Seat& seat = Of(data);
            wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);  // no cursor over the picture
            seat.pointerOn_ = surface;
            if (const OutputSurface* on = seat.find_(surface)) {
                seat.x_ = wl_fixed_to_double(x) * on->Scale();
                seat.y_ = wl_fixed_to_double(y) * on->Scale();
            }
        },
    .leave = [](void* data, wl_pointer*, std::uint32_t,
                wl_surface*) { Of(data).pointerOn_ = nullptr; },
    .motion = [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x,
                 wl_fixed_t y) { Of(data).Motion(x, y); },
    .button =
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
           std::uint32_t state) {
            Of(data).ButtonChanged(button, state == WL_POINTER_BUTTON_STATE_PRESSED);
        },
    .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    .axis_value120 = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

Seat::Seat(wl_registry* registry, std::uint32_t name, std::uint32_t version, Find find)
    : name_(name), find_(std::move(find)) {
    seat_ = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5U)));
    wl_seat_add_listener(seat_, &seatListener_, this);
}

Seat::~Seat() {
    Capabilities(0);
    if (wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION) {
        wl_seat_release(seat_);
    } else {
        wl_seat_destroy(seat_);
    }
}

void Seat::Forget(wl_surface* surface) {
    if (pointerOn_ == surface) {
        pointerOn_ = nullptr;
    }
}

void Seat::Capabilities(std::uint32_t capabilities) {
    const bool release = wl_seat_get_version(seat_) >= WL_KEYBOARD_RELEASE_SINCE_VERSION;
    const bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (keyboard && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        newKeyboard_ = events_ != nullptr;
        wl_keyboard_add_listener(keyboard_, &keyboardListener_, this);
    } else if (!keyboard && keyboard_) {
        release ? wl_keyboard_release(keyboard_) : wl_keyboard_destroy(keyboard_);
        keyboard_ = nullptr;
        modifiers_ = {};
    }
    const bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (pointer && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &pointerListener_, this);
    } else if (!pointer && pointer_) {
        release ? wl_pointer_release(pointer_) : wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerOn_ = nullptr;
        held_ = {};
    }
}

void Seat::ButtonChanged(std::uint32_t button, bool pressed) {
    const Button which = button == kLeft     ? Button::Left
                         : button == kRight  ? Button::Right
                         : button == kMiddle ? Button::Middle
                                             : Button::Other;
    if (bool* held = which == Button::Left     ? &held_.left
                     : which == Button::Right  ? &held_.right
                     : which == Button::Middle ? &held_.middle
                                               : nullptr) {
        *held = pressed;
    }
    const OutputSurface* on = find_(pointerOn_);
    if (!on || !events_) {
        return;
    }
    if (pressed) {
        events_->ButtonPressed(*on, which, modifiers_, x_, y_);
    } else {
        events_->ButtonReleased(*on, which);
    }
}

void Seat::Motion(wl_fixed_t x, wl_fixed_t y) {
    const OutputSurface* on = find_(pointerOn_);
    if (!on) {
        return;
    }
    x_ = wl_fixed_to_double(x) * on->Scale();
    y_ = wl_fixed_to_double(y) * on->Scale();
    if (events_) {
        events_->PointerMoved(*on, held_, modifiers_, x_, y_);
    }
}

}  // namespace digitmosaic
