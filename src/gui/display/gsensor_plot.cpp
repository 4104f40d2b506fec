#include "gsensor_plot.h"

#include <algorithm>
#include <cmath>

namespace korvante::gsensor {

namespace {

constexpr QRect ltrb(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

const PlotGeometry kNormal{QSize(336, 200), ltrb(31, 55, 332, 173), ltrb(31, 55, 324, 173),
                           ltrb(33, 53, 325, 166), 33, 292};
const PlotGeometry kWide{QSize(550, 290), ltrb(54, 80, 542, 248), ltrb(54, 80, 534, 248),
                         ltrb(54, 80, 534, 248), 54, 480};

// A pixel coordinate from a real value, truncated toward zero; values far
// outside any window are pinned so that the conversion stays defined.
int toPixel(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -1.0e6, 1.0e6));
}

} // namespace

const PlotGeometry &plotGeometry(bool wide)
{
    return wide ? kWide : kNormal;
}

double verticalScale(int height, std::int32_t firstKind)
{
    const double perUnit = firstKind == 2 ? 1.0 / 512 : 1.0 / 128;
    return height * 0.5 * perUnit;
}

Curves curvePoints(const std::vector<SensorSample> &samples, const QRect &curve)
{
    Curves out;
    if (samples.empty())
        return out;
    const int left = curve.left();
    const std::int64_t width = curve.width();
    const int centre = curve.top() + curve.height() / 2;
    const double scale = verticalScale(curve.height(), samples.front().kind);
    for (auto &axis : out.axis) {
        axis.reserve(samples.size() + 1);
        axis.emplace_back(left, centre);
    }
    for (const SensorSample &s : samples) {
        // Unsigned: a negative time counts as far beyond the minute.
        const auto time = static_cast<std::uint32_t>(s.timestamp);
        if (time > kSpanMs)
            continue;
        const int x = left + static_cast<int>(static_cast<std::int64_t>(time) * width / kSpanMs);
        const std::int32_t raw[3] = {s.x, s.y, s.z};
        for (int a = 0; a < 3; ++a)
            out.axis[a].emplace_back(x, toPixel(centre - raw[a] * scale));
    }
    return out;
}

int cursorX(const QRect &cursor, std::uint32_t cursorMs)
{
    return cursor.left() + static_cast<int>(static_cast<std::int64_t>(cursorMs) * cursor.width() / kSpanMs);
}

std::optional<int> markX(const QRect &cursor, std::int64_t offsetMs)
{
    if (offsetMs < 0 || offsetMs > kSpanMs)
        return std::nullopt;
    return cursorX(cursor, static_cast<std::uint32_t>(offsetMs));
}

std::optional<std::uint32_t> seekTimeAt(int x, bool wide, std::uint64_t durationMs)
{
    const PlotGeometry &g = plotGeometry(wide);
    // The duration's pixel width on the one-minute scale, then the point's
    // share of it, in single precision as the panel has always computed it:
    // a point in the middle of the plot may give one millisecond less.
    const auto duration = static_cast<float>(durationMs);
    if (!(duration > 0.0f))
        return std::nullopt; // nothing to seek in (and no division by zero)
    const auto offset = static_cast<float>(x - g.seekOrigin);
    if (offset < 0.0f)
        return std::nullopt;
    const float pixels = duration / static_cast<float>(kSpanMs) * static_cast<float>(g.seekWidth);
    const float fraction = (offset / (pixels / 100.0f)) / 100.0f;
    const float target = duration * fraction;
    if (!(target >= 0.0f) || target >= 4.0e9f)
        return std::nullopt; // no point of a plot lies this far out
    const auto t = static_cast<std::uint32_t>(target);
    if (static_cast<float>(t) > duration)
        return std::nullopt; // past the end of the recording
    return t;
}

} // namespace korvante::gsensor
