#pragma once
// A folder closed to changes for as long as the object lives: nothing can be made, renamed or
// removed in it. For an ordinary user its write bits are taken; root, whom permission bits do
// not stop, gets the immutable attribute instead, which also keeps the folder's own mode from
// changing. `locked()` is false where neither works (then the test skips).

#include <filesystem>
#include <sys/types.h>

namespace lv::test {

class LockedFolder {
public:
    explicit LockedFolder(std::filesystem::path folder);
    ~LockedFolder() { unlock(); }
    LockedFolder(const LockedFolder&) = delete;
    LockedFolder& operator=(const LockedFolder&) = delete;

    bool locked() const noexcept { return m_how != How::None; }
    // Root's way: the folder's mode cannot be changed either.
    bool modeLocked() const noexcept { return m_how == How::Immutable; }
    void unlock();

private:
    enum class How { None, WriteBitsTaken, Immutable };
    std::filesystem::path m_folder;
    How m_how = How::None;
    mode_t m_mode = 0;
};

} // namespace lv::test
