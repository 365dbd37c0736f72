#include "ui/main/CalcSize.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace lv {

namespace {

std::atomic<bool> g_stop{false};

using FileId = std::pair<dev_t, ino_t>;

// Adds the blocks of everything below the open folder `fd` (closed here).
std::uint64_t walk(int fd, std::set<FileId>& seen, const std::atomic<bool>* stop)
{
    std::uint64_t total = 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    while (dirent* entry = ::readdir(dir)) {
        if ((stop && stop->load()) || g_stop.load()) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!seen.insert({st.st_dev, st.st_ino}).second) continue;
        total += std::uint64_t(st.st_blocks) * 512;
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) total += walk(child, seen, stop);
        }
    }
    ::closedir(dir);
    return total;
}

} // namespace

std::uint64_t CalcSize::diskUsage(const FolderItem& folder, const std::atomic<bool>* stop)
{
    struct stat st {};
    if (::lstat(folder.path().c_str(), &st) != 0) return 0;
    std::uint64_t total = std::uint64_t(st.st_blocks) * 512;
    if (!S_ISDIR(st.st_mode)) return total;
    std::set<FileId> seen{{st.st_dev, st.st_ino}};
    const int fd = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) total += walk(fd, seen, stop);
    return total;
}

std::string CalcSize::sizeText(double size)
{
    // Each test comes before the rounding, as the column has always shown it (1048575 bytes is
    // "1024.00 KB").
    static constexpr const char* units[] = {"KB", "MB", "GB"};
    if (size < 1024) {
        char text[64];
        std::snprintf(text, sizeof text, "%.0f Bytes", size);
        return text;
    }
    for (const char* unit : units) {
        size /= 1024;
        if (size < 1024) {
            char text[64];
            std::snprintf(text, sizeof text, "%.2f %s", size, unit);
            return text;
        }
    }
    size /= 1024;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f TB", size);
    return text;
}

std::string CalcSize::measure(const FolderItem& f)
{
    if (f.isFolder()) return sizeText(double(diskUsage(f)));
    return sizeText(double(f.length()));
}

namespace {

struct Measurement {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
};

std::mutex g_threadsMutex;
std::vector<Measurement> g_threads;

// Joins the threads that have ended; called with the mutex held.
void reapFinished()
{
    for (auto it = g_threads.begin(); it != g_threads.end();) {
        if (it->finished->load()) {
            it->thread.join();
            it = g_threads.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

void CalcSize::Calculate(const FolderItem& f, std::shared_ptr<Relay> relay, Done done)
{
    std::lock_guard lock(g_threadsMutex);
    if (g_stop.load()) return;
    reapFinished();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([f, relay = std::move(relay), done = std::move(done), finished] {
        const std::string text = measure(f);
        if (!g_stop.load()) relay->post([done, text] { done(text); });
        finished->store(true);
    });
    g_threads.push_back({std::move(thread), std::move(finished)});
}

void CalcSize::stopAll()
{
    g_stop.store(true);
    std::vector<Measurement> threads;
    {
        std::lock_guard lock(g_threadsMutex);
        threads.swap(g_threads);
    }
    for (Measurement& m : threads) m.thread.join();
    g_stop.store(false);
}

} // namespace lv
