#pragma once
// The camera's clock checked against satellite time. A recording's name
// carries the camera's wall clock at its start; each valid GPS fix carries
// its UTC date and time and its offset from that start. Their difference is
// the camera's zone offset plus its error; over a card, the median
// difference rounded to 15 minutes is the zone the camera was set to, and
// what is left is its drift (positive when the camera runs fast).
//
// Plain arithmetic on typed times: no I/O, no Qt. Any thread.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvante {
class CQDRVGPSData;
}

namespace korvante::clock {

// The camera's wall clock knows no zone: it is a local time, never a system time.
using CameraTime = std::chrono::local_time<std::chrono::milliseconds>;
// A sentence's date and UTC time, to the whole second (the fraction is not kept).
using UtcTime = std::chrono::sys_seconds;

// A recording more than this far from the card's difference has a clock of
// its own (reset, a date never set) and is named apart.
inline constexpr std::chrono::seconds kApartLimit{60};
// Below this a drift is within what whole-second names and fixes can show.
inline constexpr std::chrono::seconds kNoticeableDrift{2};

struct FixTime {
    std::chrono::milliseconds offset{0}; // from the start of the recording
    UtcTime utc;
};

// The valid fixes of one recording and the camera time its name gives.
struct RecordingFixes {
    std::string name; // the front file's name
    std::chrono::local_seconds start;
    std::vector<FixTime> fixes;
};

struct RecordingClock {
    std::string name;
    CameraTime firstCamera;          // camera time of its first valid fix
    UtcTime firstUtc;                // that fix's UTC time
    std::chrono::milliseconds difference{0}; // camera − UTC, median over its fixes
    std::chrono::seconds drift{0};   // difference − the card's zone, to the nearest second
    bool apart = false;              // more than kApartLimit from the card's difference
};

struct ClockCheck {
    std::vector<RecordingClock> recordings; // those with a valid fix, in the order given
    std::chrono::minutes zone{0};           // the camera's zone offset from UTC
    std::chrono::seconds drift{0};          // camera − true time in that zone (median)
    std::size_t agreeing = 0;               // recordings not apart: the ones zone and drift come from

    bool known() const { return agreeing > 0; }
    std::size_t apartCount() const { return recordings.size() - agreeing; }
};

// Recordings without a fix are passed over; with none at all the result is
// not known().
ClockCheck checkClock(const std::vector<RecordingFixes> &recordings);


// A sentence's UTC from its fields as the record keeps them: a two-digit
// year (2000 onwards), month, day, hour, minute, second. None when they are
// no calendar time (an empty date, as a receiver without a fix sends).
std::optional<UtcTime> utcOfFields(int year2, int month, int day, int hour, int minute, int second);

// The UTC of a valid fix as the sentence gave it. The record keeps the
// sentence's hour plus 9 (the display's local time); that is taken off here.
std::optional<UtcTime> utcOfFix(const CQDRVGPSData &fix);

// "UTC+08:00", "UTC-03:30", "UTC+00:00".
std::string zoneText(std::chrono::minutes zone);
// "47 s slow", "12 s fast", "on time".
std::string driftText(std::chrono::seconds drift);
// "YYYY-MM-DD HH:MM:SS" (the fraction of a second dropped).
std::string civilText(std::chrono::local_seconds time);
std::string civilText(UtcTime time);
// "UTC+08:00, 47 s slow (from 37 recordings)", with "; 1 apart" inside the
// brackets when recordings were named apart; empty when nothing is known.
std::string clockSummary(const ClockCheck &check);
// "camera clock 47 s slow" when the drift is noticeable, "camera clock off
// UTC by 3000 days" when the clock is in no time zone at all, else empty.
std::string driftNote(const ClockCheck &check);

} // namespace korvante::clock
