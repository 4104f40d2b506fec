#pragma once

// Writes camera cards: an MBR with a FAT32 partition and a TAVO partition, and the TAVO file
// system on it (layout in docs/tavo-format.md). Used by the sample-card tool, the tests and to
// prepare real cards. One writer is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tavo {

struct CardLayout {
    uint64_t totalBytes;              // whole image / disk size, multiple of 512
    uint64_t fatBytes;                // size of the FAT32 partition (type 0x0C), multiple of 512
    uint32_t clusterBytes = 65536;    // TAVO cluster size, power of two, 512 .. 64 MiB
    // Where the FAT partition starts and how the TAVO partition start is aligned, in 512-byte
    // sectors. Real cards keep 2048 (1 MiB); tiny images (fuzz seeds) use 1.
    uint32_t fatStartSector = 2048;
    uint32_t alignSectors = 2048;
};

class CardWriter final {
public:
    // Creates or truncates the image file at `path` to layout.totalBytes, writes the MBR with
    // the FAT32 partition (left zeroed: the caller formats it, e.g. mkfs.vfat --offset) and
    // the TAVO partition (type 0x7A) that fills the rest. Returns nullptr and sets *error on
    // failure.
    static std::unique_ptr<CardWriter> createImage(const std::string &path,
                                                   const CardLayout &layout, std::string *error);
    // Opens an existing disk or image that already has the MBR, and lays a new, empty TAVO
    // file system over its 0x7A partition (used for real cards and by tests). The cluster size
    // is 64 KiB, or `clusterBytes` with the second form.
    static std::unique_ptr<CardWriter> formatExisting(const std::string &path, std::string *error);
    static std::unique_ptr<CardWriter> formatExisting(const std::string &path,
                                                      uint32_t clusterBytes, std::string *error);

    ~CardWriter();
    CardWriter(const CardWriter &) = delete;
    CardWriter &operator=(const CardWriter &) = delete;

    // Directory names: 1 to 47 bytes, no '/', unique (case matters). False when invalid,
    // duplicate or when the tables would no longer fit.
    bool addDirectory(const std::string &name);               // e.g. "NOR"
    // Appends a file in one contiguous cluster run; its identifier is returned (>= 1), 0 on
    // error (unknown directory, name of 0 or more than 63 bytes or with '/', a name already in
    // the directory, size of 4 GiB or more, no room, write failure). `unixTime` is seconds
    // since 1970-01-01 UTC.
    uint32_t addFile(const std::string &directory, const std::string &name, int64_t unixTime,
                     const void *data, size_t size);
    // The same, copying the bytes from the file at `sourcePath` in blocks (for large files).
    uint32_t addFileFromPath(const std::string &directory, const std::string &name,
                             int64_t unixTime, const std::string &sourcePath);
    // Writes the directory and file tables and the superblock (with CRCs) and syncs. Nothing is
    // readable as a card before finish() returns true. Adding more after finish() makes the card
    // unreadable again until the next finish().
    bool finish(std::string *error);

    uint64_t fatPartitionOffset() const;   // bytes from the start of the image
    uint64_t fatPartitionBytes() const;
    uint64_t tavoPartitionOffset() const;
    uint64_t tavoPartitionBytes() const;
    uint32_t clusterBytes() const;
    // Bytes still free for file data (whole clusters), counting the table room one more file
    // entry takes.
    uint64_t freeBytes() const;
    // The message of the last failed addDirectory/addFile, empty after a success.
    const std::string &lastError() const;

private:
    struct State;
    explicit CardWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace tavo
