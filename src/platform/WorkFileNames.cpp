#include "platform/WorkFileNames.h"

#include <cstdio>
#include <random>

namespace lv {

namespace {

// SplitMix64: consecutive counters give unrelated, evenly spread values.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t randomSeed()
{
    std::random_device random;
    return (std::uint64_t(random()) << 32) ^ std::uint64_t(random());
}

} // namespace

WorkFileNames::WorkFileNames(std::string prefix) : m_prefix(std::move(prefix)), m_seed(randomSeed()) {}

std::string WorkFileNames::next()
{
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(mix(m_seed + m_counter++)));
    return m_prefix + digits;
}

} // namespace lv
