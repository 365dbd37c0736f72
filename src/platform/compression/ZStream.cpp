#include "platform/compression/ZStream.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "platform/Exceptions.h"

namespace lv {

namespace {

constexpr std::size_t kChunk = 16 * 1024;
// Window bits 15 plus 16: gzip framing, the only framing the zip adapters deal in.
constexpr int kGzipWindowBits = 15 + 16;
// zlib hands out at most this much input per call (avail_in is an unsigned int).
constexpr std::size_t kMaxInput = 1u << 30;

bool isTrailerMismatch(const z_stream& zs)
{
    return zs.msg && (std::strcmp(zs.msg, "incorrect data check") == 0 || std::strcmp(zs.msg, "incorrect length check") == 0);
}

} // namespace

struct ZStream::Impl {
    z_stream zs{};
    bool deflating = false;
    bool initialised = false;
    bool finished = false; // no more zlib work: member complete, or the stream failed
    bool closed = false;
    IStreamWriter* writer = nullptr;
    IStreamReader* reader = nullptr;

    // Inflating: the input piece zlib is working on, and decoded bytes not yet handed out.
    std::string input;
    bool inputEnded = false;
    std::string pending;
    std::size_t pendingPos = 0;

    std::size_t available() const { return pending.size() - pendingPos; }

    ~Impl()
    {
        if (!initialised)
            return;
        if (deflating)
            deflateEnd(&zs);
        else
            inflateEnd(&zs);
    }

    // Runs deflate over the current input with `flush`, passing every output chunk on.
    int deflateAll(int flush)
    {
        std::array<Bytef, kChunk> out;
        int rc;
        do {
            zs.next_out = out.data();
            zs.avail_out = unsigned(out.size());
            rc = deflate(&zs, flush);
            if (rc == Z_STREAM_ERROR)
                return rc;
            std::size_t produced = out.size() - zs.avail_out;
            if (produced)
                writer->Write(std::string_view(reinterpret_cast<const char*>(out.data()), produced));
        } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        return Z_OK;
    }

    // Inflates one more step: refills the input when zlib has used it up, then decodes up to
    // one chunk. Returns zlib's code, Z_BUF_ERROR when the input ended inside the member.
    int inflateStep()
    {
        if (zs.avail_in == 0 && !inputEnded) {
            input = reader->Read(kChunk);
            if (input.empty())
                inputEnded = true;
            zs.next_in = reinterpret_cast<const Bytef*>(input.data());
            zs.avail_in = unsigned(input.size());
        }
        std::array<Bytef, kChunk> out;
        zs.next_out = out.data();
        zs.avail_out = unsigned(out.size());
        int rc = inflate(&zs, Z_NO_FLUSH);
        std::size_t produced = out.size() - zs.avail_out;
        if (produced) {
            if (pendingPos > 0 && pendingPos >= pending.size() / 2) {
                pending.erase(0, pendingPos);
                pendingPos = 0;
            }
            pending.append(reinterpret_cast<const char*>(out.data()), produced);
        }
        // No progress without more input: fine while the reader has more, a cut member once it has not.
        if (rc == Z_BUF_ERROR && !inputEnded)
            return Z_OK;
        return rc;
    }
};

ZStream::ZStream(bool write, IStreamWriter* writer, IStreamReader* reader) : m_impl(std::make_unique<Impl>())
{
    Impl& d = *m_impl;
    d.deflating = write;
    d.writer = writer;
    d.reader = reader;
    if (write ? !writer : !reader)
        throw NilObjectException(write ? "ZStream made to deflate without a writer" : "ZStream made to inflate without a reader");
    int rc = write ? deflateInit2(&d.zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY)
                   : inflateInit2(&d.zs, kGzipWindowBits);
    if (rc == Z_MEM_ERROR)
        throw OutOfMemoryException("zlib stream");
    if (rc != Z_OK) {
        m_error = rc;
        d.finished = true;
        return;
    }
    d.initialised = true;
}

ZStream::~ZStream() = default;

void ZStream::Write(std::string_view bytes)
{
    Impl& d = *m_impl;
    if (!d.deflating)
        throw RuntimeException("Write on an inflating ZStream");
    if (d.closed)
        throw RuntimeException("Write after Close");
    if (d.finished)
        return; // failed: the failure stays in ErrorValue
    while (!bytes.empty()) {
        std::size_t n = std::min(bytes.size(), kMaxInput);
        d.zs.next_in = reinterpret_cast<const Bytef*>(bytes.data());
        d.zs.avail_in = unsigned(n);
        int rc = d.deflateAll(Z_NO_FLUSH);
        if (rc != Z_OK) {
            m_error = rc;
            d.finished = true;
            return;
        }
        bytes.remove_prefix(n);
    }
}

void ZStream::Close()
{
    Impl& d = *m_impl;
    if (!d.deflating)
        throw RuntimeException("Close on an inflating ZStream");
    if (d.closed)
        throw RuntimeException("ZStream closed twice");
    d.closed = true;
    if (!d.finished) {
        d.zs.next_in = nullptr;
        d.zs.avail_in = 0;
        int rc = d.deflateAll(Z_FINISH);
        if (rc != Z_OK)
            m_error = rc;
        d.finished = true;
    }
    d.writer->Close();
}

std::string ZStream::Read(std::size_t count)
{
    Impl& d = *m_impl;
    if (d.deflating)
        throw RuntimeException("Read on a deflating ZStream");
    // Decode one byte beyond the request: when only the request is left, the member has ended
    // and its trailer has been checked within this read.
    while (!d.finished && d.available() <= count) {
        int rc = d.inflateStep();
        if (rc == Z_OK)
            continue;
        d.finished = true;
        if (rc == Z_STREAM_END)
            m_error = StreamEnd;
        else if (rc == Z_DATA_ERROR && isTrailerMismatch(d.zs))
            m_error = TrailerError;
        else if (rc == Z_MEM_ERROR)
            throw OutOfMemoryException("inflating");
        else
            m_error = rc;
    }
    if (m_error != NoError && m_error != StreamEnd)
        return {}; // nothing from a damaged member
    std::size_t n = std::min(count, d.available());
    std::string out = d.pending.substr(d.pendingPos, n);
    d.pendingPos += n;
    return out;
}

} // namespace lv
