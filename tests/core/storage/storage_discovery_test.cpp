// Storage discovery on a fake machine whose disks are files.

#include "catalogue_fixture.h"
#include "core/storage/storage_discovery.h"
#include "fake_machine.h"
#include "support/log_capture.h"
#include "tavo/tavo_writer.h"

#include <gtest/gtest.h>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

fs::path tavoImage(const fs::path &path)
{
    tavo::CardLayout layout;
    layout.totalBytes = 8u << 20;
    layout.fatBytes = 1u << 20;
    layout.clusterBytes = 4096;
    layout.fatStartSector = 1;
    layout.alignSectors = 1;
    std::string error;
    auto writer = tavo::CardWriter::createImage(path.string(), layout, &error);
    EXPECT_TRUE(writer && writer->addDirectory("NOR"));
    const Bytes data(1000, 1);
    EXPECT_NE(writer->addFile("NOR", "N_20120305_142233_2CH_F.tavo", 1330957353, data.data(), data.size()), 0u);
    EXPECT_TRUE(writer->finish(&error)) << error;
    return path;
}

class Discovery : public ::testing::Test {
protected:
    Discovery() : machine(dir.path() / "root"), scope(machine.root())
    {
        machine.addDisk("sda", false, 1 << 20);
        machine.mountRoot("sda", 1);
    }
    std::string rootPath(const std::string &p) const { return machine.root().string() + p; }

    TempDir dir;
    FakeMachine machine;
    SysrootScope scope;
    LogCapture log;
};

TEST_F(Discovery, OnlyTheComputerEntryWithoutRemovableDrives)
{
    machine.addDisk("sdc", false, 1000);
    machine.mount("sdc", 1, "/data");
    RecordingCatalogue c;
    c.computerCaption = "Computer";
    EXPECT_EQ(c.enumerateSources(), 1);
    EXPECT_EQ(c.sourceAt(0)->label, "Computer");
    EXPECT_EQ(c.sourceAt(0)->kind, SourceComputer);
}

TEST_F(Discovery, PlainAndTavoCardsThenTheComputer)
{
    machine.addDisk("sdb", true, 16384);
    machine.mount("sdb", 1, "/media/plain card");
    machine.addDisk("sdd", true, 16384, tavoImage(dir.path() / "tavo.img"));
    machine.mount("sdd", 1, "/media/tavo");
    machine.addDisk("mmcblk0", false, 16384); // a card slot counts as removable
    machine.mount("mmcblk0", 1, "/media/sd");

    RecordingCatalogue c;
    ASSERT_EQ(c.enumerateSources(), 4);
    const StorageSource *plain = c.sourceAt(0);
    EXPECT_EQ(plain->label, rootPath("/media/sd/"));
    EXPECT_EQ(text64(plain->devicePath), rootPath("/dev/mmcblk0"));
    EXPECT_EQ(c.sourceAt(1)->label, rootPath("/media/plain card/"));
    EXPECT_EQ(c.sourceAt(1)->kind, SourceRemovable);
    EXPECT_EQ(text64(c.sourceAt(1)->devicePath), rootPath("/dev/sdb"));
    EXPECT_EQ(c.sourceAt(2)->label, rootPath("/media/tavo/ (TAVO)"));
    EXPECT_EQ(c.sourceAt(2)->kind, SourceTavo);
    EXPECT_EQ(c.sourceAt(3)->kind, SourceComputer);
    EXPECT_EQ(c.sourceAt(3)->label, "Find in My Computer");
    EXPECT_EQ(c.sourceAt(4), nullptr);

    // The TAVO card lists through the library; the plain card through its folder.
    configureCameraFolders(c);
    ASSERT_TRUE(c.selectSource(2));
    EXPECT_EQ(c.entries().size(), 1u);
    writeRecording(machine.root() / "media/plain card/NOR", "N_20120305_142233_1CH_F.avi");
    ASSERT_TRUE(c.selectSource(1));
    EXPECT_EQ(c.cardDevice(), nullptr);
    ASSERT_EQ(c.entries().size(), 1u);
    EXPECT_EQ(c.entries()[0].path, rootPath("/media/plain card/NOR/N_20120305_142233_1CH_F.avi"));
    EXPECT_EQ(c.selectedSourceRecord(), c.sourceAt(1));
}

TEST_F(Discovery, SlotsWithoutMediumRootDiskAndClosedDevicesAreNotOffered)
{
    machine.addDisk("sdb", true, 0); // reader slot without a card, stale mount
    machine.mount("sdb", 1, "/media/empty");
    machine.addDisk("sdc", true, 4096); // removable, but holds the root file system
    machine.mount("sdc", 2, "/boot/efi");
    machine.addDisk("sde", true, 4096); // device node that cannot be opened for writing
    machine.mount("sde", 1, "/media/locked");
    fs::remove(machine.root() / "dev/sde");
    fs::create_directory(machine.root() / "dev/sde");
    machine.addDisk("sdf", true, 4096); // removable but not mounted
    machine.mountRoot("sdc", 1);

    RecordingCatalogue c;
    EXPECT_EQ(c.enumerateSources(), 1);
    EXPECT_EQ(diskNumberOfVolume(machine.root().string(), rootPath("/boot/efi")), 0);
    EXPECT_EQ(diskNumberOfVolume(machine.root().string(), rootPath("/media/locked")), 2);
    EXPECT_EQ(diskNumberOfVolume(machine.root().string(), rootPath("/nowhere")), -1);
}

TEST_F(Discovery, ReEnumeratingSeesCardsInsertedAndRemoved)
{
    RecordingCatalogue c;
    EXPECT_EQ(c.enumerateSources(), 1);
    machine.addDisk("sdb", true, 4096);
    machine.mount("sdb", 1, "/media/card");
    EXPECT_EQ(c.enumerateSources(), 2);
    EXPECT_EQ(c.sourceAt(0)->driveIndex, 3);
    machine.unmountDisk("sdb");
    EXPECT_EQ(c.enumerateSources(), 1);
}

TEST_F(Discovery, SameDeviceMountedTwiceIsOfferedOnce)
{
    machine.addDisk("sdb", true, 4096);
    machine.mount("sdb", 1, "/media/a");
    machine.mount("sdb", 1, "/media/b");
    RecordingCatalogue c;
    EXPECT_EQ(c.enumerateSources(), 2);
    EXPECT_EQ(c.sourceAt(0)->label, rootPath("/media/a/"));
}

TEST(DiscoveryRoot, DefaultsToSlashAndKeepsATrailingSlash)
{
    unsetenv("KORVANTE_SYSROOT");
    EXPECT_EQ(systemRoot(), "/");
    SysrootScope scope("/tmp/x");
    EXPECT_EQ(systemRoot(), "/tmp/x/");
    // A machine without the files answers with nothing, never with an error.
    EXPECT_TRUE(listMountedVolumes("/tmp/definitely-not-a-root/").empty());
}

} // namespace
} // namespace korvante
