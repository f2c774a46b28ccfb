#pragma once
// The system clock: a millisecond counter for measuring waits and the local time of day.
#include <QDateTime>
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, from the monotonic clock; wraps around at 2^32.
uint32_t timeGetTime();
QDateTime LocalNow();

}  // namespace platform
