#pragma once
// The timers of an event loop, as both loops (real and virtual time) keep them: each timer's schedule,
// what starting, stopping, slack and deferral do to it, and the round that fires the ticks due. The
// loops differ only in their clock, where a first tick falls, and what they do after a tick.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/event_loop.h"

namespace core {

struct TickSource {
    std::function<void()> onTick;
    bool alive = true;
    bool active = false;
    bool firing = false;
    bool deferred = false;
    int interval = 1;
    int slack = 0;
    int64_t due = 0;
    uint64_t seq = 0;

    // Whether it waits for its next tick (not stopped, not in its own tick, not deferred).
    bool Waiting() const { return active && !firing && !deferred; }
    // The latest tick of the schedule at or before now (the one a late delivery stands for).
    int64_t LatestDue(int64_t now) const { return now <= due ? due : due + (now - due) / interval * interval; }
    // Past now, on the same schedule: ticks missed meanwhile are dropped.
    void SkipPast(int64_t now) {
        if (due <= now) due += ((now - due) / interval + 1) * interval;
    }
};

// What a loop tells its timers' handles.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual int64_t NowMs() = 0;
    // When the first tick of a timer started now falls.
    virtual int64_t FirstDue(int intervalMs) = 0;
    // A schedule changed: the loop may have to wake at another moment.
    virtual void ScheduleChanged() {}
};

class TickSchedule {
public:
    // A new timer's handle; its source lives as long as the handle.
    std::unique_ptr<TimerSource> Add(std::function<void()> onTick, TickClock& clock);
    // The earliest moment some source must be served (its due tick plus its slack); INT64_MAX for none.
    int64_t NextDeadline() const;
    // Fires every source due at now() (asked at the start and after each tick), in the order their
    // ticks fell due; afterTick then sees to ticks that fell due while the handler ran.
    void FireDue(const std::function<int64_t()>& now, const std::function<void(TickSource&)>& afterTick);

private:
    uint64_t seq_ = 0;
    std::vector<std::shared_ptr<TickSource>> sources_;
    std::vector<std::shared_ptr<TickSource>> due_;  // the outermost round's list, kept for reuse
    int rounds_ = 0;                                // rounds under way (a tick may wait, and nest one)
};

}  // namespace core
