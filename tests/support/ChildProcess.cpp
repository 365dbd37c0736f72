#include "ChildProcess.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

namespace lv::test {

namespace {

constexpr uid_t Nobody = 65534;

int guarded(const std::function<int()>& body)
{
    try {
        return body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "child: %s\n", e.what());
        return 125;
    }
}

} // namespace

pid_t startChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(guarded(body));
    return pid;
}

int waitForChild(pid_t pid)
{
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runInChild(const std::function<int()>& body, bool unprivileged)
{
    return waitForChild(startChild([&] {
        if (unprivileged && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
             ::setresuid(Nobody, Nobody, Nobody) != 0))
            return 126;
        return body();
    }));
}

} // namespace lv::test
