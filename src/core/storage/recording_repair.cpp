#include "core/storage/recording_repair.h"

#include "core/recording/riff_chunk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace korvante {
namespace {

constexpr size_t kHeadBytes = 512;
constexpr size_t kWalkBytes = 512;

// Reads up to `size` bytes at `offset` with positioned reads on the stream's
// descriptor (the walk jumps from chunk to chunk, so stdio's buffer would only
// be refilled and thrown away); returns the count read, 0 on failure.
size_t readAt(std::FILE *file, uint64_t offset, unsigned char *buffer, size_t size)
{
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return 0;
    const int fd = fileno(file);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// Writes all of `size` bytes at `offset`; false (errno set) when a write fails.
bool writeAt(int fd, uint64_t offset, const unsigned char *bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The length and modification time a file must still have to be written.
struct Expected {
    uint64_t length = 0;
    int64_t sec = 0;
    int64_t nsec = 0;
};

// Whether the open file is still the one planned: still linked in its folder
// if it was then, and of the expected length and modification time. False
// with errno set otherwise (ENOENT: removed; EBUSY: someone else wrote it).
bool stillPlanned(int fd, const RepairPlan &plan, const Expected &expected)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (plan.linked && st.st_nlink == 0) {
        errno = ENOENT;
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) != expected.length || st.st_mtim.tv_sec != expected.sec
        || st.st_mtim.tv_nsec != expected.nsec) {
        errno = EBUSY;
        return false;
    }
    return true;
}

// After a write of our own: the time it left is the one expected next.
void wroteAt(int fd, Expected &expected)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        expected.sec = st.st_mtim.tv_sec;
        expected.nsec = st.st_mtim.tv_nsec;
    }
}

} // namespace

bool isIntactHeader(const unsigned char *bytes, size_t length)
{
    if (length < 8 || !recording::hasTag(bytes, "RIFF"))
        return false;
    const uint32_t size = recording::le32(bytes + 4);
    return size > 0 && size < 0x80000000u;
}

bool isIntact(const std::string &path)
{
    // Plain system calls: the catalogue asks this of every file it lists.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool intact = isIntactDescriptor(fd);
    ::close(fd);
    return intact;
}

bool isIntactDescriptor(int fd)
{
    unsigned char head[64];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    return n > 0 && isIntactHeader(head, static_cast<size_t>(n));
}

RepairPlan planRepair(std::FILE *file)
{
    RepairPlan plan;
    if (std::fflush(file) != 0 || fseeko(file, 0, SEEK_END) != 0)
        return plan;
    const off_t end = ftello(file);
    if (end < 0)
        return plan;
    plan.fileLength = static_cast<uint64_t>(end);
    struct stat st {};
    if (::fstat(fileno(file), &st) == 0) {
        plan.linked = st.st_nlink > 0;
        plan.modifiedSec = st.st_mtim.tv_sec;
        plan.modifiedNsec = st.st_mtim.tv_nsec;
    }

    unsigned char head[kHeadBytes];
    const size_t n = readAt(file, 0, head, sizeof head);
    // "movi", "0", a stream digit, the type letters, then the first chunk's size.
    size_t movi = kHeadBytes;
    for (size_t i = 0; i + 12 <= n; ++i) {
        if (recording::hasTag(head + i, "movi") && recording::isCameraChunkId(head + i + 4)) {
            movi = i;
            break;
        }
    }
    if (movi == kHeadBytes)
        return plan;

    // The zero fill starts at the id of the last chunk the walk accepted: that
    // chunk is the one the camera was writing when it stopped. (Starting from the
    // position after it minus its length would, when the byte there happens to
    // be 0, also wipe the last byte of the chunk before, or the "i" of "movi".)
    uint64_t lastChunk = movi + 4;
    uint64_t p = movi + 12 + uint64_t{recording::le32(head + movi + 8)};
    unsigned char window[kWalkBytes];
    for (;;) {
        const size_t got = p < plan.fileLength ? readAt(file, p, window, sizeof window) : 0;
        const size_t k = (got > 0 && window[0] == 0) ? 1 : 0;
        if (got < k + 8 || window[k] != '0')
            break;
        if (recording::isStreamDigit(window[k + 1]) && !recording::isChunkType(window[k + 2], window[k + 3]))
            break;
        lastChunk = p + k;
        p += uint64_t{recording::le32(window + k + 4)} + 8 + k;
    }

    plan.repairable = true;
    plan.movieListOffset = movi;
    // Never let the zeros reach the RIFF header written at offsets 0 to 7.
    plan.zeroFillStart = std::min(std::max<uint64_t>(lastChunk, 8), plan.fileLength);
    plan.zeroFillLength = plan.fileLength - plan.zeroFillStart;
    // A file past 4 GiB cannot state its size; the largest value is the nearest.
    plan.riffSize = static_cast<uint32_t>(std::min<uint64_t>(plan.fileLength - 8, 0xFFFFFFFFu));
    return plan;
}

bool applyRepair(std::FILE *file, const RepairPlan &plan, std::string *error)
{
    if (!plan.repairable)
        return true;
    const int fd = fileno(file);
    const auto fail = [error](const std::string &why) {
        const int saved = errno;
        if (error)
            *error = why;
        errno = saved;
        return false;
    };
    const auto changed = [&fail] {
        return fail(errno == EBUSY ? std::string(kRepairFileChanged) : std::string(std::strerror(errno)));
    };
    // Nothing of stdio's is left pending: all writes below go to the
    // descriptor, at their own offsets.
    if (std::fflush(file) != 0)
        return fail(std::strerror(errno));
    Expected expected{plan.fileLength, plan.modifiedSec, plan.modifiedNsec};
    const uint64_t headEnd = std::min(plan.zeroFillStart + 8, plan.fileLength);

    static const std::vector<unsigned char> zeros(kRepairZeroBlock, 0);
    for (uint64_t at = headEnd; at < plan.fileLength;) {
        const size_t block = static_cast<size_t>(std::min<uint64_t>(plan.fileLength - at, kRepairZeroBlock));
        // A writer appending, or a card cut short under us: stop before
        // zeroing what they wrote or growing the file back.
        if (!stillPlanned(fd, plan, expected))
            return changed();
        if (!writeAt(fd, at, zeros.data(), block))
            return fail(std::strerror(errno));
        wroteAt(fd, expected);
        at += block;
    }
    if (headEnd < plan.fileLength && ::fdatasync(fd) != 0 && errno != EINVAL)
        return fail(std::strerror(errno));

    unsigned char header[8] = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
    recording::putLe32(header + 4, plan.riffSize);
    if (!stillPlanned(fd, plan, expected))
        return changed();
    if (!writeAt(fd, 0, header, sizeof header) || (::fdatasync(fd) != 0 && errno != EINVAL))
        return fail(std::strerror(errno));
    wroteAt(fd, expected);

    if (headEnd > plan.zeroFillStart) {
        if (!stillPlanned(fd, plan, expected))
            return changed();
        if (!writeAt(fd, plan.zeroFillStart, zeros.data(), static_cast<size_t>(headEnd - plan.zeroFillStart))
            || (::fdatasync(fd) != 0 && errno != EINVAL))
            return fail(std::strerror(errno));
    }
    return true;
}

std::FILE *openForRepair(const std::string &path, bool readOnly, uint64_t device, uint64_t inode, std::string &why)
{
    // Non-blocking: a named pipe put in a recording's place must not stall.
    const int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int saved = errno;
        why = saved == ELOOP ? std::string("a symbolic link; a repair never writes through one")
                             : std::string(std::strerror(saved));
        errno = saved;
        return nullptr;
    }
    struct stat st {};
    const auto refuse = [&](const std::string &reason, int code) -> std::FILE * {
        why = reason;
        ::close(fd);
        errno = code;
        return nullptr;
    };
    if (::fstat(fd, &st) != 0)
        return refuse(std::strerror(errno), errno);
    if (!S_ISREG(st.st_mode))
        return refuse("not a regular file", EINVAL);
    if (st.st_nlink > 1)
        return refuse("the file has other names (hard links); not repaired", EMLINK);
    if (inode != 0 && (static_cast<uint64_t>(st.st_dev) != device || static_cast<uint64_t>(st.st_ino) != inode))
        return refuse("no longer the file that was listed; not repaired", ESTALE);
    // Reads and writes are blocking again from here on.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE *file = ::fdopen(fd, readOnly ? "rb" : "rb+");
    if (!file)
        return refuse(std::strerror(errno), errno);
    return file;
}

RepairPlan repair(std::FILE *file, bool *writeFailed, std::string *error)
{
    RepairPlan plan = planRepair(file);
    const bool ok = applyRepair(file, plan, error);
    if (writeFailed)
        *writeFailed = !ok;
    return plan;
}

} // namespace korvante
