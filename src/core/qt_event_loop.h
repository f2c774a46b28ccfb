#pragma once
// The event loop of the running program: Qt's own, with the system clock. All the program's timers
// share one Qt timer, set for the earliest tick, and their ticks fall on a common grid, so that timers
// whose intervals are multiples of one another wake the program together rather than each on its own.
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "core/event_loop.h"

namespace core {

class QtEventLoop : public QObject, public EventLoop {
public:
    QtEventLoop();
    ~QtEventLoop() override;
    uint32_t TimeGetTime() override;
    QDateTime Now() override;
    QTime TimeOfDay() override;
    void DoEvents(uint32_t mayWaitMs) override;
    std::unique_ptr<TimerSource> CreateTimer(std::function<void()> onTick) override;

    struct Source;
    class SourceHandle;

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    int64_t NowMs() const;
    // The earliest moment some source must be served; INT64_MAX when none.
    int64_t NextDeadline() const;
    void FireDue();
    void Arm();

    const int64_t epoch_;  // the grid's origin
    uint64_t seq_ = 0;
    std::vector<std::shared_ptr<Source>> sources_;
    std::vector<std::shared_ptr<Source>> due_;  // the ticks of the outermost round
    int rounds_ = 0;                            // rounds of ticks under way (a tick may wait)
    int timerId_ = 0;       // the one Qt timer, repeating every armedEvery_ ms
    int armedEvery_ = 0;
    int64_t armedFor_ = 0;  // the deadline its next timeout meets
    int handlingId_ = 0;    // the Qt timer whose event is being handled (it cannot fire meanwhile)
    QTimer wake_;  // bounds a sleeping DoEvents that no tick would end in time
    int64_t timeOfDaySecond_ = -1;  // the second of the system clock timeOfDay_ was read in
    int64_t timeOfDayMs_ = 0;
    QTime timeOfDay_;
};

}  // namespace core
