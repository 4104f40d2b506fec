#include "snapshot_capture.h"

#include "core/config/viewer_config.h"
#include "core/platform/log.h"
#include "core/playback/viewer_state.h"
#include "core/storage/recording_name.h"
#include "gui/platform/message_box.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/report/report_actions.h"

#include <QImage>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <optional>

namespace korvante {

namespace {

constexpr std::int64_t kUnixToWindowsMs = kUnixToWindowsSeconds * 1000;

QString formatStamp(const NameDateTime &dt)
{
    return QString::asprintf("%d%02d%02d_%02d%02d%02d", dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second);
}

// A real calendar date (no 31 February) between the years 1601 and 9999.
bool isCalendarDate(const NameDateTime &dt)
{
    if (!(dt.year >= 1601 && dt.year <= 9999 && dt.month >= 1 && dt.month <= 12 && dt.hour >= 0 && dt.hour <= 23
          && dt.minute >= 0 && dt.minute <= 59 && dt.second >= 0 && dt.second <= 59 && dt.day >= 1))
        return false;
    using namespace std::chrono;
    return year_month_day{year{dt.year}, month{static_cast<unsigned>(dt.month)}, day{static_cast<unsigned>(dt.day)}}
        .ok();
}

// The file time plus `addMs` as wall-clock fields: the time in UTC, moved on
// by an hour when the local zone keeps daylight-saving time at that moment
// (the zone's base offset is left out, as the camera's file times carry the
// camera clock itself).
std::optional<NameDateTime> fileTimeFields(WindowsFileTime fileTime, std::uint64_t addMs)
{
    if (fileTime == 0)
        return std::nullopt; // no time at all, not the first of January 1601
    const std::int64_t ms = static_cast<std::int64_t>(fileTime / 10000) + static_cast<std::int64_t>(addMs);
    // Whole seconds since 1970, rounded down (also before 1970).
    const std::int64_t unixMs = ms - kUnixToWindowsMs;
    std::time_t seconds = static_cast<std::time_t>(unixMs / 1000 - (unixMs % 1000 < 0 ? 1 : 0));
    std::tm local{};
    if (localtime_r(&seconds, &local) && local.tm_isdst > 0)
        seconds += 3600;
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc))
        return std::nullopt;
    NameDateTime dt;
    dt.year = utc.tm_year + 1900;
    dt.month = utc.tm_mon + 1;
    dt.day = utc.tm_mday;
    dt.hour = utc.tm_hour;
    dt.minute = utc.tm_min;
    dt.second = utc.tm_sec;
    if (!isCalendarDate(dt))
        return std::nullopt;
    return dt;
}

// The date and time written in the name (year at s, month at s + 4, day at
// s + 6, a separator, hour at s + 9, minute at s + 11, second at s + 13),
// where s is 0 for a name that starts with a digit and just after the first
// "_" otherwise; then moved on by the position.
std::optional<NameDateTime> nameFields(const std::string &name, std::uint64_t positionMs)
{
    size_t start = 0;
    if (!std::isdigit(static_cast<unsigned char>(name.front()))) {
        const size_t underscore = name.find('_');
        if (underscore == std::string::npos)
            return std::nullopt;
        start = underscore + 1;
    }
    if (start + 15 > name.size())
        return std::nullopt;
    auto number = [&](size_t at, size_t length) { return leadingInteger(std::string_view(name).substr(start + at, length)); };
    NameDateTime dt;
    dt.year = number(0, 4);
    dt.month = number(4, 2);
    dt.day = number(6, 2);
    dt.hour = number(9, 2);
    dt.minute = number(11, 2);
    dt.second = number(13, 2);
    if (!isCalendarDate(dt))
        return std::nullopt;
    const std::uint64_t seconds = std::min<std::uint64_t>(positionMs / 1000, 100ull * 366 * 86400);
    const std::optional<NameDateTime> moved = dt.movedBy(static_cast<int>(seconds));
    if (!moved || !isCalendarDate(*moved))
        return std::nullopt;
    return moved;
}

QString plainBase(const QString &playerName)
{
    return playerName.left(std::max<qsizetype>(0, playerName.size() - 4));
}

} // namespace

QString snapshotBaseName(std::uint32_t flags, const QString &playerName, const std::string &entryName,
                         WindowsFileTime fileTime, std::uint64_t positionMs)
{
    const bool addPos = (flags & kFlagAddPos) != 0;
    if (flags & kFlagFileTime) {
        if (const auto dt = fileTimeFields(fileTime, addPos ? positionMs : 0))
            return formatStamp(*dt);
        return plainBase(playerName);
    }
    if (addPos) {
        if (entryName.size() < 15)
            return {};
        if (const auto dt = nameFields(entryName, positionMs))
            return formatStamp(*dt);
    }
    return plainBase(playerName);
}

QString snapshotChannelPath(const QString &chosenPath, int channel)
{
    const qsizetype fileStart = chosenPath.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype keep = std::max(fileStart, chosenPath.size() - 5);
    return chosenPath.left(keep) + (channel == 0 ? QStringLiteral("(Front)") : QStringLiteral("(Rear)"))
           + QStringLiteral(".jpg");
}

bool saveJpeg(const QImage &image, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        logWarning("snapshot: cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
        return false;
    }
    if (!image.save(&file, "JPEG")) {
        file.cancelWriting();
        logWarning("snapshot: the JPEG encoder failed for " + path.toStdString());
        return false;
    }
    if (!file.commit()) {
        logWarning("snapshot: cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
        return false;
    }
    return true;
}

void captureSnapshots(ViewerState &state, const CPlayerMenuDlg &player)
{
    MediaEngine &engine = state.engine;
    const std::int32_t s = engine.GetState();
    if (!engine.graph || (s != StateRunning && s != StatePaused))
        return;
    const bool wasRunning = s == StateRunning;
    engine.Pause();
    const int channels = engine.graph ? engine.graph->channelCount : 0;

    const RecordingEntry *entry = openEntry(state, player);
    if (entry) {
        const QString base = snapshotBaseName(ViewerConfig::instance().flags, player.currentName(), entry->name,
                                              entry->created, engine.GetPositionMs());
        const QString chosen = platform::Dialogs::getSaveFileName(
            nullptr, QStringLiteral("Save As"), base + QStringLiteral("_CHx.jpg"), QStringLiteral("JPG Image (*.jpg)"));
        for (int channel = 0; !chosen.isEmpty() && channel < channels && channel < 2; ++channel) {
            QImage picture;
            if (engine.GrabFrame(channel, picture) == 1 && !picture.isNull())
                saveJpeg(picture, snapshotChannelPath(chosen, channel));
        }
    }
    if (wasRunning && engine.graph)
        engine.Play();
}

} // namespace korvante
