#include "mkcard/drive_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace mkcard {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct LatLon {
    double lat;
    double lon;
};

// Seoul Station north along Sejong-daero to Gwanghwamun, then east along
// Jongno to Dongdaemun: about 4.8 km of city streets.
constexpr std::array<LatLon, 13> kRoute{{
    {37.55547, 126.97236}, // Seoul Station
    {37.55800, 126.97390},
    {37.55995, 126.97530}, // Sungnyemun
    {37.56340, 126.97720},
    {37.56630, 126.97790}, // City Hall
    {37.56950, 126.97700},
    {37.57130, 126.97680}, // Gwanghwamun intersection
    {37.57020, 126.98290}, // Jonggak
    {37.57030, 126.98720}, // Jongno 2-ga
    {37.57060, 126.99180}, // Jongno 3-ga
    {37.57080, 126.99780}, // Jongno 4-ga
    {37.57090, 127.00200}, // Jongno 5-ga
    {37.57110, 127.00940}, // Dongdaemun
}};

constexpr double kMetresPerDegreeLat = 110574.0;
constexpr double kMetresPerDegreeLonAtEquator = 111320.0;

struct Segment {
    double east;  // metres
    double north; // metres
    double length;
};

Segment segment(size_t i)
{
    const LatLon a = kRoute[i], b = kRoute[i + 1];
    const double east = (b.lon - a.lon) * kMetresPerDegreeLonAtEquator * std::cos(a.lat * kPi / 180.0);
    const double north = (b.lat - a.lat) * kMetresPerDegreeLat;
    return {east, north, std::hypot(east, north)};
}

struct Place {
    LatLon position;
    double courseDegrees;
};

// Position after `distance` metres; the car drives the route to its end and
// back again, over and over.
Place placeAt(double distance)
{
    const double length = routeLengthMetres();
    double u = std::fmod(distance, 2 * length);
    if (u < 0)
        u += 2 * length;
    const bool forward = u <= length;
    double d = forward ? u : 2 * length - u;
    for (size_t i = 0; i + 1 < kRoute.size(); ++i) {
        const Segment s = segment(i);
        if (d <= s.length || i + 2 == kRoute.size()) {
            const double f = s.length > 0 ? std::clamp(d / s.length, 0.0, 1.0) : 0.0;
            const LatLon a = kRoute[i], b = kRoute[i + 1];
            double course = std::atan2(s.east, s.north) * 180.0 / kPi;
            if (!forward)
                course += 180.0;
            course = std::fmod(course + 360.0, 360.0);
            return {{a.lat + (b.lat - a.lat) * f, a.lon + (b.lon - a.lon) * f}, course};
        }
        d -= s.length;
    }
    return {kRoute.back(), 0.0};
}

// Braking at 0.8 g, in km/h per second.
constexpr double kHardBrakeKmhPerSecond = 0.8 * 9.81 * 3.6;

struct SpeedProfile {
    DriveKind kind;
    double base;
    double amplitude;
    double period;
    double phase;
    double brakeAt;       // seconds; the hard brake (event) or the knock (parking)
    double brakeFraction; // speed left after the brake

    double cruise(double t) const { return std::max(5.0, base + amplitude * std::sin(2 * kPi * t / period + phase)); }

    double brakeSeconds() const { return cruise(brakeAt) * (1.0 - brakeFraction) / kHardBrakeKmhPerSecond; }

    double at(double t) const
    {
        if (kind == DriveKind::Parking)
            return 0.0;
        if (kind != DriveKind::Event || t < brakeAt)
            return cruise(t);
        const double before = cruise(brakeAt);
        const double after = before * brakeFraction;
        const double braking = brakeSeconds();
        if (t < brakeAt + braking)
            return before + (after - before) * (t - brakeAt) / braking;
        // Standing off the brake for a second, then pulling away at 1.5 m/s².
        const double again = after + std::max(0.0, t - brakeAt - braking - 1.0) * 5.4;
        return std::min(cruise(t), again);
    }
};

SpeedProfile profileFor(const DriveSpec &def, Random &random)
{
    SpeedProfile p{};
    p.kind = def.kind;
    p.base = 28.0 + random.unit() * 22.0;
    p.amplitude = 8.0 + random.unit() * 10.0;
    if (def.kind == DriveKind::Event) {
        // Brisk and steady before the brake, so the brake is always a hard one.
        p.base = 50.0 + random.unit() * 15.0;
        p.amplitude = 2.0 + random.unit() * 4.0;
    }
    p.period = 12.0 + random.unit() * 10.0;
    p.phase = random.unit() * 2 * kPi;
    p.brakeAt = std::max(0.5, def.seconds * 0.5);
    p.brakeFraction = 0.12;
    return p;
}

std::string twoDigits(int v)
{
    char t[8];
    std::snprintf(t, sizeof t, "%02d", v);
    return t;
}

std::string gpsSentence(const DriveSpec &def, int second, const Place &place, int speedKmh)
{
    const std::time_t utc = static_cast<std::time_t>(def.startLocal + second - def.utcOffsetHours * 3600);
    std::tm tm{};
    gmtime_r(&utc, &tm);
    char knots[32], course[32];
    std::snprintf(knots, sizeof knots, "%.2f", speedKmh / 1.852);
    std::snprintf(course, sizeof course, "%.1f", place.courseDegrees);
    return "GPRMC," + twoDigits(tm.tm_hour) + twoDigits(tm.tm_min) + twoDigits(tm.tm_sec) + ".00,A," +
           nmeaLatitude(place.position.lat) + ",N," + nmeaLongitude(place.position.lon) + ",E," + knots + "," +
           course + "," + twoDigits(tm.tm_mday) + twoDigits(tm.tm_mon + 1) + twoDigits(tm.tm_year % 100);
}

std::string nmea(double degrees, int degreeDigits)
{
    // Ten-thousandths of a minute, rounded once, so 59.99995' cannot print as 60.
    const long long total = std::llround(std::fabs(degrees) * 600000.0);
    const long long whole = total / 600000, rest = total % 600000;
    char t[32];
    std::snprintf(t, sizeof t, "%0*lld%02lld.%04lld", degreeDigits, whole, rest / 10000, rest % 10000);
    return t;
}

Bytes sensorPacket(SensorFormat format, int x, int y, int z)
{
    Bytes b;
    switch (format) {
    case SensorFormat::M8:
        b = {'M', encode8(x), encode8(y), encode8(z)};
        break;
    case SensorFormat::S8:
        b = {'S', 0x08};
        putU16(b, encode8(x));
        putU16(b, encode8(y));
        putU16(b, encode8(z));
        break;
    case SensorFormat::S10:
        b = {'S', 0x0A};
        putU16(b, encode10(x));
        putU16(b, encode10(y));
        putU16(b, encode10(z));
        break;
    }
    return b;
}

} // namespace

double routeLengthMetres()
{
    double total = 0;
    for (size_t i = 0; i + 1 < kRoute.size(); ++i)
        total += segment(i).length;
    return total;
}

uint8_t encode8(int raw)
{
    // Two's complement, except that -1 is written as +1: both read back as 1,
    // and the metadata track then never holds a 0xFF byte, which demuxers
    // probing the track would take for the sync word of an audio frame.
    if (raw == -1)
        raw = 1;
    return static_cast<uint8_t>(std::clamp(raw, -127, 127));
}

uint16_t encode10(int raw) { return static_cast<uint16_t>(512 - std::clamp(raw, -511, 512)); }

int decode8(uint8_t c) { return (c & 0x80) ? 128 - (c & 0x7F) : (c & 0x7F); }

int decode10(uint16_t w) { return static_cast<int>((~static_cast<unsigned>(w)) & 0x3FF) - 511; }

std::string nmeaLatitude(double degrees) { return nmea(degrees, 2); }

std::string nmeaLongitude(double degrees) { return nmea(degrees, 3); }

DriveTrack simulateDrive(const DriveSpec &def)
{
    Random random(def.seed * 0x100000001B3ull + static_cast<uint64_t>(def.recordingIndex) * 7919u + 17u);
    const SpeedProfile profile = profileFor(def, random);
    const double unitsPerG = def.format == SensorFormat::S10 ? 127.0 : 32.0;
    const double swayPhase = random.unit() * 2 * kPi;
    const int steps = static_cast<int>(std::ceil(def.seconds * 10.0 - 1e-9)); // samples at 0, 100 ms, ...

    DriveTrack track;
    track.speedKmh.reserve(static_cast<size_t>(steps) + 1);
    for (int k = 0; k <= steps; ++k)
        track.speedKmh.push_back(profile.at(k * 0.1));

    double distance = std::fmod(def.recordingIndex * 731.0 + static_cast<double>(def.seed % 1000) * 3.7,
                                2 * routeLengthMetres());
    for (int k = 0; k < steps; ++k) {
        const double t = k * 0.1;
        const uint32_t ms = static_cast<uint32_t>(k) * 100;
        // Longitudinal acceleration from the speed curve, in g.
        const double dv = profile.at(t + 0.05) - profile.at(std::max(0.0, t - 0.05));
        double gx = dv / 3.6 / (t >= 0.05 ? 0.1 : 0.05) / 9.81;
        double gy = (profile.kind == DriveKind::Parking ? 0.0 : 0.06 * std::sin(2 * kPi * t / 5.0 + swayPhase));
        double gz = 1.0;
        const double roughness = profile.kind == DriveKind::Parking ? 0.01 : 0.04;
        gx += roughness * 0.5 * random.symmetric();
        gy += roughness * 0.5 * random.symmetric();
        gz += roughness * random.symmetric();
        const double braking = profile.brakeSeconds();
        if (profile.kind == DriveKind::Event && t >= profile.brakeAt && t < profile.brakeAt + braking)
            gz += 0.15 * std::sin(kPi * (t - profile.brakeAt) / braking); // the nose dips
        if (profile.kind == DriveKind::Parking && t >= profile.brakeAt) {
            // Another car knocks into the parked one: a sharp, ringing jolt.
            const double dt = t - profile.brakeAt;
            const double ring = std::exp(-dt / 0.25) * std::cos(2 * kPi * 3.0 * dt);
            gx += 1.4 * ring;
            gy += 0.9 * ring;
            gz += 0.5 * ring;
        }
        track.packets.push_back({ms, sensorPacket(def.format, static_cast<int>(std::lround(gx * unitsPerG)),
                                                   static_cast<int>(std::lround(gy * unitsPerG)),
                                                   static_cast<int>(std::lround(gz * unitsPerG)))});
        if (k % 10 == 0) {
            const int speed = static_cast<int>(std::lround(track.speedKmh[static_cast<size_t>(k)]));
            const std::string sentence = gpsSentence(def, k / 10, placeAt(distance), speed);
            track.packets.push_back({ms, Bytes(sentence.begin(), sentence.end())});
            track.maxGpsSpeedKmh = std::max(track.maxGpsSpeedKmh, speed);
        }
        // Metres driven in the next 100 ms (trapezoid rule).
        distance += (track.speedKmh[static_cast<size_t>(k)] + track.speedKmh[static_cast<size_t>(k) + 1]) / 2.0 /
                    3.6 * 0.1;
    }
    return track;
}

} // namespace mkcard
