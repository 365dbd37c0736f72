#pragma once
// How much a file system can still take, asked before a job writes anything large, and sizes
// as the messages about it show them.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace lv::DiskSpace {

// Bytes the user may still write on the file system that holds `path` (an existing item);
// nullopt when that cannot be told.
std::optional<std::uint64_t> available(const std::filesystem::path& path);

// `bytes` for the user: "500 bytes", "1.5 KB", "20.0 GB" (units of 1000).
std::string describe(std::uint64_t bytes);

// Test hook: while set, `available` answers with the probe instead of the file system.
using Probe = std::function<std::optional<std::uint64_t>(const std::filesystem::path&)>;
void setProbeForTesting(Probe probe);

} // namespace lv::DiskSpace
