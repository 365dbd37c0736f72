#pragma once
// The interface through which an archive reports to its client: progress of one entry, the
// failure of one file of a folder walk, and the start of each file of a walk. Every flag comes
// in false; the client sets it to stop. Calls happen on the archive's own thread.
//
// Held by `ZipArchiveData::monitor` (not owned); set with `ZipArchive::SetProgressMonitor`.

#include <cstdint>
#include <string>

namespace lv {

class FolderItem;
class ZipEntry;

class ZipProgressNotifier {
public:
    virtual ~ZipProgressNotifier() = default;

    // Entry writers: before the payload (done 0), after every chunk and at the end (done ==
    // total). The reader likewise while it extracts. `abort` stops the entry with "Aborted".
    virtual void zipProgress(ZipEntry& entry, std::int32_t total, std::int32_t done, bool& abort) = 0;
    // Adding one file of a folder walk failed; `message` is the archive's error text. `stop`
    // ends the walk; left false the file is skipped.
    virtual void ZipFileError(const FolderItem& file, std::int32_t code, const std::string& message, bool& stop) = 0;
    // Before each file of a folder walk; `abort` ends the walk, which then fails.
    virtual void ZipFileStarting(const FolderItem& file, bool& abort) = 0;
};

} // namespace lv
