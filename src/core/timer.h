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
    // Ticks may come up to ms late, riding on wake-ups the program makes anyway; several that fall
    // due meanwhile come as one. For work that only looks at state, where one look stands for many.
    void SetSlack(int ms);
    // Deferred: no tick is handled, and none wakes the program, while the schedule runs on. For work
    // whose only effect is what nobody sees meanwhile. Undeferring hands the number of ticks that fell
    // due to OnCatchUp (when there were any), which brings the state to where those ticks would have.
    void SetDeferred(bool on);
    bool Deferred() const { return deferred_; }

    std::function<void()> OnTimer;
    std::function<void(int64_t ticks)> OnCatchUp;

private:
    void Apply();
    void Tick();

    int interval_;
    bool enabled_;
    bool inTick_ = false;
    bool deferred_ = false;
    int slack_ = 0;
    std::unique_ptr<TimerSource> source_;
};

}  // namespace core
