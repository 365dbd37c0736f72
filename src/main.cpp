#include "platform/MemoryTuning.h"
#include "ui/Program.h"

int main(int argc, char* argv[])
{
    lv::tuneMemory(argv);
    return lv::runProgram(argc, argv);
}
