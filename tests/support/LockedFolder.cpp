#include "LockedFolder.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileDescriptor.h"

namespace lv::test {

namespace {

bool setImmutable(const std::filesystem::path& folder, bool on)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    int flags = 0;
    if (!fd || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

} // namespace

LockedFolder::LockedFolder(std::filesystem::path folder) : m_folder(std::move(folder))
{
    struct stat st;
    if (::lstat(m_folder.c_str(), &st) != 0)
        return;
    m_mode = st.st_mode & 07777;
    if (::geteuid() == 0) {
        if (setImmutable(m_folder, true))
            m_how = How::Immutable;
    } else if (::chmod(m_folder.c_str(), m_mode & ~mode_t(0222)) == 0) {
        m_how = How::WriteBitsTaken;
    }
}

void LockedFolder::unlock()
{
    if (m_how == How::Immutable)
        setImmutable(m_folder, false);
    else if (m_how == How::WriteBitsTaken)
        ::chmod(m_folder.c_str(), m_mode);
    m_how = How::None;
}

} // namespace lv::test
