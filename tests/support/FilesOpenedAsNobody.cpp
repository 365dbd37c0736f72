#include "FilesOpenedAsNobody.h"

#include <sys/fsuid.h>
#include <unistd.h>

namespace lv::test {

namespace {

constexpr unsigned Nobody = 65534;

} // namespace

// The file-system ids belong to the thread; leaving uid 0 for them drops the capabilities that
// override file permissions, and coming back restores them.
FilesOpenedAsNobody::FilesOpenedAsNobody()
{
    if (::geteuid() != 0) return;
    ::setfsgid(Nobody);
    ::setfsuid(Nobody);
    m_switched = true;
}

FilesOpenedAsNobody::~FilesOpenedAsNobody()
{
    if (!m_switched) return;
    ::setfsuid(0);
    ::setfsgid(0);
}

} // namespace lv::test
