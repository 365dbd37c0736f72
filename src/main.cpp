#include "ui/Program.h"

int main(int argc, char* argv[]) { return lv::runProgram(argc, argv); }
