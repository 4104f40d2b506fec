#include "core/playback/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#if KORVANTE_HAVE_TAVO
#include "tavo/tavo.h"
#endif

namespace korvante {
namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::int64_t size) : m_fd(fd), m_size(size) {}
    ~FileSource() override { ::close(m_fd); }
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    std::int64_t size() const override { return m_size; }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        if (offset < 0 || length < 0)
            return -1;
        std::int64_t done = 0;
        auto *out = static_cast<char *>(buffer);
        while (done < length) {
            const ssize_t n = ::pread(m_fd, out + done, static_cast<size_t>(length - done),
                                      static_cast<off_t>(offset + done));
            if (n < 0)
                return done > 0 ? done : -1;
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }

private:
    int m_fd;
    std::int64_t m_size;
};

#if KORVANTE_HAVE_TAVO
class CardSource final : public ByteSource {
public:
    CardSource(unsigned char *device, int handle, std::int64_t size)
        : m_device(device), m_handle(handle), m_size(size) {}
    ~CardSource() override { VX_Tavo_File_Close(m_device, m_handle); }
    CardSource(const CardSource &) = delete;
    CardSource &operator=(const CardSource &) = delete;

    std::int64_t size() const override { return m_size; }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        if (offset < 0 || length < 0)
            return -1;
        std::int64_t done = 0;
        auto *out = static_cast<unsigned char *>(buffer);
        while (done < length) {
            const int chunk = static_cast<int>(std::min<std::int64_t>(length - done, INT_MAX / 2));
            const int n = VX_Tavo_File_ReadAt(m_device, m_handle, offset + done, out + done, chunk);
            if (n < 0)
                return done > 0 ? done : -1;
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }

private:
    unsigned char *m_device;
    int m_handle;
    std::int64_t m_size;
};
#endif

} // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, static_cast<std::int64_t>(st.st_size));
}

std::unique_ptr<ByteSource> openCardSource(unsigned char *device, std::int32_t fileId,
                                           const std::string &path)
{
#if KORVANTE_HAVE_TAVO
    if (!device || fileId < 1 || path.empty())
        return nullptr;
    auto tryOpen = [&](const std::string &cardPath) -> std::unique_ptr<ByteSource> {
        if (cardPath.size() >= VX_TAVO_PATH_MAX)
            return nullptr;
        const int handle = VX_Tavo_File_Open(device, cardPath.c_str(), "r", 0, 0, fileId);
        if (handle < 1)
            return nullptr;
        std::int64_t size = 0;
        if (VX_Tavo_File_Size(device, handle, &size) != 0 || size < 0) {
            VX_Tavo_File_Close(device, handle);
            return nullptr;
        }
        return std::make_unique<CardSource>(device, handle, size);
    };
    if (path.front() == '/')
        return tryOpen(path);
    // A bare name: the file identifier and the name must match one file, so
    // trying the recording directories in turn finds the only one that does.
    for (const char *dir : {"NOR", "EVT", "MOT", "MAN"}) {
        if (auto source = tryOpen(std::string("/") + dir + "/" + path))
            return source;
    }
    return nullptr;
#else
    (void)device;
    (void)fileId;
    (void)path;
    return nullptr;
#endif
}

} // namespace korvante
