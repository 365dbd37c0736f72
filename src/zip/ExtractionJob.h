#pragma once
// One extraction of an archive's entries below a folder, the root.
//
// The job records every file and folder it creates, so that a failed job removes exactly what
// it made and never what was there before or what another job made; before it ends it checks
// that everything it made is still where it made it. It gives the folders it created the modes
// their entries carry only once everything is extracted (so a read-only folder mode cannot stop
// the entries that go into it), and never changes the root itself. Folder dates are set again at
// that point too, since the entries that went into a folder changed its date.
//
// Items are made, given their metadata, checked and removed through descriptors of their
// folders, so a tree of any depth comes back whole. The job keeps a bounded number of folders
// open (until `closeFolders`, `finish` or `removeCreated`) and records places by their names
// (ExtractedPlaces), so that its memory grows with the names of the tree, not with their paths,
// whatever the depth. Work file names come from one random source per job.
//
// Several threads may extract entries of one job at once, each reading the archive through a
// stream of its own; the record and the open folders are kept under a lock. Entries that share
// a place (see ExtractionSchedule) must not be extracted at the same time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/FolderHandle.h"
#include "platform/FolderItem.h"
#include "platform/OpenFolders.h"
#include "platform/WorkFileNames.h"
#include "zip/ExtractedPlaces.h"
#include "zip/ZipEntry.h"

namespace lv {

class ZipArchive;

class ExtractionJob {
public:
    static constexpr const char* FileExtractedAlreadyText =
        "A file of that name was extracted already. Won't replace that.";
    // publish on a job without a staging folder (never made by claimStagingFolder, or published).
    static constexpr const char* NoStagingFolderText = "Internal error (no staging folder to publish)";
    // The step in which an entry's data are copied.
    static constexpr std::int64_t ChunkSize = std::int64_t(1) << 20;

    // Extracts below `root`, made when missing. A file there that this job did not make is
    // replaced by an entry of its name.
    explicit ExtractionJob(FolderItem root, bool decodeMacBinary = true);

    // Makes the first free one of `name`, `name2`, `name3`, ... in `parent` (an existing name is
    // never reused, so two jobs never share a root) and returns a job extracting into it. The
    // root is the job's own: nothing in it is ever replaced, and removeCreated removes it.
    // nullptr with the reason in `error` when no folder could be made.
    static std::unique_ptr<ExtractionJob> claimFolder(const FolderItem& parent, const std::string& name,
                                                      std::string& error);

    // Like claimFolder, but the job extracts into a hidden, private (0700) folder of its own in
    // `parent`, and `publish` gives that folder its final mode (after the umask) and the first
    // free one of those names at the end: a job that fails or is cut short never shows a partial
    // result under them, and no one else can open what it extracts while it runs.
    static std::unique_ptr<ExtractionJob> claimStagingFolder(const FolderItem& parent, const std::string& name,
                                                             std::string& error);
    // After `finish`, for a job of claimStagingFolder: the root renamed to the first free one of
    // its names, never replacing anything. From then on the root is the user's: removeCreated
    // leaves it. False with the reason in `error`.
    bool publish(std::string& error);

    const FolderItem& root() const noexcept { return m_root; }

    // Bytes the entries of `archive` take once extracted: each entry with its AppleDouble
    // companion, rounded up to whole 4 KiB blocks.
    static std::uint64_t bytesNeeded(const ZipArchive& archive);
    // "" when the file system of the root has room for the entries of `archive`, or cannot tell;
    // otherwise the message for the user, which names the folder the user chose (the root's
    // parent when the job claimed the root or the root does not exist yet).
    std::string checkRoom(const ZipArchive& archive) const;

    // Extracts one entry to its place below the root, through the archive's own stream. False
    // with the message for the user ("Extraction of "name" failed: reason") in `error`.
    bool extract(ZipEntry& entry, std::string& error);
    // The same, reading the archive through `reader` (a stream of the calling thread's own), so
    // that several threads can extract entries at once.
    bool extract(ZipEntry& entry, const ZipEntry::ArchiveReader& reader, std::string& error);
    // After the last entry: checks that every item this job made is still where it made it (the
    // same file or folder, not only the same name), then gives the folders extracted their
    // entries' dates back and those this job created their entries' modes, deepest first; the
    // folders it holds open are let go. False with the message for the user in `error` (naming
    // the item) when an item is gone or a date or mode cannot be set.
    bool finish(std::string& error);
    // Removes everything this job created, the newest first, and the root when the job claimed
    // it; what others put there stays. True when all of it is gone.
    bool removeCreated();
    // Lets go of the folders the job holds open; a later extract opens them again.
    void closeFolders();

private:
    using FolderPtr = std::shared_ptr<const FolderHandle>;
    using Place = ExtractedPlaces::Index;

    bool extractEntry(ZipEntry& entry, const ZipEntry::ArchiveReader* reader, std::string& error);
    FolderPtr openRoot();

    // The following are called with m_mutex held.
    // The open folder of a place, reached from the nearest open folder above it; with `make`,
    // folders missing on the way are made (and recorded). nullptr when something other than a
    // folder is on the way, or a folder is missing (`make` false).
    FolderPtr folderOf(Place place, bool make);
    // The open folder the item the job made at `place` lies in, when that item is still there
    // (the same device and inode); else nullptr.
    FolderPtr folderOfMade(Place place);
    // "" when the item the job made at `place` is still there; else the message.
    std::string checkInPlace(Place place);
    // No folder held open.
    void letFoldersGo();
    // Nothing recorded and no folder held open.
    void forget();

    FolderItem m_root;
    bool m_decodeMacBinary = true;
    bool m_ownsRoot = false;
    bool m_rootCreated = false;                  // the job made the root (it was missing)
    std::string m_publishName;                   // the names a staged root is published under
    // A staged root and the folder it lies in, held open from the start: extraction, publishing
    // and clean-up reach them through these, so a destination renamed, moved or replaced by a
    // link meanwhile changes nothing for the job.
    FolderPtr m_stagingParent;
    FolderPtr m_stagingRoot;
    // The hidden names of the job's work files and of a staged root, which a crash may leave.
    static constexpr const char* WorkPrefix = ".lvextract-";
    WorkFileNames m_workNames{WorkPrefix};

    mutable std::mutex m_mutex;
    ExtractedPlaces m_places;
    OpenFolders m_open;                          // by place
    FolderPtr m_rootFolder;
};

} // namespace lv
