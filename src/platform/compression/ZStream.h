#pragma once
// Deflate and inflate streams in gzip framing (RFC 1952), on zlib.
//
// Deflating: `write` each piece in order, then `close` once; the writer then holds one gzip
// member with a header of exactly 10 bytes, the raw deflate data and an 8-byte trailer (CRC-32,
// then length, least significant byte first).
// Inflating: `read(count)` gives exactly `count` bytes until the end of the data. `errorValue()`
// is 0 when all is well, 1 once the end of the compressed stream has been reached (the trailer
// checked within the read that delivers the last byte), anything else a failure, which stays.

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
    // Finishes the member and closes the writer.
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
