// Which source the catalogue has selected: a picked folder that is a card's
// root, rescans of a picked folder, and the selection across a rebuilt source
// list (cards inserted and pulled out between two Open File commands).

#include "catalogue_fixture.h"
#include "fake_machine.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

// A card's root: recordings in two of its recording folders, one loose file
// beside them that is no recording of the card.
fs::path cardRoot(const fs::path &root)
{
    writeRecording(root / "NOR", "N_20120305_100000_1CH_F.avi");
    writeRecording(root / "NOR", "N_20120305_100100_1CH_F.avi");
    writeRecording(root / "EVT", "E_20120306_080000_1CH_F.avi");
    writeRecording(root, "N_20110101_000000_1CH_F.avi");
    return root;
}

TEST(PickedCardRoot, ListsTheRecordingFoldersLikeACardInAReader)
{
    TempDir dir;
    const fs::path root = cardRoot(dir.path() / "card");
    const struct {
        bool cardRoots;
        size_t entries;
        int32_t kind;
    } cases[] = {
        {true, 3, SourceRemovable}, // NOR and EVT; the loose file is not the card's
        {false, 1, SourceComputer}, // the folder as itself: only the loose file
    };
    for (const auto &c : cases) {
        RecordingCatalogue catalogue;
        configureCameraFolders(catalogue);
        catalogue.pickedCardRoots = c.cardRoots;
        FixedPicker picker(root.string());
        ASSERT_TRUE(selectPicked(catalogue, picker)) << c.cardRoots;
        EXPECT_EQ(catalogue.entries().size(), c.entries) << c.cardRoots;
        EXPECT_EQ(catalogue.sourceKind(), c.kind) << c.cardRoots;
        EXPECT_EQ(catalogue.pickedFolder(), root.string() + "/");
        const StorageSource *record = catalogue.selectedSourceRecord();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->kind, c.kind);
        if (c.cardRoots) {
            // The device settings and the export find the card under its root.
            EXPECT_EQ(record->label, root.string() + "/");
            ASSERT_EQ(catalogue.scannedFolders().size(), 4u);
            EXPECT_EQ(catalogue.scannedFolderAt(0)->path, root.string() + "/NOR/");
            EXPECT_EQ(catalogue.scannedFolderAt(0)->count, 2);
            EXPECT_EQ(catalogue.scannedFolderAt(1)->count, 1);
            EXPECT_EQ(catalogue.entries()[2].folderIndex, 1);
        } else {
            EXPECT_EQ(record->label, catalogue.computerCaption);
        }
    }
}

TEST(PickedCardRoot, EmptyCardRootFailsAndKeepsTheSelection)
{
    TempDir dir;
    fs::create_directories(dir.path() / "empty" / "NOR");
    const fs::path root = cardRoot(dir.path() / "card");
    RecordingCatalogue catalogue;
    configureCameraFolders(catalogue);
    catalogue.pickedCardRoots = true;
    FixedPicker first(root.string());
    ASSERT_TRUE(selectPicked(catalogue, first));
    FixedPicker empty((dir.path() / "empty").string());
    catalogue.folderPicker = &empty;
    EXPECT_FALSE(catalogue.selectSource(0));
    EXPECT_TRUE(catalogue.entries().empty());
    EXPECT_EQ(catalogue.selectedSource(), 0);
    // The folder chosen before is still the one a rescan lists.
    EXPECT_TRUE(catalogue.rescanSelected());
    EXPECT_EQ(catalogue.entries().size(), 3u);
    EXPECT_EQ(empty.calls, 1);
}

TEST(PickedFolderRescan, ScansTheChosenFolderAgainWithoutAsking)
{
    TempDir dir;
    const fs::path plain = dir.path() / "plain";
    writeRecording(plain, "N_20120305_100000_1CH_F.avi");
    const fs::path card = cardRoot(dir.path() / "card");
    for (const fs::path &folder : {plain, card}) {
        RecordingCatalogue catalogue;
        configureCameraFolders(catalogue);
        catalogue.pickedCardRoots = true;
        FixedPicker picker(folder.string());
        ASSERT_TRUE(selectPicked(catalogue, picker));
        const size_t before = catalogue.entries().size();
        const fs::path grown = folder == plain ? plain : card / "NOR";
        writeRecording(grown, "N_20120307_100000_1CH_F.avi");
        catalogue.sortOrder = SortOrder::Descending;
        ASSERT_TRUE(catalogue.rescanSelected()) << folder;
        EXPECT_EQ(picker.calls, 1) << folder;
        ASSERT_EQ(catalogue.entries().size(), before + 1) << folder;
        EXPECT_EQ(catalogue.entries()[0].name, "N_20120307_100000_1CH_F.avi"); // newest first

        // The folder emptied: the rescan fails and leaves nothing to list.
        fs::remove_all(folder);
        EXPECT_FALSE(catalogue.rescanSelected()) << folder;
        EXPECT_TRUE(catalogue.entries().empty());
        EXPECT_EQ(picker.calls, 1);
    }
}

TEST(PickedFolderRescan, ADriveSelectedAfterAPickIsRescannedAsTheDrive)
{
    TempDir dir;
    const fs::path card = cardRoot(dir.path() / "card");
    const fs::path drive = dir.path() / "drive";
    writeRecording(drive / "MAN", "M_20120309_100000_1CH_F.avi");
    RecordingCatalogue catalogue;
    configureCameraFolders(catalogue);
    catalogue.pickedCardRoots = true;
    FixedPicker picker(card.string());
    ASSERT_TRUE(selectPicked(catalogue, picker));
    ASSERT_TRUE(selectDrive(catalogue, drive));
    EXPECT_EQ(catalogue.pickedFolder(), "");
    EXPECT_EQ(catalogue.selectedSourceRecord()->label, drive.string() + "/");
    ASSERT_TRUE(catalogue.rescanSelected());
    ASSERT_EQ(catalogue.entries().size(), 1u);
    EXPECT_EQ(catalogue.entries()[0].name, "M_20120309_100000_1CH_F.avi");
}

class SelectionAcrossRebuilds : public ::testing::Test {
protected:
    SelectionAcrossRebuilds() : machine(dir.path() / "root"), scope(machine.root())
    {
        machine.addDisk("sda", false, 1 << 20);
        machine.mountRoot("sda", 1);
        configureCameraFolders(catalogue);
    }
    fs::path card(const std::string &disk, const std::string &mountPoint, const std::string &recording)
    {
        machine.addDisk(disk, true, 4096);
        const fs::path root = machine.mount(disk, 1, mountPoint);
        writeRecording(root / "NOR", recording);
        return root;
    }

    TempDir dir;
    FakeMachine machine;
    SysrootScope scope;
    LogCapture log;
    RecordingCatalogue catalogue;
};

TEST_F(SelectionAcrossRebuilds, FollowsTheSameDriveOrIsCleared)
{
    card("sdb", "/media/first", "N_20120301_080000_1CH_F.avi");
    const fs::path second = card("sdc", "/media/second", "N_20120402_080000_1CH_F.avi");
    ASSERT_EQ(catalogue.enumerateSources(), 3);
    ASSERT_TRUE(catalogue.selectSource(1));
    ASSERT_EQ(catalogue.selectedSourceRecord()->label, second.string() + "/");

    // The first card is pulled out: the second moves up, and so does the selection.
    machine.unmountDisk("sdb");
    ASSERT_EQ(catalogue.enumerateSources(), 2);
    EXPECT_EQ(catalogue.selectedSource(), 0);
    EXPECT_EQ(catalogue.selectedSourceRecord()->label, second.string() + "/");
    EXPECT_EQ(catalogue.sourceKind(), SourceRemovable);
    ASSERT_TRUE(catalogue.rescanSelected());
    ASSERT_EQ(catalogue.entries().size(), 1u);
    EXPECT_EQ(catalogue.entries()[0].name, "N_20120402_080000_1CH_F.avi");

    // Another card in the first slot comes before it again.
    card("sdb", "/media/third", "N_20120503_080000_1CH_F.avi");
    ASSERT_EQ(catalogue.enumerateSources(), 3);
    EXPECT_EQ(catalogue.selectedSourceRecord()->label, second.string() + "/");

    // The selected card itself is pulled out: nothing is selected, and no
    // other drive is scanned in its place.
    machine.unmountDisk("sdc");
    ASSERT_EQ(catalogue.enumerateSources(), 2);
    EXPECT_EQ(catalogue.selectedSource(), -1);
    EXPECT_EQ(catalogue.selectedSourceRecord(), nullptr);
    EXPECT_EQ(catalogue.sourceKind(), SourceNone);
    EXPECT_FALSE(catalogue.rescanSelected());
    EXPECT_TRUE(catalogue.entries().empty());
}

TEST_F(SelectionAcrossRebuilds, PickedFolderStaysWithTheComputerEntry)
{
    const fs::path root = cardRoot(dir.path() / "copied card");
    catalogue.pickedCardRoots = true;
    ASSERT_EQ(catalogue.enumerateSources(), 1);
    static int owner = 0;
    FixedPicker picker(root.string());
    catalogue.ownerWindow = &owner;
    catalogue.folderPicker = &picker;
    ASSERT_TRUE(catalogue.selectSource(0));

    // A card inserted since: the computer entry moves down, the pick stays.
    card("sdb", "/media/card", "N_20120301_080000_1CH_F.avi");
    ASSERT_EQ(catalogue.enumerateSources(), 2);
    EXPECT_EQ(catalogue.selectedSource(), 1);
    EXPECT_EQ(catalogue.pickedFolder(), root.string() + "/");
    EXPECT_EQ(catalogue.selectedSourceRecord()->label, root.string() + "/");
    ASSERT_TRUE(catalogue.rescanSelected());
    EXPECT_EQ(catalogue.entries().size(), 3u);
    EXPECT_EQ(picker.calls, 1);
}

} // namespace
} // namespace korvante
