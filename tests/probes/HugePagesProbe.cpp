// Prints GLIBC_TUNABLES and its arguments after restartWithHugePages, for the tests in
// tests/CMakeLists.txt.
#include <cstdio>
#include <cstdlib>

#include "platform/HugePages.h"

int main(int argc, char** argv)
{
    lv::restartWithHugePages(argv);
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    std::printf("tunables=[%s]", tunables ? tunables : "");
    for (int i = 1; i < argc; ++i) std::printf(" arg=[%s]", argv[i]);
    std::printf(" restarted=%s\n", std::getenv("LOCKVANE_RESTARTED") ? "set" : "unset");
    return 0;
}
