// The recording fake host: logs each action and plays back the scripted values.
#include "FakeHost.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace digitmosaic::testing {

std::string Call(const std::string& name, const std::vector<double>& args) {
    std::ostringstream out;
    out.precision(17);
    out << name << '(';
    for (std::size_t i = 0; i < args.size(); ++i) {
        out << (i == 0 ? "" : ",") << args[i];
    }
    out << ')';
    return out.str();
}

std::vector<std::string> FakeHost::CallsWithout(const std::vector<std::string>& prefixes) const {
    std::vector<std::string> kept;
    std::ranges::copy_if(calls, std::back_inserter(kept), [&](const std::string& call) {
        return std::ranges::none_of(prefixes, [&](const auto& p) { return call.starts_with(p); });
    });
    return kept;
}

std::vector<int> FakeHost::BoxesPerPump() const {
    std::vector<int> counts;
    int boxesSincePump = 0;
    for (const std::string& call : calls) {
        if (call == "PumpEvents") {
            counts.push_back(std::exchange(boxesSincePump, 0));
        } else if (call.starts_with("DrawBox")) {
            ++boxesSincePump;
        }
    }
    return counts;
}

float FakeHost::RandomUnit() {
    if (randoms.empty()) {
        throw RandomScriptExhausted();
    }
    calls.emplace_back("RandomUnit");
    const float value = randoms.front();
    randoms.pop_front();
    return value;
}

void FakeHost::SeedRandom(float seed) { calls.push_back(Call("SeedRandom", {seed})); }

void FakeHost::PumpEvents() {
    calls.emplace_back("PumpEvents");
    ++pumps;
    if (onPump) {
        onPump();
    }
}

void FakeHost::EndProgram() {
    calls.emplace_back("EndProgram");
    throw ProgramEnded{};
}

std::string FakeHost::ArgumentString() {
    ++argumentReads;
    return argument;
}

void FakeHost::SetCursorPos(std::int32_t x, std::int32_t y) {
    calls.push_back(Call("SetCursorPos", {double(x), double(y)}));
}

// Like the real host, the first opening creates the saver window and raises its load event.
void FakeHost::OpenWindow(SaverWindowEvents& window) {
    calls.emplace_back("OpenWindow(saver)");
    if (loadedSaver_ != &window) {
        loadedSaver_ = &window;
        window.Form_Load();
    }
}

void FakeHost::OpenWindow(AboutWindowEvents& /*window*/) {
    calls.emplace_back("OpenWindow(about)");
}

void FakeHost::ShowWindow(SaverWindowEvents& /*window*/) {
    calls.emplace_back("ShowWindow(saver)");
}

void FakeHost::UnloadWindow(SaverWindowEvents& /*window*/) {
    calls.emplace_back("UnloadWindow(saver)");
}

void FakeHost::UnloadWindow(AboutWindowEvents& /*window*/) {
    calls.emplace_back("UnloadWindow(about)");
}

void FakeHost::SetLogicalScale(double x1, double y1, double x2, double y2) {
    calls.push_back(Call("SetLogicalScale", {x1, y1, x2, y2}));
}

void FakeHost::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    calls.push_back(Call("DrawBox", {x, y, dx, dy, double(color)}));
    boxes.push_back({x, y, dx, dy, color});
}

}  // namespace digitmosaic::testing
