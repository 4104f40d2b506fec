#pragma once
// The G-sensor graph's geometry and arithmetic, apart from the widget: the
// rectangles of the two layouts, where a sample or the cursor falls in the
// plot, and which time a point of the plot stands for. Pure functions; any
// thread.
//
// Rectangles are given as (left, top, right, bottom) with right and bottom
// exclusive, the way the panel's layout tables give them; as QRects they are
// QRect(left, top, right - left, bottom - top).

#include "core/playback/sensor_records.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

namespace korvante::gsensor {

// The graph spans the first minute of a recording.
inline constexpr std::int64_t kSpanMs = 60000;

struct PlotGeometry {
    QSize panel;
    QRect curve;     // where the curves are drawn
    QRect cursor;    // where the cursor is drawn (8 pixels narrower)
    QRect click;     // where a click or a drag seeks
    int seekOrigin;  // the x of time 0 for a seek
    int seekWidth;   // pixels of one minute for a seek
};

// The normal (beside the video) or the wide (floating) layout.
const PlotGeometry &plotGeometry(bool wide);

// Pixels per raw axis unit: half the height spans 512 raw units of 10-bit
// samples (kind 2 on the first sample) and 128 of 8-bit ones.
double verticalScale(int height, std::int32_t firstKind);

// The three axes of the samples of the first minute, as points of `curve`,
// each polyline starting at the left end of the centre line. Samples later
// than one minute (and those with a negative time, which read as later) are
// left out. The first sample's kind sets the vertical scale.
struct Curves {
    std::vector<QPoint> axis[3]; // X, Y, Z
};
Curves curvePoints(const std::vector<SensorSample> &samples, const QRect &curve);

// The column of the cursor for `cursorMs` in `cursor` (it may lie right of the
// rectangle after the first minute).
int cursorX(const QRect &cursor, std::uint32_t cursorMs);

// The column of an incident mark at `offsetMs` in `cursor`, on the cursor's
// scale; nothing when it lies outside the first minute the plot spans.
std::optional<int> markX(const QRect &cursor, std::int64_t offsetMs);

// The time a click at column `x` asks for, on the one-minute scale of the
// layout, or nothing when it lies after the end of a recording of
// `durationMs` (or the recording has no length).
std::optional<std::uint32_t> seekTimeAt(int x, bool wide, std::uint64_t durationMs);

} // namespace korvante::gsensor
