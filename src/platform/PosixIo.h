#pragma once
// Whole-buffer reads and writes on file descriptors, retrying short transfers and EINTR, and
// folder walks through descriptors.
// Each returns 0 or the errno of the failure.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lv::posix {

// Writes all of `data` at the descriptor's current offset.
int writeAll(int fd, std::string_view data);
// Reads exactly `length` bytes at `offset` into `out`; EIO when the file ends first.
int readAt(int fd, std::uint64_t offset, std::size_t length, std::string& out);
// Copies the rest of `from` (from its current offset) to `to`.
int copyData(int from, int to);
// The names in the folder open as `dirFd`, without "." and "..", unsorted (the descriptor
// stays open and usable).
int folderEntries(int dirFd, std::vector<std::string>& names);
// The names in `folder`, sorted by bytes; the folder itself is not reached through a link.
int folderEntries(const std::string& folder, std::vector<std::string>& names);
// Empties the folder open as `dirFd` without following any link, going on past what it cannot
// remove (as rm -r does); 0 or the first errno. With `openToOwner`, a folder inside that its
// owner may not list or change is opened to the owner (u+rwx) first. A tree of any depth is
// emptied with a folder or two open at a time.
int removeFolderContents(int dirFd, bool openToOwner = false);
// Flushes a folder's entries to the disk (after creating or renaming in it).
int syncFolder(const std::string& folder);

} // namespace lv::posix
