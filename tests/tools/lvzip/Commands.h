#pragma once
// Subcommands of lvzip. Each takes the arguments after the program name (argv[0] is the
// subcommand), prints the library's error text on failure and returns the exit status.

#include <filesystem>

namespace lvzip {

int add(int argc, char** argv);
int extract(int argc, char** argv);

// An item named on the command line, without trailing separators (so that its name is its last
// component).
std::filesystem::path itemPath(const char* arg);

} // namespace lvzip
