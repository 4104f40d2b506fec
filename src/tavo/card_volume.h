#pragma once

// A TAVO partition opened for reading: the superblock and both tables are read and checked
// once, at open, and kept in memory; file data is read with positioned I/O afterwards. After a
// successful open every file's cluster run is known to lie inside the data area, inside the
// partition and inside the disk, and no two runs overlap. Immutable after open, so any number
// of threads may read through one volume.

#include "card_format.h"
#include "disk_file.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavo {

// What sector 0 and the TAVO superblock of a disk say, for the probing entry points.
struct DiskProbe {
    uint64_t diskBytes = 0;
    std::optional<PartitionEntry> fat;
    std::optional<PartitionEntry> tavo;
    bool tavoValid = false;   // the TAVO partition's superblock passes every check
};

// Returns a result code of tavo.h (VX_TAVO_OK when the disk could be read at all).
int probeDisk(const std::string &path, DiskProbe *probe);

class CardVolume final {
public:
    // Opens and checks the card at `path`. Returns VX_TAVO_OK and sets *volume, or a negative
    // result code of tavo.h with *why (may be null) saying what failed.
    static int open(const std::string &path, std::unique_ptr<CardVolume> *volume,
                    std::string *why);

    std::optional<size_t> findDirectory(std::string_view name) const;
    // Indexes into files(), in file table order.
    const std::vector<uint32_t> &filesInDirectory(size_t dirIndex) const
    {
        return m_byDirectory[dirIndex];
    }
    const std::vector<DirEntry> &directories() const { return m_directories; }
    const std::vector<FileEntry> &files() const { return m_files; }
    std::optional<size_t> findFileById(uint32_t fileId) const;

    // Reads up to `length` bytes of `file` at byte `offset`; never past the file's size.
    // Returns the byte count (0 at or past the end) or -1 on an I/O error.
    int64_t read(const FileEntry &file, uint64_t offset, void *buffer, size_t length) const;

    const Superblock &superblock() const { return m_superblock; }
    uint64_t partitionOffset() const { return m_partitionOffset; }

private:
    CardVolume() = default;
    int load(const std::string &path, std::string *why);
    int loadTables(std::string *why);

    DiskFile m_disk;
    uint64_t m_partitionOffset = 0;
    Superblock m_superblock;
    std::vector<DirEntry> m_directories;
    std::vector<FileEntry> m_files;
    std::vector<std::vector<uint32_t>> m_byDirectory;
    std::unordered_map<uint32_t, uint32_t> m_byId;   // file identifier -> index into m_files
};

} // namespace tavo
