// A trip as one timeline: made-up recordings kept in a real cache (their
// files do not exist, so any read instead of a cache hit would lose them).

#include "core/trip/trip_timeline.h"
#include "core/overview/overview_cache.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace korvante::trip {
namespace {

using namespace std::chrono;
using overview::CameraTime;

// A recording starting `at` s after 2024-05-01 08:00:00, `length` s long,
// with G peaks (offset ms, g) and a fix every second along a line north.
struct Made {
    char kind;
    int at;
    int length;
    std::vector<std::pair<int, float>> peaks = {};
};

const CameraTime kBase{local_days{year{2024} / 5 / 1} + hours{8}};

std::string nameOf(const Made &m)
{
    const auto t = kBase + seconds{m.at};
    const auto day = floor<days>(t);
    const hh_mm_ss clock{floor<seconds>(t - day)};
    const year_month_day ymd{day};
    char name[64];
    std::snprintf(name, sizeof name, "%c_%04d%02d%02d_%02d%02d%02d_2CH_F.avi", m.kind, int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return name;
}

struct Source {
    korvante::testing::TempDir temp;
    std::string dir = temp.path().string();
    std::unique_ptr<overview::OverviewCache> cache = std::make_unique<overview::OverviewCache>(dir + "/cache");
    std::vector<overview::SourceRecording> all;

    explicit Source(const std::vector<Made> &made)
    {
        std::vector<std::pair<overview::CacheKey, overview::RecordingMetadata>> entries;
        for (const Made &m : made) {
            overview::SourceRecording r;
            r.name = nameOf(m);
            r.path = dir + "/absent/" + r.name;
            r.kind = m.kind == 'E' ? 1 : 0;
            r.key = {r.path, 1000 + m.at, m.at};
            overview::RecordingMetadata md;
            md.lengthMs = m.length * 1000;
            for (int t = 0; t < md.lengthMs; t += 100) {
                float g = 1.0f;
                for (const auto &[offset, peak] : m.peaks)
                    if (offset == t)
                        g = peak;
                md.samples.push_back({t, g});
            }
            for (int s = 0; s < m.length; ++s)
                md.fixes.push_back({s * 1000, 37.5 + (m.at + s) / 11119.5, 127.0, 36.0f});
            entries.emplace_back(r.key, md);
            all.push_back(std::move(r));
        }
        EXPECT_TRUE(cache->storeMany(entries));
    }
    std::vector<std::string> namesOf(const TripTimeline &trip) const
    {
        std::vector<std::string> names;
        for (const TripRecording &r : trip.recordings)
            names.push_back(r.source.name);
        return names;
    }
    std::string name(std::size_t i) const { return all[i].name; }
};

TEST(TripTimeline, ReadFromTheCacheOutToTheGapsWhateverTheWindow)
{
    // 40 recordings; a trip of 26 one-minute recordings (5..30) between gaps
    // of more than 30 s: longer than the first window in both directions.
    std::vector<Made> made;
    int at = 0;
    for (int i = 0; i < 40; ++i) {
        const bool gapBefore = i == 5 || i == 31;
        at += gapBefore ? 95 : (i == 0 ? 0 : 60);
        made.push_back({'N', at, 60});
    }
    Source source(made);
    for (std::size_t from : {5u, 17u, 30u}) {
        const std::optional<TripTimeline> trip = readTrip(source.all, from, source.cache.get());
        ASSERT_TRUE(trip) << from;
        ASSERT_EQ(trip->recordings.size(), 26u) << from;
        EXPECT_EQ(trip->recordings.front().source.name, source.name(5));
        EXPECT_EQ(trip->recordings.back().source.name, source.name(30));
        EXPECT_EQ(trip->duration(), minutes{26});
        EXPECT_EQ(trip->recordings[3].source.path, source.all[8].path); // the open arguments come along
    }
    // A recording alone between gaps is a trip of one; one past the end is none.
    EXPECT_EQ(readTrip(source.all, 2, source.cache.get())->recordings.size(), 5u);
    EXPECT_FALSE(readTrip(source.all, 40, source.cache.get()));
    std::atomic<bool> cancelled{true};
    EXPECT_FALSE(readTrip(source.all, 17, source.cache.get(), overview::kDefaultTripGap, 1.5, &cancelled));
}

TEST(TripTimeline, NextPreviousAndLocateOverOverlapsAndGaps)
{
    Source source({
        {'N', 0, 60},          // 0
        {'E', 20, 15},         // 1: wholly inside 0
        {'N', 60, 60},         // 2: follows 0 exactly
        {'E', 100, 40},        // 3: overlaps 2 by 20 s
        {'N', 150, 60},        // 4: 10 s after 3's end (a gap within the trip)
        {'N', 209, 60},        // 5: names a second early: overlaps 4 by 1 s
    });
    const std::optional<TripTimeline> trip = tripOf(
        [&] {
            overview::OverviewResult r = overview::buildOverview(source.all, source.cache.get());
            EXPECT_EQ(r.scanned, 0u);
            return r;
        }(),
        source.all, source.name(2));
    ASSERT_TRUE(trip);
    ASSERT_EQ(trip->recordings.size(), 6u);

    struct Step {
        std::size_t from;
        std::optional<Position> next, previous;
    };
    const Step steps[] = {
        {0, Position{2, 0}, std::nullopt},
        {1, Position{0, 35000}, Position{0, 20000}}, // an event inside 0: the drive goes on in 0
        {2, Position{3, 20000}, Position{0, 60000}}, // 3 started 20 s before 2 ended: from there
        {3, Position{4, 0}, Position{2, 40000}},     // a gap: the next to start
        {4, Position{5, 0}, Position{3, 40000}},     // a 1 s overlap starts at the beginning
        {5, std::nullopt, Position{4, 60000}},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(trip->next(s.from), s.next) << s.from;
        EXPECT_EQ(trip->previous(s.from), s.previous) << s.from;
    }

    struct Where {
        int second;
        std::optional<std::size_t> playing;
        std::optional<Position> at;
    };
    const Where moments[] = {
        {25, std::nullopt, Position{0, 25000}},
        {25, 1, Position{1, 5000}},             // the playing recording goes on
        {110, 3, Position{3, 10000}},
        {110, std::nullopt, Position{2, 50000}},
        {145, std::nullopt, Position{4, 0}},    // in the gap: the next recording's start
        {268, std::nullopt, Position{5, 59000}},
        {269, std::nullopt, std::nullopt},      // the trip's end
        {-1, std::nullopt, std::nullopt},
    };
    for (const Where &w : moments)
        EXPECT_EQ(trip->locate(kBase + seconds{w.second}, w.playing), w.at) << w.second;
    EXPECT_EQ(trip->timeAt({3, 10000}), kBase + seconds{110});
}

TEST(TripTimeline, IncidentsInTimeOrderAndTheTrackOnceOverOverlaps)
{
    Source source({
        {'N', 0, 60, {{30000, 2.4f}}},
        {'E', 25, 15, {{5000, 2.4f}}},   // the same moment held by the event recording
        {'N', 60, 60, {{10000, 1.8f}, {50000, 1.2f}}},
        {'N', 500, 60, {{10000, 3.0f}}}, // another trip
    });
    const overview::OverviewResult all = overview::buildOverview(source.all, source.cache.get());
    const std::optional<TripTimeline> trip = tripOf(all, source.all, source.name(0));
    ASSERT_TRUE(trip);
    ASSERT_EQ(trip->incidents.size(), 2u);
    EXPECT_EQ(trip->incidents[0].at, kBase + seconds{30});
    EXPECT_EQ(trip->incidents[0].where, (Position{1, 5000})); // named by the event recording
    EXPECT_EQ(trip->incidents[1].at, kBase + seconds{70});
    EXPECT_EQ(trip->incidentAfter(kBase + seconds{30})->at, kBase + seconds{70});
    EXPECT_EQ(trip->incidentBefore(kBase + seconds{30}), std::nullopt);
    EXPECT_EQ(trip->incidentBefore(kBase + seconds{71})->at, kBase + seconds{70});
    EXPECT_FALSE(trip->incidentAfter(kBase + seconds{70}));
    // A lower threshold finds the third.
    EXPECT_EQ(tripOf(all, source.all, source.name(0), overview::kDefaultTripGap, 1.1)->incidents.size(), 3u);

    // One fix per second of the trip's 120 s, in time order.
    ASSERT_EQ(trip->track.size(), 120u);
    for (std::size_t i = 1; i < trip->track.size(); ++i)
        EXPECT_LT(trip->track[i - 1].at, trip->track[i].at);
}

} // namespace
} // namespace korvante::trip
