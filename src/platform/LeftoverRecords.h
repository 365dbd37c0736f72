#pragma once
// Records of the hidden items a job makes beside the user's files (the private folder a
// decryption extracts into until it is published, the copy of a file under construction on
// another file system), kept where they outlive a logout, a reboot or a crash, so that no such
// item stays for good: whoever next removes the leftovers (the program's start) removes it.
//
// A record is a file of its own (0600) in a private folder (0700): "device inode" on its first
// line, the item's absolute path on the second. The job that made it holds it (an advisory lock
// that the system drops when the process ends, however it ends) until the item is gone or has
// become the user's, and only then drops it; a job that could not remove its item leaves the
// record for the next time. Several jobs, and several crashes, each have their own.
//
// Removal takes only the records no one holds, and removes only the item a record names: a
// hidden name, a file or folder (with everything in it) of the same device and inode, never
// reached through a link. A record whose item is gone, or is another item now, is dropped; one
// whose item cannot be reached or removed now stays.

#include <filesystem>
#include <string>

#include "platform/FileDescriptor.h"

namespace lv {

class LeftoverRecord {
public:
    LeftoverRecord() = default;
    LeftoverRecord(LeftoverRecord&&) noexcept = default;
    LeftoverRecord& operator=(LeftoverRecord&&) noexcept = default;
    // Lets go of the record; unless dropped, it stays for the next removal of the leftovers.
    ~LeftoverRecord() = default;

    explicit operator bool() const noexcept { return m_file.valid(); }
    // The item is gone, or is the user's now: the record goes.
    void drop() noexcept;

private:
    friend class LeftoverRecords;
    LeftoverRecord(FileDescriptor folder, FileDescriptor file, std::string name)
        : m_folder(std::move(folder)), m_file(std::move(file)), m_name(std::move(name))
    {
    }

    FileDescriptor m_folder;  // the records folder
    FileDescriptor m_file;    // the record, held
    std::string m_name;
};

class LeftoverRecords {
public:
    explicit LeftoverRecords(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    // The user's (SpecialFolders::leftoverRecords). RuntimeException without a home folder.
    static LeftoverRecords user();

    const std::filesystem::path& folder() const noexcept { return m_folder; }

    // Records the file or folder at `item`, whose name is hidden (begins with "."), as it is now;
    // the records folder is made (private) when missing. An empty record, with the errno in
    // `err`, when it could not be written or the folder was refused.
    LeftoverRecord record(const std::filesystem::path& item, int& err) const;

    // Removes the items of the records no one holds, as described above.
    void removeUnheld() const;

    // The same for the one record `name` in the folder open as `folder` (a record an earlier
    // version kept in its work folder has the same form).
    static void removeRecorded(int folder, const std::string& name);

private:
    std::filesystem::path m_folder;
};

} // namespace lv
