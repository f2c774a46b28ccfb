#include "core/timer.h"

namespace core {

Timer::Timer(int intervalMs, bool enabled)
    : interval_(intervalMs), enabled_(enabled), source_(Loop().CreateTimer([this] { Tick(); })) {
    Apply();
}

void Timer::SetInterval(int ms) {
    if (ms < 0) ms = 0;
    if (ms == interval_) return;
    interval_ = ms;
    Apply();
}

void Timer::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    Apply();
}

void Timer::SetSlack(int ms) {
    if (ms == slack_) return;
    slack_ = ms;
    source_->SetSlack(ms);
}

void Timer::SetDeferred(bool on) {
    if (on == deferred_) return;
    deferred_ = on;
    if (on) {
        source_->Defer();
        return;
    }
    const int64_t ticks = source_->Resume();
    // A catch-up asked for from inside the timer's own tick would nest in it: dropped, like a tick.
    if (ticks > 0 && !inTick_ && Ticking() && OnCatchUp) {
        inTick_ = true;
        OnCatchUp(ticks);
        inTick_ = false;
    }
}

void Timer::Apply() {
    if (Ticking())
        source_->Start(interval_);
    else
        source_->Stop();
}

void Timer::Tick() {
    if (inTick_ || !Ticking() || !OnTimer) return;
    inTick_ = true;
    OnTimer();
    inTick_ = false;
}

}  // namespace core
