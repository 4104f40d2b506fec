// Opening and reading card files: sequential 5 MiB reads, random access, handles, devices.

#include "tavo_test_support.h"

#include "tavo/byte_order.h"

#include <atomic>
#include <filesystem>
#include <thread>

namespace tavo::testing {
namespace {

constexpr size_t kBigSize = 12 * 1024 * 1024 + 7;   // two full 5 MiB blocks and a tail

class ReadTest : public TavoTest {
protected:
    void SetUp() override
    {
        TavoTest::SetUp();
        auto writer = createCard("card.img", 32u << 20, 65536);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->addDirectory("NOR"));
        ASSERT_TRUE(writer->addDirectory("EVT"));
        m_big = patternBytes(kBigSize, 1);
        m_small = patternBytes(1000, 2);
        m_bigId = writer->addFile("NOR", "big.tavo", 1, m_big.data(), m_big.size());
        m_smallId = writer->addFile("EVT", "small.tavo", 2, m_small.data(), m_small.size());
        m_emptyId = writer->addFile("EVT", "empty.tavo", 3, nullptr, 0);
        ASSERT_GE(m_bigId, 1u);
        ASSERT_GE(m_smallId, 1u);
        ASSERT_GE(m_emptyId, 1u);
        m_smallDataOffset = writer->tavoPartitionOffset() + 65536 +
                            (kBigSize + 65535) / 65536 * 65536;
        std::string error;
        ASSERT_TRUE(writer->finish(&error)) << error;
        ASSERT_EQ(open(m_block), 0);
    }
    int open(DeviceBlock &block)
    {
        return VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get());
    }
    int openFile(const char *cardPath, int id)
    {
        return VX_Tavo_File_Open(m_block.get(), cardPath, "r", 0, 0, id);
    }

    DeviceBlock m_block;
    std::vector<unsigned char> m_big, m_small;
    uint32_t m_bigId = 0, m_smallId = 0, m_emptyId = 0;
    uint64_t m_smallDataOffset = 0;
};

TEST_F(ReadTest, FileLargerThanOneBlockReadsInFiveMiBSteps)
{
    const int h = openFile("/NOR/big.tavo", static_cast<int>(m_bigId));
    ASSERT_GE(h, 1);
    std::vector<unsigned char> buffer(VX_TAVO_READ_SIZE);
    std::vector<unsigned char> all;
    std::vector<int> counts;
    for (int i = 0; i < 6; ++i) {
        const int n = VX_Tavo_File_Read(m_block.get(), buffer.data(), VX_TAVO_READ_SIZE, h);
        counts.push_back(n);
        if (n > 0)
            all.insert(all.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(counts, (std::vector<int>{VX_TAVO_READ_SIZE, VX_TAVO_READ_SIZE,
                                        static_cast<int>(kBigSize - 2 * VX_TAVO_READ_SIZE), 0, 0,
                                        0}));
    EXPECT_TRUE(all == m_big);
    int64_t size = 0;
    EXPECT_EQ(VX_Tavo_File_Size(m_block.get(), h, &size), 0);
    EXPECT_EQ(size, static_cast<int64_t>(kBigSize));
    EXPECT_EQ(VX_Tavo_File_Close(m_block.get(), h), 0);
    EXPECT_LT(VX_Tavo_File_Close(m_block.get(), h), 0);
    EXPECT_LT(VX_Tavo_File_Read(m_block.get(), buffer.data(), 10, h), 0);
}

TEST_F(ReadTest, RandomAccessStopsAtTheSize)
{
    const int h = openFile("/NOR/big.tavo", static_cast<int>(m_bigId));
    ASSERT_GE(h, 1);
    std::vector<unsigned char> buffer(100000);
    for (const int64_t offset : {int64_t{0}, int64_t{65535}, int64_t{5242870}, int64_t{kBigSize - 50}}) {
        const int n = VX_Tavo_File_ReadAt(m_block.get(), h, offset, buffer.data(), 100000);
        const int want = static_cast<int>(std::min<int64_t>(100000, int64_t{kBigSize} - offset));
        ASSERT_EQ(n, want) << offset;
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, m_big.begin() + offset))
            << offset;
    }
    EXPECT_EQ(VX_Tavo_File_ReadAt(m_block.get(), h, kBigSize, buffer.data(), 10), 0);
    EXPECT_EQ(VX_Tavo_File_ReadAt(m_block.get(), h, int64_t{1} << 40, buffer.data(), 10), 0);
    EXPECT_EQ(VX_Tavo_File_ReadAt(m_block.get(), h, 5, buffer.data(), 0), 0);
    EXPECT_LT(VX_Tavo_File_ReadAt(m_block.get(), h, -1, buffer.data(), 10), 0);
    EXPECT_LT(VX_Tavo_File_ReadAt(m_block.get(), h, 0, buffer.data(), -1), 0);
    EXPECT_LT(VX_Tavo_File_ReadAt(m_block.get(), h, 0, nullptr, 10), 0);

    // Random access leaves the sequential position alone; seeking moves it.
    ASSERT_EQ(VX_Tavo_File_Read(m_block.get(), buffer.data(), 10, h), 10);
    ASSERT_EQ(VX_Tavo_File_Seek(m_block.get(), h, kBigSize - 3), 0);
    EXPECT_EQ(VX_Tavo_File_Read(m_block.get(), buffer.data(), 10, h), 3);
    EXPECT_EQ(buffer[2], m_big.back());
    EXPECT_LT(VX_Tavo_File_Seek(m_block.get(), h, kBigSize + 1), 0);
    EXPECT_LT(VX_Tavo_File_Seek(m_block.get(), h, -1), 0);
}

TEST_F(ReadTest, ReadsStopAtTheSizeEvenWhenTheClusterHoldsMore)
{
    // Fill the rest of the small file's cluster with other bytes.
    const std::vector<unsigned char> junk(65536 - m_small.size(), 0x5A);
    writeBytes(path("card.img"), m_smallDataOffset + m_small.size(), junk.data(), junk.size());
    bool ok = false;
    EXPECT_TRUE(readWholeFile(m_block.get(), "EVT", "small.tavo", m_smallId, &ok) == m_small);
    EXPECT_TRUE(ok);
    const auto empty = readWholeFile(m_block.get(), "EVT", "empty.tavo", m_emptyId, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(empty.empty());
}

TEST_F(ReadTest, OpenNeedsMatchingIdentifierAndName)
{
    const int big = static_cast<int>(m_bigId);
    const int small = static_cast<int>(m_smallId);
    EXPECT_EQ(openFile("/EVT/small.tavo", big), VX_TAVO_ERR_NOT_FOUND);   // id of another file
    EXPECT_EQ(openFile("/NOR/big.tavo", small), VX_TAVO_ERR_NOT_FOUND);
    EXPECT_EQ(openFile("/EVT/big.tavo", big), VX_TAVO_ERR_NOT_FOUND);     // wrong directory
    EXPECT_EQ(openFile("/NOR/BIG.TAVO", big), VX_TAVO_ERR_NOT_FOUND);
    EXPECT_EQ(openFile("/NOR/big.tavo", 999), VX_TAVO_ERR_NOT_FOUND);
    EXPECT_LT(openFile("/NOR/big.tavo", 0), 0);
    EXPECT_LT(openFile("/NOR/big.tavo", -1), 0);
    for (const char *bad : {"NOR/big.tavo", "/NOR", "/NOR/", "/NOR/big.tavo/", "//big.tavo",
                            "/NOR/big.tavo/x", "", "/"})
        EXPECT_LT(openFile(bad, big), 0) << bad;
    const std::string tooLong = "/NOR/" + std::string(200, 'b');
    EXPECT_LT(openFile(tooLong.c_str(), big), 0);
    EXPECT_LT(openFile(nullptr, big), 0);
    EXPECT_LT(VX_Tavo_File_Open(m_block.get(), "/NOR/big.tavo", "w", 0, 0, big), 0);
    EXPECT_LT(VX_Tavo_File_Open(m_block.get(), "/NOR/big.tavo", "r+", 0, 0, big), 0);
    EXPECT_LT(VX_Tavo_File_Open(m_block.get(), "/NOR/big.tavo", nullptr, 0, 0, big), 0);
    EXPECT_GE(openFile("/NOR/big.tavo", big), 1);
}

TEST_F(ReadTest, SeveralHandlesAndDevicesKeepTheirOwnPositions)
{
    DeviceBlock second;
    ASSERT_EQ(open(second), 0);
    const int a = openFile("/NOR/big.tavo", static_cast<int>(m_bigId));
    const int b = openFile("/NOR/big.tavo", static_cast<int>(m_bigId));
    const int c = VX_Tavo_File_Open(second.get(), "/EVT/small.tavo", "r", 0, 0,
                                    static_cast<int>(m_smallId));
    ASSERT_GE(a, 1);
    ASSERT_GE(b, 1);
    ASSERT_GE(c, 1);
    EXPECT_NE(a, b);
    unsigned char buf[600];
    ASSERT_EQ(VX_Tavo_File_Read(m_block.get(), buf, 300, a), 300);
    ASSERT_EQ(VX_Tavo_File_Read(m_block.get(), buf, 100, b), 100);
    ASSERT_EQ(VX_Tavo_File_Read(second.get(), buf, 600, c), 600);
    ASSERT_EQ(VX_Tavo_File_Read(m_block.get(), buf, 1, a), 1);
    EXPECT_EQ(buf[0], m_big[300]);
    ASSERT_EQ(VX_Tavo_File_Read(m_block.get(), buf, 1, b), 1);
    EXPECT_EQ(buf[0], m_big[100]);
    ASSERT_EQ(VX_Tavo_File_Read(second.get(), buf, 600, c), 400);
    EXPECT_TRUE(std::equal(buf, buf + 400, m_small.begin() + 600));
    // A handle belongs to its device: the second device has only handle c.
    ASSERT_NE(b, c);
    EXPECT_LT(VX_Tavo_File_Read(second.get(), buf, 1, b), 0);
    // Closing one device leaves the other one working.
    ASSERT_EQ(VX_Tavo_Device_Close(second.get()), 0);
    EXPECT_LT(VX_Tavo_File_Read(second.get(), buf, 1, c), 0);
    EXPECT_EQ(VX_Tavo_File_Read(m_block.get(), buf, 1, a), 1);
}

TEST_F(ReadTest, ParallelReadersAndListingShareOneBlock)
{
    std::atomic<bool> failed{false};
    auto reader = [&](int id, const char *dir, const char *name,
                      const std::vector<unsigned char> &want) {
        for (int round = 0; round < 3; ++round) {
            bool ok = false;
            if (readWholeFile(m_block.get(), dir, name, id, &ok) != want || !ok)
                failed = true;
        }
    };
    std::thread t1(reader, static_cast<int>(m_bigId), "NOR", "big.tavo", std::cref(m_big));
    std::thread t2(reader, static_cast<int>(m_smallId), "EVT", "small.tavo", std::cref(m_small));
    std::thread t3([&] {
        const int h = openFile("/NOR/big.tavo", static_cast<int>(m_bigId));
        std::vector<unsigned char> buf(4096);
        for (int64_t off = 0; off < static_cast<int64_t>(kBigSize); off += 777777) {
            const int n = VX_Tavo_File_ReadAt(m_block.get(), h, off, buf.data(), 4096);
            if (n <= 0 || !std::equal(buf.begin(), buf.begin() + n, m_big.begin() + off))
                failed = true;
        }
        VX_Tavo_File_Close(m_block.get(), h);
    });
    for (int i = 0; i < 200; ++i)
        if (listDirectory(m_block.get(), "EVT").files.size() != 2)
            failed = true;
    t1.join();
    t2.join();
    t3.join();
    EXPECT_FALSE(failed);
}

TEST_F(ReadTest, ACardThatDisappearsFailsReadsCleanly)
{
    const int h = openFile("/EVT/small.tavo", static_cast<int>(m_smallId));
    ASSERT_GE(h, 1);
    std::filesystem::resize_file(path("card.img"), 4096);
    unsigned char buf[100];
    EXPECT_LT(VX_Tavo_File_Read(m_block.get(), buf, sizeof buf, h), 0);
    EXPECT_LT(VX_Tavo_File_ReadAt(m_block.get(), h, 0, buf, sizeof buf), 0);
    EXPECT_EQ(VX_Tavo_File_Close(m_block.get(), h), 0);
}

} // namespace
} // namespace tavo::testing
