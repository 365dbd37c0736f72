#pragma once
// A time zone set for one test: TZ names it (for this process and the tools it starts) until the
// guard ends, when the zone the process had comes back.

#include <optional>
#include <string>

namespace lv::test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> m_saved;
};

} // namespace lv::test
