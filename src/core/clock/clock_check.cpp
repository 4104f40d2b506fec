#include "core/clock/clock_check.h"

#include "core/playback/sensor_records.h"
#include "core/storage/recording_name.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace korvante::clock {
namespace {

using std::chrono::milliseconds;

// The median of `values` (reordered); the mean of the middle two for an even
// count; 0 for none.
milliseconds median(std::vector<milliseconds> values)
{
    if (values.empty())
        return milliseconds{0};
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const milliseconds upper = values[mid];
    if (values.size() % 2 == 1)
        return upper;
    const milliseconds lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return lower + (upper - lower) / 2;
}

// The nearest multiple of 15 minutes (halves away from zero).
std::chrono::minutes roundToQuarterHour(milliseconds d)
{
    constexpr long long quarter = 15LL * 60 * 1000;
    const long long ms = d.count();
    const long long n = ms >= 0 ? (ms + quarter / 2) / quarter : -((-ms + quarter / 2) / quarter);
    return std::chrono::minutes{n * 15};
}

// Whole seconds, halves away from zero.
std::chrono::seconds roundToSecond(milliseconds d)
{
    const long long ms = d.count();
    return std::chrono::seconds{ms >= 0 ? (ms + 500) / 1000 : -((-ms + 500) / 1000)};
}

// `value` in decimal, at least `width` digits (zero-padded), without a sign.
void appendNumber(std::string &out, long long value, int width = 1)
{
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value);
    const int length = static_cast<int>(end - digits);
    if (ec == std::errc{}) {
        out.append(static_cast<size_t>(std::max(0, width - length)), '0');
        out.append(digits, end);
    }
}

std::string civilOf(std::chrono::sys_seconds t)
{
    const auto day = std::chrono::floor<std::chrono::days>(t);
    const std::chrono::year_month_day ymd{day};
    const std::chrono::hh_mm_ss<std::chrono::seconds> clock{t - day};
    std::string out;
    appendNumber(out, static_cast<int>(ymd.year()), 4);
    out += '-';
    appendNumber(out, static_cast<unsigned>(ymd.month()), 2);
    out += '-';
    appendNumber(out, static_cast<unsigned>(ymd.day()), 2);
    out += ' ';
    appendNumber(out, clock.hours().count(), 2);
    out += ':';
    appendNumber(out, clock.minutes().count(), 2);
    out += ':';
    appendNumber(out, clock.seconds().count(), 2);
    return out;
}

std::optional<std::chrono::sys_seconds> civilTime(int year, int month, int day, int hour, int minute, int second)
{
    using namespace std::chrono;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59
        || second < 0 || second > 59)
        return std::nullopt;
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                             std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok())
        return std::nullopt;
    return sys_days{ymd} + hours{hour} + minutes{minute} + seconds{second};
}

} // namespace

ClockCheck checkClock(const std::vector<RecordingFixes> &recordings)
{
    ClockCheck check;
    for (const RecordingFixes &r : recordings) {
        if (r.fixes.empty())
            continue;
        std::vector<milliseconds> differences;
        differences.reserve(r.fixes.size());
        for (const FixTime &fix : r.fixes) {
            const CameraTime camera = r.start + fix.offset;
            differences.push_back(camera.time_since_epoch() - fix.utc.time_since_epoch());
        }
        RecordingClock clock;
        clock.name = r.name;
        clock.firstCamera = r.start + r.fixes.front().offset;
        clock.firstUtc = r.fixes.front().utc;
        clock.difference = median(std::move(differences));
        check.recordings.push_back(std::move(clock));
    }
    if (check.recordings.empty())
        return check;

    // A reset clock or a date never set is far off the others; the median
    // over recordings is not moved by a few of them, and those are then left
    // out of the figures the card is described by.
    // The lower middle one rather than the mean of the middle two: with
    // recordings of two clocks in equal numbers the mean would lie between
    // them and leave every recording apart; this way one clock is the card's.
    std::vector<milliseconds> all;
    for (const RecordingClock &r : check.recordings)
        all.push_back(r.difference);
    const auto lowerMiddle = all.begin() + static_cast<std::ptrdiff_t>((all.size() - 1) / 2);
    std::nth_element(all.begin(), lowerMiddle, all.end());
    const milliseconds cardDifference = *lowerMiddle;
    std::vector<milliseconds> agreeing;
    for (RecordingClock &r : check.recordings) {
        const milliseconds off = r.difference - cardDifference;
        r.apart = std::chrono::abs(off) > kApartLimit;
        if (!r.apart)
            agreeing.push_back(r.difference);
    }
    check.agreeing = agreeing.size();
    const milliseconds difference = median(std::move(agreeing));
    check.zone = roundToQuarterHour(difference);
    check.drift = roundToSecond(difference - check.zone);
    for (RecordingClock &r : check.recordings)
        r.drift = roundToSecond(r.difference - check.zone);
    return check;
}

std::optional<UtcTime> utcOfFields(int year2, int month, int day, int hour, int minute, int second)
{
    if (year2 < 0 || year2 > 99)
        return std::nullopt;
    return civilTime(2000 + year2, month, day, hour, minute, second);
}

std::string zoneText(std::chrono::minutes zone)
{
    const long long m = zone.count();
    std::string out = m < 0 ? "UTC-" : "UTC+";
    appendNumber(out, std::llabs(m) / 60, 2);
    out += ':';
    appendNumber(out, std::llabs(m) % 60, 2);
    return out;
}

std::string driftText(std::chrono::seconds drift)
{
    if (drift.count() == 0)
        return "on time";
    std::string out;
    appendNumber(out, drift.count());
    out += drift.count() < 0 ? " s slow" : " s fast";
    return out;
}

std::string civilText(std::chrono::local_seconds time)
{
    return civilOf(std::chrono::sys_seconds{time.time_since_epoch()});
}

std::string civilText(UtcTime time) { return civilOf(time); }

std::string clockSummary(const ClockCheck &check)
{
    if (!check.known())
        return {};
    std::string out = zoneText(check.zone) + ", " + driftText(check.drift) + " (from ";
    appendNumber(out, static_cast<long long>(check.agreeing));
    out += check.agreeing == 1 ? " recording" : " recordings";
    if (check.apartCount() > 0) {
        out += "; ";
        appendNumber(out, static_cast<long long>(check.apartCount()));
        out += " apart";
    }
    return out + ")";
}

std::optional<UtcTime> utcOfFix(const CQDRVGPSData &fix)
{
    // The record's hour is the sentence's plus this (no wrap at 24).
    constexpr int kRecordHourShift = 9;
    if (!fix.valid)
        return std::nullopt;
    return utcOfFields(fix.year, fix.month, fix.day, fix.hour - kRecordHourShift, fix.minute, fix.second);
}

std::string driftNote(const ClockCheck &check)
{
    if (!check.known())
        return {};
    // No zone lies beyond these: the clock was never set, or was reset.
    if (check.zone < std::chrono::hours{-12} || check.zone > std::chrono::hours{14}) {
        const long long off = std::llabs(std::chrono::duration_cast<std::chrono::seconds>(check.zone + check.drift).count());
        std::string out = "camera clock off UTC by ";
        appendNumber(out, off >= 2 * 86400 ? off / 86400 : off / 3600);
        return out + (off >= 2 * 86400 ? " days" : " h");
    }
    if (std::chrono::abs(check.drift) < kNoticeableDrift)
        return {};
    return "camera clock " + driftText(check.drift);
}

} // namespace korvante::clock
