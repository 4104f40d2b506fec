// The card writer: partition table, layouts it refuses, files it refuses, and when a card
// becomes readable.

#include "tavo_test_support.h"

#include "tavo/byte_order.h"
#include "tavo/crc32.h"

#include <cstdio>
#include <filesystem>

namespace tavo::testing {
namespace {

class WriterTest : public TavoTest {
protected:
    int openResult(const std::string &name = "card.img")
    {
        DeviceBlock block;
        return VX_Tavo_Device_Open(path(name).c_str(), VX_TAVO_OPEN_MODE, block.get());
    }
};

TEST(Crc32, MatchesTheStandardCheckValue)
{
    EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32("", 0), 0u);
}

TEST_F(WriterTest, PartitionTableHasTheFatAndTheTavoPartition)
{
    std::string error;
    auto writer = CardWriter::createImage(path("card.img"),
                                          CardLayout{64u << 20, 40u << 20, 65536}, &error);
    ASSERT_TRUE(writer) << error;
    EXPECT_EQ(std::filesystem::file_size(path("card.img")), 64u << 20);
    EXPECT_EQ(writer->fatPartitionOffset(), 1u << 20);
    EXPECT_EQ(writer->fatPartitionBytes(), 40u << 20);
    EXPECT_EQ(writer->tavoPartitionOffset(), 41u << 20);
    EXPECT_EQ(writer->tavoPartitionBytes(), 23u << 20);
    EXPECT_EQ(writer->clusterBytes(), 65536u);

    const auto mbr = readBytes(path("card.img"), 0, 512);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    const unsigned char *fat = mbr.data() + 446;
    const unsigned char *tavo = fat + 16;
    EXPECT_EQ(fat[4], 0x0C);
    EXPECT_EQ(loadLe32(fat + 8), 2048u);
    EXPECT_EQ(loadLe32(fat + 12), (40u << 20) / 512);
    EXPECT_EQ(tavo[4], 0x7A);
    EXPECT_EQ(loadLe32(tavo + 8), (41u << 20) / 512);
    EXPECT_EQ(loadLe32(tavo + 12), (23u << 20) / 512);
    for (size_t i = 446 + 32; i < 510; ++i)
        ASSERT_EQ(mbr[i], 0) << i;
}

TEST_F(WriterTest, TinyLayoutsWithoutAlignment)
{
    CardLayout layout{4096, 512, 512};
    layout.fatStartSector = 1;
    layout.alignSectors = 1;
    std::string error;
    auto writer = CardWriter::createImage(path("tiny.img"), layout, &error);
    ASSERT_TRUE(writer) << error;
    EXPECT_EQ(writer->tavoPartitionOffset(), 1024u);
    EXPECT_EQ(writer->tavoPartitionBytes(), 3072u);
    ASSERT_TRUE(writer->addDirectory("NOR"));
    const uint32_t id = writer->addFile("NOR", "t", 9, "tiny", 4);
    ASSERT_EQ(id, 1u);
    EXPECT_EQ(writer->addFile("NOR", "u", 9, std::string(1100, 'u').data(), 1100), 0u);   // 3 clusters, 2 free
    ASSERT_TRUE(writer->finish(&error)) << error;
    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(path("tiny.img").c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    bool ok = false;
    const auto bytes = readWholeFile(block.get(), "NOR", "t", 1, &ok);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "tiny");
}

TEST_F(WriterTest, FatPartitionFormatsWithMkfsAndLeavesTheCardIntact)
{
    if (std::system("command -v mkfs.vfat >/dev/null 2>&1 && command -v mdir >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.vfat or mtools missing";
    std::string error;
    auto writer = CardWriter::createImage(path("card.img"),
                                          CardLayout{80u << 20, 48u << 20, 65536}, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->addDirectory("NOR"));
    const auto data = patternBytes(300000, 9);
    const uint32_t id = writer->addFile("NOR", "n.tavo", 5, data.data(), data.size());
    ASSERT_TRUE(writer->finish(&error)) << error;
    const std::string img = path("card.img");
    const std::string mkfs = "mkfs.vfat -F 32 -n CARD --offset=" +
                             std::to_string(writer->fatPartitionOffset() / 512) + " " + img +
                             " " + std::to_string(writer->fatPartitionBytes() / 1024) +
                             " >/dev/null 2>&1";
    ASSERT_EQ(std::system(mkfs.c_str()), 0) << mkfs;
    const std::string mdir = "MTOOLS_SKIP_CHECK=1 mdir -i " + img + "@@" +
                             std::to_string(writer->fatPartitionOffset()) + " :: >/dev/null 2>&1";
    EXPECT_EQ(std::system(mdir.c_str()), 0) << mdir;

    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(img.c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    bool ok = false;
    EXPECT_TRUE(readWholeFile(block.get(), "NOR", "n.tavo", static_cast<int>(id), &ok) == data);
    EXPECT_TRUE(ok);
}

TEST_F(WriterTest, RefusesImpossibleLayouts)
{
    std::string error;
    const CardLayout bad[] = {
        {0, 1u << 20, 65536},
        {(8u << 20) + 100, 1u << 20, 65536},
        {8u << 20, 1000, 65536},
        {8u << 20, 0, 65536},
        {8u << 20, 1u << 20, 1000},
        {8u << 20, 1u << 20, 256},
        {8u << 20, 1u << 20, 128u << 20},
        {8u << 20, 7u << 20, 65536},               // nothing left for the TAVO partition
        {4u << 20, 1u << 20, 64u << 20},           // TAVO partition smaller than a cluster
        {uint64_t{3} << 40, 1u << 20, 65536},       // beyond what an MBR can address
        {8u << 20, 1u << 20, 65536, 0, 2048},
        {8u << 20, 1u << 20, 65536, 2048, 0},
    };
    for (const CardLayout &layout : bad) {
        error.clear();
        EXPECT_FALSE(CardWriter::createImage(path("bad.img"), layout, &error))
            << layout.totalBytes << " " << layout.fatBytes << " " << layout.clusterBytes;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(CardWriter::createImage(path("no/such/folder.img"),
                                         CardLayout{8u << 20, 1u << 20, 65536}, &error));
}

TEST_F(WriterTest, RefusesBadNamesDuplicatesAndOverflow)
{
    auto writer = createCard("card.img", 4u << 20, 4096);
    ASSERT_TRUE(writer);
    EXPECT_FALSE(writer->addDirectory(""));
    EXPECT_FALSE(writer->addDirectory("A/B"));
    EXPECT_FALSE(writer->addDirectory(std::string(48, 'D')));
    EXPECT_TRUE(writer->addDirectory(std::string(47, 'D')));
    EXPECT_TRUE(writer->addDirectory("NOR"));
    EXPECT_FALSE(writer->addDirectory("NOR"));
    EXPECT_FALSE(writer->lastError().empty());
    EXPECT_TRUE(writer->addDirectory("nor"));   // names compare exactly

    EXPECT_EQ(writer->addFile("MOT", "x", 0, "x", 1), 0u);
    EXPECT_EQ(writer->addFile("NOR", "", 0, "x", 1), 0u);
    EXPECT_EQ(writer->addFile("NOR", "a/b", 0, "x", 1), 0u);
    EXPECT_EQ(writer->addFile("NOR", std::string(64, 'n'), 0, "x", 1), 0u);
    EXPECT_EQ(writer->addFile("NOR", std::string("a\0b", 3), 0, "x", 1), 0u);
    const uint32_t first = writer->addFile("NOR", std::string(63, 'n'), 0, "x", 1);
    EXPECT_EQ(first, 1u);
    EXPECT_TRUE(writer->lastError().empty());
    EXPECT_EQ(writer->addFile("NOR", std::string(63, 'n'), 0, "y", 1), 0u);
    EXPECT_EQ(writer->addFile("nor", std::string(63, 'n'), 0, "y", 1), 2u);

    // Fill the partition to the last cluster; one more byte does not fit.
    const uint64_t free = writer->freeBytes();
    ASSERT_GT(free, 0u);
    const std::vector<unsigned char> fill(free, 0x11);
    EXPECT_EQ(writer->addFile("NOR", "too-big", 0, fill.data(), fill.size() + 1), 0u);
    EXPECT_EQ(writer->addFile("NOR", "fill", 0, fill.data(), fill.size()), 3u);
    EXPECT_EQ(writer->addFile("NOR", "more", 0, "z", 1), 0u);
    EXPECT_EQ(writer->addFile("NOR", "empty", 0, nullptr, 0), 4u);   // needs no cluster
    std::string error;
    ASSERT_TRUE(writer->finish(&error)) << error;

    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    bool ok = false;
    EXPECT_TRUE(readWholeFile(block.get(), "NOR", "fill", 3, &ok) == fill);
    EXPECT_EQ(listDirectory(block.get(), "nor").files.size(), 1u);
}

TEST_F(WriterTest, CardIsReadableOnlyAfterFinish)
{
    auto writer = createCard("card.img", 8u << 20, 4096);
    ASSERT_TRUE(writer);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);
    ASSERT_TRUE(writer->addDirectory("NOR"));
    const uint32_t a = writer->addFile("NOR", "a", 1, "aaaa", 4);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(path("card.img").c_str()), 0);
    std::string error;
    ASSERT_TRUE(writer->finish(&error)) << error;
    EXPECT_EQ(openResult(), VX_TAVO_OK);
    EXPECT_NE(VX_Tavo_Check_Tavo_partition(path("card.img").c_str()), 0);

    const uint32_t b = writer->addFile("NOR", "b", 2, "bb", 2);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);
    ASSERT_TRUE(writer->finish(&error)) << error;
    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    bool ok = false;
    const auto readA = readWholeFile(block.get(), "NOR", "a", static_cast<int>(a), &ok);
    EXPECT_EQ(std::string(readA.begin(), readA.end()), "aaaa");
    const auto readB = readWholeFile(block.get(), "NOR", "b", static_cast<int>(b), &ok);
    EXPECT_EQ(std::string(readB.begin(), readB.end()), "bb");
}

TEST_F(WriterTest, FormatExistingReplacesTheOldFileSystem)
{
    {
        auto writer = createCard("card.img", 8u << 20, 4096);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->addDirectory("OLD"));
        ASSERT_GE(writer->addFile("OLD", "gone", 1, "x", 1), 1u);
        std::string error;
        ASSERT_TRUE(writer->finish(&error));
    }
    std::string error;
    auto writer = CardWriter::formatExisting(path("card.img"), 8192, &error);
    ASSERT_TRUE(writer) << error;
    EXPECT_EQ(writer->clusterBytes(), 8192u);
    EXPECT_EQ(writer->tavoPartitionOffset(), 2u << 20);
    EXPECT_EQ(openResult(), VX_TAVO_ERR_DAMAGED);   // the old superblock is gone at once
    ASSERT_TRUE(writer->addDirectory("NOR"));
    const auto data = patternBytes(20000, 4);
    const uint32_t id = writer->addFile("NOR", "new", 7, data.data(), data.size());
    EXPECT_EQ(id, 1u);
    ASSERT_TRUE(writer->finish(&error)) << error;

    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    EXPECT_EQ(VX_Tavo_Get_Dir_Info(block.get(), "OLD", nullptr, nullptr, nullptr),
              VX_TAVO_ERR_NOT_FOUND);
    bool ok = false;
    EXPECT_TRUE(readWholeFile(block.get(), "NOR", "new", static_cast<int>(id), &ok) == data);

    EXPECT_TRUE(CardWriter::formatExisting(path("card.img"), &error));
    std::fclose(std::fopen(path("plain.img").c_str(), "wb"));
    std::filesystem::resize_file(path("plain.img"), 1u << 20);
    EXPECT_FALSE(CardWriter::formatExisting(path("plain.img"), &error));
    EXPECT_FALSE(CardWriter::formatExisting(path("missing.img"), &error));
    EXPECT_FALSE(CardWriter::formatExisting(path("card.img"), 1000, &error));
}

TEST_F(WriterTest, AddFileFromPathCopiesTheBytes)
{
    auto writer = createCard("card.img", 32u << 20, 65536);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->addDirectory("NOR"));
    const auto data = patternBytes(9u << 20, 3);
    {
        FILE *f = std::fopen(path("src.bin").c_str(), "wb");
        ASSERT_TRUE(f);
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
        std::fclose(f);
    }
    const uint32_t id = writer->addFileFromPath("NOR", "copied", 1, path("src.bin"));
    ASSERT_GE(id, 1u) << writer->lastError();
    const uint32_t after = writer->addFile("NOR", "after", 1, "after", 5);
    EXPECT_EQ(writer->addFileFromPath("NOR", "x", 1, path("missing.bin")), 0u);
    std::string error;
    ASSERT_TRUE(writer->finish(&error)) << error;
    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    bool ok = false;
    EXPECT_TRUE(readWholeFile(block.get(), "NOR", "copied", static_cast<int>(id), &ok) == data);
    const auto tail = readWholeFile(block.get(), "NOR", "after", static_cast<int>(after), &ok);
    EXPECT_EQ(std::string(tail.begin(), tail.end()), "after");
}

} // namespace
} // namespace tavo::testing
