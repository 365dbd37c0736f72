#include "support/TimeZone.h"

#include <cstdlib>
#include <ctime>

namespace lv::test {

ScopedTimeZone::ScopedTimeZone(const char* zone)
{
    if (const char* tz = std::getenv("TZ"))
        m_saved = tz;
    ::setenv("TZ", zone, 1);
    ::tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_saved)
        ::setenv("TZ", m_saved->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

} // namespace lv::test
