// Repair of unfinished recordings: what changes, what never changes.

#include "core/storage/recording_repair.h"
#include "recording_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>

namespace korvante {
namespace {

using testing::Bytes;
using testing::buildRecording;
using testing::buildUnfinished;
using testing::getLe32;
using testing::MovieChunk;
using testing::readAll;
using testing::RecordingLayout;
using testing::TempDir;
using testing::layoutOf;
using testing::typicalChunks;
using testing::writeAll;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

// Runs the repair on a file holding `bytes` and returns its plan; the file's
// bytes afterwards land in `after`.
RepairPlan repairBytes(const TempDir &dir, const Bytes &bytes, Bytes &after, bool dryRun = false)
{
    const auto path = dir.path() / "rec.avi";
    writeAll(path, bytes);
    RepairPlan plan;
    {
        std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb+"));
        EXPECT_TRUE(f);
        bool failed = false;
        plan = dryRun ? planRepair(f.get()) : repair(f.get(), &failed);
        EXPECT_FALSE(failed);
    }
    after = readAll(path);
    return plan;
}

// The bytes a repair must produce: the header, the untouched middle, zeros.
Bytes expectedAfter(Bytes bytes, size_t zeroStart)
{
    const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
    bytes[0] = 'R', bytes[1] = 'I', bytes[2] = 'F', bytes[3] = 'F';
    testing::putLe32(bytes, 4, riff);
    std::fill(bytes.begin() + static_cast<long>(zeroStart), bytes.end(), 0);
    return bytes;
}

Bytes oldData(size_t n, unsigned char first = 0xAB)
{
    Bytes b(n, 0x5C);
    if (n)
        b[0] = first;
    return b;
}

TEST(IntactHeader, RiffSizeMustBeAboveZeroAndBelowTwoGiB)
{
    TempDir dir;
    const auto path = (dir.path() / "h.avi").string();
    Bytes b = buildRecording(layoutOf(typicalChunks(3))).bytes;
    struct Case { uint32_t size; bool intact; };
    for (Case c : {Case{0, false}, Case{1, true}, Case{0x7FFFFFFF, true}, Case{0x80000000u, false},
                   Case{0xFFFFFFFFu, false}}) {
        testing::putLe32(b, 4, c.size);
        writeAll(path, b);
        EXPECT_EQ(isIntact(path), c.intact) << c.size;
    }
    b[0] = 'r';
    testing::putLe32(b, 4, 100);
    writeAll(path, b);
    EXPECT_FALSE(isIntact(path));
    EXPECT_FALSE(isIntact((dir.path() / "missing.avi").string()));
    for (size_t n : {0, 4, 7}) {
        writeAll(path, Bytes(b.begin(), b.begin() + static_cast<long>(n)));
        EXPECT_FALSE(isIntact(path)) << n;
    }
    writeAll(path, Bytes{'R', 'I', 'F', 'F', 1, 0, 0, 0});
    EXPECT_TRUE(isIntact(path));
}

TEST(Repair, UnfinishedRecordingKeepsLengthAndZeroesTheCutChunk)
{
    TempDir dir;
    RecordingLayout layout = layoutOf(typicalChunks(6));
    const auto built = buildUnfinished(layout, 300, oldData(5000));
    Bytes after;
    const RepairPlan plan = repairBytes(dir, built.bytes, after);
    ASSERT_TRUE(plan.repairable);
    EXPECT_EQ(plan.zeroFillStart, built.chunkOffsets.back());
    EXPECT_EQ(plan.zeroFillLength, built.bytes.size() - built.chunkOffsets.back());
    EXPECT_EQ(after, expectedAfter(built.bytes, built.chunkOffsets.back()));
    // Repaired once, the file is intact and a second repair is never asked for.
    EXPECT_TRUE(isIntact((dir.path() / "rec.avi").string()));
}

TEST(Repair, DryRunPlansWithoutWriting)
{
    TempDir dir;
    const auto built = buildUnfinished(layoutOf(typicalChunks(4)), 10, oldData(100));
    Bytes after;
    const RepairPlan plan = repairBytes(dir, built.bytes, after, true);
    EXPECT_TRUE(plan.repairable);
    EXPECT_EQ(after, built.bytes);
}

TEST(Repair, OddChunksWithAndWithoutPadByteAreWalked)
{
    TempDir dir;
    std::vector<MovieChunk> chunks = {
        {"00dc", 101, true}, {"01wb", 33, false}, {"02tx", 7, true}, {"00dc", 500, true}};
    const auto built = buildUnfinished(layoutOf(chunks), 40, oldData(64));
    Bytes after;
    const RepairPlan plan = repairBytes(dir, built.bytes, after);
    ASSERT_TRUE(plan.repairable);
    EXPECT_EQ(plan.zeroFillStart, built.chunkOffsets.back());
    EXPECT_EQ(after, expectedAfter(built.bytes, built.chunkOffsets.back()));
}

TEST(Repair, ZeroByteAfterTheCutNeverReachesTheChunkBefore)
{
    // The walk stops at old bytes that begin with 0, right after an odd chunk:
    // the last byte of the complete chunk before the cut one must survive.
    TempDir dir;
    std::vector<MovieChunk> chunks = {{"00dc", 200, true}, {"01wb", 51, false}};
    auto built = buildUnfinished(layoutOf(chunks), 8 + 51, oldData(80, 0x00));
    Bytes after;
    const RepairPlan plan = repairBytes(dir, built.bytes, after);
    EXPECT_EQ(plan.zeroFillStart, built.chunkOffsets.back());
    EXPECT_EQ(after, expectedAfter(built.bytes, built.chunkOffsets.back()));

    // Same when the very first chunk is the cut one: "movi" stays readable.
    auto first = buildUnfinished(layoutOf({{"00dc", 300, true}}), 20, oldData(300, 0x00));
    const RepairPlan p2 = repairBytes(dir, first.bytes, after);
    EXPECT_EQ(p2.zeroFillStart, first.chunkOffsets[0]);
    ASSERT_GE(after.size(), first.movieList + 12);
    EXPECT_EQ(after[first.movieList + 8], 'm');
    EXPECT_EQ(after[first.movieList + 11], 'i');
}

TEST(Repair, ChunkSizePastTheEndZeroesFromThatChunk)
{
    TempDir dir;
    auto built = buildUnfinished(layoutOf(typicalChunks(5)), 100, {});
    testing::putLe32(built.bytes, built.chunkOffsets.back() + 4, 0xFFFFFFF0u);
    Bytes after;
    const RepairPlan plan = repairBytes(dir, built.bytes, after);
    EXPECT_EQ(plan.zeroFillStart, built.chunkOffsets.back());
    EXPECT_EQ(after, expectedAfter(built.bytes, built.chunkOffsets.back()));
}

TEST(Repair, WithoutMovieListOrStreamChunkTheFileIsUnchanged)
{
    TempDir dir;
    Bytes after;
    // "movi" followed directly by the index: no first stream chunk.
    auto noChunks = buildUnfinished(layoutOf({{"00dc", 4, true}}), 0, {});
    noChunks.bytes.resize(noChunks.chunkOffsets[0]);
    const char idx[] = "idx1\0\0\0\0";
    noChunks.bytes.insert(noChunks.bytes.end(), idx, idx + 8);
    EXPECT_FALSE(repairBytes(dir, noChunks.bytes, after).repairable);
    EXPECT_EQ(after, noChunks.bytes);

    // The movie list beyond the first 512 bytes.
    RecordingLayout bigHeader = layoutOf(typicalChunks(3));
    bigHeader.headerPayload = 600;
    const auto far = buildUnfinished(bigHeader, 20, oldData(30));
    EXPECT_FALSE(repairBytes(dir, far.bytes, after).repairable);
    EXPECT_EQ(after, far.bytes);

    // A chunk id with a stream digit above 3 or an unknown type.
    auto odd = buildUnfinished(layoutOf(typicalChunks(2)), 20, {});
    odd.bytes[odd.chunkOffsets[0] + 1] = '7';
    EXPECT_FALSE(repairBytes(dir, odd.bytes, after).repairable);
    EXPECT_EQ(after, odd.bytes);

    EXPECT_FALSE(repairBytes(dir, Bytes{}, after).repairable);
    EXPECT_TRUE(after.empty());
}

TEST(Repair, CutAtEveryPointOfTheHeaderChangesNothingBeforeTheZeroFill)
{
    TempDir dir;
    const auto full = buildUnfinished(layoutOf(typicalChunks(3, 40)), 20, oldData(16));
    for (size_t n = 0; n <= full.bytes.size(); ++n) {
        const Bytes cut(full.bytes.begin(), full.bytes.begin() + static_cast<long>(n));
        Bytes after;
        const RepairPlan plan = repairBytes(dir, cut, after);
        ASSERT_EQ(after.size(), cut.size()) << n;
        if (!plan.repairable) {
            EXPECT_EQ(after, cut) << n;
            EXPECT_LT(n, full.movieList + 20) << "movie list with its first chunk was readable";
            continue;
        }
        EXPECT_GE(plan.zeroFillStart, full.chunkOffsets[0]) << n;
        EXPECT_EQ(after, expectedAfter(cut, plan.zeroFillStart)) << n;
    }
}

TEST(Repair, IntactRecordingIsPlannedButNeverWrittenByCallersThatCheckFirst)
{
    // The catalogue and the command-line tool repair only what isIntact refuses;
    // a finished recording passes that check for every legal RIFF size.
    TempDir dir;
    const auto path = dir.path() / "ok.avi";
    const auto built = buildRecording(layoutOf(typicalChunks(4)));
    writeAll(path, built.bytes);
    EXPECT_TRUE(isIntact(path.string()));
    EXPECT_EQ(readAll(path), built.bytes);
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

TEST(Repair, AFileWrittenMeanwhileIsLeftAlone)
{
    // Planned, then written by someone else in place (same length, a new
    // time) or appended to: the repair writes nothing and says why.
    for (const bool append : {false, true}) {
        TempDir dir;
        const auto path = dir.path() / "rec.avi";
        const Bytes bytes = buildUnfinished(layoutOf(typicalChunks(5, 300)), 40, oldData(300)).bytes;
        writeAll(path, bytes);
        std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb+"));
        ASSERT_TRUE(f);
        const RepairPlan plan = planRepair(f.get());
        ASSERT_TRUE(plan.repairable);
        Bytes written = bytes;
        if (append)
            written.insert(written.end(), 64, 0x77);
        else
            written.back() = 0x77;
        writeAll(path, written);
        const timespec later[2] = {{0, UTIME_OMIT}, {plan.modifiedSec + 5, 0}};
        ASSERT_EQ(::futimens(fileno(f.get()), later), 0);
        std::string why;
        EXPECT_FALSE(applyRepair(f.get(), plan, &why));
        EXPECT_EQ(why, kRepairFileChanged);
        EXPECT_EQ(readAll(path), written);
    }
}

} // namespace
} // namespace korvante
