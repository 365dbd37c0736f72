#include "engine/WorkFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>

#include "engine/JobSettings.h"
#include "platform/DiskSpace.h"
#include "platform/Exceptions.h"
#include "platform/LeftoverRecords.h"
#include "platform/SpecialFolders.h"
#include "platform/Thread.h"
#include "platform/TreeScan.h"
#include "zip/MacBinary.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace fs = std::filesystem;

namespace {

// Records, extra fields and the name twice (local and central), generously.
constexpr std::uint64_t EntryOverhead = 1024;
// The end record, the header and the cipher's framing of the encrypted file.
constexpr std::uint64_t JobOverhead = 4096;

// The folder that holds `path`, or the nearest one above it that exists.
fs::path existingAncestor(fs::path path)
{
    std::error_code ec;
    while (!fs::exists(path, ec) && path.has_parent_path() && path.parent_path() != path)
        path = path.parent_path();
    return path;
}

// The folder at `path` opened without following a link; only a folder of this user.
FileDescriptor openOwnFolder(const fs::path& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (fd && (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid()))
        fd.reset();
    return fd;
}

// Holds the folder open as `fd` for this job; false when a running job holds it.
bool hold(const FileDescriptor& fd) { return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0; }

// Where an earlier version recorded a job's staging folder: such a record still has its folder
// removed.
constexpr const char* LegacyStagingRecordName = "Lockvane.staging";

void removeWorkFiles(const FileDescriptor& folder)
{
    // Never a folder of that name: that is no work file of ours.
    for (const char* name : {WorkArchiveName, WorkFileName})
        ::unlinkat(folder.get(), name, 0);
    LeftoverRecords::removeRecorded(folder.get(), LegacyStagingRecordName);
}

std::uint64_t fileNeed(const std::string& name, const ItemStat& stat, const std::optional<MacMetadataStore::Probe>& mac)
{
    const std::uint64_t data = stat.length, rsrc = mac ? mac->forkLength : 0;
    const std::uint64_t payload =
        rsrc > 0 ? std::uint64_t(macbinary::streamLength(std::int64_t(data), std::int64_t(rsrc))) : data;
    return EntryOverhead + 2 * name.size() + std::uint64_t(zip::deflateBound(std::int64_t(payload)));
}

std::uint64_t itemNeed(const std::string& name, const ItemStat& stat, const std::optional<MacMetadataStore::Probe>& mac)
{
    switch (stat.kind) {
    case FolderItem::Kind::File:
        return fileNeed(name, stat, mac);
    case FolderItem::Kind::Folder:
        return EntryOverhead + 2 * name.size();
    default:  // aliases inside folders are left out
        return 0;
    }
}

} // namespace

WorkFolder::~WorkFolder() = default;

std::unique_ptr<WorkFolder> WorkFolder::claim(const std::vector<fs::path>& candidates, std::uint64_t bytesNeeded,
                                              std::string& error)
{
    std::string shortfall;
    bool held = false;
    for (const fs::path& path : candidates) {
        if (const auto free = DiskSpace::available(existingAncestor(path)); free && *free < bytesNeeded) {
            shortfall += std::string(shortfall.empty() ? "" : " and ") + DiskSpace::describe(*free) + " in \"" +
                path.native() + "\"";
            continue;
        }
        FolderItem folder = SpecialFolders::privateFolder(path);
        FileDescriptor fd = openOwnFolder(path);
        if (!fd)
            throw RuntimeException("Cannot open the temporary folder " + path.native(), errno);
        if (!hold(fd)) {
            held = true;
            continue;
        }
        removeWorkFiles(fd);
        return std::unique_ptr<WorkFolder>(new WorkFolder(std::move(folder), std::move(fd)));
    }
    if (held)
        error = "Another Lockvane job is using the folder for its work files. Try again once it has finished.";
    else
        error = "There is not enough free space for the work files of this job: they need " +
            DiskSpace::describe(bytesNeeded) + ", but there is only " + shortfall + ".";
    return nullptr;
}

std::uint64_t WorkFolder::encryptionNeed(const TreeScan& scan)
{
    std::uint64_t archive = JobOverhead;
    for (const auto& [path, root] : scan.roots())
        archive += itemNeed(path.filename().native(), root.stat, root.mac);
    for (const auto& [path, listing] : scan.listings())
        for (std::size_t i = 0; i < listing.items.size(); ++i)
            archive += itemNeed(listing.items[i].name, listing.items[i].stat, listing.mac[i]);
    return 2 * archive;
}

std::uint64_t WorkFolder::decryptionNeed(const FolderItem& file) { return file.length(); }

void removeStaleWorkFiles()
{
    std::vector<fs::path> candidates;
    std::optional<LeftoverRecords> records;
    try {
        candidates = SpecialFolders::temporaryCandidates();
        records = LeftoverRecords::user();
    } catch (const RuntimeException&) {
        return;  // no home folder: no work folder and no records either
    }
    for (const fs::path& path : candidates) {
        const FileDescriptor fd = openOwnFolder(path);
        if (fd && hold(fd))
            removeWorkFiles(fd);
    }
    records->removeUnheld();
}

} // namespace lv
