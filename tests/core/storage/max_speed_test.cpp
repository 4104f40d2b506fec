// The maximum-speed walk: where the marker may be, and what ends the walk.

#include "core/recording/max_speed.h"
#include "recording_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace korvante {
namespace {

using testing::Bytes;
using testing::buildRecording;
using testing::RecordingLayout;
using testing::TempDir;
using testing::layoutOf;
using testing::typicalChunks;
using testing::writeAll;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

std::optional<int32_t> speedOf(const Bytes &bytes, SpeedWalkStats *stats = nullptr, uint64_t sizeKiB = 0)
{
    TempDir dir;
    const auto path = dir.path() / "s.avi";
    writeAll(path, bytes);
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    return findMaxSpeed(f.get(), sizeKiB ? sizeKiB : bytes.size() / 1024, stats);
}

// Bytes between the index and the MSPD record that put the marker at
// `markerPos` of the first window after the index (which starts one byte
// before the index ends).
Bytes fillerFor(size_t markerPos)
{
    // The record's marker sits 8 bytes after "JUNK"; the window starts one byte
    // before the end of the index, so the filler starts at window position 1.
    return Bytes(markerPos - 1 - 8, 0x33);
}

TEST(MaxSpeed, FoundAfterTheIndexInAHandfulOfReads)
{
    RecordingLayout layout = layoutOf(typicalChunks(40, 3000));
    layout.maxSpeed = 88;
    SpeedWalkStats stats;
    EXPECT_EQ(speedOf(buildRecording(layout).bytes, &stats), 88);
    EXPECT_LE(stats.reads, 4u);
}

TEST(MaxSpeed, ValuesAreSignedAndUnchecked)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    for (int32_t v : {0, -5, 451, 2147483647, -2147483647 - 1}) {
        layout.maxSpeed = v;
        EXPECT_EQ(speedOf(buildRecording(layout).bytes), v);
    }
}

TEST(MaxSpeed, MissingMarkerOrLayoutGivesNone)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    layout.maxSpeed.reset();
    layout.afterIndex = {'J', 'U', 'N', 'K', 8, 0, 0, 0, 'X', 'S', 'P', 'D', 1, 0, 0, 0};
    EXPECT_EQ(speedOf(buildRecording(layout).bytes), std::nullopt);

    layout.maxSpeed = 50;
    layout.afterIndex.clear();
    Bytes b = buildRecording(layout).bytes;
    Bytes noHeaderList = b;
    noHeaderList[12] = 'X';
    EXPECT_EQ(speedOf(noHeaderList), std::nullopt);
    Bytes zeroRiff = b;
    testing::putLe32(zeroRiff, 4, 0);
    EXPECT_EQ(speedOf(zeroRiff), std::nullopt);
    Bytes negativeRiff = b;
    testing::putLe32(negativeRiff, 4, 0x80000000u);
    EXPECT_EQ(speedOf(negativeRiff), std::nullopt);
    Bytes headerTooLong = b;
    testing::putLe32(headerTooLong, 16, 0x7FFFFFF0u);
    EXPECT_EQ(speedOf(headerTooLong), std::nullopt);
    EXPECT_EQ(speedOf(Bytes{}), std::nullopt);
    for (size_t n : {4, 12, 19, 20, 230})
        EXPECT_EQ(speedOf(Bytes(b.begin(), b.begin() + static_cast<long>(n))), std::nullopt) << n;
}

TEST(MaxSpeed, WithoutRiffTheCatalogueSizeIsTheBudget)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    layout.maxSpeed = 61;
    Bytes b = buildRecording(layout).bytes;
    b[0] = 'X';
    EXPECT_EQ(speedOf(b, nullptr, 4), 61);
    // A size below one window leaves no budget for the read after the index.
    TempDir dir;
    writeAll(dir.path() / "s.avi", b);
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen((dir.path() / "s.avi").c_str(), "rb"));
    EXPECT_EQ(findMaxSpeed(f.get(), 0), std::nullopt);
}

TEST(MaxSpeed, RiffSizeBudgetEndsTheWalk)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    layout.maxSpeed = 99;
    layout.afterIndex = Bytes(200, 0x44); // the record lands in the fourth window
    Bytes b = buildRecording(layout).bytes;
    testing::putLe32(b, 4, 64 * 3);
    EXPECT_EQ(speedOf(b), std::nullopt);
    testing::putLe32(b, 4, 64 * 4);
    EXPECT_EQ(speedOf(b), 99);
}

TEST(MaxSpeed, MarkerSplitAcrossWindowsAfterAJunkHeader)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    layout.maxSpeed = 123;
    for (size_t pos : {56, 57, 58, 59, 60, 61, 62, 63}) {
        layout.afterIndex = fillerFor(pos);
        EXPECT_EQ(speedOf(buildRecording(layout).bytes), 123) << "marker at " << pos;
    }
}

TEST(MaxSpeed, SplitMarkerWithoutJunkHeaderIsNotCompleted)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    layout.maxSpeed.reset();
    Bytes tail = fillerFor(62);
    const Bytes rec{'J', 'U', 'N', 'Q', 0x08, 0, 0, 0, 'M', 'S', 'P', 'D', 0x10, 0, 0, 0};
    tail.reserve(tail.size() + rec.size());
    for (unsigned char b : rec)
        tail.push_back(b);
    layout.afterIndex = tail;
    EXPECT_EQ(speedOf(buildRecording(layout).bytes), std::nullopt);
}

TEST(MaxSpeed, LastMarkerOfAWindowCounts)
{
    RecordingLayout layout = layoutOf(typicalChunks(5));
    layout.maxSpeed = 40;
    layout.afterIndex = {'J', 'U', 'N', 'K', 8, 0, 0, 0, 'M', 'S', 'P', 'D', 30, 0, 0, 0};
    EXPECT_EQ(speedOf(buildRecording(layout).bytes), 40);
}

} // namespace
} // namespace korvante
