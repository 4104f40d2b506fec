#pragma once
// The pieces of the file list's search that do not need a widget: the speed
// threshold typed by the user turned into km/h, the date a recording's name
// gives to the date pickers, and a picker date as a local time point.
// Stateless; any thread.

#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvante {

// Positions of the speed unit combo.
enum SpeedUnitPosition : int { UnitKmh = 0, UnitMileH = 1, UnitKnot = 2 };

// The threshold text read as a decimal integer (leading digits; none reads as
// 0), converted to km/h from the unit at `unitPosition`.
float thresholdKmh(const QString &text, int unitPosition);

// The date of name field 1 (characters 1-4 year, 5-6 month, 7-8 day); none
// when they do not form a valid calendar date.
std::optional<QDate> pickerDateOfName(std::string_view name);

// 00:00:00 local time of `date` in seconds since 1970 (daylight saving left to
// the C library); none when the date cannot be placed.
std::optional<int64_t> localMidnight(const QDate &date);

} // namespace korvante
