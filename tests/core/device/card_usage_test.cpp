#include "core/device/card_usage.h"
#include "core/device/mount_watcher.h"

#include "fake_machine.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using testing::FakeMachine;
using testing::TempDir;

void put32(std::string &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// A recording's first bytes as the camera writes them (RIFF, the header list
// with avih and the first stream's strh), `seconds` long at 30 fps, padded
// with zeros to `bytes`.
void writeRecording(const fs::path &file, double seconds, size_t bytes)
{
    std::string b(std::max<size_t>(bytes, 256), '\0');
    std::memcpy(b.data(), "RIFF\0\0\0\0AVI LIST\0\0\0\0hdrlavih", 28);
    put32(b, 28, 56);
    std::memcpy(b.data() + 88, "LIST\0\0\0\0strlstrh", 16);
    put32(b, 104, 56);
    std::memcpy(b.data() + 108, "vidsH264", 8);
    put32(b, 128, 1000);
    put32(b, 132, 30000);
    put32(b, 140, static_cast<uint32_t>(seconds * 30));
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
}

TEST(CardUsage, NamesAreCountedByTheirFifthField)
{
    const std::pair<const char *, char> cases[] = {
        {"N_20120305_142233_2CH_F.avi", 'F'},   {"N_20120305_142233_2CH_R.avi", 'R'},
        {"N_20120305_142233_F.avi", 0},          {"N_20120305_142233_2CH_F.AVI", 0},
        {"N_20120305_142233_2CH_F.avi_x", 'F'},  {"N_20120305_142233_2CH_F.tavo", 'T'},
        {"setup.ini", 0},                        {"", 0},
    };
    for (const auto &[name, kind] : cases)
        EXPECT_EQ(classifyRecordingName(name), kind) << name;
}

TEST(CardUsage, OverFullAndVeryLargeFoldersKeepTheirBarsInRange)
{
    FolderScan full;
    full.frontFiles = 100;
    full.rearFiles = 100;
    const struct {
        uint32_t capacityMB;
        const char *percent;
        int range, position;
    } cases[] = {
        {1000, "3000.0% used", 400, 400},        // NOR 400 MB holding 12000 MB
        {400000, "7.5% used", 40000, 3000},      // NOR 160000 MB, counted in steps of 4 MB
        {0, "0.0% used", 0, 0},
    };
    for (const auto &c : cases) {
        const FolderUsage usage = folderUsage(c.capacityMB, cardFolders()[0], full);
        EXPECT_EQ(usage.percentText, c.percent) << c.capacityMB;
        EXPECT_EQ(usage.barRange, c.range) << c.capacityMB;
        EXPECT_EQ(usage.barPosition, c.position) << c.capacityMB;
        EXPECT_LE(usage.barRange, 65535);
    }
}

TEST(CardUsage, RetentionFollowsTheMeasuredRateOrTheEstimates)
{
    TempDir dir;
    FormatterDrive drive;
    drive.root = dir.path().string() + "/";
    // 30-second recordings of 6 MiB front and 3 MiB rear: 0.3 MiB per second.
    for (int i = 0; i < 4; ++i) {
        writeRecording(dir.path() / "NOR" / ("N_20240101_10000" + std::to_string(i) + "_2CH_F.avi"), 30, 6 << 20);
        writeRecording(dir.path() / "NOR" / ("N_20240101_10000" + std::to_string(i) + "_2CH_R.avi"), 30, 3 << 20);
    }
    // An unfinished recording (no length in its header) is counted but not measured.
    std::ofstream(dir.path() / "NOR" / "N_20240101_100009_2CH_F.avi") << std::string(512, '\0');

    const FolderScan nor = scanCardFolder(drive, "NOR");
    EXPECT_EQ(nor.frontFiles, 5);
    EXPECT_EQ(nor.measuredFronts, 4);
    const RetentionForecast measured = retentionForecast(12211, cardFolders()[0], nor, 0);
    EXPECT_FALSE(measured.estimated);
    EXPECT_NEAR(measured.seconds, 12211 / 0.3, 1);
    EXPECT_EQ(measured.text, "keeps \u2248 11 h 18 min of driving");

    // An empty folder: 40 + 20 MB per recording of the card's usual length.
    const RetentionForecast estimated = retentionForecast(6105, cardFolders()[1], FolderScan{}, 30);
    EXPECT_TRUE(estimated.estimated);
    EXPECT_NEAR(estimated.seconds, 6105.0 / 60 * 30, 1);
    EXPECT_EQ(estimated.text, "keeps \u2248 51 min of events (estimate)");
    EXPECT_NEAR(retentionForecast(6105, cardFolders()[1], FolderScan{}, 0).seconds, 6105.0 / 60 * 60, 1);
    EXPECT_EQ(retentionForecast(0, cardFolders()[2], nor, 0).text, "no space for recordings");

    const std::pair<double, const char *> durations[] = {
        {59, "1 min"}, {3000, "50 min"}, {3599, "1 h 0 min"}, {9600, "2 h 40 min"}, {3 * 86400 + 4 * 3600, "3 days 4 h"}};
    for (const auto &[seconds, text] : durations)
        EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

TEST(CardUsage, TheWatcherReportsCardsComingAndGoing)
{
    TempDir dir;
    FakeMachine machine(dir.path() / "root");
    machine.addDisk("sda", false, 1000);
    machine.mountRoot("sda", 1);
    machine.addDisk("sdb", true, 1000);
    machine.mount("sdb", 1, "/media/one");
    const std::string root = machine.root().string() + "/";
    MountWatcher watcher(root);
    EXPECT_TRUE(watcher.poll().empty());

    machine.addDisk("sdc", true, 1000);
    machine.mount("sdc", 1, "/media/two");
    auto changes = watcher.poll();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].inserted);
    EXPECT_EQ(changes[0].root, root + "media/two/");

    machine.unmountDisk("sdb");
    changes = watcher.poll();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0].inserted);
    EXPECT_EQ(changes[0].root, root + "media/one/");
    EXPECT_TRUE(watcher.poll().empty());
}

} // namespace
} // namespace korvante
