#include "core/storage/recording_name.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>

namespace korvante {

std::string_view nameField(std::string_view name, int index)
{
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        const size_t bar = name.find('_', start);
        if (bar == std::string_view::npos)
            return {};
        start = bar + 1;
    }
    const size_t end = name.find('_', start);
    return name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

RecordingKind kindOfName(std::string_view name)
{
    if (name.find('N') != std::string_view::npos)
        return KindNormal;
    if (name.find('E') != std::string_view::npos)
        return KindEvent;
    if (name.find('P') != std::string_view::npos)
        return KindParking;
    if (name.find('M') != std::string_view::npos)
        return KindManual;
    return KindNone;
}

const char *kindText(RecordingKind kind)
{
    switch (kind) {
    case KindNormal: return "NOR";
    case KindEvent: return "EVT";
    case KindParking: return "MOT";
    case KindManual: return "MAN";
    case KindNone: break;
    }
    return "NONE";
}

int32_t leadingInteger(std::string_view field)
{
    int64_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX)
            return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

bool NameDateTime::isValid() const
{
    return year >= 1900 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0
           && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::optional<std::chrono::local_seconds> cameraTimeOfName(std::string_view name)
{
    const NameDateTime dt = dateTimeOfName(fileNameOf(name));
    if (!dt.isValid() || dt.year > 9999)
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day day{year{dt.year}, month{static_cast<unsigned>(dt.month)}, std::chrono::day{static_cast<unsigned>(dt.day)}};
    if (!day.ok())
        return std::nullopt;
    return local_days{day} + hours{dt.hour} + minutes{dt.minute} + seconds{dt.second};
}

std::optional<std::time_t> NameDateTime::toLocalTime() const
{
    if (!isValid())
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    errno = 0;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && errno != 0)
        return std::nullopt;
    return t;
}

std::optional<NameDateTime> NameDateTime::movedBy(int seconds) const
{
    using namespace std::chrono;
    if (!isValid() || year > 9999)
        return std::nullopt;
    // Days are counted from the 1st of the month so that day 31 of a shorter
    // month runs on into the next one.
    const sys_days firstOfMonth{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} / 1};
    const sys_seconds start = firstOfMonth + days{day - 1} + hours{hour} + minutes{minute}
                              + std::chrono::seconds{second};
    const sys_seconds moved = start + std::chrono::seconds{seconds};
    const sys_days movedDay = floor<days>(moved);
    const year_month_day ymd{movedDay};
    const hh_mm_ss<std::chrono::seconds> clock{moved - movedDay};
    NameDateTime out;
    out.year = static_cast<int32_t>(static_cast<int>(ymd.year()));
    out.month = static_cast<int32_t>(static_cast<unsigned>(ymd.month()));
    out.day = static_cast<int32_t>(static_cast<unsigned>(ymd.day()));
    out.hour = static_cast<int32_t>(clock.hours().count());
    out.minute = static_cast<int32_t>(clock.minutes().count());
    out.second = static_cast<int32_t>(clock.seconds().count());
    return out;
}

NameDateTime dateTimeOfFields(std::string_view dateField, std::string_view timeField)
{
    const int32_t d = leadingInteger(dateField);
    const int32_t t = leadingInteger(timeField);
    NameDateTime dt;
    dt.year = d / 10000;
    dt.month = (d % 10000) / 100;
    dt.day = d % 100;
    dt.hour = t / 10000;
    dt.minute = (t % 10000) / 100;
    dt.second = t % 100;
    return dt;
}

std::string withDateTimeFields(std::string_view name, const NameDateTime &dt)
{
    const size_t dateStart = name.find('_');
    if (dateStart == std::string_view::npos)
        return {};
    const size_t timeStart = name.find('_', dateStart + 1);
    if (timeStart == std::string_view::npos)
        return {};
    const size_t timeEnd = name.find('_', timeStart + 1);
    char fields[64];
    std::snprintf(fields, sizeof fields, "%04d%02d%02d_%02d%02d%02d", dt.year, dt.month, dt.day, dt.hour,
                  dt.minute, dt.second);
    std::string out(name.substr(0, dateStart + 1));
    out += fields;
    if (timeEnd != std::string_view::npos)
        out += name.substr(timeEnd);
    return out;
}

std::string formatDate(int32_t year, int32_t month, int32_t day)
{
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

std::string formatTime(int32_t hour, int32_t minute, int32_t second)
{
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    return text;
}

bool isRearName(std::string_view name) { return nameField(name, 4) == "R.avi"; }

bool isTwoChannelName(std::string_view name) { return nameField(name, 3) == "2CH"; }

std::string displayName(std::string_view name) { return replaceAll(std::string(name), ".tavo", ""); }

std::string sortKeyOfName(std::string_view name)
{
    std::string key(nameField(name, 1));
    key += nameField(name, 2);
    return key;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return text;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

std::string_view fileNameOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace korvante
