#pragma once
// One extraction of an archive's entries below a folder, the root.
//
// The job records every file and folder it creates, so that a failed job removes exactly what
// it made and never what was there before or what another job made. It gives the folders it
// created the modes their entries carry only once everything is extracted (so a read-only folder
// mode cannot stop the entries that go into it), and never changes the root itself.
//
// A job may extract entries from several threads at once; its record is kept under a lock.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FolderItem.h"

namespace lv {

class ZipArchive;
class ZipEntry;

class ExtractionJob {
public:
    static constexpr const char* FileExtractedAlreadyText =
        "A file of that name was extracted already. Won't replace that.";

    // Extracts below `root`, made when missing. A file there that this job did not make is
    // replaced by an entry of its name.
    explicit ExtractionJob(FolderItem root, bool decodeMacBinary = true);

    // Makes the first free one of `name`, `name2`, `name3`, ... in `parent` (an existing name is
    // never reused, so two jobs never share a root) and returns a job extracting into it. The
    // root is the job's own: nothing in it is ever replaced, and removeCreated removes it.
    // nullptr with the reason in `error` when no folder could be made.
    static std::unique_ptr<ExtractionJob> claimFolder(const FolderItem& parent, const std::string& name,
                                                      std::string& error);

    const FolderItem& root() const noexcept { return m_root; }

    // Bytes the entries of `archive` take once extracted: each entry with its AppleDouble
    // companion, rounded up to whole 4 KiB blocks.
    static std::uint64_t bytesNeeded(const ZipArchive& archive);
    // "" when the file system of the root has room for the entries of `archive`, or cannot tell;
    // otherwise the message for the user, which names the folder the user chose (the root's
    // parent when the job claimed the root or the root does not exist yet).
    std::string checkRoom(const ZipArchive& archive) const;

    // Extracts one entry to its place below the root. False with the message for the user
    // ("Extraction of "name" failed: reason") in `error`.
    bool extract(ZipEntry& entry, std::string& error);
    // After the last entry: the folders this job created get their entries' modes, deepest first.
    void finish();
    // Removes everything this job created, the newest first, and the root when the job claimed
    // it; what others put there stays. True when all of it is gone.
    bool removeCreated();

private:
    void record(const FolderItem& item);
    bool createdHere(const FolderItem& item) const;

    FolderItem m_root;
    bool m_decodeMacBinary = true;
    bool m_ownsRoot = false;

    mutable std::mutex m_mutex;
    std::vector<FolderItem> m_created;           // in the order they were made
    std::set<std::filesystem::path> m_createdPaths;
    std::vector<std::pair<FolderItem, std::uint32_t>> m_folderModes;
};

} // namespace lv
