#pragma once
// The overview of one source (a folder, a card root or a TAVO card): its
// recordings as the catalogue lists them (all kinds, front files), each
// read from the cache or scanned, and then the trips and incidents.
//
// Threads: recordingsOf runs on the catalogue's thread; buildOverview on any
// thread (the cache it is given belongs to that thread).

#include "core/overview/card_overview.h"
#include "core/overview/overview_cache.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvante {
class RecordingCatalogue;
}

namespace korvante::overview {

// One recording to read: a plain file, or a file of a card's partition.
struct SourceRecording {
    std::string name;   // the front file's name
    std::string path;   // plain: the file's path; card: "/DIR/NAME"
    std::int32_t kind = 0;
    std::int32_t fileId = -1;                    // card files only
    std::shared_ptr<unsigned char> cardDevice;   // card files only: keeps the device open
    CacheKey key;

    bool isCardFile() const { return fileId != -1; }
};

// Every recording the catalogue's selected source holds (whatever its rows
// show), in camera-time order; names without a camera time are left out.
std::vector<SourceRecording> recordingsOf(const RecordingCatalogue &catalogue);

struct OverviewResult {
    std::vector<RecordingItem> items;   // the recordings read, in camera-time order
    std::vector<std::string> paths;     // of each item: its SourceRecording path
    std::vector<std::string> skipped;   // "NAME: reason"
    std::size_t scanned = 0;            // read from the recording
    std::size_t cached = 0;             // read from the cache
    std::int64_t bytesRead = 0;         // by the scans
};

// Progress: (recordings done, recordings in all), called on the calling
// thread after each. `cache` may be null or unusable (every recording is
// scanned). Cancelled: what was read so far.
OverviewResult buildOverview(const std::vector<SourceRecording> &recordings, OverviewCache *cache,
                             const std::function<void(std::size_t, std::size_t)> &progress = {},
                             const std::atomic<bool> *cancel = nullptr);

} // namespace korvante::overview
