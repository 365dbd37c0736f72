#pragma once
// An owned POSIX file descriptor, closed when it goes out of scope.

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace lv {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    int release() noexcept { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) noexcept
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and reports what close() said (a delayed write error shows here): 0 or errno.
    int close() noexcept
    {
        const int fd = release();
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int m_fd = -1;
};

} // namespace lv
