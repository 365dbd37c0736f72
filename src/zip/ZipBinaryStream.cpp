#include "zip/ZipBinaryStream.h"

#include <algorithm>

#include "platform/Thread.h"
#include "platform/compression/Crc.h"

namespace lv {

void ZipBinaryStreamWriter::Write(std::string_view data)
{
    if (m_calcCRC)
        m_crc = Crc32(data, m_crc);
    const std::int64_t n = std::int64_t(data.size());
    if (m_discard < 1) {
        m_binstream.write(data);
        m_written += n;
    } else if (n < m_discard) {
        m_discard -= n;
    } else {
        m_binstream.write(data.substr(std::size_t(m_discard)));
        m_written += n - m_discard;
        m_discard = 0;
    }
}

ZipBinaryStreamReader::ZipBinaryStreamReader(BinaryStream& stream, std::int64_t streamLen, std::string prefix, std::string suffix)
    : m_stream(stream),
      m_leftToRead(std::int64_t(prefix.size()) + std::max<std::int64_t>(streamLen, 0) + std::int64_t(suffix.size())),
      m_prefix(std::move(prefix)),
      m_suffix(std::move(suffix)),
      m_streamLen(std::max<std::int64_t>(streamLen, 0))
{
}

std::string ZipBinaryStreamReader::Read(std::size_t count)
{
    std::int64_t n = std::int64_t(std::min<std::size_t>(count, std::size_t(INT64_MAX)));
    if (m_leftToRead < n) {
        n = m_leftToRead;
        if (n == 0)
            m_errCode = -39;
    }
    if (n <= 0)
        return {};
    m_leftToRead -= n;
    return fetch(n);
}

std::string ZipBinaryStreamReader::fetch(std::int64_t want)
{
    std::string result;
    while (want > 0) {
        if (!m_prefix.empty()) {
            const std::size_t take = std::size_t(std::min<std::int64_t>(want, std::int64_t(m_prefix.size())));
            result.append(m_prefix, 0, take);
            m_prefix.erase(0, take);
            want -= std::int64_t(take);
        } else if (m_streamLen > 0) {
            const std::int64_t take = std::min(want, m_streamLen);
            result += m_stream.read(std::size_t(take));
            m_streamLen -= take;
            want -= take;
        } else if (!m_suffix.empty()) {
            const std::size_t take = std::size_t(std::min<std::int64_t>(want, std::int64_t(m_suffix.size())));
            result.append(m_suffix, 0, take);
            m_suffix.erase(0, take);
            want -= std::int64_t(take);
        } else {
            break;  // cannot happen: Read never asks for more than is left
        }
        Thread::yieldPoint();
    }
    return result;
}

} // namespace lv
