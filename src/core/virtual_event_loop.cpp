#include "core/virtual_event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <limits>
#include <QTimer>
#include <algorithm>

#include "core/beside.h"

namespace core {

VirtualEventLoop::VirtualEventLoop(QDateTime start, uint32_t counterStart)
    : start_(std::move(start)), counterStart_(counterStart) {
    silent_.start();
}

VirtualEventLoop::~VirtualEventLoop() = default;

uint32_t VirtualEventLoop::TimeGetTime() { return counterStart_ + uint32_t(uint64_t(now_)); }

QDateTime VirtualEventLoop::Now() { return start_.addMSecs(now_); }

void VirtualEventLoop::SetLocalTime(const QDateTime& t) { start_ = t.addMSecs(-now_); }

std::unique_ptr<TimerSource> VirtualEventLoop::CreateTimer(std::function<void()> onTick) {
    return schedule_.Add(std::move(onTick), *this);
}

int64_t VirtualEventLoop::NowMs() { return now_; }

int64_t VirtualEventLoop::FirstDue(int intervalMs) { return now_ + intervalMs; }

void VirtualEventLoop::DoEvents(uint32_t mayWaitMs) {
    ++doEventsCount_;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    beside::Serve();
    // Posted work is pending like any event: it runs before the clock moves on.
    RunPosted();
    if (beside::WaitingOnNetwork()) {
        // The check waits for a real socket: time stands still while the server may still answer,
        // whoever turns the loop meanwhile.
        const int64_t left = networkGraceMs_ - silent_.elapsed();
        if (left > 0) {
            RealWait(int(left));
            beside::Serve();
            RunPosted();
            return;
        }
    }
    const int64_t besideLeft = beside::LeftMs();
    const int64_t next = std::min(schedule_.NextDeadline(),
                                  besideLeft == std::numeric_limits<int64_t>::max() ? besideLeft : now_ + besideLeft);
    const int64_t limit = now_ + std::max<int64_t>(mayWaitMs, 1);
    if (next > now_) now_ = std::min(next, limit);
    silent_.restart();
    FireDue();
    beside::Serve();
    RunPosted();
}

void VirtualEventLoop::BesideWaits() { silent_.restart(); }

void VirtualEventLoop::RealWait(int ms) {
    // Anything that happens ends it early.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(ms);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool VirtualEventLoop::WaitForNetwork(const std::function<bool()>& ready, uint32_t limitMs) {
    const int64_t deadline = now_ + limitMs;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QElapsedTimer silent;
    silent.start();
    for (;;) {
        if (ready()) return true;
        if (now_ >= deadline) return false;
        const int64_t left = networkGraceMs_ - silent.elapsed();
        if (left > 0) {
            // A real wait for the socket; anything that happens sends us back to look.
            wake.start(int(left));
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            wake.stop();
            continue;
        }
        DoEvents(uint32_t(deadline - now_));
        silent.restart();
    }
}

void VirtualEventLoop::FireDue() {
    schedule_.FireDue([this] { return now_; },
                      [this](TickSource& s) {
                          // Ticks that fell due while the handler ran are dropped, not delivered in a burst.
                          if (s.active && s.due <= now_) s.due = now_ + s.interval;
                      });
}

void VirtualEventLoop::RunFor(int64_t ms) {
    const int64_t end = now_ + ms;
    while (now_ < end) DoEvents(uint32_t(std::min<int64_t>(end - now_, 1 << 30)));
}

bool VirtualEventLoop::RunUntil(const std::function<bool()>& pred, int64_t maxMs) {
    const int64_t end = now_ + maxMs;
    while (!pred()) {
        if (now_ >= end) return false;
        DoEvents(uint32_t(std::min<int64_t>(end - now_, 1 << 30)));
    }
    return true;
}

}  // namespace core
