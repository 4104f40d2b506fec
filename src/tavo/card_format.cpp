#include "card_format.h"

#include "byte_order.h"
#include "crc32.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tavo {
namespace {

constexpr char kMagic[8] = {'T', 'A', 'V', 'O', 'F', 'S', '0', '1'};
constexpr size_t kMbrTableOffset = 446;
constexpr size_t kSuperblockCrcOffset = 508;
constexpr size_t kDirNameField = 48;
constexpr size_t kDirCrcOffset = 60;
constexpr size_t kFileNameField = 64;
constexpr size_t kFileCrcOffset = 124;

std::nullopt_t reject(std::string *why, const char *text)
{
    if (why)
        *why = text;
    return std::nullopt;
}

bool allZero(const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// A name field: 1..field-1 bytes, NUL-terminated inside the field, zero after the NUL.
std::optional<std::string> decodeName(const unsigned char *field, size_t fieldBytes)
{
    const void *nul = std::memchr(field, 0, fieldBytes);
    if (!nul)
        return std::nullopt;
    const size_t length = static_cast<size_t>(static_cast<const unsigned char *>(nul) - field);
    if (length == 0 || !allZero(field + length, fieldBytes - length))
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(field), length);
}

bool validName(std::string_view name, size_t maxBytes)
{
    return !name.empty() && name.size() <= maxBytes &&
           name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// The fuzz build skips CRC comparisons so that mutated inputs reach the bounds checks behind
// them; every other build compares.
bool crcMatches(const unsigned char *data, size_t size, const unsigned char *stored)
{
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    (void)data;
    (void)size;
    (void)stored;
    return true;
#else
    return crc32(data, size) == loadLe32(stored);
#endif
}

struct Region {
    uint64_t begin;
    uint64_t end;
};

} // namespace

bool isValidDirName(std::string_view name)
{
    return validName(name, kMaxDirNameBytes);
}

bool isValidFileName(std::string_view name)
{
    return validName(name, kMaxFileNameBytes);
}

uint64_t clustersFor(uint64_t size, uint32_t clusterBytes)
{
    return size / clusterBytes + (size % clusterBytes != 0 ? 1 : 0);
}

std::optional<MbrLayout> parseMbr(const unsigned char *sector, uint64_t diskSectors)
{
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return std::nullopt;
    MbrLayout layout;
    for (int i = 0; i < 4; ++i) {
        const unsigned char *e = sector + kMbrTableOffset + 16 * i;
        PartitionEntry entry;
        entry.type = e[4];
        entry.firstSector = loadLe32(e + 8);
        entry.sectorCount = loadLe32(e + 12);
        if (entry.type == 0 || entry.sectorCount == 0 || entry.firstSector == 0)
            continue;
        const uint64_t end = uint64_t{entry.firstSector} + entry.sectorCount;
        const bool inside = end <= diskSectors;
        if (entry.type == kTypeTavo && !layout.tavo) {
            if (!inside)
                return std::nullopt;
            layout.tavo = entry;
        } else if ((entry.type == kTypeFat32Lba || entry.type == 0x0B) && !layout.fat && inside) {
            layout.fat = entry;
        }
    }
    return layout;
}

void encodeMbr(unsigned char *sector, const PartitionEntry *entries, int count)
{
    for (int i = 0; i < count && i < 4; ++i) {
        unsigned char *e = sector + kMbrTableOffset + 16 * i;
        e[0] = 0x00;
        // CHS fields hold the "beyond CHS" marker; every reader uses the LBA fields.
        e[1] = 0xFE; e[2] = 0xFF; e[3] = 0xFF;
        e[4] = entries[i].type;
        e[5] = 0xFE; e[6] = 0xFF; e[7] = 0xFF;
        storeLe32(e + 8, entries[i].firstSector);
        storeLe32(e + 12, entries[i].sectorCount);
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

void encodeSuperblock(const Superblock &sb, unsigned char *out)
{
    std::memset(out, 0, kSuperblockBytes);
    std::memcpy(out, kMagic, sizeof kMagic);
    storeLe32(out + 8, sb.version);
    storeLe32(out + 12, sb.sectorBytes);
    storeLe32(out + 16, sb.clusterBytes);
    storeLe32(out + 20, sb.flags);
    storeLe64(out + 24, sb.partitionBytes);
    storeLe64(out + 32, sb.dataOffset);
    storeLe64(out + 40, sb.dataClusters);
    storeLe64(out + 48, sb.dirTableOffset);
    storeLe32(out + 56, sb.dirCount);
    storeLe32(out + 60, sb.dirEntryBytes);
    storeLe64(out + 64, sb.fileTableOffset);
    storeLe32(out + 72, sb.fileCount);
    storeLe32(out + 76, sb.fileEntryBytes);
    storeLe32(out + kSuperblockCrcOffset, crc32(out, kSuperblockCrcOffset));
}

std::optional<Superblock> decodeSuperblock(const unsigned char *in, uint64_t partitionBytes,
                                           std::string *why)
{
    if (std::memcmp(in, kMagic, sizeof kMagic) != 0)
        return reject(why, "wrong superblock magic");
    if (!crcMatches(in, kSuperblockCrcOffset, in + kSuperblockCrcOffset))
        return reject(why, "superblock CRC mismatch");
    Superblock sb;
    sb.version = loadLe32(in + 8);
    sb.sectorBytes = loadLe32(in + 12);
    sb.clusterBytes = loadLe32(in + 16);
    sb.flags = loadLe32(in + 20);
    sb.partitionBytes = loadLe64(in + 24);
    sb.dataOffset = loadLe64(in + 32);
    sb.dataClusters = loadLe64(in + 40);
    sb.dirTableOffset = loadLe64(in + 48);
    sb.dirCount = loadLe32(in + 56);
    sb.dirEntryBytes = loadLe32(in + 60);
    sb.fileTableOffset = loadLe64(in + 64);
    sb.fileCount = loadLe32(in + 72);
    sb.fileEntryBytes = loadLe32(in + 76);

    if (sb.version != kFormatVersion)
        return reject(why, "unknown format version");
    if (sb.sectorBytes != kSectorBytes || sb.flags != 0 ||
        !allZero(in + 80, kSuperblockCrcOffset - 80))
        return reject(why, "unsupported superblock fields");
    if (sb.clusterBytes < kMinClusterBytes || sb.clusterBytes > kMaxClusterBytes ||
        (sb.clusterBytes & (sb.clusterBytes - 1)) != 0)
        return reject(why, "bad cluster size");
    if (sb.partitionBytes != partitionBytes)
        return reject(why, "superblock length differs from the partition");
    if (sb.dirEntryBytes != kDirEntryBytes || sb.fileEntryBytes != kFileEntryBytes)
        return reject(why, "unsupported table entry size");
    if (sb.dirCount > kMaxDirectories || sb.fileCount > kMaxFiles)
        return reject(why, "too many table entries");
    if (sb.dataOffset % kSectorBytes != 0 || sb.dirTableOffset % kSectorBytes != 0 ||
        sb.fileTableOffset % kSectorBytes != 0)
        return reject(why, "region not sector aligned");
    if (sb.dataClusters > partitionBytes / sb.clusterBytes)
        return reject(why, "data area larger than the partition");

    // Every region inside the partition (offsets are checked before they are added, so the
    // sums cannot wrap) and no two non-empty regions overlapping.
    const std::array<std::pair<uint64_t, uint64_t>, 4> spans = {{
        {0, kSuperblockBytes},
        {sb.dataOffset, sb.dataClusters * sb.clusterBytes},
        {sb.dirTableOffset, uint64_t{sb.dirCount} * kDirEntryBytes},
        {sb.fileTableOffset, uint64_t{sb.fileCount} * kFileEntryBytes},
    }};
    std::array<Region, 4> regions{};
    for (size_t i = 0; i < spans.size(); ++i) {
        const auto [offset, length] = spans[i];
        if (offset > partitionBytes || length > partitionBytes - offset)
            return reject(why, "region outside the partition");
        regions[i] = {offset, offset + length};
    }
    for (size_t i = 0; i < regions.size(); ++i)
        for (size_t j = i + 1; j < regions.size(); ++j) {
            const Region &a = regions[i];
            const Region &b = regions[j];
            if (a.begin == a.end || b.begin == b.end)
                continue;
            if (a.begin < b.end && b.begin < a.end)
                return reject(why, "regions overlap");
        }
    return sb;
}

void encodeDirEntry(const DirEntry &entry, unsigned char *out)
{
    std::memset(out, 0, kDirEntryBytes);
    std::memcpy(out, entry.name.data(), std::min(entry.name.size(), kDirNameField - 1));
    storeLe32(out + kDirCrcOffset, crc32(out, kDirCrcOffset));
}

std::optional<DirEntry> decodeDirEntry(const unsigned char *in, std::string *why)
{
    if (!crcMatches(in, kDirCrcOffset, in + kDirCrcOffset))
        return reject(why, "directory entry CRC mismatch");
    auto name = decodeName(in, kDirNameField);
    if (!name || !isValidDirName(*name))
        return reject(why, "bad directory name");
    if (!allZero(in + kDirNameField, kDirCrcOffset - kDirNameField))
        return reject(why, "unsupported directory entry fields");
    return DirEntry{std::move(*name)};
}

void encodeFileEntry(const FileEntry &entry, unsigned char *out)
{
    std::memset(out, 0, kFileEntryBytes);
    std::memcpy(out, entry.name.data(), std::min(entry.name.size(), kFileNameField - 1));
    storeLe32(out + 64, entry.fileId);
    storeLe32(out + 68, entry.dirIndex);
    storeLe64(out + 72, entry.size);
    storeLe64(out + 80, static_cast<uint64_t>(entry.time));
    storeLe64(out + 88, entry.firstCluster);
    storeLe64(out + 96, entry.clusterCount);
    storeLe32(out + kFileCrcOffset, crc32(out, kFileCrcOffset));
}

std::optional<FileEntry> decodeFileEntry(const unsigned char *in, const Superblock &sb,
                                         std::string *why)
{
    if (!crcMatches(in, kFileCrcOffset, in + kFileCrcOffset))
        return reject(why, "file entry CRC mismatch");
    auto name = decodeName(in, kFileNameField);
    if (!name || !isValidFileName(*name))
        return reject(why, "bad file name");
    FileEntry e;
    e.name = std::move(*name);
    e.fileId = loadLe32(in + 64);
    e.dirIndex = loadLe32(in + 68);
    e.size = loadLe64(in + 72);
    e.time = static_cast<int64_t>(loadLe64(in + 80));
    e.firstCluster = loadLe64(in + 88);
    e.clusterCount = loadLe64(in + 96);
    if (!allZero(in + 104, kFileCrcOffset - 104))
        return reject(why, "unsupported file entry fields");
    if (e.fileId == 0 || e.fileId > kMaxFileId)
        return reject(why, "bad file identifier");
    if (e.dirIndex >= sb.dirCount)
        return reject(why, "file in an unknown directory");
    if (e.size > kMaxFileBytes)
        return reject(why, "file too large");
    if (e.clusterCount != clustersFor(e.size, sb.clusterBytes))
        return reject(why, "cluster count does not match the size");
    if (e.clusterCount == 0 ? e.firstCluster != 0
                            : (e.firstCluster >= sb.dataClusters ||
                               e.clusterCount > sb.dataClusters - e.firstCluster))
        return reject(why, "cluster run outside the data area");
    return e;
}

} // namespace tavo
