#include "platform/net_wait.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

#include "platform/clock.h"

namespace platform {

namespace {

// Qt's events in real time: sleeps until a socket (or anything else) has news, or the limit comes.
class RealTimeWaiter : public NetWaiter {
public:
    uint32_t NowMs() override { return timeGetTime(); }
    bool WaitUntil(const std::function<bool()>& ready, uint32_t limitMs) override {
        const uint32_t start = NowMs();
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        for (;;) {
            if (ready()) return true;
            const uint32_t elapsed = NowMs() - start;
            if (elapsed >= limitMs) return false;
            wake.start(int(std::min<uint32_t>(limitMs - elapsed, 1u << 30)));
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            wake.stop();
        }
    }
};

RealTimeWaiter g_realTime;
NetWaiter* g_waiter = &g_realTime;

}  // namespace

NetWaiter& Net() { return *g_waiter; }

void SetNetWaiter(NetWaiter* waiter) { g_waiter = waiter ? waiter : &g_realTime; }

}  // namespace platform
