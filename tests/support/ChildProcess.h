#pragma once
// Running part of a test in a child process: as a user who may not read other users' files, or
// to kill it at a chosen moment.

#include <functional>
#include <sys/types.h>

namespace lv::test {

// Runs `body` in a forked child and returns its exit status (-1 when it ended otherwise). With
// `unprivileged` a root test drops to user and group 65534 first, so that permissions hold.
int runInChild(const std::function<int()>& body, bool unprivileged = false);

// Starts `body` in a forked child without waiting; its exit status becomes the child's.
pid_t startChild(const std::function<int()>& body);
// Waits for the child; its exit status, or -1 when it ended otherwise (a signal).
int waitForChild(pid_t pid);

} // namespace lv::test
