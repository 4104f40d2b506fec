// Damaged cards: every broken structure makes the open fail with a result code, never a read
// outside the partition or a crash.

#include "tavo_test_support.h"

#include "tavo/byte_order.h"
#include "tavo/card_format.h"
#include "tavo/crc32.h"

#include <filesystem>
#include <functional>

namespace tavo::testing {
namespace {

class DamageTest : public TavoTest {
protected:
    void SetUp() override
    {
        TavoTest::SetUp();
        auto writer = createCard("card.img", 8u << 20, 4096);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->addDirectory("NOR"));
        ASSERT_TRUE(writer->addDirectory("EVT"));
        const auto a = patternBytes(10000, 1);
        ASSERT_GE(writer->addFile("NOR", "a.tavo", 10, a.data(), a.size()), 1u);
        ASSERT_GE(writer->addFile("NOR", "b.tavo", 20, a.data(), 5000), 1u);
        ASSERT_GE(writer->addFile("EVT", "c.tavo", 30, "c", 1), 1u);
        std::string error;
        ASSERT_TRUE(writer->finish(&error)) << error;
        m_partition = writer->tavoPartitionOffset();
        m_partitionBytes = writer->tavoPartitionBytes();
        ASSERT_EQ(openResult(), VX_TAVO_OK);
        m_sb = superblock();
    }

    int openResult()
    {
        DeviceBlock block;
        return VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get());
    }
    bool check() { return VX_Tavo_Check_Tavo_partition(path("card.img").c_str()) != 0; }

    Superblock superblock()
    {
        const auto raw = readBytes(path("card.img"), m_partition, kSuperblockBytes);
        auto sb = decodeSuperblock(raw.data(), m_partitionBytes, nullptr);
        EXPECT_TRUE(sb);
        return sb.value_or(Superblock{});
    }
    void patchSuperblock(const std::function<void(Superblock &)> &change)
    {
        Superblock sb = m_sb;
        change(sb);
        unsigned char raw[kSuperblockBytes];
        encodeSuperblock(sb, raw);
        writeBytes(path("card.img"), m_partition, raw, sizeof raw);
    }
    uint64_t fileEntryOffset(uint32_t index) const
    {
        return m_partition + m_sb.fileTableOffset + uint64_t{index} * kFileEntryBytes;
    }
    void patchFile(uint32_t index, const std::function<void(FileEntry &)> &change)
    {
        const auto raw = readBytes(path("card.img"), fileEntryOffset(index), kFileEntryBytes);
        auto entry = decodeFileEntry(raw.data(), m_sb, nullptr);
        ASSERT_TRUE(entry);
        change(*entry);
        unsigned char out[kFileEntryBytes];
        encodeFileEntry(*entry, out);
        writeBytes(path("card.img"), fileEntryOffset(index), out, sizeof out);
    }
    // Rewrites raw bytes of a file entry and gives it a correct CRC again.
    void patchFileRaw(uint32_t index, size_t at, const std::vector<unsigned char> &bytes)
    {
        auto raw = readBytes(path("card.img"), fileEntryOffset(index), kFileEntryBytes);
        std::copy(bytes.begin(), bytes.end(), raw.begin() + static_cast<std::ptrdiff_t>(at));
        storeLe32(raw.data() + 124, crc32(raw.data(), 124));
        writeBytes(path("card.img"), fileEntryOffset(index), raw.data(), raw.size());
    }

    uint64_t m_partition = 0;
    uint64_t m_partitionBytes = 0;
    Superblock m_sb;
};

TEST_F(DamageTest, WrongMagicOrSuperblockCrc)
{
    writeBytes(path("card.img"), m_partition, "TAVOFS02", 8);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);
    EXPECT_FALSE(check());
    writeBytes(path("card.img"), m_partition, "TAVOFS01", 8);
    EXPECT_TRUE(check());
    const unsigned char one = 1;
    writeBytes(path("card.img"), m_partition + 200, &one, 1);   // reserved byte, CRC now wrong
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);
    EXPECT_FALSE(check());
}

TEST_F(DamageTest, SuperblockFieldsOutsideThePartition)
{
    const std::vector<std::pair<const char *, std::function<void(Superblock &)>>> cases = {
        {"partition longer", [&](Superblock &s) { s.partitionBytes += 512; }},
        {"data area past the end", [&](Superblock &s) { s.dataClusters += 2000; }},
        {"data area wraps", [&](Superblock &s) { s.dataOffset = ~uint64_t{0} - 511; }},
        {"file table outside", [&](Superblock &s) { s.fileTableOffset = m_partitionBytes; }},
        {"dir table far away", [&](Superblock &s) { s.dirTableOffset = uint64_t{1} << 62; }},
        {"file count huge", [&](Superblock &s) { s.fileCount = 0xFFFFFFFF; }},
        {"file count past the end", [&](Superblock &s) { s.fileCount = 200; }},
        {"table over the data", [&](Superblock &s) { s.fileTableOffset = s.dataOffset; }},
        {"table over the superblock", [&](Superblock &s) { s.dirTableOffset = 0; }},
        {"tables overlap", [&](Superblock &s) { s.fileTableOffset = s.dirTableOffset; }},
        {"cluster size not a power of two", [&](Superblock &s) { s.clusterBytes = 3000; }},
        {"cluster size zero", [&](Superblock &s) { s.clusterBytes = 0; }},
        {"unaligned table", [&](Superblock &s) { s.fileTableOffset += 64; }},
        {"entry size", [&](Superblock &s) { s.fileEntryBytes = 64; }},
        {"sector size", [&](Superblock &s) { s.sectorBytes = 4096; }},
        {"version", [&](Superblock &s) { s.version = 2; }},
    };
    for (const auto &[what, change] : cases) {
        patchSuperblock(change);
        EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED) << what;
        EXPECT_FALSE(check()) << what;
        patchSuperblock([](Superblock &) {});
        ASSERT_EQ(openResult(), VX_TAVO_OK) << "restoring after " << what;
    }
}

TEST_F(DamageTest, FileEntriesThatBreakTheRules)
{
    const std::vector<std::pair<const char *, std::function<void()>>> cases = {
        {"size beyond the partition",
         [&] {
             patchFile(0, [&](FileEntry &f) {
                 f.size = m_partitionBytes * 2;
                 f.clusterCount = clustersFor(f.size, m_sb.clusterBytes);
             });
         }},
        {"size that does not match the clusters",
         [&] { patchFile(0, [](FileEntry &f) { f.size += 10000; }); }},
        {"run leaves the data area",
         [&] { patchFile(2, [&](FileEntry &f) { f.firstCluster = m_sb.dataClusters; }); }},
        {"run ends past the data area",
         [&] {
             patchFile(0, [&](FileEntry &f) { f.firstCluster = m_sb.dataClusters - 1; });
         }},
        {"run start wraps",
         [&] { patchFile(0, [](FileEntry &f) { f.firstCluster = ~uint64_t{0}; }); }},
        {"runs overlap", [&] { patchFile(1, [](FileEntry &f) { f.firstCluster = 1; }); }},
        {"runs start together", [&] { patchFile(2, [](FileEntry &f) { f.firstCluster = 0; }); }},
        {"empty file with a run",
         [&] {
             patchFile(2, [](FileEntry &f) {
                 f.size = 0;
                 f.clusterCount = 0;
                 f.firstCluster = 5;
             });
         }},
        {"size of 4 GiB",
         [&] {
             patchFile(0, [&](FileEntry &f) {
                 f.size = uint64_t{1} << 32;
                 f.clusterCount = clustersFor(f.size, m_sb.clusterBytes);
             });
         }},
        {"duplicate identifier", [&] { patchFile(1, [](FileEntry &f) { f.fileId = 1; }); }},
        {"identifier 0", [&] { patchFile(1, [](FileEntry &f) { f.fileId = 0; }); }},
        {"identifier above INT_MAX",
         [&] { patchFile(1, [](FileEntry &f) { f.fileId = 0x80000000u; }); }},
        {"duplicate name", [&] { patchFile(1, [](FileEntry &f) { f.name = "a.tavo"; }); }},
        {"unknown directory", [&] { patchFile(2, [](FileEntry &f) { f.dirIndex = 2; }); }},
        {"name without NUL",
         [&] { patchFileRaw(0, 0, std::vector<unsigned char>(64, 'x')); }},
        {"empty name", [&] { patchFileRaw(0, 0, {0}); }},
        {"bytes after the NUL", [&] { patchFileRaw(0, 20, {'z'}); }},
        {"name with a slash", [&] { patchFileRaw(0, 1, {'/'}); }},
        {"reserved field", [&] { patchFileRaw(0, 110, {1}); }},
    };
    const auto pristine = readBytes(path("card.img"), fileEntryOffset(0), 3 * kFileEntryBytes);
    for (const auto &[what, damage] : cases) {
        damage();
        EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED) << what;
        writeBytes(path("card.img"), fileEntryOffset(0), pristine.data(), pristine.size());
        ASSERT_EQ(openResult(), VX_TAVO_OK) << "restoring after " << what;
    }
}

TEST_F(DamageTest, EveryFlippedByteOfTheStructuresIsCaught)
{
    struct Area {
        uint64_t offset;
        size_t size;
    };
    const Area areas[] = {
        {m_partition, kSuperblockBytes},
        {m_partition + m_sb.dirTableOffset, m_sb.dirCount * kDirEntryBytes},
        {m_partition + m_sb.fileTableOffset, m_sb.fileCount * kFileEntryBytes},
    };
    for (const Area &area : areas) {
        auto bytes = readBytes(path("card.img"), area.offset, area.size);
        for (size_t i = 0; i < bytes.size(); ++i) {
            for (const unsigned char mask : {0x01, 0x80}) {
                const unsigned char flipped = bytes[i] ^ mask;
                writeBytes(path("card.img"), area.offset + i, &flipped, 1);
                ASSERT_LT(openResult(), 0) << "byte " << i << " at " << area.offset;
            }
            writeBytes(path("card.img"), area.offset + i, &bytes[i], 1);
        }
    }
    EXPECT_EQ(openResult(), VX_TAVO_OK);
}

TEST_F(DamageTest, PartitionTableProblems)
{
    auto mbr = readBytes(path("card.img"), 0, 512);
    // Second entry (the TAVO partition) one sector longer than the disk.
    auto longer = mbr;
    storeLe32(longer.data() + 446 + 16 + 12, loadLe32(mbr.data() + 446 + 16 + 12) + 1);
    writeBytes(path("card.img"), 0, longer.data(), longer.size());
    EXPECT_EQ(openResult(), VX_TAVO_ERR_NO_PARTITION);
    EXPECT_FALSE(check());

    // Moved by one sector: the superblock is no longer where the table says.
    auto moved = mbr;
    storeLe32(moved.data() + 446 + 16 + 8, loadLe32(mbr.data() + 446 + 16 + 8) + 1);
    storeLe32(moved.data() + 446 + 16 + 12, loadLe32(mbr.data() + 446 + 16 + 12) - 1);
    writeBytes(path("card.img"), 0, moved.data(), moved.size());
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);

    auto noSignature = mbr;
    noSignature[510] = 0;
    writeBytes(path("card.img"), 0, noSignature.data(), noSignature.size());
    EXPECT_EQ(openResult(), VX_TAVO_ERR_NO_PARTITION);

    auto otherType = mbr;
    otherType[446 + 16 + 4] = 0x83;
    writeBytes(path("card.img"), 0, otherType.data(), otherType.size());
    EXPECT_EQ(openResult(), VX_TAVO_ERR_NO_PARTITION);

    writeBytes(path("card.img"), 0, mbr.data(), mbr.size());
    EXPECT_EQ(openResult(), VX_TAVO_OK);
    // A truncated image: the partition now runs past the end of the disk.
    std::filesystem::resize_file(path("card.img"), 6u << 20);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_NO_PARTITION);
    std::filesystem::resize_file(path("card.img"), 100);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_NO_PARTITION);
    std::filesystem::resize_file(path("card.img"), 0);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_NO_PARTITION);
    EXPECT_FALSE(check());
}

TEST_F(DamageTest, PathsThatAreNotCards)
{
    DeviceBlock block;
    EXPECT_EQ(VX_Tavo_Device_Open(path("missing.img").c_str(), VX_TAVO_OPEN_MODE, block.get()),
              VX_TAVO_ERR_IO);
    EXPECT_EQ(VX_Tavo_Device_Open(m_dir.c_str(), VX_TAVO_OPEN_MODE, block.get()), VX_TAVO_ERR_IO);
    EXPECT_LT(VX_Tavo_Device_Open(nullptr, VX_TAVO_OPEN_MODE, block.get()), 0);
    EXPECT_LT(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, nullptr), 0);
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(path("missing.img").c_str()), 0);
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(nullptr), 0);
    // A failed open leaves the block unusable.
    uint32_t cursor = 1;
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE);
    storeLe32(list.data(), 30);
    EXPECT_LT(VX_Tavo_Get_FileList(block.get(), "NOR", &cursor, list.data(), 0), 0);
}

} // namespace
} // namespace tavo::testing
