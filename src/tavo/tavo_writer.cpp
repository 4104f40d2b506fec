#include "tavo_writer.h"

#include "card_format.h"
#include "disk_file.h"

#include <algorithm>
#include <vector>

namespace tavo {

struct CardWriter::State {
    DiskFile disk;
    uint64_t fatOffset = 0;
    uint64_t fatBytes = 0;
    uint64_t tavoOffset = 0;
    uint64_t tavoBytes = 0;
    uint32_t clusterBytes = 0;
    uint64_t dataOffset = 0;          // bytes from the partition start to cluster 0
    uint64_t nextCluster = 0;         // first free cluster; data grows upwards from cluster 0
    uint32_t nextFileId = 1;
    std::vector<DirEntry> directories;
    std::vector<FileEntry> files;
    bool superblockValid = false;     // the card on disk is readable right now
    std::string lastError;

    // The tables sit at the end of the partition, so the data area ends where they begin.
    uint64_t tablesOffset(size_t dirCount, size_t fileCount) const
    {
        const uint64_t bytes = alignUp(uint64_t{dirCount} * kDirEntryBytes, kSectorBytes) +
                               alignUp(uint64_t{fileCount} * kFileEntryBytes, kSectorBytes);
        return bytes > tavoBytes ? 0 : (tavoBytes - bytes) / kSectorBytes * kSectorBytes;
    }
    uint64_t dataClusters(size_t dirCount, size_t fileCount) const
    {
        const uint64_t tables = tablesOffset(dirCount, fileCount);
        return tables <= dataOffset ? 0 : (tables - dataOffset) / clusterBytes;
    }
    bool fail(std::string text)
    {
        lastError = std::move(text);
        return false;
    }
    // Before anything changes on disk the old superblock goes, so that an interrupted writer
    // leaves an unreadable card rather than one whose tables disagree with its data.
    bool invalidate()
    {
        if (!superblockValid)
            return true;
        const std::vector<unsigned char> zero(kSuperblockBytes, 0);
        if (!disk.writeExact(tavoOffset, zero.data(), zero.size()))
            return fail("cannot clear the superblock");
        superblockValid = false;
        return true;
    }
    bool start(uint32_t cluster, std::string *error)
    {
        clusterBytes = cluster;
        dataOffset = alignUp(kSuperblockBytes, clusterBytes);
        if (tavoBytes <= dataOffset) {
            if (error)
                *error = "TAVO partition too small for one cluster";
            return false;
        }
        superblockValid = true;   // force the clearing write below
        if (!invalidate()) {
            if (error)
                *error = lastError;
            return false;
        }
        return true;
    }
};

namespace {

bool setError(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

bool validClusterBytes(uint32_t bytes)
{
    return bytes >= kMinClusterBytes && bytes <= kMaxClusterBytes && (bytes & (bytes - 1)) == 0;
}

} // namespace

CardWriter::CardWriter(std::unique_ptr<State> state) : m_state(std::move(state)) {}
CardWriter::~CardWriter() = default;

std::unique_ptr<CardWriter> CardWriter::createImage(const std::string &path,
                                                    const CardLayout &layout, std::string *error)
{
    if (layout.totalBytes == 0 || layout.totalBytes % kSectorBytes != 0 ||
        layout.fatBytes == 0 || layout.fatBytes % kSectorBytes != 0)
        return setError(error, "image and FAT sizes must be non-zero multiples of 512"), nullptr;
    if (!validClusterBytes(layout.clusterBytes))
        return setError(error, "cluster size must be a power of two from 512 to 64 MiB"), nullptr;
    if (layout.fatStartSector == 0 || layout.alignSectors == 0)
        return setError(error, "partition start and alignment must be at least one sector"),
               nullptr;
    const uint64_t totalSectors = layout.totalBytes / kSectorBytes;
    const uint64_t fatSectors = layout.fatBytes / kSectorBytes;
    const uint64_t tavoStart = alignUp(uint64_t{layout.fatStartSector} + fatSectors,
                                       layout.alignSectors);
    if (totalSectors > 0xFFFFFFFFu)
        return setError(error, "image too large for an MBR (2 TiB)"), nullptr;
    if (tavoStart >= totalSectors)
        return setError(error, "no room for the TAVO partition after the FAT partition"),
               nullptr;

    auto state = std::make_unique<State>();
    if (!state->disk.open(path, DiskFile::Mode::CreateTruncate, error))
        return nullptr;
    if (!state->disk.truncate(layout.totalBytes))
        return setError(error, "cannot size " + path), nullptr;
    const PartitionEntry entries[2] = {
        {kTypeFat32Lba, layout.fatStartSector, static_cast<uint32_t>(fatSectors)},
        {kTypeTavo, static_cast<uint32_t>(tavoStart),
         static_cast<uint32_t>(totalSectors - tavoStart)},
    };
    unsigned char mbr[kSectorBytes] = {};
    encodeMbr(mbr, entries, 2);
    if (!state->disk.writeExact(0, mbr, sizeof mbr))
        return setError(error, "cannot write the partition table"), nullptr;
    state->fatOffset = uint64_t{layout.fatStartSector} * kSectorBytes;
    state->fatBytes = layout.fatBytes;
    state->tavoOffset = tavoStart * kSectorBytes;
    state->tavoBytes = (totalSectors - tavoStart) * kSectorBytes;
    if (!state->start(layout.clusterBytes, error))
        return nullptr;
    return std::unique_ptr<CardWriter>(new CardWriter(std::move(state)));
}

std::unique_ptr<CardWriter> CardWriter::formatExisting(const std::string &path,
                                                       std::string *error)
{
    return formatExisting(path, 65536, error);
}

std::unique_ptr<CardWriter> CardWriter::formatExisting(const std::string &path,
                                                       uint32_t clusterBytes, std::string *error)
{
    if (!validClusterBytes(clusterBytes))
        return setError(error, "cluster size must be a power of two from 512 to 64 MiB"), nullptr;
    auto state = std::make_unique<State>();
    if (!state->disk.open(path, DiskFile::Mode::ReadWrite, error))
        return nullptr;
    unsigned char sector[kSectorBytes];
    if (state->disk.size() < kSectorBytes || !state->disk.readExact(0, sector, sizeof sector))
        return setError(error, "cannot read the partition table of " + path), nullptr;
    const auto mbr = parseMbr(sector, state->disk.size() / kSectorBytes);
    if (!mbr || !mbr->tavo)
        return setError(error, path + " has no TAVO partition"), nullptr;
    if (mbr->fat) {
        state->fatOffset = uint64_t{mbr->fat->firstSector} * kSectorBytes;
        state->fatBytes = uint64_t{mbr->fat->sectorCount} * kSectorBytes;
    }
    state->tavoOffset = uint64_t{mbr->tavo->firstSector} * kSectorBytes;
    state->tavoBytes = uint64_t{mbr->tavo->sectorCount} * kSectorBytes;
    if (!state->start(clusterBytes, error))
        return nullptr;
    return std::unique_ptr<CardWriter>(new CardWriter(std::move(state)));
}

bool CardWriter::addDirectory(const std::string &name)
{
    State &s = *m_state;
    if (!isValidDirName(name))
        return s.fail("bad directory name '" + name + "'");
    if (s.directories.size() >= kMaxDirectories)
        return s.fail("too many directories");
    for (const DirEntry &d : s.directories)
        if (d.name == name)
            return s.fail("directory '" + name + "' exists");
    if (s.nextCluster > s.dataClusters(s.directories.size() + 1, s.files.size()))
        return s.fail("no room for another directory");
    if (!s.invalidate())
        return false;
    s.directories.push_back(DirEntry{name});
    s.lastError.clear();
    return true;
}

uint32_t CardWriter::addFile(const std::string &directory, const std::string &name,
                             int64_t unixTime, const void *data, size_t size)
{
    State &s = *m_state;
    auto dir = std::find_if(s.directories.begin(), s.directories.end(),
                            [&](const DirEntry &d) { return d.name == directory; });
    if (dir == s.directories.end())
        return s.fail("no directory '" + directory + "'"), 0;
    if (!isValidFileName(name))
        return s.fail("bad file name '" + name + "'"), 0;
    if (size > kMaxFileBytes)
        return s.fail("file '" + name + "' is 4 GiB or larger"), 0;
    if (s.files.size() >= kMaxFiles || s.nextFileId > kMaxFileId)
        return s.fail("too many files"), 0;
    const auto dirIndex = static_cast<uint32_t>(dir - s.directories.begin());
    for (const FileEntry &f : s.files)
        if (f.dirIndex == dirIndex && f.name == name)
            return s.fail("file '" + directory + "/" + name + "' exists"), 0;
    const uint64_t clusters = clustersFor(size, s.clusterBytes);
    const uint64_t room = s.dataClusters(s.directories.size(), s.files.size() + 1);
    if (s.nextCluster > room || clusters > room - s.nextCluster)
        return s.fail("no room for '" + name + "'"), 0;
    if (!s.invalidate())
        return 0;
    const uint64_t first = clusters == 0 ? 0 : s.nextCluster;
    const uint64_t at = s.tavoOffset + s.dataOffset + first * s.clusterBytes;
    if (size > 0 && !s.disk.writeExact(at, data, size))
        return s.fail("cannot write the data of '" + name + "'"), 0;
    FileEntry entry;
    entry.name = name;
    entry.fileId = s.nextFileId++;
    entry.dirIndex = dirIndex;
    entry.size = size;
    entry.time = unixTime;
    entry.firstCluster = first;
    entry.clusterCount = clusters;
    s.files.push_back(entry);
    s.nextCluster += clusters;
    s.lastError.clear();
    return entry.fileId;
}

uint32_t CardWriter::addFileFromPath(const std::string &directory, const std::string &name,
                                     int64_t unixTime, const std::string &sourcePath)
{
    State &s = *m_state;
    DiskFile source;
    std::string why;
    if (!source.open(sourcePath, DiskFile::Mode::ReadOnly, &why))
        return s.fail(why), 0;
    const uint64_t size = source.size();
    if (size > kMaxFileBytes)
        return s.fail("file '" + sourcePath + "' is 4 GiB or larger"), 0;
    // Reserve the entry with no data first (all checks in one place), then copy the bytes
    // into the run it would have had.
    const uint64_t first = s.nextCluster;
    const uint64_t clusters = clustersFor(size, s.clusterBytes);
    const uint64_t room = s.dataClusters(s.directories.size(), s.files.size() + 1);
    if (first > room || clusters > room - first)
        return s.fail("no room for '" + name + "'"), 0;
    const uint32_t id = addFile(directory, name, unixTime, nullptr, 0);
    if (id == 0)
        return 0;
    FileEntry &entry = s.files.back();
    std::vector<unsigned char> buffer(std::min<uint64_t>(size, 4u << 20));
    const uint64_t at = s.tavoOffset + s.dataOffset + first * s.clusterBytes;
    for (uint64_t done = 0; done < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
        if (!source.readExact(done, buffer.data(), n) ||
            !s.disk.writeExact(at + done, buffer.data(), n)) {
            s.files.pop_back();
            return s.fail("cannot copy '" + sourcePath + "'"), 0;
        }
        done += n;
    }
    entry.size = size;
    entry.firstCluster = clusters == 0 ? 0 : first;
    entry.clusterCount = clusters;
    s.nextCluster = first + clusters;
    return id;
}

bool CardWriter::finish(std::string *error)
{
    State &s = *m_state;
    Superblock sb;
    sb.clusterBytes = s.clusterBytes;
    sb.partitionBytes = s.tavoBytes;
    sb.dataOffset = s.dataOffset;
    sb.dataClusters = s.dataClusters(s.directories.size(), s.files.size());
    sb.dirTableOffset = s.tablesOffset(s.directories.size(), s.files.size());
    sb.dirCount = static_cast<uint32_t>(s.directories.size());
    sb.fileTableOffset =
        sb.dirTableOffset + alignUp(uint64_t{sb.dirCount} * kDirEntryBytes, kSectorBytes);
    sb.fileCount = static_cast<uint32_t>(s.files.size());
    if (s.nextCluster > sb.dataClusters)
        return setError(error, "file data and tables overlap");

    // At most 64 KiB of directories and 32 MiB of files by the table limits.
    std::vector<unsigned char> tables(
        static_cast<size_t>(alignUp(uint64_t{sb.dirCount} * kDirEntryBytes, kSectorBytes) +
                            alignUp(uint64_t{sb.fileCount} * kFileEntryBytes, kSectorBytes)),
        0);
    for (size_t i = 0; i < s.directories.size(); ++i)
        encodeDirEntry(s.directories[i], tables.data() + i * kDirEntryBytes);
    const size_t fileBase = static_cast<size_t>(sb.fileTableOffset - sb.dirTableOffset);
    for (size_t i = 0; i < s.files.size(); ++i)
        encodeFileEntry(s.files[i], tables.data() + fileBase + i * kFileEntryBytes);
    unsigned char raw[kSuperblockBytes];
    encodeSuperblock(sb, raw);

    // Tables first and on the medium, then the superblock that makes them visible.
    if (!s.invalidate())
        return setError(error, s.lastError);
    if (!s.disk.writeExact(s.tavoOffset + sb.dirTableOffset, tables.data(), tables.size()) ||
        !s.disk.sync())
        return setError(error, "cannot write the tables");
    if (!s.disk.writeExact(s.tavoOffset, raw, sizeof raw) || !s.disk.sync())
        return setError(error, "cannot write the superblock");
    s.superblockValid = true;
    return true;
}

uint64_t CardWriter::fatPartitionOffset() const { return m_state->fatOffset; }
uint64_t CardWriter::fatPartitionBytes() const { return m_state->fatBytes; }
uint64_t CardWriter::tavoPartitionOffset() const { return m_state->tavoOffset; }
uint64_t CardWriter::tavoPartitionBytes() const { return m_state->tavoBytes; }
uint32_t CardWriter::clusterBytes() const { return m_state->clusterBytes; }
const std::string &CardWriter::lastError() const { return m_state->lastError; }

uint64_t CardWriter::freeBytes() const
{
    const State &s = *m_state;
    const uint64_t room = s.dataClusters(s.directories.size(), s.files.size() + 1);
    return room > s.nextCluster ? (room - s.nextCluster) * s.clusterBytes : 0;
}

} // namespace tavo
