#include "platform/HugePages.h"
#include "ui/Program.h"

int main(int argc, char* argv[])
{
    lv::restartWithHugePages(argv);
    return lv::runProgram(argc, argv);
}
