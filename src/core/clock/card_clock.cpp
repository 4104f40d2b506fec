#include "core/clock/card_clock.h"

#include "core/playback/sensor_records.h"
#include "core/playback/stream_parse_filter.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"

#include <cstring>

namespace korvante::clock {

std::vector<RecordingRef> recordingsOf(const RecordingCatalogue &catalogue, std::size_t limit)
{
    std::vector<RecordingRef> refs;
    for (const RecordingEntry *entry : catalogue.shownEntries()) {
        if (refs.size() >= limit)
            break;
        RecordingRef ref;
        ref.name = entry->name;
        if (entry->isCardFile()) {
            ref.path = catalogue.cardPathOf(*entry);
            ref.device = reinterpret_cast<std::intptr_t>(catalogue.cardDevice());
            ref.fileId = entry->cardFileId;
            if (ref.path.empty() || ref.device == 0)
                continue;
        } else {
            ref.path = entry->path;
        }
        refs.push_back(std::move(ref));
    }
    return refs;
}

std::optional<RecordingFixes> fixesOf(const std::string &name, const std::list<CQDRVGPSData> &fixes)
{
    const auto start = cameraTimeOfName(name);
    if (!start)
        return std::nullopt;
    RecordingFixes r{name, *start, {}};
    for (const CQDRVGPSData &fix : fixes)
        if (const auto utc = utcOfFix(fix))
            r.fixes.push_back({std::chrono::milliseconds{fix.timestamp}, *utc});
    return r;
}

std::optional<RecordingFixes> readRecordingFixes(const RecordingRef &recording, std::string *error,
                                                 const std::atomic<bool> *cancel)
{
    const auto start = cameraTimeOfName(recording.name);
    if (!start) {
        if (error)
            *error = "the name gives no date and time";
        return std::nullopt;
    }
    StreamParseFilter filter("VXStreamParseFilter");
    filter.SetMode(0);
    filter.SetSource(recording.device, recording.fileId);
    if (filter.Load(recording.path, cancel) != S_OK) {
        if (error)
            *error = filter.loadError();
        return std::nullopt;
    }
    RecordingFixes r{recording.name, *start, {}};
    std::uint8_t buffer[1024];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        std::int32_t length = sizeof buffer;
        std::int32_t time = 0;
        if (filter.ReadPacket(buffer, &length, &time) != S_OK)
            break;
        if (const auto fix = DecodeFixPacket(time, buffer, sizeof buffer))
            if (const auto utc = utcOfFix(*fix))
                r.fixes.push_back({std::chrono::milliseconds{fix->timestamp}, *utc});
    }
    return r;
}

} // namespace korvante::clock
