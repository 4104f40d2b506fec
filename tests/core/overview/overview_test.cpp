// Trips and incidents from recordings' metadata: one table of made-up
// recordings per case, checked against what a person would count by hand.

#include "core/overview/card_overview.h"

#include <gtest/gtest.h>

#include <array>

namespace korvante::overview {
namespace {

using namespace std::chrono;

// A recording starting `at` seconds after 2024-05-01 08:00:00, `length` s
// long, with G peaks (offset ms, g) on a 1 g ground, and fixes every second
// along a line north from 37.5 N at `metresPerSecond`.
struct Made {
    const char *name;
    int kind;
    int at;
    int length;
    std::vector<std::pair<int, float>> peaks;
    float speedKmh = 36;
    bool fixes = true;
};

std::vector<RecordingItem> itemsOf(const std::vector<Made> &made)
{
    const local_seconds base = local_days{year{2024} / 5 / 1} + hours{8};
    std::vector<RecordingItem> items;
    for (const Made &m : made) {
        RecordingItem item;
        item.name = m.name;
        item.kind = m.kind;
        item.start = base + seconds{m.at};
        item.metadata.lengthMs = m.length * 1000;
        for (int t = 0; t < m.length * 1000; t += 100) {
            float g = 1.0f;
            for (const auto &[offset, peak] : m.peaks)
                if (offset == t)
                    g = peak;
            item.metadata.samples.push_back({t, g});
        }
        if (m.fixes)
            for (int s = 0; s < m.length; ++s) {
                // Position by camera time, so overlapping recordings hold the same fixes.
                const double metres = (m.at + s) * m.speedKmh / 3.6;
                item.metadata.fixes.push_back({s * 1000, 37.5 + metres / 111195.0, 127.0, m.speedKmh});
            }
        item.summary = summarize(item.metadata);
        items.push_back(std::move(item));
    }
    return items;
}

TEST(Trips, SplitAtTheGapJoinedAcrossOverlapsDistanceCountedOnce)
{
    const auto items = itemsOf({
        {"N_1", 0, 0, 60, {}},
        {"N_2", 0, 60, 60, {}},
        {"E_inside", 1, 70, 20, {}},   // overlaps N_2 entirely: same fixes, never counted twice
        {"N_3", 0, 150, 60, {}},       // 30 s after N_2's end: still the same trip
        {"N_4", 0, 241, 60, {}},       // 31 s after: a new trip
        {"P_alone", 2, 1000, 30, {}, 0, false},
    });
    const auto trips = buildTrips(items);
    ASSERT_EQ(trips.size(), 3u);
    EXPECT_EQ(trips[0].recordings, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_EQ(trips[0].duration(), seconds{210});
    // 0..119 s and 150..209 s along the line: 119 s + the 31 s gap + 59 s at 10 m/s.
    EXPECT_NEAR(trips[0].distanceM, 209 * 10.0, 2.0);
    EXPECT_FLOAT_EQ(trips[0].maxSpeedKmh, 36.0f);
    EXPECT_EQ(trips[1].recordings, (std::vector<std::size_t>{4}));
    EXPECT_EQ(trips[2].distanceM, 0.0);
    EXPECT_EQ(cameraTimeText(trips[1].start), "2024-05-01 08:04:01");

    // A gap given in the other direction: everything one drive, except the parked car.
    EXPECT_EQ(buildTrips(items, seconds{600}).size(), 2u);
    // Input order does not matter.
    auto shuffled = items;
    std::swap(shuffled[0], shuffled[4]);
    EXPECT_EQ(buildTrips(shuffled)[0].start, trips[0].start);
}

TEST(Incidents, MergedRankedNamedAndTimed)
{
    const auto items = itemsOf({
        // Two peaks 2 s apart: one incident at the higher; another 6 s later.
        {"N_a", 0, 0, 60, {{10'000, 1.8f}, {12'000, 2.1f}, {18'000, 1.6f}}},
        // The same moment in a normal and an event recording: the event one is named.
        {"N_b", 0, 60, 60, {{30'000, 2.5f}}},
        {"E_b", 1, 80, 20, {{10'000, 2.5f}}},
        // Below the threshold; and a peak in the first second, with no fix before it.
        {"N_c", 0, 200, 60, {{20'000, 1.4f}, {500, 1.7f}}},
    });
    const auto trips = buildTrips(items);
    ASSERT_EQ(trips.size(), 2u);
    const auto incidents = findIncidents(items, trips, 1.5);
    ASSERT_EQ(incidents.size(), 4u);

    struct Want {
        const char *recording;
        int offsetMs;
        float g;
        const char *at;
        std::optional<float> speed;
        std::size_t trip;
    };
    const std::vector<Want> want = {
        {"E_b", 10'000, 2.5f, "2024-05-01 08:01:30.0", 36.0f, 0},
        {"N_a", 12'000, 2.1f, "2024-05-01 08:00:12.0", 36.0f, 0},
        {"N_c", 500, 1.7f, "2024-05-01 08:03:20.5", std::nullopt, 1},
        {"N_a", 18'000, 1.6f, "2024-05-01 08:00:18.0", 36.0f, 0},
    };
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[incidents[i].recording].name, want[i].recording);
        EXPECT_EQ(incidents[i].offsetMs, want[i].offsetMs);
        EXPECT_FLOAT_EQ(incidents[i].g, want[i].g);
        EXPECT_EQ(cameraTimeText(incidents[i].at, true), want[i].at);
        EXPECT_EQ(incidents[i].speedBeforeKmh, want[i].speed);
        EXPECT_EQ(incidents[i].trip, want[i].trip);
    }
    EXPECT_EQ(incidentsOf(incidents, 0).size(), 2u);
    // A higher threshold keeps only what reaches it; a lower one adds the 1.4 g moment.
    EXPECT_EQ(findIncidents(items, trips, 2.2).size(), 1u);
    EXPECT_EQ(findIncidents(items, trips, 1.35).size(), 5u);
}

TEST(Overview, CoordinatesAndDistances)
{
    EXPECT_DOUBLE_EQ(nmeaToDecimal(3730.0), 37.5);
    EXPECT_DOUBLE_EQ(nmeaToDecimal(-12245.0), -122.75);
    EXPECT_NEAR(greatCircleMetres(37.5, 127.0, 37.5, 127.0), 0.0, 1e-9);
    // One degree of latitude on the mean sphere, and Seoul to Busan (about 325 km).
    EXPECT_NEAR(greatCircleMetres(0, 0, 1, 0), 111195, 1);
    EXPECT_NEAR(greatCircleMetres(37.5665, 126.9780, 35.1796, 129.0756) / 1000, 325, 5);
    // Steps between fixes: the short form agrees with the great circle to a
    // millimetre, north, east, near the pole, beside and across the date line.
    for (const auto &[lat, lon, dLat, dLon] : std::vector<std::array<double, 4>>{
             {37.5, 127.0, 0.0002, 0.0003}, {-33.9, 151.2, -0.01, 0.04}, {78.2, 15.6, 0.001, 0.049},
             {0.0, 179.98, 0.0, 0.019}, {37.5, 127.0, 0.3, 0.0}})
        EXPECT_NEAR(shortGreatCircleMetres(lat, lon, lat + dLat, lon + dLon),
                    greatCircleMetres(lat, lon, lat + dLat, lon + dLon), 1e-3)
            << lat << " " << lon;
    EXPECT_NEAR(shortGreatCircleMetres(0, 179.99, 0, -179.99), greatCircleMetres(0, 179.99, 0, -179.99), 1e-3);
    EXPECT_NEAR(greatCircleMetres(0, 179.99, 0, -179.99), 2224, 1);
    const RecordingSummary empty = summarize({});
    EXPECT_EQ(empty.peakG, 0.0f);
    EXPECT_FALSE(empty.box);
}

// The clock over the overview's fixes: the camera set to UTC+8 and 47 s slow
// on every recording but one whose clock was reset; fixes without a date
// count for nothing.
TEST(Overview, CameraClockFromTheFixesUtcTimes)
{
    auto items = itemsOf({{"N_20240501_080000_1CH_F.avi", 0, 0, 60, {}},
                          {"N_20240501_080100_1CH_F.avi", 0, 60, 60, {}},
                          {"N_20240501_080200_1CH_F.avi", 0, 120, 60, {}},
                          {"N_20240501_080300_1CH_F.avi", 0, 180, 60, {}}});
    const sys_seconds utcBase = sys_days{year{2024} / 5 / 1} + hours{0} + seconds{47}; // 08:00:47 at UTC+8
    for (std::size_t i = 0; i < items.size(); ++i)
        for (Fix &f : items[i].metadata.fixes)
            f.utcSeconds = (utcBase + seconds{i * 60} + seconds{f.offsetMs / 1000}).time_since_epoch().count()
                           + (i == 3 ? 86'400 * 400 : 0); // the last one's clock was reset
    items[2].metadata.fixes[0].utcSeconds = 0;
    const clock::ClockCheck check = clockOf(items);
    EXPECT_EQ(check.zone, hours{8});
    EXPECT_EQ(check.drift, seconds{-47});
    EXPECT_EQ(check.agreeing, 3u);
    EXPECT_EQ(check.apartCount(), 1u);
    EXPECT_EQ(clock::driftNote(check), "camera clock 47 s slow");
    for (RecordingItem &item : items)
        item.metadata.fixes.clear();
    EXPECT_FALSE(clockOf(items).known());
}

} // namespace
} // namespace korvante::overview
