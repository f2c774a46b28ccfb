#pragma once
// An event loop in virtual time: nothing sleeps, the clock jumps from one due tick to the next.
// Each DoEvents handles Qt's pending events, moves the clock forward (at least 1 ms, at most
// the caller's allowance, never past the next due tick) and fires every tick that is due then. The
// work beside the program (the check) is resumed when its wait is over; while it waits for a real
// socket, a DoEvents may wait in real time instead of moving the clock (see WaitForNetwork).
#include <QElapsedTimer>
#include <vector>

#include "core/event_loop.h"
#include "core/tick_schedule.h"

namespace core {

class VirtualEventLoop : public EventLoop, private TickClock {
public:
    // start: the local time at virtual 0; counterStart: the millisecond counter's value then.
    explicit VirtualEventLoop(QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(9, 30, 0)),
                              uint32_t counterStart = 0);
    ~VirtualEventLoop() override;

    uint32_t TimeGetTime() override;
    QDateTime Now() override;
    void DoEvents(uint32_t mayWaitMs) override;
    std::unique_ptr<TimerSource> CreateTimer(std::function<void()> onTick) override;
    // Real sockets answer in real time: virtual time stands still while the awaited data comes, and
    // moves on (to the next due tick, or the limit) only once the network has been silent for the
    // grace of real time set below.
    bool WaitForNetwork(const std::function<bool()>& ready, uint32_t limitMs) override;
    // 0 runs a silent server's time limits at once (for servers scripted to stall; their answers must
    // be waiting in the socket before the client asks).
    void SetNetworkGraceMs(int realMs) { networkGraceMs_ = realMs; }
    void BesideWaits() override;

    // Runs the loop until ms of virtual time have passed.
    void RunFor(int64_t ms);
    // Runs the loop until pred holds or maxMs have passed; true when pred held.
    bool RunUntil(const std::function<bool()>& pred, int64_t maxMs);
    // Milliseconds of virtual time since the start.
    int64_t Elapsed() const { return now_; }
    // Moves the local time of day without moving the millisecond counter.
    void SetLocalTime(const QDateTime& t);
    // How many DoEvents calls ran (a measure of how busy a wait kept the loop).
    uint64_t DoEventsCount() const { return doEventsCount_; }

private:
    int64_t NowMs() override;
    int64_t FirstDue(int intervalMs) override;
    void FireDue();
    // Waits up to ms of real time for any event.
    void RealWait(int ms);
    int64_t now_ = 0;
    QDateTime start_;
    uint32_t counterStart_;
    uint64_t doEventsCount_ = 0;
    int networkGraceMs_ = 200;
    QElapsedTimer silent_;  // real time since the check's network wait began or virtual time last moved
    TickSchedule schedule_;
};

}  // namespace core
