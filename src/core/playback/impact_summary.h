#pragma once
// The impact summary of an accident report: the strongest jolt the G-sensor
// felt around the playback position, where it came from, and how fast the
// car went shortly before it.
//
// Axes, as the camera writes them: X is the car's length, positive when the
// car speeds up forwards (so braking, or a hit from the front, reads
// negative); Y is its width, positive towards the left (X forward, Z up,
// right-handed), so a hit from the right reads positive; Z is vertical and
// reads about +1 g standing still. The 8-bit codes ('M' packets and 'S'
// packets of sub-type 0x08) keep only the magnitude of each axis: there the
// side cannot be told, only the axis ("front or rear", "left or right").
//
// Pure functions on copies of the sensor lists; any thread.

#include "core/playback/sensor_records.h"

#include <cstdint>
#include <vector>

namespace korvante {

// The sensor strip's conversion of a raw axis value to g: raw × k ÷ 7 × 0.5,
// k = 0.1103515625 when the first sample of the list has kind 2 (10-bit
// words), else 0.44140625.
double gPerRawUnit(std::int32_t firstSampleKind);

enum class ImpactSide { None, Front, Rear, Left, Right, FrontOrRear, LeftOrRight };

// "front", "rear", "left", "right", "front or rear", "left or right", "".
const char *impactSideText(ImpactSide side);

struct ImpactSummary {
    bool hasPeak = false;      // a usable sample lay within the window
    double peakG = 0;          // √(x² + y² + z²) in g
    std::int32_t peakMs = 0;   // its time from the start of the recording
    double peakX = 0, peakY = 0, peakZ = 0; // the axes at the peak, in g
    ImpactSide side = ImpactSide::None;
    bool hasSpeed = false;     // a valid GPS fix exists
    double speedKmh = 0;       // the fix nearest to 3 s before the peak
    std::int32_t speedMs = 0;  // that fix's time
};

inline constexpr std::int32_t kImpactWindowMs = 5000;
inline constexpr std::int32_t kSpeedLeadMs = 3000;

// The peak of the total G within ±`windowMs` of `positionMs` (samples of
// kind 3 carry nothing and are skipped), the side from the larger horizontal
// axis at the peak and its sign, and the speed of the valid fix whose time is
// nearest to `kSpeedLeadMs` before the peak.
ImpactSummary summarizeImpact(const std::vector<SensorSample> &samples, const std::vector<CQDRVGPSData> &fixes,
                              std::uint64_t positionMs, std::int32_t windowMs = kImpactWindowMs);

// The same over the viewer's lists, copied under their lock.
ImpactSummary summarizeImpact(const CQDRVTextData &sensorData, std::uint64_t positionMs);

} // namespace korvante
