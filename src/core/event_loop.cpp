#include "core/event_loop.h"

#include <cassert>

namespace core {

namespace {
EventLoop* g_loop = nullptr;
}

EventLoop& Loop() {
    assert(g_loop && "no event loop installed");
    return *g_loop;
}

void SetLoop(EventLoop* loop) { g_loop = loop; }

void WaitMs(int32_t ms) {
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
