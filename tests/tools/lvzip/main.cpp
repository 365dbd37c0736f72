// lvzip: a test driver for the zip library.
//   lvzip add [--store] [--serial] [--memory BYTES] [--macbinary never|smart|always] OUT.zip ITEM...
//   lvzip extract ARCHIVE DESTFOLDER

#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace lvzip {

std::filesystem::path itemPath(const char* arg)
{
    std::filesystem::path p = std::filesystem::absolute(arg).lexically_normal();
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path())
        p = p.parent_path();
    return p;
}

} // namespace lvzip

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "add") == 0)
        return lvzip::add(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "extract") == 0)
        return lvzip::extract(argc - 1, argv + 1);
    std::fprintf(stderr,
                 "usage: lvzip add [--store] [--serial] [--memory BYTES] [--macbinary never|smart|always] OUT.zip ITEM...\n"
                 "       lvzip extract ARCHIVE DESTFOLDER\n");
    return 2;
}
