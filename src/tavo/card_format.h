#pragma once

// The on-card structures of a TAVO card and their checks: the MBR partition entries, the
// superblock, the directory and file table entries. Pure functions on byte buffers, shared by
// the reader and the writer. docs/tavo-format.md describes the same layout in prose.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavo {

constexpr uint32_t kSectorBytes = 512;
constexpr unsigned char kTypeFat32Lba = 0x0C;
constexpr unsigned char kTypeTavo = 0x7A;

constexpr uint32_t kSuperblockBytes = 512;
constexpr uint32_t kFormatVersion = 1;
constexpr uint32_t kDirEntryBytes = 64;
constexpr uint32_t kFileEntryBytes = 128;
constexpr uint32_t kMinClusterBytes = 512;
constexpr uint32_t kMaxClusterBytes = 64u << 20;
constexpr uint32_t kMaxDirectories = 1024;
constexpr uint32_t kMaxFiles = 262144;
constexpr size_t kMaxDirNameBytes = 47;
constexpr size_t kMaxFileNameBytes = 63;
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFu;   // the list record carries 32 bits
constexpr uint32_t kMaxFileId = 0x7FFFFFFF;       // identifiers travel as C int

// One primary partition of the MBR, in sectors.
struct PartitionEntry {
    unsigned char type = 0;
    uint32_t firstSector = 0;
    uint32_t sectorCount = 0;
};

// The parts of sector 0 the library uses.
struct MbrLayout {
    std::optional<PartitionEntry> fat;    // first entry of type 0x0C or 0x0B
    std::optional<PartitionEntry> tavo;   // first entry of type 0x7A
};

// Parses sector 0 (512 bytes). Empty when the boot signature is missing. A partition entry is
// taken only when it is not empty and lies inside `diskSectors`; a TAVO entry outside the disk
// makes the whole MBR unusable (nullopt), so a damaged table never points reads elsewhere.
std::optional<MbrLayout> parseMbr(const unsigned char *sector, uint64_t diskSectors);
// Writes an MBR with up to four primary entries (LBA only, CHS fields set to the "use LBA"
// marker) and the boot signature into a zeroed 512-byte sector.
void encodeMbr(unsigned char *sector, const PartitionEntry *entries, int count);

struct Superblock {
    uint32_t version = kFormatVersion;
    uint32_t sectorBytes = kSectorBytes;
    uint32_t clusterBytes = 0;
    uint32_t flags = 0;
    uint64_t partitionBytes = 0;
    uint64_t dataOffset = 0;          // bytes from the partition start to cluster 0
    uint64_t dataClusters = 0;
    uint64_t dirTableOffset = 0;      // bytes from the partition start
    uint32_t dirCount = 0;
    uint32_t dirEntryBytes = kDirEntryBytes;
    uint64_t fileTableOffset = 0;
    uint32_t fileCount = 0;
    uint32_t fileEntryBytes = kFileEntryBytes;
};

void encodeSuperblock(const Superblock &sb, unsigned char *out512);
// Decodes and checks a superblock against the partition it was read from: magic, CRC,
// version, sizes, every region inside the partition, no region overlapping another. On
// failure returns nullopt and sets *why (may be null).
std::optional<Superblock> decodeSuperblock(const unsigned char *in512, uint64_t partitionBytes,
                                           std::string *why);

struct DirEntry {
    std::string name;
};

void encodeDirEntry(const DirEntry &entry, unsigned char *out64);
std::optional<DirEntry> decodeDirEntry(const unsigned char *in64, std::string *why);

struct FileEntry {
    std::string name;
    uint32_t fileId = 0;
    uint32_t dirIndex = 0;
    uint64_t size = 0;
    int64_t time = 0;                 // seconds since 1970-01-01 UTC
    uint64_t firstCluster = 0;
    uint64_t clusterCount = 0;
};

void encodeFileEntry(const FileEntry &entry, unsigned char *out128);
// Checks the entry on its own and against the superblock (directory index, cluster run inside
// the data area, cluster count matching the size). Cross-entry checks (unique identifiers and
// names, no overlapping runs) belong to the reader.
std::optional<FileEntry> decodeFileEntry(const unsigned char *in128, const Superblock &sb,
                                         std::string *why);

bool isValidDirName(std::string_view name);
bool isValidFileName(std::string_view name);
// Clusters needed for `size` bytes; clusterBytes is a power of two >= 512.
uint64_t clustersFor(uint64_t size, uint32_t clusterBytes);

inline uint64_t alignUp(uint64_t value, uint64_t align)
{
    return (value + align - 1) / align * align;
}

} // namespace tavo
