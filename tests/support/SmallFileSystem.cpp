#include "SmallFileSystem.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace lv::test {

namespace {

bool writeProcFile(const char* file, const std::string& text)
{
    std::ofstream out(file);
    out << text;
    out.close();
    return bool(out);
}

} // namespace

bool mountSmallFileSystem(const std::filesystem::path& folder, std::size_t bytes)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    // Root may have a mount namespace of its own; anyone else gets one inside a user namespace,
    // as itself.
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
            return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

} // namespace lv::test
