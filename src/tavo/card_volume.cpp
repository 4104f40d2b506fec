#include "card_volume.h"

#include "tavo.h"

#include <algorithm>
#include <unordered_set>

namespace tavo {
namespace {

bool setWhy(std::string *why, std::string text)
{
    if (why)
        *why = std::move(text);
    return false;
}

// Reads sector 0 and the MBR; the result codes are those of tavo.h.
int readMbr(const DiskFile &disk, std::optional<MbrLayout> *layout)
{
    unsigned char sector[kSectorBytes];
    if (disk.size() < kSectorBytes)
        return VX_TAVO_ERR_NO_PARTITION;
    if (!disk.readExact(0, sector, sizeof sector))
        return VX_TAVO_ERR_IO;
    *layout = parseMbr(sector, disk.size() / kSectorBytes);
    return VX_TAVO_OK;
}

} // namespace

int probeDisk(const std::string &path, DiskProbe *probe)
{
    *probe = DiskProbe{};
    DiskFile disk;
    if (!disk.open(path, DiskFile::Mode::ReadOnly, nullptr))
        return VX_TAVO_ERR_IO;
    probe->diskBytes = disk.size();
    std::optional<MbrLayout> mbr;
    const int rc = readMbr(disk, &mbr);
    if (rc == VX_TAVO_ERR_IO)
        return rc;
    if (!mbr)
        return VX_TAVO_OK;
    probe->fat = mbr->fat;
    probe->tavo = mbr->tavo;
    if (mbr->tavo && mbr->tavo->sectorCount * uint64_t{kSectorBytes} >= kSuperblockBytes) {
        unsigned char sb[kSuperblockBytes];
        const uint64_t offset = uint64_t{mbr->tavo->firstSector} * kSectorBytes;
        probe->tavoValid =
            disk.readExact(offset, sb, sizeof sb) &&
            decodeSuperblock(sb, uint64_t{mbr->tavo->sectorCount} * kSectorBytes, nullptr);
    }
    return VX_TAVO_OK;
}

int CardVolume::open(const std::string &path, std::unique_ptr<CardVolume> *volume,
                     std::string *why)
{
    std::unique_ptr<CardVolume> v(new CardVolume);
    const int rc = v->load(path, why);
    if (rc == VX_TAVO_OK)
        *volume = std::move(v);
    return rc;
}

int CardVolume::load(const std::string &path, std::string *why)
{
    if (!m_disk.open(path, DiskFile::Mode::ReadOnly, why))
        return VX_TAVO_ERR_IO;
    std::optional<MbrLayout> mbr;
    if (const int rc = readMbr(m_disk, &mbr); rc != VX_TAVO_OK) {
        setWhy(why, "cannot read the partition table");
        return rc;
    }
    if (!mbr || !mbr->tavo) {
        setWhy(why, "no TAVO partition in the partition table");
        return VX_TAVO_ERR_NO_PARTITION;
    }
    // parseMbr has checked that the partition lies inside the disk.
    m_partitionOffset = uint64_t{mbr->tavo->firstSector} * kSectorBytes;
    const uint64_t partitionBytes = uint64_t{mbr->tavo->sectorCount} * kSectorBytes;
    if (partitionBytes < kSuperblockBytes) {
        setWhy(why, "TAVO partition too small");
        return VX_TAVO_ERR_DAMAGED;
    }
    unsigned char raw[kSuperblockBytes];
    if (!m_disk.readExact(m_partitionOffset, raw, sizeof raw)) {
        setWhy(why, "cannot read the superblock");
        return VX_TAVO_ERR_IO;
    }
    std::optional<Superblock> sb = decodeSuperblock(raw, partitionBytes, why);
    if (!sb)
        return VX_TAVO_ERR_DAMAGED;
    m_superblock = *sb;
    return loadTables(why);
}

int CardVolume::loadTables(std::string *why)
{
    const Superblock &sb = m_superblock;
    // Table sizes are bounded by the entry limits and by the partition (checked with the
    // superblock), so these buffers never exceed the card itself.
    std::vector<unsigned char> raw(size_t{sb.dirCount} * kDirEntryBytes);
    if (!raw.empty() && !m_disk.readExact(m_partitionOffset + sb.dirTableOffset, raw.data(),
                                          raw.size())) {
        setWhy(why, "cannot read the directory table");
        return VX_TAVO_ERR_IO;
    }
    std::unordered_set<std::string> dirNames;
    m_directories.reserve(sb.dirCount);
    for (uint32_t i = 0; i < sb.dirCount; ++i) {
        std::optional<DirEntry> entry = decodeDirEntry(raw.data() + size_t{i} * kDirEntryBytes, why);
        if (!entry)
            return VX_TAVO_ERR_DAMAGED;
        if (!dirNames.insert(entry->name).second) {
            setWhy(why, "duplicate directory name");
            return VX_TAVO_ERR_DAMAGED;
        }
        m_directories.push_back(std::move(*entry));
    }

    raw.assign(size_t{sb.fileCount} * kFileEntryBytes, 0);
    if (!raw.empty() && !m_disk.readExact(m_partitionOffset + sb.fileTableOffset, raw.data(),
                                          raw.size())) {
        setWhy(why, "cannot read the file table");
        return VX_TAVO_ERR_IO;
    }
    m_byDirectory.assign(sb.dirCount, {});
    m_files.reserve(sb.fileCount);
    m_byId.reserve(sb.fileCount);
    std::unordered_set<std::string> paths;
    for (uint32_t i = 0; i < sb.fileCount; ++i) {
        std::optional<FileEntry> entry =
            decodeFileEntry(raw.data() + size_t{i} * kFileEntryBytes, sb, why);
        if (!entry)
            return VX_TAVO_ERR_DAMAGED;
        if (!m_byId.emplace(entry->fileId, i).second) {
            setWhy(why, "duplicate file identifier");
            return VX_TAVO_ERR_DAMAGED;
        }
        if (!paths.insert(std::to_string(entry->dirIndex) + '/' + entry->name).second) {
            setWhy(why, "duplicate file name in a directory");
            return VX_TAVO_ERR_DAMAGED;
        }
        m_byDirectory[entry->dirIndex].push_back(i);
        m_files.push_back(std::move(*entry));
    }

    // No two cluster runs may share a cluster.
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    runs.reserve(m_files.size());
    for (const FileEntry &f : m_files)
        if (f.clusterCount > 0)
            runs.emplace_back(f.firstCluster, f.clusterCount);
    std::sort(runs.begin(), runs.end());
    for (size_t i = 1; i < runs.size(); ++i)
        if (runs[i].first - runs[i - 1].first < runs[i - 1].second) {
            setWhy(why, "cluster runs overlap");
            return VX_TAVO_ERR_DAMAGED;
        }
    return VX_TAVO_OK;
}

std::optional<size_t> CardVolume::findDirectory(std::string_view name) const
{
    for (size_t i = 0; i < m_directories.size(); ++i)
        if (m_directories[i].name == name)
            return i;
    return std::nullopt;
}

std::optional<size_t> CardVolume::findFileById(uint32_t fileId) const
{
    const auto it = m_byId.find(fileId);
    if (it == m_byId.end())
        return std::nullopt;
    return it->second;
}

int64_t CardVolume::read(const FileEntry &file, uint64_t offset, void *buffer,
                         size_t length) const
{
    if (offset >= file.size || length == 0)
        return 0;
    const uint64_t count = std::min<uint64_t>(length, file.size - offset);
    // Inside the partition by the checks at open: the run lies in the data area.
    const uint64_t at = m_partitionOffset + m_superblock.dataOffset +
                        file.firstCluster * m_superblock.clusterBytes + offset;
    if (!m_disk.readExact(at, buffer, static_cast<size_t>(count)))
        return -1;
    return static_cast<int64_t>(count);
}

} // namespace tavo
