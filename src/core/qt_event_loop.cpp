#include "core/qt_event_loop.h"

#include <QCoreApplication>

#include "platform/clock.h"

namespace core {

namespace {

class QtTimerSource : public TimerSource {
public:
    explicit QtTimerSource(std::function<void()> onTick) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [fn = std::move(onTick)] { fn(); });
    }
    void Start(int intervalMs) override { timer_.start(intervalMs); }
    void Stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

}  // namespace

QtEventLoop::QtEventLoop() {
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
}

uint32_t QtEventLoop::TimeGetTime() { return platform::timeGetTime(); }

QDateTime QtEventLoop::Now() { return platform::LocalNow(); }

void QtEventLoop::DoEvents(uint32_t mayWaitMs) {
    if (mayWaitMs == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Sleep until an event arrives, but no longer than the caller can afford.
    wake_.start(int(std::min<uint32_t>(mayWaitMs, 1u << 30)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake_.stop();
}

std::unique_ptr<TimerSource> QtEventLoop::CreateTimer(std::function<void()> onTick) {
    return std::make_unique<QtTimerSource>(std::move(onTick));
}

}  // namespace core
