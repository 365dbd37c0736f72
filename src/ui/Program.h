#pragma once
// The program: the application, its main window, and the documents named on the command line.

namespace lv {

// Runs the program; its exit code.
int runProgram(int argc, char** argv);

} // namespace lv
