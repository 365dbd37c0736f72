#pragma once
// Names for work files that no one can guess or that a name already in use blocks for long: a
// prefix and 16 hexadecimal digits drawn from one random seed per source and a counter, so
// that a job makes all its names from one random source instead of one per file.

#include <atomic>
#include <cstdint>
#include <string>

namespace lv {

class WorkFileNames {
public:
    explicit WorkFileNames(std::string prefix);

    // The next name; any number of threads may ask at once.
    std::string next();

private:
    std::string m_prefix;
    std::uint64_t m_seed;
    std::atomic<std::uint64_t> m_counter{0};
};

} // namespace lv
