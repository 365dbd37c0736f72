#include "zip/ItemReadHook.h"

namespace lv::itemreadhook {

namespace {

Hook g_hook;

} // namespace

void setForTesting(Hook hook) { g_hook = std::move(hook); }

void beforeRead(const FolderItem& item)
{
    if (g_hook)
        g_hook(item);
}

} // namespace lv::itemreadhook
