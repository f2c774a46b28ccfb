#pragma once
#include <cstdint>

namespace schedule {

// The interval box's number brought to the nearest whole number (halves to even), as the counter
// and the trigger both take it.
int32_t RoundedInterval();

}  // namespace schedule
