#include <algorithm>
#include <cerrno>

#include "platform/Exceptions.h"
#include "platform/ItemStat.h"
#include "platform/MacMetadataStore.h"
#include "zip/SeqStreams.h"

namespace lv {

namespace {

[[noreturn]] void notOpen() { throw RuntimeException("The fork is not open"); }

// The File Manager's I/O error code stands for any failure of the metadata store, its
// permission error for a fork the user may not read.
constexpr std::int32_t IoError = -36;
constexpr std::int32_t PermissionError = -54;

} // namespace

// --- RsrcForkReader ---

bool RsrcForkReader::Open()
{
    if (m_open)
        return true;
    ClearError();
    m_fork.clear();
    m_bytesRead = 0;
    // At any depth, as the folder walk lists items.
    if (m_f.isNull() || statItem(m_f.path()).kind == FolderItem::Kind::Missing)
        return false;
    int err = 0;
    m_fork = MacMetadataStore::readResourceFork(m_f.path(), err).value_or(std::string());
    if (err != 0) {
        m_errCode = err == EACCES || err == EPERM ? PermissionError : IoError;
        return false;
    }
    m_open = true;
    return true;
}

std::string RsrcForkReader::Read(std::int32_t count)
{
    if (m_errCode != 0)
        return {};
    if (!m_open)
        notOpen();
    const std::int64_t left = std::int64_t(m_fork.size()) - m_bytesRead;
    const std::int64_t n = std::min<std::int64_t>(count, left);
    if (n < 1)
        return {};
    std::string bytes = m_fork.substr(std::size_t(m_bytesRead), std::size_t(n));
    m_bytesRead += n;
    return bytes;
}

bool RsrcForkReader::Eof() const
{
    return !m_open || m_bytesRead >= std::int64_t(m_fork.size());
}

void RsrcForkReader::Close()
{
    m_open = false;
}

void RsrcForkReader::GetErrorDescription(std::int32_t& code, std::string& message) const
{
    code = m_errCode;
    message = m_errCode ? "open or read error (" + std::to_string(m_errCode) + ")" : "";
}

bool RsrcForkReader::Skip(std::int32_t count)
{
    if (m_errCode != 0)
        return false;
    if (!m_open)
        notOpen();
    const std::int64_t length = std::int64_t(m_fork.size());
    if (m_bytesRead + count > length) {
        m_bytesRead = length;
        return false;
    }
    if (m_bytesRead + count < 0) {
        m_errCode = -40;  // position before the start of the fork
        return false;
    }
    m_bytesRead += count;
    return true;
}

// --- RsrcForkWriter ---

bool RsrcForkWriter::store(const std::string& bytes) const
{
    return m_item ? MacMetadataStore::writeResourceFork(*m_item, bytes) : MacMetadataStore::writeResourceFork(m_f.path(), bytes);
}

bool RsrcForkWriter::Open()
{
    if (m_open)
        return true;
    ClearError();
    m_fork.clear();
    if (!m_item && (m_f.isNull() || !m_f.exists()))
        return false;
    if (!store(std::string())) {
        m_errCode = IoError;
        return false;
    }
    m_open = true;
    return true;
}

bool RsrcForkWriter::Write(std::string_view data)
{
    if (m_errCode != 0)
        return false;
    if (!m_open)
        notOpen();
    m_fork.append(data);
    return true;
}

bool RsrcForkWriter::Close()
{
    if (!m_open)
        return m_errCode == 0;
    m_open = false;
    if (m_errCode != 0)
        return false;
    if (!m_fork.empty() && !store(m_fork)) {
        m_errCode = IoError;
        return false;
    }
    m_fork.clear();
    return true;
}

void RsrcForkWriter::GetErrorDescription(std::int32_t& code, std::string& message) const
{
    code = m_errCode;
    message = m_errCode ? "open or write error" : "";
}

bool RsrcForkWriter::Skip(std::int32_t count)
{
    if (m_errCode != 0)
        return false;
    if (!m_open)
        notOpen();
    if (count > 0)
        m_fork.append(std::size_t(count), '\0');
    return true;
}

bool RsrcForkWriter::Flush()
{
    if (!m_open)
        notOpen();
    return m_errCode == 0;
}

} // namespace lv
