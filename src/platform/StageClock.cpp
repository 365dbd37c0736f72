#include "platform/StageClock.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

namespace lv::StageClock {

namespace {

struct Event {
    const char* stage;
    bool begins;
    double at;
    double cpu;
};

std::atomic<bool> g_on{false};
std::mutex g_mutex;
std::vector<Event> g_events;
std::chrono::steady_clock::time_point g_start;

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void record(const char* stage, bool begins)
{
    if (!g_on)
        return;
    const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
    const double cpu = cpuSeconds();
    std::lock_guard lock(g_mutex);
    g_events.push_back({stage, begins, at, cpu});
}

} // namespace

void enable()
{
    std::lock_guard lock(g_mutex);
    g_events.clear();
    g_start = std::chrono::steady_clock::now();
    g_on = true;
}

void begin(const char* stage) { record(stage, true); }
void end(const char* stage) { record(stage, false); }

void report(std::ostream& out)
{
    std::lock_guard lock(g_mutex);
    const double cpu0 = g_events.empty() ? 0 : g_events.front().cpu;
    for (const Event& e : g_events) {
        char line[160];
        std::snprintf(line, sizeof line, "%8.3f s  cpu %7.3f s  %-5s %s\n", e.at, e.cpu - cpu0,
                      e.begins ? "begin" : "end", e.stage);
        out << line;
    }
}

} // namespace lv::StageClock
