#include "disk_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tavo {

DiskFile::~DiskFile()
{
    close();
}

DiskFile::DiskFile(DiskFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(std::exchange(other.m_size, 0))
{
}

DiskFile &DiskFile::operator=(DiskFile &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

bool DiskFile::open(const std::string &path, Mode mode, std::string *error)
{
    close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::ReadOnly: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        if (error)
            *error = path + " is neither a regular file nor a block device";
        ::close(fd);
        return false;
    }
    // lseek to the end gives the length of block devices as well as of files.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        if (error)
            *error = "cannot size " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = static_cast<uint64_t>(end);
    return true;
}

bool DiskFile::readExact(uint64_t offset, void *buffer, size_t length) const
{
    if (m_fd < 0 || offset > m_size || length > m_size - offset)
        return false;
    auto *out = static_cast<unsigned char *>(buffer);
    while (length > 0) {
        const ssize_t n = ::pread(m_fd, out, length, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false; // the file shrank or the medium went away
        out += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool DiskFile::writeExact(uint64_t offset, const void *buffer, size_t length)
{
    if (m_fd < 0)
        return false;
    const auto *in = static_cast<const unsigned char *>(buffer);
    while (length > 0) {
        const ssize_t n = ::pwrite(m_fd, in, length, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        in += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    if (offset > m_size)
        m_size = offset;
    return true;
}

bool DiskFile::truncate(uint64_t length)
{
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
        return false;
    m_size = length;
    return true;
}

bool DiskFile::sync()
{
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

void DiskFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
}

} // namespace tavo
