#pragma once
// The folders a walk holds open, by a number of the caller's, at most a given count of them: the
// one used least recently is let go first (a folder still in use elsewhere stays open until it
// is let go there too). A walk of any depth or width holds that many descriptors, no more.
//
// Not thread-safe: callers share it under their own lock. Implementation: OpenFolders.cpp.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <utility>

#include "platform/FolderHandle.h"

namespace lv {

class OpenFolders {
public:
    using FolderPtr = std::shared_ptr<const FolderHandle>;

    explicit OpenFolders(std::size_t capacity) : m_capacity(capacity) {}

    // The folder kept for `key`, now the most recently used; nullptr when none is.
    FolderPtr find(std::uint32_t key);
    // Keeps `folder` for `key` (which must not be kept yet), letting the least recently used go
    // when there are too many.
    void keep(std::uint32_t key, FolderPtr folder);
    void clear();

private:
    using Entry = std::pair<std::uint32_t, FolderPtr>;
    std::size_t m_capacity;
    std::list<Entry> m_byUse;  // the most recently used first
    std::unordered_map<std::uint32_t, std::list<Entry>::iterator> m_byKey;
};

} // namespace lv
