#pragma once
// The event loop of the running program: Qt's own, with the system clock. All the program's timers
// share one Qt timer, set for the earliest tick, and their ticks fall on a common grid, so that timers
// whose intervals are multiples of one another wake the program together rather than each on its own.
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "core/event_loop.h"
#include "core/tick_schedule.h"

namespace core {

class QtEventLoop : public QObject, public EventLoop, private TickClock {
public:
    QtEventLoop();
    ~QtEventLoop() override;
    uint32_t TimeGetTime() override;
    QDateTime Now() override;
    QTime TimeOfDay() override;
    void DoEvents(uint32_t mayWaitMs) override;
    std::unique_ptr<TimerSource> CreateTimer(std::function<void()> onTick) override;
    void BesideWaits() override;

protected:
    void Posted() override;
    void timerEvent(QTimerEvent* e) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    int64_t NowMs() override;
    int64_t FirstDue(int intervalMs) override;
    void ScheduleChanged() override { Arm(); }
    // The earliest moment some source must be served; INT64_MAX when none.
    int64_t NextDeadline() const;
    void FireDue();
    void Arm();
    // Resumes the check beside the program if its wait is over, and arranges to look again.
    void LookBeside();
    void WatchBeside(bool newWait);

    const int64_t epoch_;  // the grid's origin
    TickSchedule schedule_;
    int timerId_ = 0;       // the one Qt timer, repeating every armedEvery_ ms
    int armedEvery_ = 0;
    int64_t armedFor_ = 0;  // the deadline its next timeout meets
    int handlingId_ = 0;    // the Qt timer whose event is being handled (it cannot fire meanwhile)
    QTimer wake_;  // bounds a sleeping DoEvents that no tick would end in time
    int64_t timeOfDaySecond_ = -1;  // the second of the system clock timeOfDay_ was read in
    int64_t timeOfDayMs_ = 0;
    QTime timeOfDay_;
    // While the check beside the program waits: a timer for its time limit and, when an event may end
    // its wait, a watch on every event that asks for a look after it.
    QTimer besideTimer_;
    bool watching_ = false;
    bool lookPosted_ = false;
};

}  // namespace core
