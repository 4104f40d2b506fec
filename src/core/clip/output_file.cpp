#include "core/clip/output_file.h"

#include "core/storage/export_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace korvante::clip {
namespace {

constexpr int kIoBufferSize = 1 << 20;

} // namespace

OutputFile::OutputFile(const std::string &finalPath)
{
    const std::size_t slash = finalPath.rfind('/');
    m_folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : finalPath.substr(0, slash));
    m_name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    // Every step works in this one folder descriptor: the folder chosen stays
    // the folder written, whatever happens to its path meanwhile.
    m_dirFd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        m_error = m_folder + ": " + std::strerror(errno);
    else if (const std::string problem = outputFolderProblem(m_dirFd); !problem.empty())
        m_error = m_folder + ": " + problem;
}

OutputFile::~OutputFile()
{
    if (m_write) {
        av_freep(&m_write->buffer);
        avio_context_free(&m_write);
    }
    if (m_fd >= 0 && !m_committed) {
        struct stat now {};
        if (::fstatat(m_dirFd, m_temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == m_dev
            && now.st_ino == m_ino)
            ::unlinkat(m_dirFd, m_temporary.c_str(), 0);
    }
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

bool OutputFile::create()
{
    if (!m_error.empty())
        return false;
    m_fd = createExportTemporary(m_dirFd, m_name, m_temporary);
    if (m_fd < 0) {
        m_error = "cannot create a file in " + m_folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    ::fstat(m_fd, &st);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    return true;
}

int OutputFile::writeCallback(void *opaque, std::uint8_t *buffer, int size)
{
    auto *self = static_cast<OutputFile *>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->m_fd, buffer + done, static_cast<std::size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            if (self->m_error.empty())
                self->m_error = std::string("cannot write the clip: ") + std::strerror(error);
            return AVERROR(error);
        }
        done += static_cast<int>(n);
    }
    return size;
}

std::int64_t OutputFile::seekCallback(void *opaque, std::int64_t offset, int whence)
{
    auto *self = static_cast<OutputFile *>(opaque);
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(self->m_fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    }
    const off_t at = ::lseek(self->m_fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

int OutputFile::readCallback(void *opaque, std::uint8_t *buffer, int size)
{
    auto *self = static_cast<OutputFile *>(opaque);
    while (true) {
        const ssize_t n = ::pread(self->m_fd, buffer, static_cast<std::size_t>(size), self->m_readPosition);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF;
        self->m_readPosition += n;
        return static_cast<int>(n);
    }
}

std::int64_t OutputFile::readSeekCallback(void *opaque, std::int64_t offset, int whence)
{
    auto *self = static_cast<OutputFile *>(opaque);
    struct stat st {};
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return ::fstat(self->m_fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->m_readPosition;
        break;
    case SEEK_END:
        if (::fstat(self->m_fd, &st) != 0)
            return -1;
        offset += st.st_size;
        break;
    default:
        return -1;
    }
    if (offset < 0)
        return -1;
    self->m_readPosition = offset;
    return offset;
}

AVIOContext *OutputFile::writeContext()
{
    if (!m_write) {
        auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
        if (!buffer)
            return nullptr;
        m_write = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &writeCallback, &seekCallback);
        if (!m_write)
            av_free(buffer);
    }
    return m_write;
}

// The muxer asks for its own output by name; it gets the temporary file's
// descriptor, read-only, whatever the name says.
int OutputFile::openForFormat(AVFormatContext *s, AVIOContext **pb, const char *, int flags, void **)
{
    auto *self = static_cast<OutputFile *>(s->opaque);
    if (!self || (flags & AVIO_FLAG_WRITE))
        return AVERROR(EPERM);
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return AVERROR(ENOMEM);
    self->m_readPosition = 0;
    *pb = avio_alloc_context(buffer, kIoBufferSize, 0, self, &readCallback, nullptr, &readSeekCallback);
    if (!*pb) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    return 0;
}

int OutputFile::closeForFormat(AVFormatContext *, AVIOContext *pb)
{
    if (pb) {
        av_freep(&pb->buffer);
        avio_context_free(&pb);
    }
    return 0;
}

void OutputFile::attachReader(AVFormatContext *format)
{
    format->opaque = this;
    format->io_open = [](AVFormatContext *s, AVIOContext **pb, const char *url, int flags, AVDictionary **options) {
        return openForFormat(s, pb, url, flags, reinterpret_cast<void **>(options));
    };
    format->io_close2 = &closeForFormat;
}

bool OutputFile::writeAll(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = std::string("cannot write: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::sync()
{
    if (::fsync(m_fd) != 0) {
        m_error = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputFile::commit(bool overwrite)
{
    // The temporary name must still be the file written here.
    struct stat now {};
    if (::fstatat(m_dirFd, m_temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != m_dev
        || now.st_ino != m_ino) {
        m_error = m_folder + "/" + m_temporary + " was replaced while it was written; nothing was renamed";
        return false;
    }
    int error = 0;
    if (!moveExportIntoPlace(m_dirFd, m_temporary, m_name, overwrite, error)) {
        m_error = m_folder + "/" + m_name + (error == EEXIST ? std::string(" exists") : ": " + std::string(std::strerror(error)));
        return false;
    }
    m_committed = true;
    ::fsync(m_dirFd);
    return true;
}

} // namespace korvante::clip
