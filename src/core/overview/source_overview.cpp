#include "core/overview/source_overview.h"

#include "core/overview/metadata_scan.h"
#include "core/playback/card_device.h"
#include "core/recording/byte_source.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace korvante::overview {
namespace {

} // namespace

std::vector<SourceRecording> recordingsOf(const RecordingCatalogue &catalogue)
{
    struct Ordered {
        std::chrono::local_seconds start;
        SourceRecording recording;
    };
    std::vector<Ordered> found;
    const auto device = findSharedCardDevice(catalogue.cardDevice());
    for (const RecordingEntry &entry : catalogue.entries()) {
        if (isRearName(entry.name))
            continue;
        const auto start = cameraTimeOfName(entry.name);
        if (!start)
            continue;
        SourceRecording r;
        r.name = entry.name;
        r.kind = filterKindOf(kindOfName(entry.name));
        if (entry.isCardFile()) {
            r.path = catalogue.cardPathOf(entry);
            if (r.path.empty() || !device)
                continue;
            r.fileId = entry.cardFileId;
            r.cardDevice = device;
            r.key.identity = "tavo:" + text64(entry.cardName) + r.path;
            r.key.size = static_cast<std::int64_t>(entry.sizeKiB) * 1024;
            r.key.modified = static_cast<std::int64_t>(entry.created);
        } else {
            r.path = entry.path;
            r.key.identity = entry.path;
            struct statx info {};
            if (entry.modifiedNs != 0) { // what the listing saw: no second look at the file
                r.key.size = static_cast<std::int64_t>(entry.sizeBytes);
                r.key.modified = entry.modifiedNs;
            } else if (::statx(AT_FDCWD, entry.path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_SIZE | STATX_MTIME, &info) == 0) {
                r.key.size = static_cast<std::int64_t>(info.stx_size);
                r.key.modified = static_cast<std::int64_t>(info.stx_mtime.tv_sec) * 1'000'000'000
                                 + info.stx_mtime.tv_nsec;
            } else {
                r.key.size = -1; // never matches: the recording is read and its failure named
            }
        }
        found.push_back({*start, std::move(r)});
    }
    std::stable_sort(found.begin(), found.end(), [](const Ordered &a, const Ordered &b) {
        return a.start != b.start ? a.start < b.start : a.recording.name < b.recording.name;
    });
    std::vector<SourceRecording> recordings;
    recordings.reserve(found.size());
    for (Ordered &o : found)
        recordings.push_back(std::move(o.recording));
    return recordings;
}

OverviewResult buildOverview(const std::vector<SourceRecording> &recordings, OverviewCache *cache,
                             const std::function<void(std::size_t, std::size_t)> &progress,
                             const std::atomic<bool> *cancel)
{
    // Scanned entries are written in groups: one transaction each, short
    // enough that another viewer or a command waiting to write hardly notices.
    constexpr std::size_t kStoreGroup = 32;
    constexpr auto kStoreEvery = std::chrono::milliseconds(250);

    OverviewResult result;
    const bool cacheUsable = cache && cache->usable();
    std::vector<std::optional<RecordingMetadata>> cached(recordings.size());
    if (cacheUsable) {
        std::vector<CacheKey> keys;
        keys.reserve(recordings.size());
        for (const SourceRecording &r : recordings)
            keys.push_back(r.key);
        cached = cache->findMany(keys);
    }
    std::vector<std::pair<CacheKey, RecordingMetadata>> pending;
    auto lastStore = std::chrono::steady_clock::now();
    auto flush = [&] {
        if (cacheUsable && !pending.empty())
            cache->storeMany(pending);
        pending.clear();
        lastStore = std::chrono::steady_clock::now();
    };

    for (std::size_t i = 0; i < recordings.size(); ++i) {
        if (cancel && cancel->load())
            break;
        const SourceRecording &r = recordings[i];
        const auto start = cameraTimeOfName(r.name);
        std::optional<RecordingMetadata> metadata = std::move(cached[i]);
        if (!start) {
            metadata.reset();
            result.skipped.push_back(displayName(r.name) + ": the name gives no date and time");
        } else if (metadata) {
            ++result.cached;
        } else {
            std::string why;
            std::unique_ptr<ByteSource> source;
            SourceFailure failure = SourceFailure::None;
            if (r.isCardFile())
                source = openCardSource(r.cardDevice.get(), r.fileId, r.path, r.cardDevice);
            else
                source = openFileSource(r.path, &failure);
            if (!source) {
                why = failure == SourceFailure::NotRegular ? "not a regular file" : "cannot be read";
            } else {
                ScanStats stats;
                metadata = scanMetadata(*source, &why, cancel, &stats);
                result.bytesRead += stats.bytesRead;
            }
            if (metadata) {
                ++result.scanned;
                pending.emplace_back(r.key, *metadata);
                if (pending.size() >= kStoreGroup || std::chrono::steady_clock::now() - lastStore >= kStoreEvery)
                    flush();
            } else if (why != "cancelled") {
                result.skipped.push_back(displayName(r.name) + ": " + why);
            }
        }
        if (metadata) {
            RecordingItem item;
            item.name = r.name;
            item.kind = r.kind;
            item.start = *start;
            item.metadata = std::move(*metadata);
            item.summary = summarize(item.metadata);
            result.items.push_back(std::move(item));
            result.paths.push_back(r.path);
        }
        if (progress)
            progress(i + 1, recordings.size());
    }
    flush();
    return result;
}

} // namespace korvante::overview
