#pragma once
// Deflate and inflate streams in gzip framing (RFC 1952), on zlib.
//
// Deflating: `Write` each piece in order, then `Close` once; the writer then holds one gzip
// member with a header of exactly 10 bytes, the raw deflate data and an 8-byte trailer (CRC-32,
// then length, least significant byte first).
// Inflating: `Read(count)` gives exactly `count` bytes until the end of the data. `ErrorValue()`
// is 0 when all is well, 1 once the end of the compressed stream has been reached (the decoder
// runs ahead of the caller, so the trailer is checked within the read that delivers the last
// byte), anything else a failure, which stays: `DataError` for damaged deflate data,
// `BufferError` when the reader's data end inside the member, `TrailerError` when the trailer's
// CRC-32 or length does not match, another zlib code otherwise. A failed stream reads as "".
// The reader is asked for 16 KiB at a time, and no more once the member has ended.
// Misuse (reading a deflating stream, writing after Close, a missing writer or reader) raises
// RuntimeException.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lv {

// A byte sink a deflating ZStream writes into.
class IStreamWriter {
public:
    virtual ~IStreamWriter() = default;
    virtual void Write(std::string_view bytes) = 0;
    virtual void Close() = 0;
    // 0 when all writes succeeded.
    virtual int LastError() const = 0;
};

// A byte source an inflating ZStream reads from; `Read` returns fewer bytes (or none) at the end.
class IStreamReader {
public:
    virtual ~IStreamReader() = default;
    virtual std::string Read(std::size_t count) = 0;
    virtual int LastError() const = 0;
};

class ZStream {
public:
    // write true: deflate into `writer`; write false: inflate from `reader`.
    ZStream(bool write, IStreamWriter* writer, IStreamReader* reader);
    ~ZStream();
    ZStream(const ZStream&) = delete;
    ZStream& operator=(const ZStream&) = delete;

    void Write(std::string_view bytes);
    // Finishes the member and closes the writer. A stream dropped without Close leaves the
    // writer open and its member unfinished.
    void Close();

    std::string Read(std::size_t count);
    int ErrorValue() const noexcept { return m_error; }

    enum : int { NoError = 0, StreamEnd = 1, DataError = -3, BufferError = -5, TrailerError = -100 };

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int m_error = 0;
};

} // namespace lv
