#pragma once
// A file system that fills up, for tests of what a full disk does: in a child process (see
// ChildProcess.h), a mount namespace of its own in which a RAM-backed file system of `bytes`
// is mounted over `folder`. Writes there fail with ENOSPC once it is full; nothing of it is seen
// outside the child, and it goes when the child ends. False where the system allows no such
// namespace (then the test skips).

#include <cstddef>
#include <filesystem>

namespace lv::test {

bool mountSmallFileSystem(const std::filesystem::path& folder, std::size_t bytes);

} // namespace lv::test
