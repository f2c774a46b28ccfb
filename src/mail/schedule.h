#pragma once
#include <cstdint>

namespace schedule {

// The interval box's number brought to the nearest whole number (halves to even), as the counter
// and the trigger both take it.
int32_t RoundedInterval();

// Where the ticker's left edge (twips) stands after the given number of ticks from left: each tick
// moves it 20 to the left, and one standing at -1500 jumps to 2760. Any number of ticks at once.
int TickerLeftAfter(int left, int64_t ticks);

}  // namespace schedule
