#pragma once
// The one seam through which the program sees time: its timers, the millisecond counter, the local
// time and the "hand control to the event loop once" step. The program binds it to Qt; tests bind it
// to virtual time so that minutes of timer traffic run in milliseconds, deterministically.
#include <QDateTime>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace core {

// A periodic source of ticks owned by one timer control. A tick that falls due while the source's
// own tick is still being handled is dropped.
class TimerSource {
public:
    virtual ~TimerSource() = default;
    // (Re)starts the source: the first tick comes intervalMs from now, then every intervalMs.
    virtual void Start(int intervalMs) = 0;
    virtual void Stop() = 0;
    // Lets ticks come up to slackMs late, so that they ride on a wake-up the loop makes anyway; due
    // ticks that pile up meanwhile come as one. 0 (the default): on time.
    virtual void SetSlack(int slackMs) = 0;
    // Deferred, the source delivers nothing and never wakes the loop, but its schedule runs on.
    // Resume returns how many ticks fell due meanwhile and goes on with the same schedule.
    virtual void Defer() = 0;
    virtual int64_t Resume() = 0;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // The system's millisecond counter; wraps around at 2^32.
    virtual uint32_t TimeGetTime() = 0;
    virtual QDateTime Now() = 0;
    // The local time of day, as Now().time(); asked ten times a second by the clock's hands.
    virtual QTime TimeOfDay() { return Now().time(); }
    // Handles every pending window event and due timer tick once. mayWaitMs > 0 allows the loop to
    // sleep up to that long for something to happen, so that a wait does not spin a core.
    virtual void DoEvents(uint32_t mayWaitMs = 0) = 0;
    virtual std::unique_ptr<TimerSource> CreateTimer(std::function<void()> onTick) = 0;
    // Waits for the network: hands control to the loop until ready() holds (true) or limitMs have
    // passed on TimeGetTime() (false). Meanwhile windows and timers work as in any wait.
    virtual bool WaitForNetwork(const std::function<bool()>& ready, uint32_t limitMs);
    // The work beside the program (core/beside.h) has begun a wait. The loop resumes it, through
    // beside::Serve, once that wait is over; a loop that sleeps sees to waking up for it.
    virtual void BesideWaits() {}
    // Hands work to the loop, to run on the loop's own stack as an ordinary handler at its next turn
    // (inside whatever wait turns the loop then, as a timer's tick would). Runs in the order posted.
    void Post(std::function<void()> work);

protected:
    // Runs what has been posted. Work that waits lets later posts run inside its wait.
    void RunPosted();
    // Something was posted; a loop that sleeps sees to waking up for it.
    virtual void Posted() {}

private:
    std::deque<std::function<void()>> posted_;
};

EventLoop& Loop();
// Installs the loop every later call goes through, the network layer's waits included; the caller
// keeps ownership.
void SetLoop(EventLoop* loop);

// Waits for more than ms milliseconds while windows and timers keep working. In the work beside the
// program, it suspends only that work.
void WaitMs(int32_t ms);

}  // namespace core
