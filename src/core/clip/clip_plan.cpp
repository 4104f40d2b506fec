#include "core/clip/clip_plan.h"

#include "core/overview/source_overview.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace korvante::clip {
namespace {

// No camera writes one recording longer than this: recordings whose name
// lies further before In cannot reach it and are not read.
constexpr std::chrono::hours kLongestRecording{2};

// The rear file's name second lies up to 3 s either side of the front's;
// the nearest is taken first, as the player does.

std::optional<CameraTime> startOfName(std::string_view name)
{
    const auto start = cameraTimeOfName(name);
    return start ? std::optional<CameraTime>(CameraTime{*start}) : std::nullopt;
}

} // namespace

std::vector<ClipSegment> segmentsOf(const std::vector<ClipRecording> &recordings, CameraTime in, CameraTime out)
{
    constexpr std::size_t kNone = SIZE_MAX;
    std::vector<ClipSegment> segments;
    std::size_t current = kNone;
    CameraTime t = in;
    while (t < out) {
        const auto covers = [&](std::size_t i) {
            return recordings[i].lengthMs > 0 && recordings[i].start <= t && t < recordings[i].end();
        };
        if (current == kNone || !covers(current)) {
            current = kNone;
            for (std::size_t i = 0; i < recordings.size(); ++i)
                if (covers(i) && (current == kNone || recordings[i].start < recordings[current].start))
                    current = i;
        }
        if (current == kNone) {
            // A gap: on to the next recording's start.
            CameraTime next = out;
            for (const ClipRecording &r : recordings)
                if (r.lengthMs > 0 && r.start > t && r.start < next)
                    next = r.start;
            t = next;
            continue;
        }
        const CameraTime to = std::min(recordings[current].end(), out);
        if (!segments.empty() && segments.back().recording == current && segments.back().to == t)
            segments.back().to = to;
        else
            segments.push_back({current, t, to});
        t = to;
    }
    return segments;
}

std::optional<ClipPlan> planClip(const RecordingCatalogue &catalogue, CameraTime in, CameraTime out,
                                 overview::OverviewCache *cache, std::string &error)
{
    if (out <= in) {
        error = "Out (" + cameraTimeMsText(out) + ") is not after In (" + cameraTimeMsText(in) + ")";
        return std::nullopt;
    }
    std::vector<overview::SourceRecording> near;
    for (overview::SourceRecording &r : overview::recordingsOf(catalogue)) {
        const auto start = startOfName(r.name);
        if (start && *start < out && *start + kLongestRecording > in)
            near.push_back(std::move(r));
    }
    const overview::OverviewResult read = overview::buildOverview(near, cache);
    std::string devicePath;
    if (const StorageSource *source = catalogue.selectedSourceRecord(); source && source->kind == SourceTavo)
        devicePath = text64(source->devicePath);

    ClipPlan plan;
    plan.in = in;
    plan.out = out;
    for (std::size_t i = 0; i < read.items.size(); ++i) {
        const overview::RecordingItem &item = read.items[i];
        const auto found = std::find_if(near.begin(), near.end(), [&](const overview::SourceRecording &r) {
            return r.name == item.name && r.path == read.paths[i];
        });
        if (found == near.end() || item.endTime() <= in)
            continue;
        ClipRecording r;
        r.name = item.name;
        r.start = item.startTime();
        r.lengthMs = item.metadata.lengthMs;
        r.metadata = item.metadata;
        r.frontPath = found->path;
        r.twoChannels = isTwoChannelName(item.name);
        if (found->isCardFile()) {
            r.fileId = found->fileId;
            r.cardDevice = found->cardDevice;
            r.cardDevicePath = devicePath;
        } else {
            r.rearPath = catalogue.rearFileOf(found->path, item.name);
        }
        plan.recordings.push_back(std::move(r));
    }
    plan.segments = segmentsOf(plan.recordings, in, out);
    if (plan.segments.empty()) {
        error = "no recording covers " + cameraTimeMsText(in) + " to " + cameraTimeMsText(out);
        return std::nullopt;
    }
    return plan;
}

std::optional<CameraTime> parseCameraTime(const std::string &text)
{
    // YYYY-MM-DD HH:MM:SS, then an optional .d, .dd or .ddd
    if (text.size() < 19 || text.size() > 23 || (text.size() > 19 && text[19] != '.') || text.size() == 20)
        return std::nullopt;
    static constexpr char kPattern[] = "dddd-dd-dd dd:dd:dd";
    for (std::size_t i = 0; i < 19; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i])
            return std::nullopt;
    }
    int ms = 0, scale = 100;
    for (std::size_t i = 20; i < text.size(); ++i, scale /= 10) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        ms += (text[i] - '0') * scale;
    }
    const auto number = [&](std::size_t at, std::size_t length) { return std::stoi(text.substr(at, length)); };
    const std::chrono::year_month_day day{std::chrono::year{number(0, 4)},
                                          std::chrono::month{static_cast<unsigned>(number(5, 2))},
                                          std::chrono::day{static_cast<unsigned>(number(8, 2))}};
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!day.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return CameraTime{std::chrono::local_days{day}} + std::chrono::hours{hour} + std::chrono::minutes{minute}
           + std::chrono::seconds{second} + std::chrono::milliseconds{ms};
}

std::string cameraTimeMsText(CameraTime time)
{
    const auto ms = (time.time_since_epoch() % std::chrono::seconds{1} + std::chrono::seconds{1})
                    % std::chrono::seconds{1};
    char text[8];
    std::snprintf(text, sizeof text, ".%03d", static_cast<int>(ms.count()));
    return overview::cameraTimeText(time - ms) + text;
}

} // namespace korvante::clip
