// Following the wl_output globals and their properties.
#include "wayland/Outputs.h"

#include <algorithm>

namespace digitmosaic {

namespace {

Output& Of(void* data) { return *static_cast<Output*>(data); }

}  // namespace

// Only the current mode, the transform and the scale matter. An output of version 1 has neither
// done nor scale events: it is complete with each current mode.
const wl_output_listener Outputs::listener_ = {
    .geometry = [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*,
                   std::int32_t transform) { Of(data).sideways = (transform & 1) != 0; },
    .mode =
        [](void* data, wl_output* proxy, std::uint32_t flags, std::int32_t width,
           std::int32_t height, std::int32_t refresh) {
            if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
                Output& output = Of(data);
                output.modeWidth = width;
                output.modeHeight = height;
                output.refreshMilliHertz = refresh;
                if (wl_output_get_version(proxy) < WL_OUTPUT_DONE_SINCE_VERSION) {
                    Done(output);
                }
            }
        },
    .done = [](void* data, wl_output*) { Done(Of(data)); },
    .scale = [](void* data, wl_output*,
                std::int32_t factor) { Of(data).nextScale = std::max(factor, 1); },
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

Outputs::~Outputs() {
    for (Output& output : outputs_) {
        Release(output);
    }
}

void Outputs::Add(wl_registry* registry, std::uint32_t name, std::uint32_t version) {
    Output& output = outputs_.emplace_back();
    output.owner = this;
    output.name = name;
    output.proxy = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 3U)));
    wl_output_add_listener(output.proxy, &listener_, &output);
}

bool Outputs::Remove(std::uint32_t name) {
    const auto gone = std::find_if(outputs_.begin(), outputs_.end(),
                                   [name](const Output& output) { return output.name == name; });
    if (gone == outputs_.end()) {
        return false;
    }
    Release(*gone);
    outputs_.erase(gone);
    return true;
}

const Output* Outputs::Primary() const {
    const auto first = std::find_if(outputs_.begin(), outputs_.end(),
                                    [](const Output& output) { return output.ready; });
    return first == outputs_.end() ? nullptr : &*first;
}

void Outputs::Done(Output& output) {
    output.width = output.sideways ? output.modeHeight : output.modeWidth;
    output.height = output.sideways ? output.modeWidth : output.modeHeight;
    output.scale = output.nextScale;
    output.ready = true;
    output.owner->changed_(output);
}

void Outputs::Release(Output& output) {
    if (wl_output_get_version(output.proxy) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output.proxy);
    } else {
        wl_output_destroy(output.proxy);
    }
}

}  // namespace digitmosaic
