#pragma once
// The listings of the folder trees a job archives, made up front by a pool of threads: every
// folder listed once and every item in it looked at once (its status, and a file's Mac metadata),
// so that the room the job needs is known before anything is written, and the walk that adds the
// items afterwards needs no system call of its own. Folders of any depth are listed.
//
// A folder met twice (a bind mount of one already listed) is listed once; one that cannot be
// listed keeps its error for the walk to report.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FolderItem.h"
#include "platform/ItemStat.h"
#include "platform/MacMetadataStore.h"

namespace lv {

class TreeScan {
public:
    struct Listing {
        int error = 0;
        std::vector<ListedItem> items;
        std::vector<std::optional<MacMetadataStore::Probe>> mac;  // beside items: files only
    };
    struct Root {
        ItemStat stat;
        std::optional<MacMetadataStore::Probe> mac;
    };

    // Scans `roots` (an alias stands for what it points to) on `threads` threads. Null when
    // `stopped` said so meanwhile.
    static std::shared_ptr<const TreeScan> run(const std::vector<FolderItem>& roots, unsigned threads,
                                               const std::function<bool()>& stopped = {});

    // The listing of the folder at `folder` exactly as scanned, or null.
    const Listing* listing(const std::filesystem::path& folder) const;
    // A root (or an alias root's target) by its path, or null.
    const Root* root(const std::filesystem::path& path) const;

    // Keyed by the folder's path as a plain string: a split path per folder would grow with the
    // square of the tree's depth.
    const std::map<std::string, Listing>& listings() const noexcept { return m_listings; }
    const std::map<std::filesystem::path, Root>& roots() const noexcept { return m_roots; }

private:
    std::map<std::string, Listing> m_listings;
    std::map<std::filesystem::path, Root> m_roots;
};

} // namespace lv
