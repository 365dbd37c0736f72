#include "zip/SeqStreams.h"

#include "platform/Exceptions.h"
#include "platform/PosixIo.h"
#include "platform/ReachablePath.h"

namespace lv {

namespace {

[[noreturn]] void notOpen() { throw RuntimeException("The stream is not open"); }

void describeWriteError(bool error, std::int32_t& code, std::string& message)
{
    code = error ? -1 : 0;
    message = error ? "open or write error" : "";
}

} // namespace

// --- FileReader ---

bool FileReader::Open()
{
    if (m_bs)
        return true;
    // At any depth, as the folder walk lists items.
    const ReachablePath reach(m_f.path());
    m_bs = FolderItem(reach.path()).openAsBinaryFile(false);
    m_error = !m_bs;
    return !m_error;
}

std::string FileReader::Read(std::int32_t count)
{
    if (!m_bs)
        notOpen();
    if (count <= 0)
        return {};
    std::string bytes = m_bs->read(std::size_t(count));
    if (m_bs->hadError())
        m_error = true;
    return bytes;
}

bool FileReader::Eof() const
{
    return !m_bs || m_bs->eof() || m_bs->position() >= m_bs->length();
}

void FileReader::Close()
{
    if (m_bs) {
        m_bs->close();
        m_bs.reset();
    }
}

void FileReader::GetErrorDescription(std::int32_t& code, std::string& message) const
{
    code = m_error ? -1 : 0;
    message = m_error ? "open or read error" : "";
}

bool FileReader::Skip(std::int32_t count)
{
    if (!m_bs)
        notOpen();
    const std::int64_t length = std::int64_t(m_bs->length());
    const std::int64_t target = std::int64_t(m_bs->position()) + count;
    // A reader never lengthens its file: a target past the end stops at the end.
    if (target < 0 || target > length) {
        m_bs->setPosition(std::uint64_t(target < 0 ? 0 : length));
        m_error = true;
    } else {
        m_bs->setPosition(std::uint64_t(target));
    }
    return !m_error;
}

// --- FileWriter ---

bool FileWriter::Open()
{
    if (m_bs)
        return true;
    m_bs = m_f.exists() ? m_f.openAsBinaryFile(true) : m_f.createBinaryFile();
    if (m_bs)
        m_bs->setLength(0);
    m_error = !m_bs || m_bs->length() != 0;
    return !m_error;
}

bool FileWriter::Write(std::string_view data)
{
    if (!m_bs)
        notOpen();
    m_written += std::int64_t(data.size());
    if (!m_bs->write(data))
        m_error = true;
    return !m_error;
}

bool FileWriter::Close()
{
    if (!m_bs)
        return true;
    if (std::int64_t(m_bs->length()) != m_written || m_bs->hadError())
        m_error = true;
    if (!m_bs->close())
        m_error = true;
    m_bs.reset();
    return !m_error;
}

void FileWriter::GetErrorDescription(std::int32_t& code, std::string& message) const
{
    describeWriteError(m_error, code, message);
}

bool FileWriter::Skip(std::int32_t count)
{
    if (!m_bs)
        notOpen();
    m_written += count;
    if (std::int64_t(m_bs->length()) < m_written && !m_bs->setLength(std::uint64_t(m_written)))
        m_error = true;
    return true;
}

bool FileWriter::Flush()
{
    if (!m_bs)
        notOpen();
    if (std::int64_t(m_bs->length()) != m_written)
        m_error = true;
    return !m_error;
}

// --- DescriptorWriter ---

bool DescriptorWriter::Open()
{
    m_open = true;
    return !m_error;
}

bool DescriptorWriter::Write(std::string_view data)
{
    if (!m_open)
        notOpen();
    if (m_error)
        return false;
    // Large pieces go out as they are; small ones are gathered.
    if (m_block.empty() && data.size() >= SmallPiece)
        return writeOut(data);
    m_block.append(data);
    if (m_block.size() >= BlockSize) {
        const bool ok = writeOut(m_block);
        m_block.clear();
        return ok;
    }
    return true;
}

bool DescriptorWriter::Close()
{
    if (!m_open)
        return !m_error;
    m_open = false;
    Flush();
    m_block = std::string();
    return !m_error;
}

void DescriptorWriter::GetErrorDescription(std::int32_t& code, std::string& message) const
{
    describeWriteError(m_error, code, message);
}

bool DescriptorWriter::Skip(std::int32_t count)
{
    if (!m_open)
        notOpen();
    if (count > 0)
        return Write(std::string(std::size_t(count), '\0'));
    return !m_error;
}

bool DescriptorWriter::Flush()
{
    if (!m_block.empty() && !m_error)
        writeOut(m_block);
    m_block.clear();
    return !m_error;
}

bool DescriptorWriter::writeOut(std::string_view data)
{
    if (posix::writeAll(m_fd, data) != 0)
        m_error = true;
    return !m_error;
}

} // namespace lv
