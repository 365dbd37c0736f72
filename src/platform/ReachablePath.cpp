#include "platform/ReachablePath.h"

#include <fcntl.h>
#include <limits.h>

namespace lv {

ReachablePath::ReachablePath(const std::filesystem::path& path) : m_path(path)
{
    if (path.native().size() < PATH_MAX || !path.has_parent_path())
        return;
    const std::filesystem::path folder = path.parent_path();
    FileDescriptor at(::open(folder.is_absolute() ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const auto& part : folder.relative_path()) {
        if (!at || part.empty())
            break;
        at.reset(::openat(at.get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!at)
        return;
    m_folder = std::move(at);
    m_path = std::filesystem::path("/proc/self/fd") / std::to_string(m_folder.get()) / path.filename();
}

} // namespace lv
