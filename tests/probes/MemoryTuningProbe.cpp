// Prints GLIBC_TUNABLES, its arguments and the heap's first growth after tuneMemory, for the
// tests in tests/CMakeLists.txt.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/MemoryTuning.h"

int main(int argc, char** argv)
{
    lv::tuneMemory(argv);
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    std::printf("tunables=[%s]", tunables ? tunables : "");
    for (int i = 1; i < argc; ++i) std::printf(" arg=[%s]", argv[i]);
    std::printf(" restarted=%s", std::getenv("LOCKVANE_RESTARTED") ? "set" : "unset");
    // Blocks beyond the heap's first size (each under the size that gets a mapping of its own,
    // 4 MB in all: more than a first huge page) make it grow by one step.
    char* blocks[40];
    for (char*& block : blocks) {
        block = static_cast<char*>(std::malloc(100 << 10));
        std::memset(block, 1, 100 << 10);
    }
    std::printf(" heap=%s", mallinfo2().arena >= (std::size_t(16) << 20) ? "large-steps" : "small-steps");
    int sum = 0;
    for (char* block : blocks) {
        sum += block[12345];
        std::free(block);
    }
    std::printf(" (%d)\n", sum);
    return 0;
}
