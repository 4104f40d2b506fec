#pragma once
// How the overview panel writes its figures: durations, distances, speeds and
// forces, in the viewer's speed unit (0 km/h, 1 mph, 2 knots; distances then
// in km, miles or nautical miles). Pure functions; any thread.

#include <QString>

#include <chrono>
#include <optional>

namespace korvante::overview_text {

// "45 s", "12:05" (minutes and seconds) or "1:02:05" (hours first).
QString duration(std::chrono::milliseconds length);
// "12.3 km", "7.6 mi", "6.6 nmi"; "0.0 km" for nothing.
QString distance(double metres, int speedUnit);
// "87 km/h", "54 mph", "47 kn" (whole units, rounded).
QString speed(float kmh, int speedUnit);
// "87 km/h" or "-" when there is no speed.
QString speed(const std::optional<float> &kmh, int speedUnit);
// "1.83 g": two decimals, rounded.
QString force(double g);

// A speed in km/h in the unit, and the unit's name.
double speedIn(float kmh, int speedUnit);
QString speedUnitName(int speedUnit);

} // namespace korvante::overview_text
