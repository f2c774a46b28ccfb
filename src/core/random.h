#pragma once
// The program's random numbers: uniform in [0, 1), seeded once.
#include <cstdint>
#include <functional>

namespace core {

double Rnd();
void Randomize(uint32_t seed);
// Tests put a known sequence in place; nullptr goes back to the generator.
void SetRandomSource(std::function<double()> source);

}  // namespace core
