#pragma once
// A path of any length made usable for system calls: the path itself when it is short enough,
// else the item's name inside its folder reached through /proc/self/fd, the folder opened one
// component at a time. A tree may be deeper than the kernel takes paths; its items are still
// read and looked at where they are.

#include <filesystem>
#include <string>

#include "platform/FileDescriptor.h"

namespace lv {

class ReachablePath {
public:
    explicit ReachablePath(const std::filesystem::path& path);
    ReachablePath(const ReachablePath&) = delete;
    ReachablePath& operator=(const ReachablePath&) = delete;

    // What to hand to the system for the item; the original path when its folder cannot be
    // opened (the call then fails as it would have).
    const std::filesystem::path& path() const noexcept { return m_path; }
    const char* c_str() const noexcept { return m_path.c_str(); }

private:
    FileDescriptor m_folder;
    std::filesystem::path m_path;
};

} // namespace lv
