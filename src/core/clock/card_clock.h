#pragma once
// The clock check's inputs read from recordings: the valid GPS fixes of
// each recording through the stream-parse filter (the same reading the
// player and the telemetry export use), and the recordings of a scanned
// catalogue.
//
// Threads: any thread, one catalogue per thread. A card recording is read
// through the catalogue's open card device, so the catalogue must outlive
// the reads.

#include "core/clock/clock_check.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace korvante {

class CQDRVGPSData;
class RecordingCatalogue;

namespace clock {

// One recording to read: a plain file, or a card recording ("/DIR/NAME"
// with the card's open device block and the file's identifier).
struct RecordingRef {
    std::string name; // the front file's name as listed
    std::string path;
    std::intptr_t device = 0;
    std::int32_t fileId = -1;
};

// The front recordings of the catalogue's last fill, in row order (at most
// `limit` of them).
std::vector<RecordingRef> recordingsOf(const RecordingCatalogue &catalogue, std::size_t limit = SIZE_MAX);

// The valid fixes among `fixes` (in arrival order) of the recording `name`;
// none when the name gives no camera time.
std::optional<RecordingFixes> fixesOf(const std::string &name, const std::list<CQDRVGPSData> &fixes);

// Reads the recording's metadata and keeps its valid fixes. None when the
// recording cannot be loaded (`error` says why) or its name gives no camera
// time; a recording without fixes gives an empty list. `cancel` is polled
// while the file is read.
std::optional<RecordingFixes> readRecordingFixes(const RecordingRef &recording, std::string *error = nullptr,
                                                 const std::atomic<bool> *cancel = nullptr);

} // namespace clock
} // namespace korvante
