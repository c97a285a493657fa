#include "raster/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tsx {

std::vector<uint8_t> readWholeFile(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(formatMessage(msg::kCannotOpen, fileName.c_str()));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw EFOpenError(formatMessage(msg::kCannotOpen, fileName.c_str()));
    }
    std::vector<uint8_t> out;
    try {
        out.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        throw EOutOfResources(formatMessage(msg::kCannotBeMade, "Buffer"));
    }
    size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(got);  // a file that shrank while we read it ends where it ends
    return out;
}

AtomicFileWriter::AtomicFileWriter(std::string fileName) : m_fileName(std::move(fileName))
{
    // The temporary file goes beside the file the name finally reaches, so a
    // link keeps pointing at the new contents instead of being replaced.
    std::string target = m_fileName;
    struct stat st {};
    if (::stat(m_fileName.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            // A device or pipe cannot be replaced by renaming, and must not
            // be: it is written in place (only a regular file keeps its old
            // contents on failure).
            m_fd = ::open(m_fileName.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (m_fd < 0 || S_ISDIR(st.st_mode)) {
                if (m_fd >= 0)
                    ::close(m_fd);
                m_fd = -1;
                throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
            }
            return;
        }
        if (char* resolved = ::realpath(m_fileName.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    m_target = target;
    m_tempName = target + ".tmp-XXXXXX";
    m_fd = ::mkstemp(m_tempName.data());
    if (m_fd < 0)
        throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
    ::fchmod(m_fd, 0644);
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        if (!m_tempName.empty())
            ::unlink(m_tempName.c_str());
    }
}

void AtomicFileWriter::write(const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void AtomicFileWriter::writeAt(uint64_t offset, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
        p += n;
        offset += uint64_t(n);
        size -= static_cast<size_t>(n);
    }
}

void AtomicFileWriter::startWriteback()
{
    // only a hint: a file system without it writes back on its own time
    if (!m_tempName.empty())
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void AtomicFileWriter::commit()
{
    if (m_tempName.empty()) {  // written in place: a device may refuse fsync
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
        return;
    }
    if (::fsync(m_fd) != 0 || ::close(m_fd) != 0) {
        m_fd = -1;
        ::unlink(m_tempName.c_str());
        throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
    }
    m_fd = -1;
    if (::rename(m_tempName.c_str(), m_target.c_str()) != 0) {
        ::unlink(m_tempName.c_str());
        throw EFCreateError(formatMessage(msg::kCannotCreate, m_fileName.c_str()));
    }
}

void writeWholeFile(const std::string& fileName, const std::vector<uint8_t>& bytes)
{
    AtomicFileWriter w(fileName);
    w.write(bytes.data(), bytes.size());
    w.commit();
}

}  // namespace tsx
