#pragma once
// A timer control: ticks every Interval milliseconds while enabled; an interval of 0 never ticks.
// A tick never nests inside itself: one that falls due while its own handler runs is dropped.
#include <functional>
#include <memory>

#include "core/event_loop.h"

namespace core {

class Timer {
public:
    explicit Timer(int intervalMs = 0, bool enabled = true);
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    bool Ticking() const { return enabled_ && interval_ > 0; }

    std::function<void()> OnTimer;

private:
    void Apply();
    void Tick();

    int interval_;
    bool enabled_;
    bool inTick_ = false;
    std::unique_ptr<TimerSource> source_;
};

}  // namespace core
