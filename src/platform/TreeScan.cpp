#include "platform/TreeScan.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/ReachablePath.h"
#include "platform/WorkerPool.h"

namespace lv {

namespace fs = std::filesystem;

namespace {

MacMetadataStore::Probe probeAt(const fs::path& path, bool mayHaveCompanion)
{
    return MacMetadataStore::probe(ReachablePath(path).path(), mayHaveCompanion);
}

struct ScanState {
    std::mutex mutex;
    std::condition_variable idle;
    std::size_t pending = 0;
    std::set<std::pair<std::uint64_t, std::uint64_t>> folders;  // device, inode of those listed
    std::map<std::string, TreeScan::Listing>* listings = nullptr;
    std::function<bool()> stopped;
    std::atomic<bool> stop{false};
    WorkerPool* pool = nullptr;

    // Claims a folder for listing: false when it was listed already.
    bool claim(const ItemStat& s)
    {
        std::lock_guard lock(mutex);
        return folders.insert({s.device, s.inode}).second;
    }

    void post(fs::path folder)
    {
        {
            std::lock_guard lock(mutex);
            ++pending;
        }
        pool->post([this, folder = std::move(folder)] {
            list(folder);
            std::lock_guard lock(mutex);
            if (--pending == 0)
                idle.notify_all();
        });
    }

    void list(const fs::path& folder)
    {
        if (stop || (stopped && stopped())) {
            stop = true;
            return;
        }
        TreeScan::Listing listing;
        listing.error = listFolderOfAnyDepth(folder, listing.items);
        listing.mac.resize(listing.items.size());
        for (std::size_t i = 0; i < listing.items.size(); ++i) {
            const ListedItem& item = listing.items[i];
            if (item.stat.kind == FolderItem::Kind::File)
                listing.mac[i] = probeAt(folder / item.name, item.companionListed);
            else if (item.stat.kind == FolderItem::Kind::Folder && claim(item.stat))
                post(folder / item.name);
        }
        std::lock_guard lock(mutex);
        (*listings)[folder.native()] = std::move(listing);
    }
};

} // namespace

std::shared_ptr<const TreeScan> TreeScan::run(const std::vector<FolderItem>& roots, unsigned threads,
                                              const std::function<bool()>& stopped)
{
    auto scan = std::make_shared<TreeScan>();
    WorkerPool pool(std::max(threads, 1u));
    ScanState state;
    state.listings = &scan->m_listings;
    state.stopped = stopped;
    state.pool = &pool;
    for (const FolderItem& item : roots) {
        if (item.isNull())
            continue;
        fs::path path = item.path();
        Root root{statItem(path), std::nullopt};
        if (root.stat.kind == FolderItem::Kind::Alias) {
            const std::optional<FolderItem> target = item.resolveAlias();
            if (!target)
                continue;
            path = target->path();
            root.stat = statItem(path);
        }
        if (root.stat.kind == FolderItem::Kind::File)
            root.mac = probeAt(path, true);
        else if (root.stat.kind == FolderItem::Kind::Folder && state.claim(root.stat))
            state.post(path);
        scan->m_roots[path] = root;
    }
    {
        std::unique_lock lock(state.mutex);
        state.idle.wait(lock, [&] { return state.pending == 0; });
    }
    if (state.stop)
        return nullptr;
    return scan;
}

const TreeScan::Listing* TreeScan::listing(const fs::path& folder) const
{
    const auto at = m_listings.find(folder.native());
    return at == m_listings.end() ? nullptr : &at->second;
}

const TreeScan::Root* TreeScan::root(const fs::path& path) const
{
    const auto at = m_roots.find(path);
    return at == m_roots.end() ? nullptr : &at->second;
}

} // namespace lv
