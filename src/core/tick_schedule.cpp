#include "core/tick_schedule.h"

#include <algorithm>
#include <limits>

namespace core {

namespace {

class TickHandle : public TimerSource {
public:
    TickHandle(std::shared_ptr<TickSource> s, TickClock& clock) : s_(std::move(s)), clock_(clock) {}
    ~TickHandle() override {
        s_->alive = false;
        s_->active = false;
    }
    void Start(int intervalMs) override {
        s_->interval = std::max(intervalMs, 1);
        s_->due = clock_.FirstDue(s_->interval);
        s_->active = true;
        clock_.ScheduleChanged();
    }
    void Stop() override {
        s_->active = false;
        clock_.ScheduleChanged();
    }
    void SetSlack(int slackMs) override {
        s_->slack = std::max(slackMs, 0);
        clock_.ScheduleChanged();
    }
    void Defer() override {
        s_->deferred = true;
        clock_.ScheduleChanged();
    }
    int64_t Resume() override {
        s_->deferred = false;
        const int64_t now = clock_.NowMs();
        int64_t missed = 0;
        if (s_->active && s_->due <= now) {
            missed = (now - s_->due) / s_->interval + 1;
            s_->due += missed * s_->interval;
        }
        clock_.ScheduleChanged();
        return missed;
    }

private:
    std::shared_ptr<TickSource> s_;
    TickClock& clock_;
};

}  // namespace

std::unique_ptr<TimerSource> TickSchedule::Add(std::function<void()> onTick, TickClock& clock) {
    auto s = std::make_shared<TickSource>();
    s->onTick = std::move(onTick);
    s->seq = seq_++;
    sources_.push_back(s);
    return std::make_unique<TickHandle>(s, clock);
}

int64_t TickSchedule::NextDeadline() const {
    int64_t next = std::numeric_limits<int64_t>::max();
    for (const auto& s : sources_)
        if (s->Waiting()) next = std::min(next, s->due + s->slack);
    return next;
}

void TickSchedule::FireDue(const std::function<int64_t()>& now,
                           const std::function<void(TickSource&)>& afterTick) {
    sources_.erase(std::remove_if(sources_.begin(), sources_.end(), [](auto& s) { return !s->alive; }),
                   sources_.end());
    std::vector<std::shared_ptr<TickSource>> nested;
    std::vector<std::shared_ptr<TickSource>>& due = rounds_ == 0 ? due_ : nested;
    struct Round {
        int& depth;
        std::vector<std::shared_ptr<TickSource>>& list;
        ~Round() {
            --depth;
            list.clear();
        }
    } round{rounds_, due};
    ++rounds_;
    const int64_t start = now();
    for (auto& s : sources_)
        if (s->Waiting() && s->due <= start) due.push_back(s);
    // In the order they fell due; a late one takes the place of its latest tick.
    std::sort(due.begin(), due.end(), [start](auto& a, auto& b) {
        const int64_t da = a->LatestDue(start), db = b->LatestDue(start);
        return da != db ? da < db : a->seq < b->seq;
    });
    for (auto& s : due) {
        // A handler earlier in this round may have stopped, restarted or deferred this one.
        const int64_t t = now();
        if (!s->alive || !s->Waiting() || s->due > t) continue;
        s->due = s->LatestDue(t) + s->interval;
        s->firing = true;
        s->onTick();
        s->firing = false;
        afterTick(*s);
    }
}

}  // namespace core
