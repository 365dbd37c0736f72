#pragma once
// The Size column's text of an item list row: a file's length in bytes, a folder's disk usage
// (what `du -s` reports, counted here by walking the folder: no shell, no second process),
// written with the unit "Bytes", "KB", "MB", "GB" or "TB" in steps of 1024.
//
// Measuring a folder can take long, so it runs on a thread of its own; the text is handed to the
// caller on the main thread when it is known.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/HandOver.h"
#include "platform/FolderItem.h"

namespace lv {

class CalcSize {
public:
    using Done = std::function<void(const std::string& text)>;

    // Measures `f` on a thread of its own and calls `done` with the text through `relay`.
    static void Calculate(const FolderItem& f, std::shared_ptr<Relay> relay, Done done);

    // The text for a size in bytes: "0 Bytes", "1023 Bytes", "1.00 KB", "1024.00 KB", "1.00 MB".
    static std::string sizeText(double size);
    // What the Size column shows for `f`, measured on the calling thread.
    static std::string measure(const FolderItem& f);
    // The disk space a folder and everything in it take, in bytes, as `du -s` counts it: the
    // allocated blocks of every entry, a file with several links once, links not followed.
    static std::uint64_t diskUsage(const FolderItem& folder, const std::atomic<bool>* stop = nullptr);

    // Stops every measurement still running and waits for their threads (at quit, or when a
    // window goes in a test).
    static void stopAll();
};

} // namespace lv
