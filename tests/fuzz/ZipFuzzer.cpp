// libFuzzer target: an arbitrary file is opened as an archive, every entry verified and
// extracted into a private folder as the extraction worker does, then a copy is opened for
// writing and compacted. Besides the sanitizers' findings, anything created outside the
// destination folder is a finding.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/FolderItem.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace fs = std::filesystem;

namespace {

const fs::path& workFolder()
{
    static const fs::path folder = [] {
        std::string templ = (fs::temp_directory_path() / "lvzipfuzz-XXXXXX").string();
        if (!mkdtemp(templ.data()))
            std::abort();
        return fs::path(templ);
    }();
    return folder;
}

void writeInput(const fs::path& file, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

void extractAll(const fs::path& archivePath, const fs::path& dest)
{
    lv::ZipArchive archive;
    if (!archive.Open(lv::FolderItem(archivePath), false))
        return;
    for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
        const lv::ZipEntryPtr entry = archive.Entry(i);
        entry->Verify();
        entry->Extract(entry->MakeDestination(lv::FolderItem(dest), false), true);
    }
    archive.Close();
}

void compact(const fs::path& archivePath)
{
    lv::ZipArchive archive;
    if (!archive.Open(lv::FolderItem(archivePath), true))
        return;
    archive.Compact();
    archive.Close();
    lv::ZipArchive again;
    if (again.Open(lv::FolderItem(archivePath), false))
        for (std::int32_t i = 1; i <= again.EntryCount(); ++i)
            again.Entry(i)->Verify();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lv::ZipConfig::UsePlugin = true;
    const fs::path& work = workFolder();
    const fs::path input = work / "in.zip";
    const fs::path dest = work / "dest";
    writeInput(input, data, size);

    extractAll(input, dest);
    compact(input);

    for (const auto& item : fs::directory_iterator(work))
        if (item.path() != input && item.path() != dest)
            std::abort(); // the extraction reached outside its destination
    std::error_code ec;
    fs::remove_all(dest, ec);
    return 0;
}
