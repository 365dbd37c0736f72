#pragma once
// What a job copies of the user's settings when it starts, so that a change made while it runs
// (or a later job) never alters it.

#include <cstddef>
#include <string>

#include "platform/FolderItem.h"

namespace lv {

struct JobSettings {
    bool compress = true;          // deflate the members of the work archive; false: store them
    bool notificationsOn = true;   // post the end-of-job desktop notifications
    bool bounce = true;            // request the window's attention at the end of a job
    // The folder of the work files "Lockvane.zip" and "Lockvane.cdx"; null: the user's work folder
    // that has room for the job (WorkFolder).
    FolderItem workFolder;
    // When set, the encrypted file's name was chosen from these parts (see OutputName): should a
    // file have taken that name while the job ran, the next free one is used instead.
    std::string outputBaseName;
    std::string outputExtension;
    // Archiving: the threads that compress entries (0: one per core) and the most bytes of
    // entry data they hold in memory at once, whatever the job's size.
    unsigned archiveWorkers = 0;
    std::size_t archiveMemory = std::size_t(160) << 20;
};

// The fixed names of the work files and of the extraction folder.
inline constexpr const char* WorkArchiveName = "Lockvane.zip";
inline constexpr const char* WorkFileName = "Lockvane.cdx";
inline constexpr const char* DecryptedFolderName = "DecryptedFiles";

} // namespace lv
