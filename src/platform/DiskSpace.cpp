#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include <cstdio>
#include <mutex>

namespace lv::DiskSpace {

namespace {

std::mutex g_probeMutex;
Probe g_probe;

} // namespace

std::optional<std::uint64_t> available(const std::filesystem::path& path)
{
    {
        std::lock_guard lock(g_probeMutex);
        if (g_probe)
            return g_probe(path);
    }
    struct statvfs st;
    if (::statvfs(path.c_str(), &st) != 0)
        return std::nullopt;
    return std::uint64_t(st.f_bavail) * std::uint64_t(st.f_frsize);
}

std::string describe(std::uint64_t bytes)
{
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";
    static constexpr const char* Units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(Units)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

void setProbeForTesting(Probe probe)
{
    std::lock_guard lock(g_probeMutex);
    g_probe = std::move(probe);
}

} // namespace lv::DiskSpace
