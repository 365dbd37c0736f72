#pragma once
// Process-wide switches of the zip library.

#include <atomic>

namespace lv::ZipConfig {

// True: new entries are deflated and deflated entries can be extracted. False (the value at
// start): new entries are stored and a deflated entry is refused on extraction. The engine sets
// it before each job; every entry operation reads it once when it starts.
inline std::atomic<bool> UsePlugin{false};

} // namespace lv::ZipConfig
