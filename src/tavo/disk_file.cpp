#include "disk_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
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

namespace {

// Descriptors attached to device paths, owned here (each one a private copy).
struct AttachedDescriptors {
    std::mutex mutex;
    std::map<std::string, int> byPath;

    ~AttachedDescriptors()
    {
        for (const auto &[path, fd] : byPath)
            ::close(fd);
    }
};

AttachedDescriptors &attached()
{
    static AttachedDescriptors table;
    return table;
}

// A private copy of the descriptor attached to `path`, or -1.
int copyOfAttached(const std::string &path)
{
    AttachedDescriptors &table = attached();
    std::lock_guard guard(table.mutex);
    const auto it = table.byPath.find(path);
    return it == table.byPath.end() ? -1 : ::fcntl(it->second, F_DUPFD_CLOEXEC, 0);
}

} // namespace

bool DiskFile::attachDescriptor(const std::string &path, int fd, std::string *error)
{
    const int flags = fd >= 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY) {
        if (error)
            *error = "the descriptor for " + path + " is not open for reading";
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        if (error)
            *error = "the descriptor for " + path + " is neither a regular file nor a block device";
        return false;
    }
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        if (error)
            *error = std::string("cannot copy the descriptor: ") + std::strerror(errno);
        return false;
    }
    AttachedDescriptors &table = attached();
    std::lock_guard guard(table.mutex);
    auto [it, added] = table.byPath.emplace(path, copy);
    if (!added) {
        ::close(it->second);
        it->second = copy;
    }
    return true;
}

bool DiskFile::detachDescriptor(const std::string &path)
{
    AttachedDescriptors &table = attached();
    std::lock_guard guard(table.mutex);
    const auto it = table.byPath.find(path);
    if (it == table.byPath.end())
        return false;
    ::close(it->second);
    table.byPath.erase(it);
    return true;
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
    int fd = mode == Mode::ReadOnly ? copyOfAttached(path) : -1;
    while (fd < 0) {
        fd = ::open(path.c_str(), flags, 0644);
        if (fd >= 0 || errno != EINTR)
            break;
    }
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
