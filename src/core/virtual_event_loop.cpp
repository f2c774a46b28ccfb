#include "core/virtual_event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace core {

struct VirtualEventLoop::Entry {
    std::function<void()> onTick;
    bool alive = true;
    bool active = false;
    bool firing = false;
    int interval = 0;
    int64_t due = 0;
    uint64_t seq = 0;
};

namespace {

class VirtualTimerSource : public TimerSource {
public:
    VirtualTimerSource(std::shared_ptr<VirtualEventLoop::Entry> e, const int64_t* now)
        : entry_(std::move(e)), now_(now) {}
    ~VirtualTimerSource() override {
        entry_->alive = false;
        entry_->active = false;
    }
    void Start(int intervalMs) override {
        entry_->interval = std::max(intervalMs, 1);
        entry_->due = *now_ + entry_->interval;
        entry_->active = true;
    }
    void Stop() override { entry_->active = false; }

private:
    std::shared_ptr<VirtualEventLoop::Entry> entry_;
    const int64_t* now_;
};

}  // namespace

VirtualEventLoop::VirtualEventLoop(QDateTime start, uint32_t counterStart)
    : start_(std::move(start)), counterStart_(counterStart) {}

VirtualEventLoop::~VirtualEventLoop() = default;

uint32_t VirtualEventLoop::TimeGetTime() { return counterStart_ + uint32_t(uint64_t(now_)); }

QDateTime VirtualEventLoop::Now() { return start_.addMSecs(now_); }

void VirtualEventLoop::SetLocalTime(const QDateTime& t) { start_ = t.addMSecs(-now_); }

std::unique_ptr<TimerSource> VirtualEventLoop::CreateTimer(std::function<void()> onTick) {
    auto e = std::make_shared<Entry>();
    e->onTick = std::move(onTick);
    e->seq = seq_++;
    timers_.push_back(e);
    return std::make_unique<VirtualTimerSource>(e, &now_);
}

void VirtualEventLoop::DoEvents(uint32_t mayWaitMs) {
    ++doEventsCount_;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [](auto& e) { return !e->alive; }),
                  timers_.end());

    int64_t next = std::numeric_limits<int64_t>::max();
    for (auto& e : timers_)
        if (e->active && !e->firing) next = std::min(next, e->due);
    const int64_t limit = now_ + std::max<int64_t>(mayWaitMs, 1);
    if (next > now_) now_ = std::min(next, limit);
    FireDue();
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
    std::vector<std::shared_ptr<Entry>> due;
    for (auto& e : timers_)
        if (e->active && !e->firing && e->due <= now_) due.push_back(e);
    std::sort(due.begin(), due.end(),
              [](auto& a, auto& b) { return a->due != b->due ? a->due < b->due : a->seq < b->seq; });
    for (auto& e : due) {
        // A handler earlier in this round may have stopped or restarted this timer.
        if (!e->alive || !e->active || e->firing || e->due > now_) continue;
        e->due = now_ + e->interval;
        e->firing = true;
        e->onTick();
        e->firing = false;
        // Ticks that fell due while the handler ran are dropped, not delivered in a burst.
        if (e->active && e->due <= now_) e->due = now_ + e->interval;
    }
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
