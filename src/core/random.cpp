#include "core/random.h"

#include <random>

namespace core {

namespace {
std::mt19937& Generator() {
    static std::mt19937 gen(5489u);
    return gen;
}
std::function<double()> g_source;
}  // namespace

double Rnd() {
    if (g_source) return g_source();
    // 53 random bits: uniform in [0, 1), never 1.
    return std::generate_canonical<double, 53>(Generator());
}

void Randomize(uint32_t seed) { Generator().seed(seed); }

void SetRandomSource(std::function<double()> source) { g_source = std::move(source); }

}  // namespace core
