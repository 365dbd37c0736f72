// lvzip extract: unpacks an archive the way the extraction worker does: every entry in order
// below the destination folder (created when missing), with MacBinary and AppleDouble decoding,
// stopping at the first entry that fails, folder modes applied at the end. What was extracted
// before a failure stays.

#include <cstdio>

#include "Commands.h"
#include "zip/ExtractionJob.h"
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
    lv::ExtractionJob job(dest);
    for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
        std::string error;
        if (!job.extract(*archive.Entry(i), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    if (!archive.Close()) {
        std::fprintf(stderr, "%s\n", archive.ErrorMessage().c_str());
        return 1;
    }
    std::string error;
    if (!job.finish(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace lvzip
