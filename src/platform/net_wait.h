#pragma once
// How the network layer waits for its sockets. It never blocks the thread: it hands control to the
// program's event loop until what it awaits has come or its time limit has passed, so that windows
// and timers keep working while a server is slow. The program puts its own event loop in place
// (with its clock), so that tests in virtual time can run a silent server's time limit at once; until
// then Qt's own events are served in real time.
#include <cstdint>
#include <functional>

namespace platform {

class NetWaiter {
public:
    virtual ~NetWaiter() = default;
    // The millisecond counter the time limits are measured on; wraps around at 2^32.
    virtual uint32_t NowMs() = 0;
    // Serves events until ready() holds (true) or limitMs have passed on NowMs() (false). ready() is
    // asked first, so a wait for something already there costs nothing.
    virtual bool WaitUntil(const std::function<bool()>& ready, uint32_t limitMs) = 0;
    // The same for a wait in which no answer is due (a connection idling until its server has news):
    // a loop in virtual time need not hold its clock still for it.
    // The caller calls Nudge() whenever what it waits for may have come (a socket's signal), so that an
    // idle wait costs the loop nothing per event.
    virtual bool WaitIdle(const std::function<bool()>& ready, uint32_t limitMs) { return WaitUntil(ready, limitMs); }
    virtual void Nudge() {}
};

NetWaiter& Net();
// nullptr puts the real-time waiter back. The caller keeps ownership.
void SetNetWaiter(NetWaiter* waiter);

}  // namespace platform
