// The end-to-end tests' pointer on a wlroots compositor: a virtual pointer on the seat, as wtype
// makes a virtual keyboard, driven by the arguments, one step at a time:
//   move DX DY      relative motion in the compositor's units
//   press|release|click left|right|middle|side
//   wheel STEPS     vertical wheel steps (down when positive)
//   sleep MS
// Then the pointer goes, and the seat loses it. Status 1 and a line on stderr when it cannot.
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

// The virtual pointer protocol of wlroots (zwlr_virtual_pointer_v1, version 1), its requests as
// the compositor numbers them.
extern const wl_interface kPointerInterface;
const wl_interface* kCreateTypes[] = {&wl_seat_interface, &kPointerInterface};
const wl_interface* kNoTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
const wl_message kManagerRequests[] = {{"create_virtual_pointer", "?on", kCreateTypes},
                                       {"destroy", "", kNoTypes}};
const wl_interface kManagerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr};
const wl_message kPointerRequests[] = {
    {"motion", "uff", kNoTypes},   {"motion_absolute", "uuuuu", kNoTypes},
    {"button", "uuu", kNoTypes},   {"axis", "uuf", kNoTypes},
    {"frame", "", kNoTypes},       {"axis_source", "u", kNoTypes},
    {"axis_stop", "uu", kNoTypes}, {"axis_discrete", "uufi", kNoTypes},
    {"destroy", "", kNoTypes}};
const wl_interface kPointerInterface = {"zwlr_virtual_pointer_v1", 1, 9,
                                        kPointerRequests,          0, nullptr};
enum Request : std::uint32_t {
    kMotion = 0,
    kButton = 2,
    kAxis = 3,
    kFrame = 4,
    kAxisSource = 5,
    kAxisDiscrete = 7,
    kDestroy = 8
};

struct Globals {
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
};

const wl_registry_listener kRegistry = {
    .global =
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t) {
            auto& globals = *static_cast<Globals*>(data);
            if (!std::strcmp(interface, wl_seat_interface.name) && !globals.seat) {
                globals.seat =
                    static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
            } else if (!std::strcmp(interface, kManagerInterface.name)) {
                globals.manager =
                    static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManagerInterface, 1));
            }
        },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

int Fail(const std::string& why) {
    std::fprintf(stderr, "virtual pointer: %s\n", why.c_str());
    return 1;
}

std::uint32_t Now() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace

int main(int argc, char** argv) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return Fail("no Wayland display");
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &globals);
    if (wl_display_roundtrip(display) < 0 || !globals.seat || !globals.manager)
        return Fail("the compositor has no seat or no virtual pointers");
    auto* pointer =
        wl_proxy_marshal_flags(globals.manager, 0, &kPointerInterface, 1, 0, globals.seat, nullptr);
    // Clients see the seat's new pointer before the first step.
    wl_display_roundtrip(display);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const std::string next = i + 1 < argc ? argv[i + 1] : "";
        if (step == "move" && i + 2 < argc) {
            wl_proxy_marshal_flags(pointer, kMotion, nullptr, 1, 0, Now(),
                                   wl_fixed_from_double(std::stod(argv[i + 1])),
                                   wl_fixed_from_double(std::stod(argv[i + 2])));
            i += 2;
        } else if ((step == "press" || step == "release" || step == "click") && i + 1 < argc) {
            const std::uint32_t button = next == "left"     ? BTN_LEFT
                                         : next == "right"  ? BTN_RIGHT
                                         : next == "middle" ? BTN_MIDDLE
                                                            : BTN_SIDE;
            for (const std::uint32_t state : {1U, 0U}) {
                if ((step == "press" && state == 0) || (step == "release" && state == 1)) continue;
                wl_proxy_marshal_flags(pointer, kButton, nullptr, 1, 0, Now(), button, state);
                wl_proxy_marshal_flags(pointer, kFrame, nullptr, 1, 0);
            }
            ++i;
        } else if (step == "wheel" && i + 1 < argc) {
            const int steps = std::stoi(next);
            wl_proxy_marshal_flags(pointer, kAxisSource, nullptr, 1, 0, 0U);  // a wheel
            wl_proxy_marshal_flags(pointer, kAxisDiscrete, nullptr, 1, 0, Now(), 0U,
                                   wl_fixed_from_double(15.0 * steps), steps);
            ++i;
        } else if (step == "sleep" && i + 1 < argc) {
            wl_display_flush(display);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(next)));
            ++i;
            continue;
        } else {
            return Fail("unknown step: " + step);
        }
        wl_proxy_marshal_flags(pointer, kFrame, nullptr, 1, 0);
        if (wl_display_roundtrip(display) < 0) return Fail("lost the compositor");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // one event at a time
    }
    wl_proxy_marshal_flags(pointer, kDestroy, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
    wl_proxy_marshal_flags(globals.manager, 1, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);  // destroy
    wl_display_roundtrip(display);
    wl_seat_destroy(globals.seat), wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
