#include "core/recording/byte_source.h"

#include "tavo/tavo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <mutex>

namespace korvante {
namespace {

// Reads `length` bytes at `offset` through `readSome(at, out, want)`, which
// reads at most `want` bytes and returns the count, 0 at the end, negative on
// failure: the count read (fewer at the end), or -1 when nothing could be read.
template <typename ReadSome>
std::int64_t readFully(std::int64_t offset, void *buffer, std::int64_t length, ReadSome &&readSome)
{
    if (offset < 0 || length < 0)
        return -1;
    std::int64_t done = 0;
    auto *out = static_cast<unsigned char *>(buffer);
    while (done < length) {
        const std::int64_t n = readSome(offset + done, out + done, length - done);
        if (n < 0)
            return done > 0 ? done : -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::int64_t size) : m_fd(fd), m_size(size) {}
    ~FileSource() override { ::close(m_fd); }
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    std::int64_t size() const override { return m_size; }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        return readFully(offset, buffer, length, [this](std::int64_t at, unsigned char *out, std::int64_t want) {
            return static_cast<std::int64_t>(
                ::pread(m_fd, out, static_cast<size_t>(want), static_cast<off_t>(at)));
        });
    }

private:
    int m_fd;
    std::int64_t m_size;
};

class CardSource final : public ByteSource {
public:
    CardSource(unsigned char *device, std::shared_ptr<unsigned char> keepAlive, int handle,
               std::int64_t size)
        : m_device(device), m_keepAlive(std::move(keepAlive)), m_handle(handle), m_size(size) {}
    ~CardSource() override { VX_Tavo_File_Close(m_device, m_handle); }
    CardSource(const CardSource &) = delete;
    CardSource &operator=(const CardSource &) = delete;

    std::int64_t size() const override { return m_size; }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        return readFully(offset, buffer, length, [this](std::int64_t at, unsigned char *out, std::int64_t want) {
            const int chunk = static_cast<int>(std::min<std::int64_t>(want, INT_MAX / 2));
            return static_cast<std::int64_t>(VX_Tavo_File_ReadAt(m_device, m_handle, at, out, chunk));
        });
    }

private:
    unsigned char *m_device;
    std::shared_ptr<unsigned char> m_keepAlive; // the block's shared owner, when it has one
    int m_handle;
    std::int64_t m_size;
};

std::mutex g_wrapperMutex;
ByteSourceWrapper g_wrapper; // guarded by g_wrapperMutex

std::unique_ptr<ByteSource> wrapped(std::unique_ptr<ByteSource> source)
{
    if (!source)
        return source;
    ByteSourceWrapper wrapper;
    {
        std::lock_guard lock(g_wrapperMutex);
        wrapper = g_wrapper;
    }
    return wrapper ? wrapper(std::move(source)) : std::move(source);
}

} // namespace

void setByteSourceWrapper(ByteSourceWrapper wrapper)
{
    std::lock_guard lock(g_wrapperMutex);
    g_wrapper = std::move(wrapper);
}

std::unique_ptr<ByteSource> openFileSource(const std::string &path, SourceFailure *why)
{
    auto fail = [&](SourceFailure failure) -> std::unique_ptr<ByteSource> {
        if (why)
            *why = failure;
        return nullptr;
    };
    // Checked by name first: open() itself would block on a FIFO without a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(SourceFailure::CannotRead);
    if (!S_ISREG(st.st_mode))
        return fail(SourceFailure::NotRegular);
    // O_NONBLOCK: should the name have become a FIFO since, the open still returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail(SourceFailure::CannotRead);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(S_ISREG(st.st_mode) ? SourceFailure::CannotRead : SourceFailure::NotRegular);
    }
    if (why)
        *why = SourceFailure::None;
    return wrapped(std::make_unique<FileSource>(fd, static_cast<std::int64_t>(st.st_size)));
}

std::unique_ptr<ByteSource> openCardSource(unsigned char *device, std::int32_t fileId,
                                           const std::string &path,
                                           std::shared_ptr<unsigned char> keepAlive)
{
    // The card library takes "/DIR/NAME" only: the folder is the one the
    // recording was listed in, whatever it is called.
    if (!device || fileId < 1 || path.size() < 4 || path.front() != '/'
        || path.size() >= VX_TAVO_PATH_MAX)
        return nullptr;
    const int handle = VX_Tavo_File_Open(device, path.c_str(), "r", 0, 0, fileId);
    if (handle < 1)
        return nullptr;
    std::int64_t size = 0;
    if (VX_Tavo_File_Size(device, handle, &size) != 0 || size < 0) {
        VX_Tavo_File_Close(device, handle);
        return nullptr;
    }
    return wrapped(std::make_unique<CardSource>(device, std::move(keepAlive), handle, size));
}

} // namespace korvante
