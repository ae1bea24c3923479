// The pumps' steady beat: one a refresh, counted from the beat rather than from when a pump
// returned, so that a pump returning a little late does not push back the ones after it. One
// that falls a whole refresh behind starts the beat afresh.
#pragma once

#include <chrono>

namespace digitmosaic {

class Beat {
  public:
    using Clock = std::chrono::steady_clock;

    void SetInterval(Clock::duration interval) { interval_ = interval; }
    // When the pump that is at `now` should return.
    Clock::time_point Next(Clock::time_point now) {
        if (now - next_ > interval_) {
            next_ = now;
        }
        next_ += interval_;
        return next_;
    }
    // The next pump counts from `now`, as after a pause.
    void Restart(Clock::time_point now) { next_ = now; }

  private:
    Clock::duration interval_ = std::chrono::microseconds(16'667);  // 60 Hz
    Clock::time_point next_;
};

}  // namespace digitmosaic
