#include "core/device/card_format.h"
#include "core/device/card_usage.h"

#include "fake_machine.h"
#include "support/temp_dir.h"
#include "tavo/tavo.h"
#include "tavo/tavo_writer.h"
#include "unwritable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using testing::FakeMachine;
using testing::TempDir;

std::string bytesOf(const fs::path &file, uint64_t offset, uint64_t length)
{
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(length, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// A card image with an unformatted FAT partition and a TAVO partition
// holding one recording, in a fake machine where its FAT side is mounted.
class CardFormat : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine.addDisk("sda", false, 1000);
        machine.mountRoot("sda", 1);
        std::string why;
        tavo::CardLayout layout{};
        layout.totalBytes = 96ull << 20;
        layout.fatBytes = 48ull << 20;
        auto writer = tavo::CardWriter::createImage(image.string(), layout, &why);
        ASSERT_TRUE(writer) << why;
        ASSERT_TRUE(writer->addDirectory("NOR"));
        const std::string payload(200000, 'r');
        ASSERT_NE(writer->addFile("NOR", "N_20240101_100000_2CH_F.tavo", 1704103200, payload.data(), payload.size()),
                  0u);
        ASSERT_TRUE(writer->finish(&why)) << why;
        fatOffset = writer->fatPartitionOffset();
        fatBytes = writer->fatPartitionBytes();
        tavoOffset = writer->tavoPartitionOffset();
        tavoBytes = writer->tavoPartitionBytes();
        machine.addDisk("sdb", true, layout.totalBytes / 512, image);
        mounted = machine.mount("sdb", 1, "/media/card");
        fs::create_directories(mounted / "NOR");
        std::ofstream(mounted / "NOR" / "N_20240101_100000_2CH_F.avi") << "old";
    }

    FormatTarget target(const std::string &partition = "sdb1") const
    {
        const std::string root = machine.root().string() + "/";
        return {root, root + "media/card/", "sdb", partition, root + "dev/sdb"};
    }

    bool format(const FormatTarget &t)
    {
        stages.clear();
        why.clear();
        detail = -1;
        return formatCardFileSystem(t, [this](int stage, int) { stages.push_back(stage); }, &why, &detail);
    }

    TempDir dir;
    FakeMachine machine{dir.path() / "root"};
    fs::path image = dir.path() / "card.img";
    fs::path mounted;
    uint64_t fatOffset = 0, fatBytes = 0, tavoOffset = 0, tavoBytes = 0;
    std::vector<int> stages;
    std::string why;
    int detail = -1;
};

TEST_F(CardFormat, TheFatSideBecomesFat32AndTheRecordingsStay)
{
    // The mounted side's front file and the partition's two-channel
    // recording (a front and a rear file); neither has a recording header,
    // so neither is measured.
    FormatterDrive drive;
    drive.root = target().root;
    drive.devicePath = target().devicePath;
    drive.kind = 1;
    const FolderScan scan = scanCardFolder(drive, "NOR");
    EXPECT_EQ(scan.frontFiles, 2);
    EXPECT_EQ(scan.rearFiles, 1);
    EXPECT_EQ(scan.measuredFronts, 0);

    const std::string tavoBefore = bytesOf(image, tavoOffset, tavoBytes);
    ASSERT_TRUE(format(target())) << why;
    EXPECT_EQ(stages, (std::vector<int>{format_stage::Started, format_stage::FileSystemFormatted}));

    // fsck.vfat reads the partition on its own.
    const fs::path partition = dir.path() / "fat.img";
    std::ofstream(partition, std::ios::binary) << bytesOf(image, fatOffset, fatBytes);
    const std::string check = "fsck.vfat -n '" + partition.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(("PATH=$PATH:/usr/sbin:/sbin " + check).c_str()), 0);
    EXPECT_EQ(bytesOf(image, fatOffset + 82, 5), "FAT32");

    EXPECT_EQ(bytesOf(image, tavoOffset, tavoBytes), tavoBefore);
    std::vector<unsigned char> block(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    ASSERT_EQ(VX_Tavo_Device_Open(target().devicePath.c_str(), VX_TAVO_OPEN_MODE, block.data()), VX_TAVO_OK);
    int64_t files = 0, total = 0;
    EXPECT_EQ(VX_Tavo_Get_Dir_Info(block.data(), "NOR", nullptr, &files, &total), VX_TAVO_OK);
    EXPECT_EQ(files, 1);
    EXPECT_EQ(total, 200000);
    VX_Tavo_Device_Close(block.data());

    // The mounted folder stands for the file system: it is empty now.
    EXPECT_TRUE(fs::is_empty(mounted));
}

TEST_F(CardFormat, RefusalsEndBeforeAnythingIsWritten)
{
    const std::string before = bytesOf(image, 0, 96ull << 20);
    machine.mount("sdb", 2, "/media/tavo"); // the TAVO partition, as if something mounted it
    FormatTarget gone = target();
    gone.root += "x/";
    FormatTarget system = target();
    system.root = machine.root().string() + "/";
    system.disk = "sda";
    system.partition = "sda1";
    FormatTarget tavo = target("sdb2");
    tavo.root = machine.root().string() + "/media/tavo/";
    const struct {
        FormatTarget target;
        const char *reason;
    } cases[] = {
        {gone, "no longer mounted"},
        {system, "not on a removable disk"},
        {tavo, "never formatted"},
    };
    for (const auto &c : cases) {
        EXPECT_FALSE(format(c.target));
        EXPECT_EQ(detail, format_stage::FailedFindingDisk);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(stages, std::vector<int>{format_stage::Started});
    }
    // A disk that is a real device (here: not a regular file) is never formatted from a fake root.
    fs::remove(machine.root() / "dev/sdb");
    fs::create_directory(machine.root() / "dev/sdb");
    EXPECT_FALSE(format(target()));
    EXPECT_NE(why.find("not an image file"), std::string::npos) << why;
    EXPECT_EQ(bytesOf(image, 0, 96ull << 20), before);
    EXPECT_FALSE(fs::is_empty(mounted));
}

TEST_F(CardFormat, AReadOnlyCardFailsWithItsReason)
{
    testing::Unwritable guard(image);
    if (!guard.holds())
        GTEST_SKIP() << "this machine cannot make a file unwritable for this user";
    EXPECT_FALSE(format(target()));
    EXPECT_EQ(detail, format_stage::FailedFindingDisk);
    EXPECT_NE(why.find("for writing"), std::string::npos) << why;
    EXPECT_FALSE(fs::is_empty(mounted));
}

} // namespace
} // namespace korvante
