// The simulated drive: axis codes, GPS sentences and the shape of the drive.

#include "mkcard/drive_model.h"
#include "mkcard_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

using namespace mkcard;

TEST(AxisCodes, EightBitCodesReadBackAsMagnitudes)
{
    EXPECT_EQ(decode8(0x05), 5);
    EXPECT_EQ(decode8(0x85), 123);
    EXPECT_EQ(decode8(0x80), 128);
    for (int raw = -127; raw <= 127; ++raw) {
        EXPECT_EQ(decode8(encode8(raw)), std::abs(raw)) << raw;
        EXPECT_NE(encode8(raw), 0xFF) << raw;
    }
    EXPECT_EQ(decode8(encode8(-500)), 127); // clamped, not wrapped
}

TEST(AxisCodes, TenBitWordsReadBackSigned)
{
    EXPECT_EQ(decode10(0x03FF), -511);
    EXPECT_EQ(decode10(0x0000), 512);
    EXPECT_EQ(decode10(0x0200), 0);
    for (int raw = -511; raw <= 512; ++raw)
        EXPECT_EQ(decode10(encode10(raw)), raw) << raw;
    EXPECT_EQ(decode10(encode10(900)), 512);
}

TEST(GpsText, DegreesBecomeDegreesAndMinutes)
{
    EXPECT_EQ(nmeaLatitude(37.5), "3730.0000");
    EXPECT_EQ(nmeaLongitude(126.97236), "12658.3416");
    EXPECT_EQ(nmeaLongitude(127.0), "12700.0000");
    EXPECT_EQ(nmeaLatitude(37.999999999), "3800.0000"); // never "3760.0000"
}

struct Decoded {
    std::vector<std::array<int, 3>> axes; // signed where the format keeps the sign
    std::vector<uint32_t> sensorTimes;
    std::vector<uint32_t> gpsTimes;
    std::vector<std::vector<std::string>> sentences;
};

Decoded decodeTrack(const DriveTrack &track)
{
    Decoded d;
    for (const auto &p : track.packets) {
        if (p.bytes[0] == 'M') {
            d.axes.push_back({decode8(p.bytes[1]), decode8(p.bytes[2]), decode8(p.bytes[3])});
            d.sensorTimes.push_back(p.timeMs);
        } else if (p.bytes[0] == 'S') {
            std::array<int, 3> a{};
            for (int i = 0; i < 3; ++i) {
                const uint16_t w = readU16(p.bytes, size_t(2 + 2 * i));
                a[size_t(i)] = p.bytes[1] == 0x0A ? decode10(w) : decode8(static_cast<uint8_t>(w));
            }
            d.axes.push_back(a);
            d.sensorTimes.push_back(p.timeMs);
        } else if (p.bytes[0] == 'G') {
            d.gpsTimes.push_back(p.timeMs);
            d.sentences.push_back(test::splitFields(std::string(p.bytes.begin(), p.bytes.end())));
        }
    }
    return d;
}

DriveSpec driveOf(DriveKind kind, SensorFormat format, double seconds)
{
    DriveSpec s;
    s.kind = kind;
    s.format = format;
    s.recordingIndex = 3;
    s.seed = 11;
    s.seconds = seconds;
    s.startLocal = 1330957353; // 2012-03-05 14:22:33
    return s;
}

TEST(Drive, TenSensorPacketsAndOneSentenceASecond)
{
    const DriveTrack track = simulateDrive(driveOf(DriveKind::Normal, SensorFormat::S10, 10));
    const Decoded d = decodeTrack(track);
    ASSERT_EQ(d.sensorTimes.size(), 100u);
    ASSERT_EQ(d.gpsTimes.size(), 10u);
    for (size_t i = 0; i < d.sensorTimes.size(); ++i)
        EXPECT_EQ(d.sensorTimes[i], i * 100);
    for (size_t i = 0; i < d.gpsTimes.size(); ++i)
        EXPECT_EQ(d.gpsTimes[i], i * 1000);
    // Time order, as the camera writes them.
    for (size_t i = 1; i < track.packets.size(); ++i)
        EXPECT_LE(track.packets[i - 1].timeMs, track.packets[i].timeMs);

    // The sentence: ten fields, UTC nine hours behind the camera clock.
    const auto &first = d.sentences.front();
    ASSERT_EQ(first.size(), 10u);
    EXPECT_EQ(first[0], "GPRMC");
    EXPECT_EQ(first[1], "052233.00");
    EXPECT_EQ(first[2], "A");
    EXPECT_EQ(first[4], "N");
    EXPECT_EQ(first[6], "E");
    EXPECT_EQ(first[9], "050312");
    EXPECT_EQ(d.sentences.back()[1], "052242.00");
}

TEST(Drive, PositionsFollowTheSpeedAlongSeoulStreets)
{
    const DriveTrack track = simulateDrive(driveOf(DriveKind::Normal, SensorFormat::M8, 30));
    const Decoded d = decodeTrack(track);
    ASSERT_EQ(d.sentences.size(), 30u);
    auto degrees = [](const std::string &nmea, int degreeDigits) {
        return std::atof(nmea.substr(0, size_t(degreeDigits)).c_str()) +
               std::atof(nmea.substr(size_t(degreeDigits)).c_str()) / 60.0;
    };
    int maxSpeed = 0;
    for (size_t i = 0; i < d.sentences.size(); ++i) {
        const auto &f = d.sentences[i];
        const double lat = degrees(f[3], 2), lon = degrees(f[5], 3);
        EXPECT_GT(lat, 37.55);
        EXPECT_LT(lat, 37.58);
        EXPECT_GT(lon, 126.97);
        EXPECT_LT(lon, 127.01);
        const double kmh = std::atof(f[7].c_str()) * 1.852;
        EXPECT_NEAR(kmh, std::round(kmh), 0.01); // whole km/h, written in knots
        EXPECT_GE(kmh, 4.5);
        EXPECT_LT(kmh, 90);
        maxSpeed = std::max(maxSpeed, static_cast<int>(std::lround(kmh)));
        if (i > 0 && d.sentences[i - 1][8] == f[8]) {
            // Metres between fixes on a straight stretch against the speeds at both ends.
            const auto &p = d.sentences[i - 1];
            const double plat = degrees(p[3], 2), plon = degrees(p[5], 3);
            const double east = (lon - plon) * 111320.0 * std::cos(lat * 3.14159265 / 180);
            const double north = (lat - plat) * 110574.0;
            const double metres = std::hypot(east, north);
            const double expected = (std::atof(p[7].c_str()) + std::atof(f[7].c_str())) * 1.852 / 2 / 3.6;
            EXPECT_NEAR(metres, expected, 2.5) << i;
        }
    }
    EXPECT_EQ(track.maxGpsSpeedKmh, maxSpeed);
    // The speed rises and falls.
    EXPECT_GT(*std::max_element(track.speedKmh.begin(), track.speedKmh.end()) -
                  *std::min_element(track.speedKmh.begin(), track.speedKmh.end()),
              5.0);
}

TEST(Drive, HardBrakeShowsInTheEventRecordingOnly)
{
    // Longitudinal axis in g: 10-bit words keep the sign (127 per g).
    auto peakBrakeG = [](DriveKind kind) {
        const Decoded d = decodeTrack(simulateDrive(driveOf(kind, SensorFormat::S10, 10)));
        int lowest = 0;
        for (const auto &a : d.axes)
            lowest = std::min(lowest, a[0]);
        return lowest / 127.0;
    };
    EXPECT_NEAR(peakBrakeG(DriveKind::Event), -0.8, 0.15);
    EXPECT_GT(peakBrakeG(DriveKind::Normal), -0.4);
    EXPECT_GT(peakBrakeG(DriveKind::Manual), -0.4);

    // The speed falls steeply in the middle of the event recording, whatever the seed.
    for (uint64_t seed = 0; seed < 20; ++seed) {
        auto s = driveOf(DriveKind::Event, SensorFormat::M8, 10);
        s.seed = seed;
        const DriveTrack track = simulateDrive(s);
        EXPECT_GT(track.speedKmh[50], 40.0);
        EXPECT_LT(track.speedKmh[75], track.speedKmh[50] * 0.2) << seed;
    }
    const DriveTrack event = simulateDrive(driveOf(DriveKind::Event, SensorFormat::M8, 10));
    // Gravity stays on the vertical axis.
    const Decoded d = decodeTrack(event);
    for (const auto &a : d.axes)
        EXPECT_NEAR(a[2], 32, 12);
}

TEST(Drive, ParkedCarStandsStillAndFeelsAKnock)
{
    const DriveTrack track = simulateDrive(driveOf(DriveKind::Parking, SensorFormat::M8, 10));
    EXPECT_EQ(track.maxGpsSpeedKmh, 0);
    const Decoded d = decodeTrack(track);
    int before = 0, after = 0;
    for (size_t i = 0; i < d.axes.size(); ++i) {
        int &peak = d.sensorTimes[i] < 5000 ? before : after;
        peak = std::max(peak, d.axes[i][0]);
    }
    EXPECT_LE(before, 2);
    EXPECT_GE(after, 32); // above 1 g
}

TEST(Drive, SameSpecSameTrackOtherSeedOtherTrack)
{
    const auto a = simulateDrive(driveOf(DriveKind::Normal, SensorFormat::S8, 5));
    const auto b = simulateDrive(driveOf(DriveKind::Normal, SensorFormat::S8, 5));
    ASSERT_EQ(a.packets.size(), b.packets.size());
    for (size_t i = 0; i < a.packets.size(); ++i)
        EXPECT_EQ(a.packets[i].bytes, b.packets[i].bytes);
    auto other = driveOf(DriveKind::Normal, SensorFormat::S8, 5);
    other.seed = 12;
    const auto c = simulateDrive(other);
    bool differs = false;
    for (size_t i = 0; i < a.packets.size() && i < c.packets.size(); ++i)
        differs = differs || a.packets[i].bytes != c.packets[i].bytes;
    EXPECT_TRUE(differs);
}

} // namespace
