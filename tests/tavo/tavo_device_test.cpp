// Device-level entry points: probing a disk, the information record, device blocks.

#include "tavo_test_support.h"

#include "tavo/byte_order.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace tavo::testing {
namespace {

class DeviceTest : public TavoTest {
protected:
    void SetUp() override
    {
        TavoTest::SetUp();
        auto writer = createCard("card.img", 24u << 20, 4096);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->addDirectory("NOR"));
        ASSERT_GE(writer->addFile("NOR", "f", 1, "data", 4), 1u);
        std::string error;
        ASSERT_TRUE(writer->finish(&error)) << error;
        std::fclose(std::fopen(path("plain.img").c_str(), "wb"));
        std::filesystem::resize_file(path("plain.img"), 3u << 20);
    }
    int open(DeviceBlock &block, const std::string &name = "card.img")
    {
        return VX_Tavo_Device_Open(path(name).c_str(), VX_TAVO_OPEN_MODE, block.get());
    }
};

TEST_F(DeviceTest, MasterInfoCarriesTheSectorCountAtByte12)
{
    unsigned char info[VX_TAVO_MASTER_INFO_SIZE];
    ASSERT_EQ(VX_Tavo_Get_Master_Device_Info(path("card.img").c_str(), info), 0);
    EXPECT_EQ(loadLe32(info + 12), (24u << 20) / 512);
    EXPECT_EQ(loadLe32(info + VX_TAVO_INFO_SECTOR_SIZE_OFFSET), 512u);
    EXPECT_EQ(loadLe32(info + VX_TAVO_INFO_FLAGS_OFFSET), 1u);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_DISK_BYTES_OFFSET), 24u << 20);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_FAT_OFFSET_OFFSET), 1u << 20);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_FAT_BYTES_OFFSET), 1u << 20);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_TAVO_OFFSET_OFFSET), 2u << 20);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_TAVO_BYTES_OFFSET), 22u << 20);

    // A disk without a partition table still reports its size.
    ASSERT_EQ(VX_Tavo_Get_Master_Device_Info(path("plain.img").c_str(), info), 0);
    EXPECT_EQ(loadLe32(info + 12), (3u << 20) / 512);
    EXPECT_EQ(loadLe32(info + VX_TAVO_INFO_FLAGS_OFFSET), 0u);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_TAVO_BYTES_OFFSET), 0u);

    std::fill(std::begin(info), std::end(info), 0xFF);
    EXPECT_LT(VX_Tavo_Get_Master_Device_Info(path("missing.img").c_str(), info), 0);
    for (const unsigned char b : info)
        ASSERT_EQ(b, 0);
    EXPECT_LT(VX_Tavo_Get_Master_Device_Info(path("card.img").c_str(), nullptr), 0);
}

TEST_F(DeviceTest, CheckTellsCardsFromOtherDisks)
{
    EXPECT_NE(VX_Tavo_Check_Tavo_partition(path("card.img").c_str()), 0);
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(path("plain.img").c_str()), 0);
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(m_dir.c_str()), 0);
}

// A disk the user may not open is read through a descriptor handed over for
// its path: every entry point that takes the path uses it, until detached.
TEST_F(DeviceTest, ADescriptorAttachedToAPathIsReadInsteadOfThePath)
{
    const std::string device = path("dev/sdz"); // nothing is there
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(device.c_str()), 0);

    const int card = ::open(path("card.img").c_str(), O_RDONLY | O_CLOEXEC);
    const int plain = ::open(path("plain.img").c_str(), O_RDONLY | O_CLOEXEC);
    const int writeOnly = ::open(path("plain.img").c_str(), O_WRONLY | O_CLOEXEC);
    const int folder = ::open(m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(card, 0);
    ASSERT_GE(plain, 0);
    ASSERT_GE(writeOnly, 0);
    ASSERT_GE(folder, 0);

    struct Refused {
        const char *path;
        int fd;
        int expected;
    };
    const Refused refused[] = {
        {device.c_str(), writeOnly, VX_TAVO_ERR_IO}, {device.c_str(), folder, VX_TAVO_ERR_IO},
        {device.c_str(), -1, VX_TAVO_ERR_IO},        {device.c_str(), 9999, VX_TAVO_ERR_IO},
        {"", card, VX_TAVO_ERR_ARGUMENT},            {nullptr, card, VX_TAVO_ERR_ARGUMENT},
    };
    for (const Refused &r : refused)
        EXPECT_EQ(VX_Tavo_Attach_Descriptor(r.path, r.fd), r.expected) << r.fd;
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(device.c_str()), 0);

    ASSERT_EQ(VX_Tavo_Attach_Descriptor(device.c_str(), card), VX_TAVO_OK);
    ::close(card); // the library keeps its own copy
    EXPECT_NE(VX_Tavo_Check_Tavo_partition(device.c_str()), 0);
    unsigned char info[VX_TAVO_MASTER_INFO_SIZE];
    ASSERT_EQ(VX_Tavo_Get_Master_Device_Info(device.c_str(), info), 0);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_DISK_BYTES_OFFSET), 24u << 20);
    {
        DeviceBlock block;
        ASSERT_EQ(VX_Tavo_Device_Open(device.c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
        const Listing listing = listDirectory(block.get(), "NOR");
        ASSERT_EQ(listing.files.size(), 1u);
        EXPECT_EQ(listing.files[0].name, "f");
        // Another path is not affected.
        EXPECT_EQ(VX_Tavo_Check_Tavo_partition(path("dev/sdy").c_str()), 0);
    }

    // A later descriptor replaces the first.
    ASSERT_EQ(VX_Tavo_Attach_Descriptor(device.c_str(), plain), VX_TAVO_OK);
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition(device.c_str()), 0);
    ASSERT_EQ(VX_Tavo_Get_Master_Device_Info(device.c_str(), info), 0);
    EXPECT_EQ(loadLe64(info + VX_TAVO_INFO_DISK_BYTES_OFFSET), 3u << 20);

    EXPECT_EQ(VX_Tavo_Detach_Descriptor(device.c_str()), VX_TAVO_OK);
    EXPECT_EQ(VX_Tavo_Detach_Descriptor(device.c_str()), VX_TAVO_ERR_NOT_FOUND);
    EXPECT_LT(VX_Tavo_Get_Master_Device_Info(device.c_str(), info), 0);
    ::close(plain);
    ::close(writeOnly);
    ::close(folder);
}

TEST_F(DeviceTest, BlocksThatAreNotOpenFailEverywhere)
{
    unsigned char zeroed[VX_TAVO_DEVICE_BLOCK_SIZE] = {};
    unsigned char garbage[VX_TAVO_DEVICE_BLOCK_SIZE];
    std::fill(std::begin(garbage), std::end(garbage), 0x41);
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE);
    storeLe32(list.data(), 30);
    unsigned char buf[16];
    int64_t size = 0;
    for (unsigned char *block : {zeroed, garbage, static_cast<unsigned char *>(nullptr)}) {
        uint32_t cursor = 1;
        EXPECT_LT(VX_Tavo_Get_Dir_Info(block, "NOR", nullptr, nullptr, nullptr), 0);
        EXPECT_LT(VX_Tavo_Get_FileList(block, "NOR", &cursor, list.data(), 0), 0);
        EXPECT_LT(VX_Tavo_File_Open(block, "/NOR/f", "r", 0, 0, 1), 0);
        EXPECT_LT(VX_Tavo_File_Read(block, buf, 16, 1), 0);
        EXPECT_LT(VX_Tavo_File_ReadAt(block, 1, 0, buf, 16), 0);
        EXPECT_LT(VX_Tavo_File_Size(block, 1, &size), 0);
        EXPECT_LT(VX_Tavo_File_Seek(block, 1, 0), 0);
        EXPECT_LT(VX_Tavo_File_Close(block, 1), 0);
        EXPECT_LT(VX_Tavo_Device_Close(block), 0);
    }
}

TEST_F(DeviceTest, OpenCloseAndReuseOfABlock)
{
    DeviceBlock block;
    ASSERT_EQ(open(block), 0);
    EXPECT_EQ(open(block), VX_TAVO_ERR_ARGUMENT);   // still open: refused, stays usable
    const int h = VX_Tavo_File_Open(block.get(), "/NOR/f", "r", 0, 0, 1);
    ASSERT_GE(h, 1);
    ASSERT_EQ(VX_Tavo_Device_Close(block.get()), 0);
    unsigned char buf[4];
    EXPECT_LT(VX_Tavo_File_Read(block.get(), buf, 4, h), 0);   // files close with the device
    EXPECT_LT(VX_Tavo_Device_Close(block.get()), 0);
    ASSERT_EQ(open(block), 0);                                  // a closed block opens again
    const int h2 = VX_Tavo_File_Open(block.get(), "/NOR/f", "r", 0, 0, 1);
    ASSERT_GE(h2, 1);
    EXPECT_EQ(VX_Tavo_File_Read(block.get(), buf, 4, h2), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), "data");

    // A failed open does not disturb the block's open device.
    EXPECT_LT(open(block, "plain.img"), 0);
    EXPECT_EQ(VX_Tavo_File_ReadAt(block.get(), h2, 1, buf, 3), 3);
}

TEST_F(DeviceTest, LastStopClosesEveryDevice)
{
    EXPECT_EQ(VX_Tavo_Start(), 0);
    EXPECT_EQ(VX_Tavo_Start(), 0);
    DeviceBlock a, b;
    ASSERT_EQ(open(a), 0);
    ASSERT_EQ(open(b), 0);
    EXPECT_EQ(VX_Tavo_Stop(), 0);   // another user still holds the library
    EXPECT_EQ(VX_Tavo_Get_Dir_Info(a.get(), "NOR", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(VX_Tavo_Stop(), 0);
    EXPECT_LT(VX_Tavo_Get_Dir_Info(a.get(), "NOR", nullptr, nullptr, nullptr), 0);
    EXPECT_LT(VX_Tavo_Get_Dir_Info(b.get(), "NOR", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(open(a), 0);   // usable again after Stop
    EXPECT_EQ(VX_Tavo_Get_Dir_Info(a.get(), "NOR", nullptr, nullptr, nullptr), 0);
}

// A user whose end-of-process handler was registered before the library was
// first used (the viewer's shared state is) still stops it cleanly at exit.
TEST_F(DeviceTest, StopFromAnExitHandlerAfterFirstUse)
{
    const std::string card = path("card.img");
    EXPECT_EXIT(
        {
            std::atexit([] { VX_Tavo_Stop(); });
            VX_Tavo_Start();
            DeviceBlock block;
            if (VX_Tavo_Device_Open(card.c_str(), VX_TAVO_OPEN_MODE, block.get()) != 0)
                std::_Exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DeviceTest, FileHandlesPerDeviceAreLimitedNotLeaked)
{
    DeviceBlock block;
    ASSERT_EQ(open(block), 0);
    std::vector<int> handles;
    int h = 0;
    while ((h = VX_Tavo_File_Open(block.get(), "/NOR/f", "r", 0, 0, 1)) >= 1 &&
           handles.size() < 5000)
        handles.push_back(h);
    EXPECT_EQ(h, VX_TAVO_ERR_LIMIT);
    EXPECT_EQ(handles.size(), 1024u);
    ASSERT_EQ(VX_Tavo_File_Close(block.get(), handles[10]), 0);
    EXPECT_GE(VX_Tavo_File_Open(block.get(), "/NOR/f", "r", 0, 0, 1), 1);
}

} // namespace
} // namespace tavo::testing
