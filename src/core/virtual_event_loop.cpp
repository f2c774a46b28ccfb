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
    bool deferred = false;
    int interval = 0;
    int slack = 0;
    int64_t due = 0;
    uint64_t seq = 0;
    // The latest tick of the schedule at or before now (the one a late delivery stands for).
    int64_t LatestDue(int64_t now) const { return due + (now - due) / interval * interval; }
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
    void SetSlack(int slackMs) override { entry_->slack = std::max(slackMs, 0); }
    void Defer() override { entry_->deferred = true; }
    int64_t Resume() override {
        VirtualEventLoop::Entry& e = *entry_;
        e.deferred = false;
        if (!e.active || e.due > *now_) return 0;
        const int64_t missed = (*now_ - e.due) / e.interval + 1;
        e.due += missed * e.interval;
        return missed;
    }

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
        if (e->active && !e->firing && !e->deferred) next = std::min(next, e->due + e->slack);
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
        if (e->active && !e->firing && !e->deferred && e->due <= now_) due.push_back(e);
    // In the order they fell due; a late one takes the place of its latest tick.
    const int64_t now = now_;
    std::sort(due.begin(), due.end(), [now](auto& a, auto& b) {
        const int64_t da = a->LatestDue(now), db = b->LatestDue(now);
        return da != db ? da < db : a->seq < b->seq;
    });
    for (auto& e : due) {
        // A handler earlier in this round may have stopped, restarted or deferred this timer.
        if (!e->alive || !e->active || e->firing || e->deferred || e->due > now_) continue;
        e->due = e->LatestDue(now_) + e->interval;
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
