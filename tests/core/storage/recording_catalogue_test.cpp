// The catalogue on plain folders: configuration, scans, sorting, row fills,
// rear partners and the repair that listing all kinds runs.

#include "catalogue_fixture.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdlib>
#include <ctime>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

TEST(CatalogueConfiguration, FoldersAndExtensions)
{
    LogCapture log;
    RecordingCatalogue c;
    EXPECT_TRUE(c.addFolder("NOR"));
    EXPECT_FALSE(c.addFolder("NOR"));
    EXPECT_TRUE(c.addFolder("nor"));
    EXPECT_FALSE(c.addFolder(std::string(64, 'x')));
    EXPECT_TRUE(c.addFolder(std::string(63, 'x')));
    EXPECT_TRUE(log.contains("longer than 63 bytes"));
    ASSERT_EQ(c.folders().size(), 3u);
    EXPECT_EQ(text64(c.folders()[2].name8), std::string(63, 'x'));

    EXPECT_FALSE(c.addExtension(""));
    EXPECT_TRUE(c.addExtension("AVI"));
    EXPECT_FALSE(c.addExtension("avi"));
    EXPECT_TRUE(c.addExtension("Tavo"));
    EXPECT_EQ(c.extensions(), (std::vector<std::string>{"avi", "tavo"}));

    EXPECT_EQ(c.sourceKind(), SourceNone);
    EXPECT_EQ(c.selectedSource(), -1);
    EXPECT_EQ(c.selectedSourceRecord(), nullptr);
    EXPECT_EQ(c.pickerCaption, "Select Folder");
    EXPECT_EQ(c.computerCaption, "Find in My Computer");
    EXPECT_FALSE(c.selectSource(-1));
    EXPECT_FALSE(c.selectSource(0));
}

class DriveCatalogue : public ::testing::Test {
protected:
    void SetUp() override { configureCameraFolders(catalogue); }
    fs::path folder(const char *name) const { return card.path() / name; }

    TempDir card;
    LogCapture log;
    RecordingCatalogue catalogue;
    RowsView view;
};

TEST_F(DriveCatalogue, RowsColumnsAndRearPartners)
{
    writeRecording(folder("NOR"), "N_20120305_142233_2CH_F.avi");
    writeRecording(folder("NOR"), "N_20120305_142234_2CH_R.avi"); // one second later
    writeRecording(folder("NOR"), "N_20120305_150000_2CH_F.avi");
    writeRecording(folder("NOR"), "N_20120305_150004_2CH_R.avi"); // four seconds: too far
    writeRecording(folder("EVT"), "E_20120305_160000_1CH_F.avi");
    writeRecording(folder("EVT"), "E_20120305_160000_1CH_R.avi");
    writeRecording(folder("MOT"), "P_20120301_080000_2CH_F.avi");
    writeRecording(folder("MOT"), "P_20120301_075957_2CH_R.avi"); // three seconds earlier
    writeRecording(folder("MAN"), "x_20120302_000000_1CH_F.avi"); // no kind letter
    writeRecording(folder("MAN"), "notes.txt");

    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    EXPECT_EQ(catalogue.sourceKind(), SourceRemovable);
    EXPECT_EQ(catalogue.selectedSource(), 0);
    EXPECT_EQ(catalogue.entries().size(), 9u);
    ASSERT_EQ(catalogue.scannedFolders().size(), 4u);
    EXPECT_EQ(catalogue.scannedFolderAt(0)->path, card.str() + "/NOR/");
    EXPECT_EQ(catalogue.scannedFolderAt(0)->count, 4);
    EXPECT_EQ(catalogue.scannedFolderAt(3)->count, 1);
    EXPECT_EQ(catalogue.scannedFolderAt(4), nullptr);

    EXPECT_EQ(catalogue.listAll(view), 5);
    const std::vector<RowsView::Row> expected = {
        {"001", "2012-03-01", "08:00:00", "MOT", "F/R", "P_20120301_080000_2CH_F.avi"},
        {"002", "2012-03-02", "00:00:00", "NONE", "F", "x_20120302_000000_1CH_F.avi"},
        {"003", "2012-03-05", "14:22:33", "NOR", "F/R", "N_20120305_142233_2CH_F.avi"},
        {"004", "2012-03-05", "15:00:00", "NOR", "F", "N_20120305_150000_2CH_F.avi"},
        {"005", "2012-03-05", "16:00:00", "EVT", "F", "E_20120305_160000_1CH_F.avi"},
    };
    EXPECT_EQ(view.rows, expected);
    EXPECT_TRUE(view.redraw);
    EXPECT_FALSE(view.busy);
    EXPECT_EQ(view.busyCalls, 2);
    ASSERT_EQ(catalogue.shownCount(), 5);
    EXPECT_EQ(catalogue.shownEntryAt(2)->name, "N_20120305_142233_2CH_F.avi");
    EXPECT_EQ(catalogue.shownEntryAt(2)->path, card.str() + "/NOR/N_20120305_142233_2CH_F.avi");
    EXPECT_EQ(catalogue.shownEntryAt(2)->folderIndex, 0);
    EXPECT_EQ(catalogue.shownEntryAt(2)->cardFileId, -1);
    EXPECT_EQ(catalogue.shownEntryAt(5), nullptr);
    ASSERT_EQ(catalogue.shownEntries().size(), 5u);
    EXPECT_EQ(catalogue.shownEntries()[2], catalogue.shownEntryAt(2));
    EXPECT_EQ(catalogue.shownEntryAt(-1), nullptr);

    // Kind 0 includes the name without a kind letter; rear files are never rows.
    EXPECT_EQ(catalogue.listKind(KindNormal, view), 3);
    EXPECT_EQ(view.column(ColumnNumber), (std::vector<std::string>{"001", "002", "003"}));
    EXPECT_EQ(view.column(ColumnKind), (std::vector<std::string>{"NONE", "NOR", "NOR"}));
    EXPECT_EQ(catalogue.listKind(KindParking, view), 1);
    EXPECT_EQ(view.rows[0][ColumnKind], "MOT");
    EXPECT_EQ(catalogue.listKind(KindManual, view), 0);
    EXPECT_TRUE(view.rows.empty());
}

TEST_F(DriveCatalogue, PartnerOffsetsAndLookup)
{
    writeRecording(folder("NOR"), "N_20120305_235959_2CH_F.avi");
    writeRecording(folder("NOR"), "N_20120306_000001_2CH_R.avi"); // across midnight
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    const std::string front = card.str() + "/NOR/N_20120305_235959_2CH_F.avi";
    const std::string candidate = RecordingCatalogue::rearCandidateOf(front);
    EXPECT_EQ(candidate, card.str() + "/NOR/N_20120305_235959_2CH_R.avi");
    EXPECT_EQ(catalogue.findRearPartner(candidate, "20120305", "235959", 1), "NULL");
    EXPECT_EQ(catalogue.findRearPartner(candidate, "20120305", "235959", 2),
              card.str() + "/NOR/N_20120306_000001_2CH_R.avi");
    EXPECT_EQ(catalogue.findRearPartner(candidate, "20121305", "235959", 2), "NULL");
    EXPECT_EQ(catalogue.listAll(view), 1);
    EXPECT_EQ(view.rows[0][ColumnChannels], "F/R");
}

// Names whose time digits also occur in their date ("201203" in 20120305),
// and recordings in the hour that New York's spring change skips (the camera's
// clock has no time zone): the rear file is found, by the file list and by the
// lookup the player uses.
TEST_F(DriveCatalogue, PartnersOfTimesThatLookLikeDatesOrFallInASkippedHour)
{
    struct ScopedZone {
        std::optional<std::string> saved;
        explicit ScopedZone(const char *zone)
        {
            if (const char *tz = std::getenv("TZ"))
                saved = tz;
            setenv("TZ", zone, 1);
            tzset();
        }
        ~ScopedZone()
        {
            if (saved)
                setenv("TZ", saved->c_str(), 1);
            else
                unsetenv("TZ");
            tzset();
        }
    } zone("America/New_York");

    struct Case {
        const char *front, *rear;
        int offset; // of the rear from the front, in seconds
    };
    const Case cases[] = {
        {"N_20120305_201203_2CH_F.avi", "N_20120305_201203_2CH_R.avi", 0},
        {"N_20120305_201203_2CH_F.avi", "N_20120305_201204_2CH_R.avi", 1},
        {"E_20121212_201212_2CH_F.avi", "E_20121212_201210_2CH_R.avi", -2},
        // 2012-03-11 02:00 to 03:00 does not exist in New York.
        {"N_20120311_023000_2CH_F.avi", "N_20120311_023000_2CH_R.avi", 0},
        {"N_20120311_025959_2CH_F.avi", "N_20120311_030002_2CH_R.avi", 3},
        {"M_20120311_020001_2CH_F.avi", "M_20120311_015959_2CH_R.avi", -2},
        // The hour repeated in autumn, and a leap day.
        {"N_20121104_013000_2CH_F.avi", "N_20121104_012957_2CH_R.avi", -3},
        {"P_20120228_235959_2CH_F.avi", "P_20120229_000001_2CH_R.avi", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.front);
        TempDir dir;
        const std::string nor = dir.str() + "/NOR/";
        writeRecording(dir.path() / "NOR", c.front);
        writeRecording(dir.path() / "NOR", c.rear);
        RecordingCatalogue cat;
        configureCameraFolders(cat);
        ASSERT_TRUE(selectDrive(cat, dir.path()));
        RowsView rows;
        ASSERT_EQ(cat.listAll(rows), 1);
        EXPECT_EQ(rows.rows[0][ColumnChannels], "F/R");

        const std::string candidate = RecordingCatalogue::rearCandidateOf(nor + c.front);
        const std::string date(nameField(c.front, 1)), time(nameField(c.front, 2));
        EXPECT_EQ(cat.findRearPartner(candidate, date, time, c.offset), nor + c.rear);
        for (int other : {0, 1, -1, 2, -2, 3, -3}) {
            if (other != c.offset) {
                EXPECT_EQ(cat.findRearPartner(candidate, date, time, other), "NULL") << other;
            }
        }
    }
}

TEST_F(DriveCatalogue, FolderNamesAreNeverRewritten)
{
    // The folder itself is called after the date and holds "_F": only the file
    // name moves to its partner.
    const fs::path odd = card.path() / "cam_F_20120305";
    catalogue.addFolder("cam_F_20120305");
    writeRecording(odd, "N_20120305_101010_2CH_F.avi");
    writeRecording(odd, "N_20120305_101011_2CH_R.avi");
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    EXPECT_EQ(catalogue.listAll(view), 1);
    EXPECT_EQ(view.rows[0][ColumnChannels], "F/R");
}

TEST_F(DriveCatalogue, InvalidDatesListButFindNoPartner)
{
    writeRecording(folder("NOR"), "N_20121340_142233_2CH_F.avi");
    writeRecording(folder("NOR"), "N_20121340_142233_2CH_R.avi");
    writeRecording(folder("NOR"), "N_2CH_F.avi");
    writeRecording(folder("NOR"), "N.avi");
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    EXPECT_EQ(catalogue.listAll(view), 3);
    EXPECT_EQ(view.column(ColumnDate), (std::vector<std::string>{"0000-00-00", "2012-13-40", "0000-00-02"}));
    for (const auto &r : view.rows)
        EXPECT_EQ(r[ColumnChannels], "F");
}

TEST_F(DriveCatalogue, SortOrdersUseNameThenCreationThenSize)
{
    writeRecording(folder("NOR"), "N_20120305_100000_1CH_F.avi");
    writeRecording(folder("EVT"), "E_20120304_100000_1CH_F.avi");
    writeRecording(folder("MOT"), "P_20120306_090000_1CH_F.avi");
    catalogue.sortOrder = SortOrder::Descending;
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    catalogue.listAll(view);
    EXPECT_EQ(view.column(ColumnDate), (std::vector<std::string>{"2012-03-06", "2012-03-05", "2012-03-04"}));
    catalogue.sortOrder = SortOrder::Ascending;
    ASSERT_TRUE(catalogue.selectSource(0));
    catalogue.listAll(view);
    EXPECT_EQ(view.column(ColumnDate), (std::vector<std::string>{"2012-03-04", "2012-03-05", "2012-03-06"}));
}

TEST_F(DriveCatalogue, ListAllRepairsUnfinishedFilesAndListKindNever)
{
    const auto cut = writeRecording(folder("NOR"), "N_20120305_142233_1CH_F.avi", std::nullopt, true);
    const auto rear = writeRecording(folder("NOR"), "N_20120305_142233_2CH_R.avi", std::nullopt, true);
    const auto intact = writeRecording(folder("EVT"), "E_20120305_150000_1CH_F.avi");
    const Bytes cutBefore = readAll(cut);
    const Bytes intactBefore = readAll(intact);
    ASSERT_TRUE(selectDrive(catalogue, card.path()));

    EXPECT_EQ(catalogue.listKind(KindNormal, view), 1);
    EXPECT_EQ(readAll(cut), cutBefore);
    EXPECT_FALSE(RecordingCatalogue::isIntact(cut.string()));

    EXPECT_EQ(catalogue.listAll(view), 2);
    EXPECT_TRUE(RecordingCatalogue::isIntact(cut.string()));
    EXPECT_TRUE(RecordingCatalogue::isIntact(rear.string())); // rear files are repaired too
    EXPECT_EQ(readAll(cut).size(), cutBefore.size());
    EXPECT_EQ(getLe32(readAll(cut), 4), cutBefore.size() - 8);
    EXPECT_EQ(readAll(intact), intactBefore);
    EXPECT_TRUE(log.contains("repaired unfinished recording"));
}

TEST_F(DriveCatalogue, RepairWritesOnlyTheListedFileNeverThroughALink)
{
    // Targets outside the card: a text file that looks like a movie list, and
    // an unfinished recording reached by a symbolic link and by a hard link.
    TempDir outside;
    const fs::path text = outside.path() / "notes.txt";
    Bytes notes(600, 'x');
    std::memcpy(notes.data() + 20, "movi00dc", 8);
    writeAll(text, notes);
    const fs::path elsewhere = writeRecording(outside.path(), "other.avi", std::nullopt, true);
    const fs::path hard = writeRecording(outside.path(), "hard.avi", std::nullopt, true);
    fs::create_directories(folder("NOR"));
    fs::create_symlink(text, folder("NOR") / "N_20120305_150000_1CH_F.avi");
    fs::create_symlink(elsewhere, folder("NOR") / "N_20120305_150001_1CH_F.avi");
    fs::create_hard_link(hard, folder("NOR") / "N_20120305_150002_1CH_F.avi");
    // A file swapped for another after the listing's scan.
    const auto swapped = writeRecording(folder("NOR"), "N_20120305_150003_1CH_F.avi", std::nullopt, true);
    const auto plain = writeRecording(folder("EVT"), "E_20120305_150004_1CH_F.avi", std::nullopt, true);
    const Bytes before[] = {readAll(text), readAll(elsewhere), readAll(hard)};
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    fs::rename(writeRecording(outside.path(), "swap.avi", std::nullopt, true), swapped);
    const Bytes swappedBefore = readAll(swapped);

    EXPECT_EQ(catalogue.listAll(view), 5);
    EXPECT_EQ(readAll(text), before[0]);
    EXPECT_EQ(readAll(elsewhere), before[1]);
    EXPECT_EQ(readAll(hard), before[2]);
    EXPECT_EQ(readAll(swapped), swappedBefore);
    EXPECT_TRUE(RecordingCatalogue::isIntact(plain.string()));
    EXPECT_EQ(catalogue.repairedFiles(), std::vector<std::string>{plain.string()});
    EXPECT_EQ(catalogue.failedRepairs().size(), 4u);
    EXPECT_TRUE(log.contains("a symbolic link"));
}

TEST_F(DriveCatalogue, FilesThatVanishOrCannotBeOpenedAreListedWithoutRepair)
{
    const auto cut = writeRecording(folder("NOR"), "N_20120305_142233_1CH_F.avi", std::nullopt, true);
    writeRecording(folder("NOR"), "N_20120305_150000_1CH_F.avi");
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    fs::remove(cut);
    EXPECT_EQ(catalogue.listAll(view), 2);
    EXPECT_FALSE(fs::exists(cut));
}

TEST_F(DriveCatalogue, MissingFoldersGiveEmptyScannedFolders)
{
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    EXPECT_TRUE(catalogue.entries().empty());
    ASSERT_EQ(catalogue.scannedFolders().size(), 4u);
    for (const auto &f : catalogue.scannedFolders())
        EXPECT_EQ(f.count, 0);
    // listAll leaves an empty catalogue's view alone; listKind empties it.
    view.rows.push_back(RowsView::Row(6, "old"));
    EXPECT_EQ(catalogue.listAll(view), 0);
    EXPECT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(catalogue.listKind(0, view), 0);
    EXPECT_TRUE(view.rows.empty());
}

TEST_F(DriveCatalogue, RecursionCountsSubfoldersAndFollowsNoFolderLinks)
{
    writeRecording(folder("NOR"), "N_20120305_100000_1CH_F.avi");
    writeRecording(folder("NOR") / "day1", "N_20120306_100000_1CH_F.avi");
    writeRecording(folder("NOR") / "day1" / "deeper", "N_20120307_100000_1CH_F.avi");
    fs::create_directory_symlink(folder("NOR"), folder("NOR") / "day1" / "loop");
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    EXPECT_EQ(catalogue.entries().size(), 1u);
    EXPECT_EQ(catalogue.scannedFolderAt(0)->count, 1);

    catalogue.recurseRemovable = true;
    ASSERT_TRUE(catalogue.selectSource(0));
    EXPECT_EQ(catalogue.entries().size(), 3u);
    EXPECT_EQ(catalogue.scannedFolderAt(0)->count, 2); // one file and one subfolder
}

TEST_F(DriveCatalogue, OddNamesAreKeptAsBytes)
{
    const std::string latin1 = "N_20120305_100000_1CH_F\xE9.avi";
    writeRecording(folder("NOR"), latin1);
    writeRecording(folder("NOR"), "N_20120305_100001_1CH_F.AVI");
    writeRecording(folder("NOR"), "N_20120305_100002_1CH_F.avi.part");
    writeRecording(folder("NOR"), "avi");
    fs::create_directories(folder("NOR") / "dir.avi");
    fs::create_symlink(folder("NOR") / "gone.avi", folder("NOR") / "dangling.avi");
    ASSERT_TRUE(selectDrive(catalogue, card.path()));
    ASSERT_EQ(catalogue.entries().size(), 3u); // "avi" has no dot: its whole name is the extension
    EXPECT_EQ(catalogue.entries()[1].name, latin1);
    EXPECT_EQ(catalogue.listAll(view), 3);
    EXPECT_EQ(view.rows[1][ColumnName], latin1);
}

TEST(PickedFolder, NeedsOwnerPickerAndRecordings)
{
    TempDir dir;
    writeRecording(dir.path() / "sub", "N_20120305_100000_1CH_F.avi");
    RecordingCatalogue c;
    configureCameraFolders(c);
    StorageSource s;
    s.kind = SourceComputer;
    c.setSources({s});
    EXPECT_FALSE(c.selectSource(0)); // no owner window
    EXPECT_EQ(c.sourceKind(), SourceComputer);

    FixedPicker cancel(std::nullopt);
    EXPECT_FALSE(selectPicked(c, cancel));
    EXPECT_EQ(cancel.calls, 1);
    EXPECT_EQ(cancel.lastCaption, "Select Folder");
    EXPECT_NE(cancel.lastOwner, nullptr);

    FixedPicker top(dir.str());
    EXPECT_FALSE(selectPicked(c, top)); // only a subfolder, recursion off
    EXPECT_EQ(c.selectedSource(), -1);
    c.recursePicked = true;
    ASSERT_TRUE(selectPicked(c, top));
    ASSERT_EQ(c.entries().size(), 1u);
    EXPECT_EQ(c.entries()[0].folderIndex, 0);
    EXPECT_EQ(c.entries()[0].path, dir.str() + "/sub/N_20120305_100000_1CH_F.avi");
    EXPECT_EQ(c.scannedFolderAt(0)->path, dir.str() + "/");

    FixedPicker missing(dir.str() + "/nothing-here");
    EXPECT_FALSE(selectPicked(c, missing));
    EXPECT_TRUE(c.entries().empty());
}

TEST(CatalogueSearch, DateRangeSpeedAndLayout)
{
    TempDir dir;
    LogCapture log;
    writeRecording(dir.path(), "N_20120301_100000_1CH_F.avi", 80);
    writeRecording(dir.path(), "N_20120303_100000_2CH_F.avi", 120);
    writeRecording(dir.path(), "N_20120303_100001_2CH_R.avi", 120);
    writeRecording(dir.path(), "E_20120305_235959_1CH_F.avi", 20);
    writeRecording(dir.path(), "E_20120305_120000_1CH_F.avi", std::nullopt);
    writeRecording(dir.path(), "E_20120305_130000_1CH_F.avi", 451);
    writeRecording(dir.path(), "E_20120305_140000_1CH_F.avi", -5);
    writeRecording(dir.path(), "M_20120306_100000_1CH_F.avi", 90);
    writeRecording(dir.path(), "M_20121340_100000_1CH_F.avi", 90);
    writeRecording(dir.path(), "M_20120431_100000_1CH_F.avi", 90);
    writeRecording(dir.path(), "P_20120304_100000_1CH_F.avi", std::nullopt, true);

    RecordingCatalogue c;
    configureCameraFolders(c);
    FixedPicker picker(dir.str());
    ASSERT_TRUE(selectPicked(c, picker));
    RowsView view;

    auto at = [](int y, int m, int d) {
        NameDateTime dt;
        dt.year = y, dt.month = m, dt.day = d;
        return static_cast<int64_t>(*dt.toLocalTime());
    };
    SearchCriteria criteria{at(2012, 3, 1), at(2012, 3, 5), 0.0f};
    EXPECT_EQ(c.searchAll(view, criteria), 3);
    EXPECT_EQ(view.column(ColumnName),
              (std::vector<std::string>{"N_20120301_100000_1CH_F.avi", "N_20120303_100000_2CH_F.avi",
                                        "E_20120305_235959_1CH_F.avi"}));
    EXPECT_EQ(view.rows[1][ColumnChannels], "F/R");

    criteria.minSpeed = 80.0f;
    EXPECT_EQ(c.searchAll(view, criteria), 2);
    criteria.minSpeed = 80.5f;
    EXPECT_EQ(c.searchAll(view, criteria), 1);
    EXPECT_EQ(c.searchKind(view, criteria, KindEvent), 0);
    criteria.minSpeed = 0.0f;
    EXPECT_EQ(c.searchKind(view, criteria, KindEvent), 1);

    // The end's day counts once the end reaches its midnight; a date that the
    // calendar moves on shows as the day it moved to.
    criteria = {at(2012, 3, 6), at(2012, 5, 1), 0.0f};
    EXPECT_EQ(c.searchAll(view, criteria), 2);
    EXPECT_EQ(view.column(ColumnDate), (std::vector<std::string>{"2012-03-06", "2012-05-01"}));
    criteria.end = at(2012, 5, 1) - 1;
    EXPECT_EQ(c.searchAll(view, criteria), 1);

    // The unfinished recording stays unfinished: searches do not repair.
    EXPECT_FALSE(RecordingCatalogue::isIntact((dir.path() / "P_20120304_100000_1CH_F.avi").string()));
}

} // namespace
} // namespace korvante
