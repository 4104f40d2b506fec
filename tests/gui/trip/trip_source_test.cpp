// The listed source's trips read on a worker: asked once, kept for every
// recording of the trip, forgotten with a new listing.

#include "gui/trip/trip_source.h"
#include "core/overview/overview_cache.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace korvante {
namespace {

using namespace std::chrono;

// Two trips of three one-minute recordings each, known to the cache only
// (their files do not exist).
struct CachedSource {
    testing::TempDir temp;
    std::vector<overview::SourceRecording> all;
    CachedSource()
    {
        overview::OverviewCache cache(temp.file("cache"));
        std::vector<std::pair<overview::CacheKey, overview::RecordingMetadata>> entries;
        const char *names[] = {"N_20240501_080000_1CH_F.avi", "N_20240501_080100_1CH_F.avi",
                               "N_20240501_080200_1CH_F.avi", "N_20240501_090000_1CH_F.avi",
                               "N_20240501_090100_1CH_F.avi", "N_20240501_090200_1CH_F.avi"};
        for (const char *name : names) {
            overview::SourceRecording r;
            r.name = name;
            r.path = temp.file("absent/") + name;
            r.key = {r.path, 1, 1};
            overview::RecordingMetadata md;
            md.lengthMs = 60000;
            entries.emplace_back(r.key, md);
            all.push_back(r);
        }
        EXPECT_TRUE(cache.storeMany(entries));
    }
};

int argc = 1;
char arg0[] = "gui_trip_tests";
char *argv[] = {arg0, nullptr};

TEST(TripSource, ReadOnceKeptForItsRecordingsAndForgottenWithANewListing)
{
    static QCoreApplication app(argc, argv);
    CachedSource source;
    TripSource trips(nullptr, source.temp.file("cache"));
    QSignalSpy ready(&trips, &TripSource::tripReady);
    QSignalSpy failed(&trips, &TripSource::tripFailed);
    trips.setRecordings(source.all);

    EXPECT_EQ(trips.tripOf(source.all[4].name), nullptr);
    ASSERT_TRUE(ready.wait(5000));
    const auto second = trips.tripOf(source.all[3].name); // the same trip, at once
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->recordings.size(), 3u);
    EXPECT_EQ(second->recordings.front().source.name, source.all[3].name);
    EXPECT_EQ(trips.current(), second);
    EXPECT_EQ(trips.tripOf(source.all[0].name), nullptr); // the other trip is read
    ASSERT_TRUE(ready.wait(5000));
    EXPECT_EQ(trips.current()->recordings.front().source.name, source.all[0].name);

    // A name the source does not hold, and a new listing in the middle of a read.
    EXPECT_EQ(trips.tripOf("N_20240501_100000_1CH_F.avi"), nullptr);
    ASSERT_TRUE(failed.wait(5000));
    EXPECT_EQ(failed.takeFirst().at(0).toString(), QStringLiteral("N_20240501_100000_1CH_F.avi"));
    trips.tripOf(source.all[5].name);
    trips.setRecordings({source.all.begin(), source.all.begin() + 3});
    EXPECT_EQ(trips.current(), nullptr);
    EXPECT_EQ(trips.tripOf(source.all[3].name), nullptr);
    ASSERT_TRUE(failed.wait(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(ready.size(), 2); // the cancelled read said nothing
}

} // namespace
} // namespace korvante
