#pragma once
// Sequential byte sources and sinks, and their implementations on a file's data fork and on its
// resource fork.
//
// Every string passed is a byte string; every count a byte count. Errors are sticky: a failure
// sets the stream's error state until `ClearError` or the next successful `Open`. Misuse (reading
// or writing a stream that is not open) raises RuntimeException.
//
// Implementations: SeqStreams.cpp (FileReader, FileWriter, DescriptorWriter), RsrcForkStreams.cpp
// (RsrcForkReader, RsrcForkWriter).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/BinaryStream.h"
#include "platform/FolderItem.h"
#include "platform/MacMetadataStore.h"

namespace lv {

class SeqDataInputStream {
public:
    virtual ~SeqDataInputStream() = default;
    // Up to `count` bytes from the current position; fewer (possibly none) at the end or after an
    // error.
    virtual std::string Read(std::int32_t count) = 0;
    // True when nothing more can be read, and when the stream is not open. (Named `Eof` because
    // `EOF` is a macro of the C library.)
    virtual bool Eof() const = 0;
    virtual bool HadError() const = 0;
    // Makes the source readable from its start; true when ready (at once when already open).
    virtual bool Open() = 0;
    // Releases the source; nothing on a closed stream.
    virtual void Close() = 0;
    // Code 0 and "" when no error is pending.
    virtual void GetErrorDescription(std::int32_t& code, std::string& message) const = 0;
    // Moves on by `count` bytes without delivering them; false on failure or a pending error.
    virtual bool Skip(std::int32_t count) = 0;
    virtual void ClearError() = 0;
};

class SeqDataOutputStream {
public:
    virtual ~SeqDataOutputStream() = default;
    // Appends the bytes; false when a failure is known at once.
    virtual bool Write(std::string_view data) = 0;
    // Makes the sink empty and writable; true when ready (at once when already open).
    virtual bool Open() = 0;
    // Finishes and releases the sink; false when not all data reached it or an error is pending.
    // True for a sink that was never opened or is already closed (unless an error is pending,
    // for the resource-fork writer).
    virtual bool Close() = 0;
    virtual void GetErrorDescription(std::int32_t& code, std::string& message) const = 0;
    virtual bool Skip(std::int32_t count) = 0;
    virtual void ClearError() = 0;
    // True when everything written so far is in place and no error is pending.
    virtual bool Flush() = 0;
};

// The data fork of a file. Never reads through a symbolic link.
class FileReader final : public SeqDataInputStream {
public:
    explicit FileReader(FolderItem f) : m_f(std::move(f)) {}
    ~FileReader() override { Close(); }

    std::string Read(std::int32_t count) override;
    bool Eof() const override;
    bool HadError() const override { return m_error; }
    bool Open() override;
    void Close() override;
    // -1 and "open or read error" when an error is pending.
    void GetErrorDescription(std::int32_t& code, std::string& message) const override;
    // Never moves past the end of the file and never lengthens it: a target beyond the end
    // stops at the end and sets the error.
    bool Skip(std::int32_t count) override;
    void ClearError() override { m_error = false; }

private:
    FolderItem m_f;
    bool m_error = false;
    BinaryStreamPtr m_bs;
};

// The data fork of a destination file, emptied by Open. One Open-Close cycle per object: the
// count of bytes written is never reset, and Close compares it with the file's length.
class FileWriter final : public SeqDataOutputStream {
public:
    explicit FileWriter(FolderItem f) : m_f(std::move(f)) {}
    ~FileWriter() override { Close(); }

    bool Write(std::string_view data) override;
    bool Open() override;
    bool Close() override;
    // -1 and "open or write error" when an error is pending.
    void GetErrorDescription(std::int32_t& code, std::string& message) const override;
    bool Skip(std::int32_t count) override;
    void ClearError() override { m_error = false; }
    bool Flush() override;

private:
    FolderItem m_f;
    bool m_error = false;
    BinaryStreamPtr m_bs;
    std::int64_t m_written = 0;
};

// The data fork of a new, empty file open for writing, which the caller owns and closes.
// Small writes are gathered into blocks of up to 1 MiB, large ones go out as they come: a file
// takes one write per block. Like FileWriter, one Open-Close cycle; Close writes what is
// gathered.
class DescriptorWriter final : public SeqDataOutputStream {
public:
    static constexpr std::size_t BlockSize = std::size_t(1) << 20;
    static constexpr std::size_t SmallPiece = std::size_t(64) << 10;

    explicit DescriptorWriter(int fd) : m_fd(fd) {}
    ~DescriptorWriter() override { Close(); }

    bool Write(std::string_view data) override;
    bool Open() override;
    bool Close() override;
    // -1 and "open or write error" when an error is pending.
    void GetErrorDescription(std::int32_t& code, std::string& message) const override;
    bool Skip(std::int32_t count) override;
    void ClearError() override { m_error = false; }
    bool Flush() override;

private:
    bool writeOut(std::string_view data);

    int m_fd;
    bool m_open = false;
    bool m_error = false;
    std::string m_block;
};

// The resource fork of a file, as MacMetadataStore keeps it. Open reads the whole fork (it lives
// in an extended attribute or an AppleDouble companion, so it is small); Read serves it in
// pieces. A Read that gets fewer bytes than asked (within the fork) is error -1; once an error is
// recorded every Read returns "".
class RsrcForkReader final : public SeqDataInputStream {
public:
    explicit RsrcForkReader(FolderItem f) : m_f(std::move(f)) {}
    ~RsrcForkReader() override { Close(); }

    std::string Read(std::int32_t count) override;
    bool Eof() const override;
    bool HadError() const override { return m_errCode != 0; }
    // False when the fork is there but cannot be read (-54 when the user may not read it, -36
    // for any other failure), or the item is missing; an item without a fork opens as empty.
    bool Open() override;
    void Close() override;
    // The code and "open or read error (<code>)" when an error is pending.
    void GetErrorDescription(std::int32_t& code, std::string& message) const override;
    bool Skip(std::int32_t count) override;
    void ClearError() override { m_errCode = 0; }

private:
    FolderItem m_f;
    bool m_open = false;
    std::int32_t m_errCode = 0;
    std::string m_fork;
    std::int64_t m_bytesRead = 0;
};

// The resource fork of a destination file. Open empties the fork; the bytes written are
// collected and stored in MacMetadataStore by Close, which fails when they cannot be stored.
class RsrcForkWriter final : public SeqDataOutputStream {
public:
    explicit RsrcForkWriter(FolderItem f) : m_f(std::move(f)) {}
    // The fork of an item reached through its folder, at any depth.
    explicit RsrcForkWriter(MacMetadataStore::InFolder item) : m_item(std::move(item)) {}
    ~RsrcForkWriter() override { Close(); }

    // False when an error is pending.
    bool Write(std::string_view data) override;
    bool Open() override;
    // True only when no error is pending and the fork was stored (or the writer was not open).
    bool Close() override;
    // The code and "open or write error" when an error is pending.
    void GetErrorDescription(std::int32_t& code, std::string& message) const override;
    bool Skip(std::int32_t count) override;
    void ClearError() override { m_errCode = 0; }
    bool Flush() override;

private:
    bool store(const std::string& bytes) const;

    FolderItem m_f;
    std::optional<MacMetadataStore::InFolder> m_item;
    bool m_open = false;
    std::int32_t m_errCode = 0;
    std::string m_fork;
};

} // namespace lv
