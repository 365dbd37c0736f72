#pragma once
// The payload of a new entry whose bytes come from an item on disk, read by the workers of the
// parallel writer: a MacBinary header, the item's data fork, zero padding, its resource fork, in
// the order the entry stores them.
//
// Items are reached at any depth (see ReachablePath).
// Reads may come from several threads at once, each for its own range. The item is opened on
// the first read that needs it, never through a link, and must still be the item the folder walk
// saw, with the length it had then: a file that shrank or grew meanwhile is a failure that names
// it, never an entry cut to its first length.

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ByteBuffer.h"
#include "platform/FileDescriptor.h"
#include "platform/FolderItem.h"
#include "platform/ItemStat.h"

namespace lv {

// A failure found while a payload was read: the entry writer's result code and text.
struct PayloadError {
    PayloadError() = default;
    PayloadError(std::int32_t code, std::string message, std::string detail = {})
        : code(code), message(std::move(message)), detail(std::move(detail))
    {
    }
    std::int32_t code = 0;
    std::string message;
    std::string detail;  // the item and the system's reason, when known
};

class EntryPayload {
public:
    struct Part {
        enum class Kind { Bytes, DataFork, ResourceFork, Zeros };
        Kind kind = Kind::Zeros;
        std::uint64_t length = 0;
        std::string bytes;  // Kind::Bytes
    };

    // The payload of `item` (seen as `stat`), made of `parts` in order.
    EntryPayload(FolderItem item, ItemStat stat, std::vector<Part> parts);
    EntryPayload(const EntryPayload&) = delete;
    EntryPayload& operator=(const EntryPayload&) = delete;

    std::uint64_t length() const noexcept { return m_length; }
    // A file whose size read as 0 (as kernel files do): its bytes are what reading it to its end
    // gives, whatever its size says.
    bool unsized() const noexcept
    {
        return m_parts.size() == 1 && m_parts[0].kind == Part::Kind::DataFork && m_parts[0].length == 0;
    }
    // Reads an unsized payload whole into `out`; a failure naming the file when it gives more
    // than `limit` bytes.
    std::optional<PayloadError> readToEnd(ByteBuffer& out, std::size_t limit);
    const FolderItem& item() const noexcept { return m_item; }

    // Fills `out` with the payload bytes from `offset` on (the range must lie inside the payload).
    std::optional<PayloadError> read(std::uint64_t offset, std::span<std::uint8_t> out);
    // Closes the item and drops the resource fork once every read is done.
    void release();

private:
    std::optional<PayloadError> openData();
    std::optional<PayloadError> loadFork();
    std::optional<PayloadError> readData(std::uint64_t offset, std::span<std::uint8_t> out, bool toTheEnd);
    PayloadError changed() const;

    FolderItem m_item;
    ItemStat m_stat;
    std::vector<Part> m_parts;
    std::uint64_t m_length = 0;

    std::mutex m_mutex;  // guards opening the item and loading the fork
    bool m_opened = false;
    FileDescriptor m_fd;
    std::optional<PayloadError> m_openError;
    bool m_forkLoaded = false;
    std::string m_fork;
    std::optional<PayloadError> m_forkError;
};

} // namespace lv
