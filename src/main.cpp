#include "platform/DateTime.h"
#include "platform/MemoryTuning.h"
#include "ui/Program.h"

int main(int argc, char* argv[])
{
    lv::tuneMemory(argv);
    lv::settleTimeZone();
    return lv::runProgram(argc, argv);
}
