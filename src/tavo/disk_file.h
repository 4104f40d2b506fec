#pragma once

// A disk or image file opened by path, read and written with positioned I/O so that several
// threads can share one descriptor without sharing a file position.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavo {

class DiskFile final {
public:
    enum class Mode { ReadOnly, ReadWrite, CreateTruncate };

    DiskFile() = default;
    ~DiskFile();
    DiskFile(const DiskFile &) = delete;
    DiskFile &operator=(const DiskFile &) = delete;
    DiskFile(DiskFile &&other) noexcept;
    DiskFile &operator=(DiskFile &&other) noexcept;

    // Opens `path`; on failure returns false and sets *error (may be null) to the system's
    // reason. The size is taken at open time (block devices and regular files alike). A
    // read-only open of a path with an attached descriptor reads through a copy of that
    // descriptor instead of opening the path.
    bool open(const std::string &path, Mode mode, std::string *error);

    // Read-only opens of `path` use a copy of `fd` from now on (the caller keeps `fd`): for a
    // disk that the user may not open but was handed a descriptor for. `fd` must be readable
    // and a regular file or block device. Replaces an earlier descriptor of the same path.
    // Thread-safe.
    static bool attachDescriptor(const std::string &path, int fd, std::string *error);
    // Forgets the descriptor attached to `path`; false when there was none.
    static bool detachDescriptor(const std::string &path);
    bool isOpen() const { return m_fd >= 0; }
    uint64_t size() const { return m_size; }

    // Reads exactly `length` bytes at `offset`. False on an error, or when the range runs past
    // the size seen at open time or past the current end of the file.
    bool readExact(uint64_t offset, void *buffer, size_t length) const;
    // Writes exactly `length` bytes at `offset`.
    bool writeExact(uint64_t offset, const void *buffer, size_t length);
    // Sets the length of a regular file (the rest stays sparse).
    bool truncate(uint64_t length);
    bool sync();
    void close();

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

} // namespace tavo
