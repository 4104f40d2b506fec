// The catalogue on the TAVO partition of a card image.

#include "catalogue_fixture.h"
#include "support/log_capture.h"
#include "tavo/tavo.h"
#include "support/small_card.h"
#include "tavo/tavo_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

constexpr int64_t kStamp = 1330957353; // 2012-03-05 14:22:33 UTC

struct CardFile {
    std::string dir, name;
    int64_t time;
    size_t size;
};

fs::path makeCardImage(const fs::path &path, const std::vector<std::string> &dirs, const std::vector<CardFile> &files)
{
    const tavo::CardLayout layout = korvante::testing::smallCardLayout();
    std::string error;
    auto writer = tavo::CardWriter::createImage(path.string(), layout, &error);
    EXPECT_TRUE(writer) << error;
    for (const auto &d : dirs)
        EXPECT_TRUE(writer->addDirectory(d));
    for (const auto &f : files) {
        const Bytes data(f.size, 0x42);
        EXPECT_NE(writer->addFile(f.dir, f.name, f.time, data.data(), data.size()), 0u) << f.name;
    }
    EXPECT_TRUE(writer->finish(&error)) << error;
    return path;
}

bool selectCard(RecordingCatalogue &c, const fs::path &image)
{
    StorageSource s;
    s.kind = SourceTavo;
    s.label = "/media/card/ (TAVO)";
    setText64(s.devicePath, image.string());
    std::vector<StorageSource> sources = c.sources();
    sources.push_back(s);
    c.setSources(sources);
    return c.selectSource(static_cast<int>(sources.size()) - 1);
}

TEST(TavoCatalogue, PagesRecordsAndRows)
{
    TempDir dir;
    LogCapture log;
    std::vector<CardFile> files;
    for (int i = 0; i < 65; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "N_20120305_%06d_2CH_F.tavo", 100000 + i);
        files.push_back({"NOR", name, kStamp + i, 3000 + static_cast<size_t>(i)});
    }
    files.push_back({"EVT", "E_20120304_080000_1CH_F.tavo", kStamp - 86400, 2048});
    const fs::path image = makeCardImage(dir.path() / "card.img", {"NOR", "EVT", "MOT"}, files);

    RecordingCatalogue c;
    configureCameraFolders(c);
    ASSERT_TRUE(selectCard(c, image));
    EXPECT_EQ(c.sourceKind(), SourceTavo);
    EXPECT_NE(c.cardDevice(), nullptr);
    ASSERT_EQ(c.entries().size(), 66u);
    ASSERT_EQ(c.scannedFolders().size(), 4u);
    EXPECT_EQ(c.scannedFolderAt(0)->path, "NOR");
    EXPECT_EQ(c.scannedFolderAt(0)->count, 65); // three pages of at most 30
    EXPECT_EQ(c.scannedFolderAt(1)->count, 1);
    EXPECT_EQ(c.scannedFolderAt(2)->count, 0);  // empty directory
    EXPECT_EQ(c.scannedFolderAt(3)->count, 0);  // directory not on the card

    const RecordingEntry *first = c.entryAt(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name, "E_20120304_080000_1CH_F.tavo");
    EXPECT_EQ(first->path, first->name);
    EXPECT_EQ(text64(first->cardName), first->name);
    EXPECT_EQ(first->folderIndex, 1);
    EXPECT_GE(first->cardFileId, 1);
    EXPECT_EQ(first->created, static_cast<uint64_t>(kStamp - 86400 + 11644473600LL) * 10000000u);
    EXPECT_EQ(first->sizeKiB, 2u);
    EXPECT_EQ(c.entryAt(66), nullptr);

    RowsView view;
    EXPECT_EQ(c.listAll(view), 66);
    EXPECT_EQ(view.rows[0], (RowsView::Row{"001", "2012-03-04", "08:00:00", "EVT", "F", "E_20120304_080000_1CH_F"}));
    EXPECT_EQ(view.rows[1][ColumnChannels], "F/R"); // both channels travel in the one card file
    EXPECT_EQ(view.rows[65][ColumnNumber], "066");

    // Searches read through the computer's file system and find nothing here.
    SearchCriteria all{0, INT64_MAX, 0.0f};
    EXPECT_EQ(c.searchAll(view, all), 0);
}

TEST(TavoCatalogue, BareNamesNeverReachTheWorkingFolder)
{
    // An unfinished file in the working folder with a card recording's name is
    // neither repaired nor searched.
    TempDir dir;
    const fs::path image = makeCardImage(dir.path() / "card.img", {"NOR"},
                                         {{"NOR", "N_20120305_142233_1CH_F.tavo", kStamp, 5000}});
    const fs::path work = dir.path() / "work";
    const auto decoy = writeRecording(work, "N_20120305_142233_1CH_F.tavo", 50, true);
    const Bytes before = readAll(decoy);
    const fs::path old = fs::current_path();
    fs::current_path(work);
    RecordingCatalogue c;
    configureCameraFolders(c);
    ASSERT_TRUE(selectCard(c, image));
    RowsView view;
    EXPECT_EQ(c.listAll(view), 1);
    EXPECT_EQ(c.searchAll(view, {0, INT64_MAX, 0.0f}), 0);
    fs::current_path(old);
    EXPECT_EQ(readAll(decoy), before);
}

TEST(TavoCatalogue, DeviceThatCannotBeOpenedKeepsThePreviousSelection)
{
    TempDir dir;
    LogCapture log;
    const fs::path image = makeCardImage(dir.path() / "card.img", {"NOR"},
                                         {{"NOR", "N_20120305_142233_1CH_F.tavo", kStamp, 100}});
    RecordingCatalogue c;
    configureCameraFolders(c);
    ASSERT_TRUE(selectCard(c, image));
    EXPECT_EQ(c.selectedSource(), 0);

    // A damaged file table: the card library refuses the device.
    Bytes damaged = readAll(image);
    const uint64_t tavoStart = 1u << 20 | 512; // after the FAT partition (sector 1 + 1 MiB)
    for (size_t i = tavoStart; i < tavoStart + 64 * 1024 && i < damaged.size(); i += 97)
        damaged[i] ^= 0x5A;
    const fs::path broken = dir.path() / "broken.img";
    writeAll(broken, damaged);

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(selectCard(c, dir.path() / "no-such-card.img"));
    const bool brokenOpened = selectCard(c, broken);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("TAVO drive cannot be opened\n", 0), 0u);
    EXPECT_FALSE(brokenOpened);
    EXPECT_EQ(c.selectedSource(), 0);
    EXPECT_EQ(c.sourceKind(), SourceTavo);
    EXPECT_EQ(c.cardDevice(), nullptr);
    EXPECT_TRUE(c.entries().empty());
}

TEST(TavoCatalogue, EqualKeysAndTimesPutTheLargerFileFirstInBothOrders)
{
    TempDir dir;
    const fs::path image = makeCardImage(
        dir.path() / "card.img", {"NOR", "EVT"},
        {{"NOR", "N_20120305_142233_1CH_F.tavo", kStamp, 1024 * 3},
         {"EVT", "E_20120305_142233_1CH_F.tavo", kStamp, 1024 * 9},
         {"EVT", "E_20120305_142233_1CH_F2.tavo", kStamp + 1, 1024}});
    RecordingCatalogue c;
    configureCameraFolders(c);
    ASSERT_TRUE(selectCard(c, image));
    EXPECT_EQ(c.entryAt(0)->sizeKiB, 9u);
    EXPECT_EQ(c.entryAt(1)->sizeKiB, 3u);
    EXPECT_EQ(c.entryAt(2)->sizeKiB, 1u); // later creation last when ascending
    c.sortOrder = SortOrder::Descending;
    ASSERT_TRUE(c.selectSource(0));
    EXPECT_EQ(c.entryAt(0)->sizeKiB, 1u);
    EXPECT_EQ(c.entryAt(1)->sizeKiB, 9u);
    EXPECT_EQ(c.entryAt(2)->sizeKiB, 3u);
}

} // namespace
} // namespace korvante
