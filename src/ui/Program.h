#pragma once
// The program: the application, its main window, and the documents named on the command line.

#include <vector>

#include "platform/FolderItem.h"

namespace lv {

// The documents named on a command line (after the program's name), as absolute paths, byte for
// byte as given.
std::vector<FolderItem> commandLineDocuments(int argc, const char* const* argv);

// Runs the program; its exit code.
int runProgram(int argc, char** argv);

} // namespace lv
