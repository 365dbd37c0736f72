#include "platform/MemoryTuning.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace lv {

namespace {

constexpr const char* Tunables = "GLIBC_TUNABLES";
constexpr const char* HugePagesTunable = "glibc.malloc.hugetlb";
// Set for the second start only: a glibc that drops the tunables (a privileged start) must not
// make the program start itself over and over.
constexpr const char* Restarted = "LOCKVANE_RESTARTED";
constexpr int HeapStep = 16 << 20;

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// Starts the program again with huge pages when it should; returns when it does not.
void restartWithHugePages(char** argv)
{
    if (std::getenv(Restarted)) {
        ::unsetenv(Restarted);
        return;
    }
    const std::optional<std::string> before = variable(Tunables);
    if (before && before->find(HugePagesTunable) != std::string::npos)
        return;
    std::string value = before ? *before + ":" : std::string();
    value.append(HugePagesTunable).append("=1");
    if (::setenv(Tunables, value.c_str(), 1) != 0 || ::setenv(Restarted, "1", 1) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    // Not started again: on as before.
    ::unsetenv(Restarted);
    if (before)
        ::setenv(Tunables, before->c_str(), 1);
    else
        ::unsetenv(Tunables);
}

} // namespace

void tuneMemory(char** argv)
{
    restartWithHugePages(argv);
    ::mallopt(M_TOP_PAD, HeapStep);
}

} // namespace lv
