#pragma once
// The private folder a job keeps its work files in: the archive "Lockvane.zip", which holds the
// plaintext, and the encrypted file "Lockvane.cdx" while it is written.
//
// The folder is chosen for each job by the room the job needs: the runtime folder when the job
// fits there (it is usually a small RAM-backed file system), else the one under the cache folder.
// A job holds its folder while it runs (an advisory lock that the system drops when the process
// ends, however it ends), so the work files of a job that crashed can be told from those of a
// job that runs: the next job in that folder and the program's start-up remove them.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/FolderItem.h"

namespace lv {

class TreeScan;

class WorkFolder {
public:
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    // Lets go of the folder; the work files stay as they are.
    ~WorkFolder();

    // Takes the first of `candidates` (paths of private folders, SpecialFolders::
    // temporaryCandidates for the user's) whose file system has `bytesNeeded` free and that no
    // running job holds, makes it when missing, and removes the work files a crashed job left
    // there. nullptr with the message for the user in `error` when none will do;
    // RuntimeException when the folder chosen is refused (a link, another user's, open to others).
    static std::unique_ptr<WorkFolder> claim(const std::vector<std::filesystem::path>& candidates,
                                             std::uint64_t bytesNeeded, std::string& error);

    const FolderItem& folder() const noexcept { return m_folder; }

    // The most the work files of an encryption of the items `scan` holds take: the archive with
    // nothing compressed (each file with its resource fork, padding and records) and, beside it,
    // the encrypted file.
    static std::uint64_t encryptionNeed(const TreeScan& scan);
    // The most the work files of a decryption of `file` take: an archive no longer than it.
    static std::uint64_t decryptionNeed(const FolderItem& file);

private:
    WorkFolder(FolderItem folder, FileDescriptor lock) : m_folder(std::move(folder)), m_lock(std::move(lock)) {}

    FolderItem m_folder;
    FileDescriptor m_lock;
};

// Deletes both work files from every candidate work folder of the user that no running job
// holds, and the hidden items recorded as leftovers (LeftoverRecords::user) whose jobs are over:
// their plaintext must not outlive a crash. For the program's start-up and quit.
void removeStaleWorkFiles();

} // namespace lv
