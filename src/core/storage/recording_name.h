#pragma once
// The camera's recording-name grammar: "<K>_<YYYYMMDD>_<HHMMSS>_<1CH|2CH>_<F|R>.avi".
// Names are UTF-8 (or raw 8-bit) bytes; nothing here touches the file system.

#include <cstdint>
#include <ctime>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace korvante {

// Kind numbers of a recording; -1 is a name without any of the kind letters,
// which shows as "NONE" and filters as normal.
enum RecordingKind : int32_t {
    KindNone = -1,
    KindNormal = 0,
    KindEvent = 1,
    KindParking = 2,
    KindManual = 3,
};

// Field `index` (from 0) of `name` split at every "_"; a missing field is empty.
std::string_view nameField(std::string_view name, int index);

// The first of "N", "E", "P", "M" that occurs anywhere in the name decides.
RecordingKind kindOfName(std::string_view name);
// "NOR", "EVT", "MOT", "MAN" or "NONE".
const char *kindText(RecordingKind kind);
// The kind a row filter compares against: KindNone counts as normal.
inline int32_t filterKindOf(RecordingKind kind) { return kind == KindNone ? KindNormal : kind; }

// The leading decimal digits of `field` as an integer (0 without digits),
// saturating at INT32_MAX so that absurdly long fields cannot overflow.
int32_t leadingInteger(std::string_view field);

// Calendar fields of a name, exactly as the integer arithmetic gives them.
struct NameDateTime {
    int32_t year = 0, month = 0, day = 0;
    int32_t hour = 0, minute = 0, second = 0;

    bool isValid() const;
    // Local time with the daylight-saving state left to the C library; none
    // when the fields are not a valid date and time or mktime cannot place them.
    std::optional<std::time_t> toLocalTime() const;
    // The same wall-clock fields `seconds` later (earlier when negative), on the
    // calendar alone: the camera's clock knows no time zone and skips no hour.
    // A day past the month's end counts on into the next month, as mktime
    // would. None when the fields are not a valid date and time (years 1900
    // to 9999).
    std::optional<NameDateTime> movedBy(int seconds) const;
};

NameDateTime dateTimeOfFields(std::string_view dateField, std::string_view timeField);
inline NameDateTime dateTimeOfName(std::string_view name)
{
    return dateTimeOfFields(nameField(name, 1), nameField(name, 2));
}

// The camera time a recording name (or a path ending in one) gives: its
// date and time fields on the calendar alone, as the camera's clock knows no
// zone. None when they are no calendar time (a 31 April, a year outside
// 1900 to 9999).
std::optional<std::chrono::local_seconds> cameraTimeOfName(std::string_view name);

// `name` with field 1 set to "YYYYMMDD" and field 2 to "HHMMSS" of `dt`, the
// other fields untouched; empty when the name has no field 2.
std::string withDateTimeFields(std::string_view name, const NameDateTime &dt);

// "%04d-%02d-%02d" and "%02d:%02d:%02d".
std::string formatDate(int32_t year, int32_t month, int32_t day);
std::string formatTime(int32_t hour, int32_t minute, int32_t second);

// True when field 4 is exactly "R.avi": a rear file, never a row of its own.
bool isRearName(std::string_view name);
// True when field 3 is exactly "2CH": a front recording with a rear partner.
bool isTwoChannelName(std::string_view name);

// The name as shown: every ".tavo" removed.
std::string displayName(std::string_view name);

// The sort key: field 1 followed by field 2, as text.
std::string sortKeyOfName(std::string_view name);

// Replaces every occurrence of `from` in `text` (an empty `from` changes nothing).
std::string replaceAll(std::string text, std::string_view from, std::string_view to);

// The part of a path after its last "/" (the whole path without one).
std::string_view fileNameOf(std::string_view path);

} // namespace korvante
