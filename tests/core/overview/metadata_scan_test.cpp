// The metadata scan and the cache on recordings the sample-card tool writes:
// what a scan finds, what it reads, what a damaged index or file does, and a
// second overview that reads no recording at all.

#include "core/overview/metadata_scan.h"
#include "core/overview/source_overview.h"
#include "core/recording/byte_source.h"
#include "core/recording/idx1.h"
#include "core/recording/riff_layout.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/list_view.h"
#include "support/log_capture.h"
#include "playback_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace korvante::overview {
namespace {

namespace fs = std::filesystem;
using korvante::testing::LogCapture;

// A fresh folder of the test run (removed at exit).
struct TempDir {
    std::string dir = korvante::testing::tempFolder();
    std::string file(const std::string &name) const { return dir + "/" + name; }
    std::string write(const std::string &name, const std::string &bytes) const
    {
        const std::string p = file(name);
        fs::create_directories(fs::path(p).parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
        return p;
    }
};

constexpr int kSeconds = 12;

// One card per run: one recording of each kind, 12 s, and an unfinished one.
const std::string &cardFolder()
{
    static const std::string folder = [] {
        const std::string f = korvante::testing::tempFolder() + "/card";
        EXPECT_TRUE(korvante::testing::runMkcard(
            {"--folder", f, "--per-kind", "2", "--seconds", std::to_string(kSeconds), "--unfinished", "1"}));
        return f;
    }();
    return folder;
}

std::vector<std::string> frontFiles(const std::string &folder, const std::string &dir)
{
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(folder + "/" + dir))
        if (e.path().string().ends_with("_F.avi"))
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

struct Scanned {
    std::optional<RecordingMetadata> metadata;
    ScanStats stats;
    std::string why;
    std::int64_t size = 0;
};

Scanned scanFile(const std::string &path)
{
    Scanned s;
    auto source = openFileSource(path);
    if (!source)
        return s;
    s.size = source->size();
    s.metadata = scanMetadata(*source, &s.why, nullptr, &s.stats);
    return s;
}

TEST(MetadataScan, FinishedUnfinishedAndDamagedIndexReadTheSameTrack)
{
    // EVT holds a finished recording with the hard brake; the card's
    // unfinished recording of each kind comes last in its folder.
    const auto events = frontFiles(cardFolder(), "EVT");
    ASSERT_EQ(events.size(), 2u);
    const Scanned finished = scanFile(events[0]);
    ASSERT_TRUE(finished.metadata) << finished.why;
    const RecordingMetadata &m = *finished.metadata;
    EXPECT_FALSE(finished.stats.walked);
    EXPECT_NEAR(m.lengthMs, kSeconds * 1000, 40);
    EXPECT_NEAR(static_cast<double>(m.samples.size()), kSeconds * 10, 2); // ten a second
    EXPECT_NEAR(static_cast<double>(m.fixes.size()), kSeconds, 1);        // one a second
    // Each fix keeps its sentence's UTC, a second apart as the fixes are.
    for (std::size_t i = 1; i < m.fixes.size(); ++i) {
        EXPECT_NE(m.fixes[i].utcSeconds, 0);
        EXPECT_NEAR(static_cast<double>(m.fixes[i].utcSeconds - m.fixes[i - 1].utcSeconds),
                    (m.fixes[i].offsetMs - m.fixes[i - 1].offsetMs) / 1000.0, 1.0);
    }
    // At rest about 1 g; the brake halfway through is the peak.
    std::vector<float> g;
    for (const GSample &s : m.samples)
        g.push_back(s.totalG);
    std::nth_element(g.begin(), g.begin() + g.size() / 2, g.end());
    EXPECT_NEAR(g[g.size() / 2], 1.0, 0.15);
    const RecordingSummary summary = summarize(m);
    EXPECT_GT(summary.peakG, 1.3f);
    EXPECT_GE(summary.peakOffsetMs, kSeconds * 1000 / 2);
    EXPECT_LE(summary.peakOffsetMs, kSeconds * 1000 / 2 + 3000);
    ASSERT_TRUE(summary.box);
    EXPECT_NEAR(summary.box->south, 37.5, 0.2); // central Seoul
    EXPECT_NEAR(summary.box->west, 127.0, 0.2);
    EXPECT_GT(summary.maxSpeedKmh, 20.0f);
    // Headers, index and metadata chunks, those close together in one request
    // each: this light footage's frames are small enough to be read across,
    // so the requests are few (camera footage: see the overview benchmark).
    EXPECT_LT(finished.stats.reads, static_cast<std::int64_t>(m.samples.size() + m.fixes.size()) / 4);
    EXPECT_LE(finished.stats.bytesRead, finished.size);

    // The index broken at its first metadata entry: the walk reads the same track.
    std::vector<std::uint8_t> bytes = korvante::testing::readFile(events[0]);
    auto source = openFileSource(events[0]);
    RiffLayout layout;
    ASSERT_EQ(readRiffLayout(*source, layout, nullptr), LayoutResult::Ok);
    for (std::int64_t at = layout.idx1Pos + 8; at + 16 <= layout.idx1Pos + 8 + layout.idx1Size; at += 16)
        if (bytes[at + 2] == 't' && bytes[at + 3] == 'x') {
            bytes[at + 8] ^= 0x40;
            break;
        }
    TempDir temp;
    const std::string broken = temp.file("E_20120305_142403_2CH_F.avi");
    korvante::testing::writeFile(broken, bytes);
    const Scanned walked = scanFile(broken);
    ASSERT_TRUE(walked.metadata) << walked.why;
    EXPECT_TRUE(walked.stats.walked);
    EXPECT_EQ(walked.metadata->lengthMs, m.lengthMs);
    EXPECT_EQ(walked.metadata->samples.size(), m.samples.size());
    EXPECT_EQ(walked.metadata->fixes.size(), m.fixes.size());
    EXPECT_EQ(summarize(*walked.metadata).peakG, summary.peakG);

    // The unfinished recording has no index: walked, and its track is what was written.
    const auto normals = frontFiles(cardFolder(), "NOR");
    const Scanned cut = scanFile(normals.back());
    ASSERT_TRUE(cut.metadata) << cut.why;
    EXPECT_TRUE(cut.stats.walked);
    EXPECT_GT(cut.metadata->lengthMs, 0);
    EXPECT_LE(cut.metadata->lengthMs, kSeconds * 1000);
    EXPECT_FALSE(cut.metadata->samples.empty());
    EXPECT_LE(cut.metadata->samples.back().offsetMs, cut.metadata->lengthMs + 1000);

    // Bytes that are no recording, and an empty file, are refused with a reason.
    for (const auto &[content, reason] : {std::pair<std::string, std::string>{std::string(4096, 'x'), "not a recording"},
                                          {std::string(), "the file is empty"}}) {
        const Scanned bad = scanFile(temp.write("bad.avi", content));
        EXPECT_FALSE(bad.metadata);
        EXPECT_EQ(bad.why, reason);
    }
}

// The recordings of a card root as the viewer's catalogue lists them.
std::vector<SourceRecording> recordingsOfRoot(const std::string &root)
{
    RecordingCatalogue catalogue;
    for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
        EXPECT_TRUE(catalogue.addFolder(folder));
    EXPECT_TRUE(catalogue.addExtension("AVI"));
    StorageSource source;
    source.label = root + "/";
    source.kind = SourceRemovable;
    catalogue.setSources({source});
    EXPECT_TRUE(catalogue.selectSource(0));
    NullListView rows;
    catalogue.listAllWithoutRepair(rows);
    return recordingsOf(catalogue);
}

TEST(Overview, CachedOverviewReadsNoRecordingAndChangesAreScannedAgain)
{
    TempDir temp;
    const std::string root = temp.file("card");
    fs::copy(cardFolder(), root, fs::copy_options::recursive);
    // A file that only looks like a recording is named and skipped.
    temp.write("card/NOR/N_20120305_150000_2CH_F.avi", std::string(2048, '\0'));
    const std::string cacheDir = temp.file("cache");
    auto recordings = recordingsOfRoot(root);
    ASSERT_EQ(recordings.size(), 9u);

    int opened = 0;
    setByteSourceWrapper([&](std::unique_ptr<ByteSource> s) {
        ++opened;
        return s;
    });
    OverviewResult first, second, third;
    {
        OverviewCache cache(cacheDir);
        ASSERT_TRUE(cache.usable());
        first = buildOverview(recordings, &cache);
    }
    EXPECT_EQ(first.scanned, 8u);
    ASSERT_EQ(first.skipped.size(), 1u);
    EXPECT_EQ(first.skipped[0], "N_20120305_150000_2CH_F.avi: not a recording");
    EXPECT_EQ(opened, 9);

    opened = 0;
    {
        OverviewCache cache(cacheDir);
        second = buildOverview(recordings, &cache);
    }
    EXPECT_EQ(second.cached, 8u);
    EXPECT_EQ(second.scanned, 0u);
    EXPECT_EQ(opened, 1); // only the file that is no recording is tried again
    ASSERT_EQ(second.items.size(), first.items.size());
    const auto tripsFirst = buildTrips(first.items), tripsSecond = buildTrips(second.items);
    ASSERT_EQ(tripsFirst.size(), tripsSecond.size());
    EXPECT_DOUBLE_EQ(tripsFirst[0].distanceM, tripsSecond[0].distanceM);
    EXPECT_EQ(findIncidents(first.items, tripsFirst).size(), findIncidents(second.items, tripsSecond).size());

    // A recording whose time changed is read again; the others come from the cache.
    const std::string changed = recordings[0].path;
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, changed.c_str(), times, 0), 0);
    recordings = recordingsOfRoot(root);
    {
        OverviewCache cache(cacheDir);
        third = buildOverview(recordings, &cache);
    }
    EXPECT_EQ(third.scanned, 1u);
    EXPECT_EQ(third.cached, 7u);
    setByteSourceWrapper({});
}

TEST(OverviewCache, DamagedDatabaseMovedAsideAndDamagedEntriesMiss)
{
    TempDir temp;
    const std::string dir = temp.file("cache");
    fs::create_directories(dir);
    temp.write("cache/overview.sqlite", std::string(8192, 'Z'));
    LogCapture log;
    OverviewCache cache(dir);
    ASSERT_TRUE(cache.usable());
    EXPECT_TRUE(log.contains("moved aside"));
    int aside = 0;
    for (const auto &e : fs::directory_iterator(dir))
        aside += e.path().filename().string().starts_with("overview.sqlite.damaged-");
    EXPECT_EQ(aside, 1);

    RecordingMetadata m;
    m.lengthMs = 60'000;
    m.samples = {{0, 1.0f}, {100, 2.5f}};
    m.fixes = {{0, 37.5, 127.0, 42.0f, 1'700'000'047}};
    const CacheKey key{"/card/NOR/N_1.avi", 1000, 5};
    ASSERT_TRUE(cache.store(key, m));
    const auto back = cache.find(key);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->lengthMs, m.lengthMs);
    EXPECT_EQ(back->samples.size(), 2u);
    EXPECT_FLOAT_EQ(back->samples[1].totalG, 2.5f);
    EXPECT_DOUBLE_EQ(back->fixes[0].latitude, 37.5);
    EXPECT_EQ(back->fixes[0].utcSeconds, 1'700'000'047);
    EXPECT_FALSE(cache.find({key.identity, 1001, 5}));
    EXPECT_FALSE(cache.find({key.identity, 1000, 6}));

    // Blobs cut anywhere, or with a count that claims more than they hold, are no metadata.
    const std::string blob = encodeMetadata(m);
    for (std::size_t cut = 0; cut < blob.size(); ++cut)
        EXPECT_FALSE(decodeMetadata(blob.substr(0, cut))) << cut;
    std::string lying = blob;
    lying[9] = '\x7f';
    EXPECT_FALSE(decodeMetadata(lying));
}

TEST(OverviewCache, AFolderOthersMayWriteToOrOwnIsNotUsed)
{
    TempDir temp;
    const std::string dir = temp.file("cache");
    { OverviewCache made(dir); ASSERT_TRUE(made.usable()); }
    struct stat info {};
    ASSERT_EQ(::stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u); // a folder the cache makes is the user's alone

    for (mode_t mode : {0777u, 0770u, 0722u, 01777u}) {
        ASSERT_EQ(::chmod(dir.c_str(), mode), 0);
        LogCapture log;
        OverviewCache cache(dir);
        EXPECT_FALSE(cache.usable()) << std::oct << mode;
        EXPECT_TRUE(log.contains("others may write to it")) << std::oct << mode;
    }
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    EXPECT_TRUE(OverviewCache(dir).usable());
    if (::geteuid() == 0) { // someone else's folder, even one nobody else may write to
        ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(OverviewCache(dir).usable());
    }
}

TEST(OverviewCache, SeveralWritersAtOnceLoseNothing)
{
    // Two viewers, or a viewer and the command-line tool, fill the same cache.
    TempDir temp;
    const std::string dir = temp.file("cache");
    RecordingMetadata m;
    m.lengthMs = 1000;
    m.samples = {{0, 1.0f}};
    auto fill = [&](int writer) {
        OverviewCache cache(dir);
        for (int i = 0; i < 150; ++i)
            EXPECT_TRUE(cache.store({"/w" + std::to_string(writer) + "/" + std::to_string(i), i, 1}, m));
    };
    { OverviewCache first(dir); } // made before the race, as a first run would
    std::thread a(fill, 1), b(fill, 2);
    a.join();
    b.join();
    OverviewCache cache(dir);
    for (int writer : {1, 2})
        for (int i = 0; i < 150; ++i)
            EXPECT_TRUE(cache.find({"/w" + std::to_string(writer) + "/" + std::to_string(i), i, 1}));
}

} // namespace
} // namespace korvante::overview
