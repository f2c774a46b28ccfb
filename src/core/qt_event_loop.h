#pragma once
// The event loop of the running program: Qt's own, with the system clock.
#include <QTimer>

#include "core/event_loop.h"

namespace core {

class QtEventLoop : public EventLoop {
public:
    QtEventLoop();
    uint32_t TimeGetTime() override;
    QDateTime Now() override;
    void DoEvents(uint32_t mayWaitMs) override;
    std::unique_ptr<TimerSource> CreateTimer(std::function<void()> onTick) override;

private:
    QTimer wake_;  // bounds a sleeping DoEvents
};

}  // namespace core
