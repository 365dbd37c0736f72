// lvzip extract: unpacks an archive the way the extraction worker does: every entry in order
// below the destination folder (created when missing), with MacBinary and AppleDouble decoding,
// stopping at the first entry that fails.

#include <cstdio>

#include "Commands.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lvzip {

int extract(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lvzip extract ARCHIVE DESTFOLDER\n");
        return 2;
    }
    const lv::FolderItem file(itemPath(argv[1]));
    const lv::FolderItem dest(itemPath(argv[2]));

    lv::ZipConfig::UsePlugin = true;
    lv::ZipArchive archive;
    if (!archive.Open(file, false)) {
        std::fprintf(stderr, "%s\n", archive.ErrorMessage().c_str());
        return 1;
    }
    for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
        const lv::ZipEntryPtr entry = archive.Entry(i);
        if (!entry->Extract(entry->MakeDestination(dest, false), true)) {
            std::fprintf(
                stderr, "Extraction of \"%s\" failed: %s\n", entry->RawPath().c_str(), entry->ErrorMessage().c_str());
            return 1;
        }
    }
    if (!archive.Close()) {
        std::fprintf(stderr, "%s\n", archive.ErrorMessage().c_str());
        return 1;
    }
    return 0;
}

} // namespace lvzip
