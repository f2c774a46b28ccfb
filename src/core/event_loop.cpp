#include "core/event_loop.h"

#include <cassert>

#include "core/beside.h"
#include "platform/net_wait.h"

namespace core {

namespace {
EventLoop* g_loop = nullptr;

// The network layer waits through the installed loop, on its clock.
class LoopNetWaiter : public platform::NetWaiter {
public:
    uint32_t NowMs() override { return Loop().TimeGetTime(); }
    bool WaitUntil(const std::function<bool()>& ready, uint32_t limitMs) override {
        if (OnBeside()) return ready() || beside::Suspend(&ready, true, limitMs, /*network=*/true);
        return Loop().WaitForNetwork(ready, limitMs);
    }
    // Posted work makes the loop look at the work beside once it has run.
    void Nudge() override { Loop().Post([] {}); }
    bool WaitIdle(const std::function<bool()>& ready, uint32_t limitMs) override {
        if (OnBeside()) return ready() || beside::Suspend(&ready, true, limitMs, /*network=*/false, /*nudged=*/true);
        return Loop().WaitForNetwork(ready, limitMs);
    }
};
LoopNetWaiter g_netWaiter;
}  // namespace

EventLoop& Loop() {
    assert(g_loop && "no event loop installed");
    return *g_loop;
}

void SetLoop(EventLoop* loop) {
    g_loop = loop;
    platform::SetNetWaiter(loop ? &g_netWaiter : nullptr);
}

bool EventLoop::WaitForNetwork(const std::function<bool()>& ready, uint32_t limitMs) {
    const uint32_t start = TimeGetTime();
    for (;;) {
        if (ready()) return true;
        const uint32_t elapsed = TimeGetTime() - start;
        if (elapsed >= limitMs) return false;
        DoEvents(limitMs - elapsed);
    }
}

void EventLoop::Post(std::function<void()> work) {
    posted_.push_back(std::move(work));
    Posted();
}

void EventLoop::RunPosted() {
    while (!posted_.empty()) {
        std::function<void()> work = std::move(posted_.front());
        posted_.pop_front();
        work();
    }
}

void WaitMs(int32_t ms) {
    if (OnBeside()) {
        // Over once more than ms have passed; at once (after one turn of the loop) for ms below 0.
        beside::Suspend(nullptr, true, ms < 0 ? 0u : uint32_t(ms) + 1u, false);
        return;
    }
    EventLoop& loop = Loop();
    const uint32_t start = loop.TimeGetTime();
    uint32_t elapsed = 0;
    do {
        // The difference is taken modulo 2^32 so that a counter wrapping around changes nothing.
        const int64_t left = int64_t(ms) - int64_t(elapsed) + 1;
        loop.DoEvents(left > 0 ? uint32_t(left) : 0);
        elapsed = loop.TimeGetTime() - start;
    } while (int64_t(elapsed) <= int64_t(ms));
}

}  // namespace core
