#include "impact_summary.h"

#include <cmath>
#include <cstdlib>

namespace korvante {

double gPerRawUnit(std::int32_t firstSampleKind)
{
    const double k = firstSampleKind == 2 ? 0.1103515625 : 0.44140625;
    return k / 7.0 * 0.5;
}

const char *impactSideText(ImpactSide side)
{
    switch (side) {
    case ImpactSide::Front: return "front";
    case ImpactSide::Rear: return "rear";
    case ImpactSide::Left: return "left";
    case ImpactSide::Right: return "right";
    case ImpactSide::FrontOrRear: return "front or rear";
    case ImpactSide::LeftOrRight: return "left or right";
    case ImpactSide::None: break;
    }
    return "";
}

namespace {

ImpactSide sideOf(double x, double y, bool signedAxes)
{
    if (x == 0 && y == 0)
        return ImpactSide::None;
    if (std::fabs(x) >= std::fabs(y)) {
        if (!signedAxes)
            return ImpactSide::FrontOrRear;
        // Slowing down (negative X) is a push from the front.
        return x < 0 ? ImpactSide::Front : ImpactSide::Rear;
    }
    if (!signedAxes)
        return ImpactSide::LeftOrRight;
    // Pushed towards the left (positive Y) by a hit from the right.
    return y > 0 ? ImpactSide::Right : ImpactSide::Left;
}

} // namespace

ImpactSummary summarizeImpact(const std::vector<SensorSample> &samples, const std::vector<CQDRVGPSData> &fixes,
                              std::uint64_t positionMs, std::int32_t windowMs)
{
    ImpactSummary summary;
    if (!samples.empty()) {
        const std::int32_t firstKind = samples.front().kind;
        const double scale = gPerRawUnit(firstKind);
        const std::int64_t from = static_cast<std::int64_t>(positionMs) - windowMs;
        const std::int64_t to = static_cast<std::int64_t>(positionMs) + windowMs;
        for (const SensorSample &s : samples) {
            if (s.kind == 3 || s.timestamp < from || s.timestamp > to)
                continue;
            const double x = s.x * scale, y = s.y * scale, z = s.z * scale;
            const double total = std::sqrt(x * x + y * y + z * z);
            if (!summary.hasPeak || total > summary.peakG) {
                summary.hasPeak = true;
                summary.peakG = total;
                summary.peakMs = s.timestamp;
                summary.peakX = x;
                summary.peakY = y;
                summary.peakZ = z;
                // Only 10-bit words carry the sign of an axis.
                summary.side = sideOf(x, y, s.kind == 2);
            }
        }
    }
    if (!summary.hasPeak)
        return summary;
    const std::int64_t target = static_cast<std::int64_t>(summary.peakMs) - kSpeedLeadMs;
    std::int64_t bestDistance = 0;
    for (const CQDRVGPSData &fix : fixes) {
        if (!fix.valid)
            continue;
        const std::int64_t distance = std::llabs(static_cast<std::int64_t>(fix.timestamp) - target);
        if (!summary.hasSpeed || distance < bestDistance) {
            summary.hasSpeed = true;
            summary.speedKmh = fix.speed;
            summary.speedMs = fix.timestamp;
            bestDistance = distance;
        }
    }
    return summary;
}

ImpactSummary summarizeImpact(const CQDRVTextData &sensorData, std::uint64_t positionMs)
{
    std::vector<SensorSample> samples;
    std::vector<CQDRVGPSData> fixes;
    {
        const auto lock = sensorData.lock();
        samples.assign(sensorData.samplesLocked().begin(), sensorData.samplesLocked().end());
        fixes.assign(sensorData.fixesLocked().begin(), sensorData.fixesLocked().end());
    }
    return summarizeImpact(samples, fixes, positionMs);
}

} // namespace korvante
