// The compositor's outputs as it announces them: each one's size, scale and refresh, told to the
// backend once it is complete and again whenever it changes, kept in the order they came.
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <functional>
#include <list>

namespace digitmosaic {

class Outputs;

struct Output {
    Outputs* owner = nullptr;
    std::uint32_t name = 0;  // the registry's
    wl_output* proxy = nullptr;
    // As of the last done event: the current mode in device pixels as shown (turned sideways
    // where the output is), the scale in device pixels per surface unit, and the refresh.
    int width = 0;
    int height = 0;
    int scale = 1;
    int refreshMilliHertz = 0;  // 0 where unknown
    bool ready = false;         // complete at least once
    // Arriving, until the next done event.
    int modeWidth = 0;
    int modeHeight = 0;
    int nextScale = 1;
    bool sideways = false;
};

class Outputs {
  public:
    // Told once an output is complete, and again at every later change of it.
    using Changed = std::function<void(Output&)>;

    explicit Outputs(Changed changed) : changed_(std::move(changed)) {}
    ~Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    void Add(wl_registry* registry, std::uint32_t name, std::uint32_t version);
    // False when the global is none of these outputs.
    bool Remove(std::uint32_t name);
    // The first output that is complete; null while there is none.
    const Output* Primary() const;
    const std::list<Output>& All() const { return outputs_; }

  private:
    static const wl_output_listener listener_;
    static void Done(Output& output);
    static void Release(Output& output);

    Changed changed_;
    std::list<Output> outputs_;  // their addresses stay, for the listeners
};

}  // namespace digitmosaic
