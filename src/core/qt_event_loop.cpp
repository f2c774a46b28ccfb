#include "core/qt_event_loop.h"

#include <QCoreApplication>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/clock.h"

namespace core {

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// The grid a timer's ticks fall on: the largest of these that divides its interval. With the
// program's intervals (20, 100, 200 and 1000 ms) every tick falls on a tick of the 20 ms ticker.
int Grain(int intervalMs) {
    for (int g : {20, 10, 5})
        if (intervalMs % g == 0) return g;
    return 1;
}

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct QtEventLoop::Source {
    std::function<void()> onTick;
    bool alive = true;
    bool active = false;
    bool firing = false;
    bool deferred = false;
    int interval = 1;
    int slack = 0;
    int64_t due = 0;
    uint64_t seq = 0;
    // The latest tick of the schedule at or before now (the one a late delivery stands for).
    int64_t LatestDue(int64_t now) const { return now <= due ? due : due + (now - due) / interval * interval; }
    // Past now, on the same schedule: ticks missed meanwhile are dropped.
    void SkipPast(int64_t now) {
        if (due <= now) due += ((now - due) / interval + 1) * interval;
    }
};

class QtEventLoop::SourceHandle : public TimerSource {
public:
    SourceHandle(std::shared_ptr<Source> s, QtEventLoop* loop) : s_(std::move(s)), loop_(loop) {}
    ~SourceHandle() override {
        s_->alive = false;
        s_->active = false;
    }
    void Start(int intervalMs) override {
        s_->interval = std::max(intervalMs, 1);
        const int grain = Grain(s_->interval);
        const int64_t first = loop_->NowMs() + s_->interval - loop_->epoch_;
        s_->due = loop_->epoch_ + (first + grain - 1) / grain * grain;
        s_->active = true;
        loop_->Arm();
    }
    void Stop() override {
        s_->active = false;
        loop_->Arm();
    }
    void SetSlack(int slackMs) override {
        s_->slack = std::max(slackMs, 0);
        loop_->Arm();
    }
    void Defer() override {
        s_->deferred = true;
        loop_->Arm();
    }
    int64_t Resume() override {
        s_->deferred = false;
        const int64_t now = loop_->NowMs();
        int64_t missed = 0;
        if (s_->active && s_->due <= now) {
            missed = (now - s_->due) / s_->interval + 1;
            s_->due += missed * s_->interval;
        }
        loop_->Arm();
        return missed;
    }

private:
    std::shared_ptr<Source> s_;
    QtEventLoop* loop_;
};

QtEventLoop::QtEventLoop() : epoch_(SteadyMs()) {
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
}

QtEventLoop::~QtEventLoop() = default;

uint32_t QtEventLoop::TimeGetTime() { return platform::timeGetTime(); }

QDateTime QtEventLoop::Now() { return platform::LocalNow(); }

QTime QtEventLoop::TimeOfDay() {
    // Reading the local time asks the C library to look at the time zone file again. The local time
    // of day moves with the system clock within a second (zone offsets change only between whole
    // seconds), so it is read once a second and counted on from there.
    using namespace std::chrono;
    const int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != timeOfDaySecond_) {
        timeOfDay_ = Now().time();
        timeOfDaySecond_ = second;
        timeOfDayMs_ = ms;
    }
    return timeOfDay_.addMSecs(int(ms - timeOfDayMs_));
}

int64_t QtEventLoop::NowMs() const { return SteadyMs(); }

void QtEventLoop::DoEvents(uint32_t mayWaitMs) {
    // A wait inside a tick: the timer whose event is being handled cannot fire again until it returns.
    if (timerId_ != 0 && timerId_ == handlingId_) Arm();
    if (mayWaitMs == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Sleep until an event arrives, but no longer than the caller can afford; a tick due before then
    // ends the sleep by itself.
    const int64_t limit = NowMs() + int64_t(mayWaitMs);
    const bool bounded = NextDeadline() > limit;
    if (bounded) wake_.start(int(std::min<uint32_t>(mayWaitMs, 1u << 30)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (bounded) wake_.stop();
}

std::unique_ptr<TimerSource> QtEventLoop::CreateTimer(std::function<void()> onTick) {
    auto s = std::make_shared<Source>();
    s->onTick = std::move(onTick);
    s->seq = seq_++;
    sources_.push_back(s);
    return std::make_unique<SourceHandle>(s, this);
}

int64_t QtEventLoop::NextDeadline() const {
    int64_t next = kNever;
    for (const auto& s : sources_)
        if (s->active && !s->firing && !s->deferred) next = std::min(next, s->due + s->slack);
    return next;
}

void QtEventLoop::Arm() {
    const int64_t deadline = NextDeadline();
    if (timerId_ != 0 && deadline == armedFor_ && timerId_ != handlingId_) return;
    if (timerId_ != 0) killTimer(timerId_);
    timerId_ = 0;
    if (deadline == kNever) return;
    armedFor_ = deadline;
    armedEvery_ = int(std::clamp<int64_t>(deadline - NowMs(), 0, 1 << 30));
    timerId_ = startTimer(armedEvery_, Qt::PreciseTimer);
}

void QtEventLoop::timerEvent(QTimerEvent* e) {
    if (e->timerId() != timerId_) return;
    // The Qt timer repeats at the interval it was set with; while that keeps meeting the next
    // deadline it is left running rather than set again at every wake-up.
    armedFor_ += armedEvery_;
    const int outer = handlingId_;
    handlingId_ = e->timerId();
    FireDue();
    handlingId_ = outer;
    Arm();
}

void QtEventLoop::FireDue() {
    sources_.erase(std::remove_if(sources_.begin(), sources_.end(), [](auto& s) { return !s->alive; }),
                   sources_.end());
    // A wake-up a millisecond early still serves the ticks due then rather than making another.
    const int64_t now = NowMs() + 1;
    // The outermost round reuses one list rather than allocating at every wake-up.
    std::vector<std::shared_ptr<Source>> nested;
    std::vector<std::shared_ptr<Source>>& due = rounds_ == 0 ? due_ : nested;
    struct Round {
        int& depth;
        std::vector<std::shared_ptr<Source>>& list;
        ~Round() {
            --depth;
            list.clear();
        }
    } round{rounds_, due};
    ++rounds_;
    for (auto& s : sources_)
        if (s->active && !s->firing && !s->deferred && s->due <= now) due.push_back(s);
    // In the order they fell due; a late one takes the place of its latest tick.
    std::sort(due.begin(), due.end(), [now](auto& a, auto& b) {
        const int64_t da = a->LatestDue(now), db = b->LatestDue(now);
        return da != db ? da < db : a->seq < b->seq;
    });
    for (auto& s : due) {
        // A handler earlier in this round may have stopped, restarted or deferred this one.
        if (!s->alive || !s->active || s->firing || s->deferred || s->due > now) continue;
        s->due = s->LatestDue(now) + s->interval;
        s->firing = true;
        s->onTick();
        s->firing = false;
        // Ticks that fell due while the handler ran are dropped, not delivered in a burst.
        if (s->active) s->SkipPast(NowMs());
    }
}

}  // namespace core
