#pragma once
// Test seam of the archive writers: called with an item they are about to read, after the
// folder walk looked at it (its length, its identity) and before its bytes are opened, so that
// a test can change the item at exactly that point instead of racing a thread. Unset in the
// program; set it only while no job runs.

#include <functional>

namespace lv {

class FolderItem;

namespace itemreadhook {

using Hook = std::function<void(const FolderItem& item)>;

void setForTesting(Hook hook);
// Calls the hook when one is set; the writers call it on their own threads.
void beforeRead(const FolderItem& item);

} // namespace itemreadhook
} // namespace lv
