#pragma once
// The map picture of the accident report, 299 x 280: what the map panel's
// browser shows, brought up to the playback position first; or, when the
// panel is hidden or shows nothing, the GPS track of the open recording
// drawn here with the car's place on it.
//
// UI thread only.

#include "core/playback/sensor_records.h"

#include <QImage>

#include <cstdint>
#include <vector>

class QWidget;

namespace korvante {

// The picture of `mapView` (the map panel, or any widget standing in for
// it): the browser's area of a visible map panel, the top-left 299 x 280 of
// another visible widget. Null when there is nothing to grab.
QImage grabMapPicture(QWidget *mapView);

// The track of `fixes` (valid ones) fitted into 299 x 280 with the fix at
// or before `positionMs` marked; a plain picture saying "No GPS position"
// without valid fixes.
QImage drawTrackPicture(const std::vector<CQDRVGPSData> &fixes, std::uint64_t positionMs);

// The map picture for the report: the grab when it shows something, else
// the drawn track.
QImage reportMapPicture(QWidget *mapView, const CQDRVTextData &sensorData, std::uint64_t positionMs);

} // namespace korvante
