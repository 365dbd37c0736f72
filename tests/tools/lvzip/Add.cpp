// lvzip add: packs items into a new archive the way the archiving worker does: the trees listed
// up front (so that a tree of any depth is archived), every item at the root, a folder followed
// by its whole contents under its own entry, Unix permissions kept, entries compressed in
// parallel (at most --memory bytes in flight), stopping at the first failure; the archive is
// closed in any case. --serial writes each entry before the next add.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "platform/TreeScan.h"
#include "platform/WorkerPool.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lvzip {

namespace {

int usage()
{
    std::fprintf(stderr, "usage: lvzip add [--store] [--serial] [--memory BYTES] [--macbinary never|smart|always] "
                         "OUT.zip ITEM...\n");
    return 2;
}

void report(const lv::ZipArchive& archive)
{
    std::fprintf(stderr, "%s\n", archive.ErrorMessage().c_str());
}

} // namespace

int add(int argc, char** argv)
{
    bool store = false;
    bool serial = false;
    std::size_t memory = std::size_t(256) << 20;
    std::int32_t mode = lv::ZipArchive::MacBinarySmart;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strcmp(argv[i], "--store") == 0) {
            store = true;
        } else if (std::strcmp(argv[i], "--serial") == 0) {
            serial = true;
        } else if (std::strcmp(argv[i], "--memory") == 0 && i + 1 < argc) {
            memory = std::stoull(argv[++i]);
        } else if (std::strcmp(argv[i], "--macbinary") == 0 && i + 1 < argc) {
            const std::string m = argv[++i];
            if (m == "never")
                mode = lv::ZipArchive::MacBinaryNever;
            else if (m == "smart")
                mode = lv::ZipArchive::MacBinarySmart;
            else if (m == "always")
                mode = lv::ZipArchive::MacBinaryAlways;
            else
                return usage();
        } else {
            return usage();
        }
    }
    if (argc - i < 2)
        return usage();

    const lv::FolderItem out(itemPath(argv[i++]));
    std::vector<lv::FolderItem> items;
    for (; i < argc; ++i)
        items.emplace_back(itemPath(argv[i]));

    lv::FolderItem(out).remove();
    lv::ZipArchive archive;
    if (!archive.Open(out, true)) {
        report(archive);
        return 1;
    }
    lv::ZipConfig::UsePlugin = !store;
    archive.PreserveUnixPermissions(true);
    archive.WriteInParallel(serial ? 0 : lv::WorkerPool::hardwareThreads(), memory);
    archive.UseScan(lv::TreeScan::run(items, lv::WorkerPool::hardwareThreads()));

    bool failed = false;
    for (const lv::FolderItem& item : items) {
        const std::int32_t index = archive.AddItemToRoot(item, mode);
        if (index < 1) {
            report(archive);
            failed = true;
            break;
        }
        if (item.isFolder() &&
            !archive.AddFolderContents(item, lv::ZipArchive::CleanName(item.name()), mode, false)) {
            report(archive);
            failed = true;
            break;
        }
    }
    if (!archive.Close()) {
        if (!failed)
            report(archive);
        failed = true;
    }
    return failed ? 1 : 0;
}

} // namespace lvzip
