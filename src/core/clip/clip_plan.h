#pragma once
// Which recordings make up a clip: the span [In, Out) of camera time is cut
// into segments, each a part of one recording (front file, its rear file or
// the card file that holds both), and the moments no recording covers.
//
// Threads: planClip runs on the catalogue's thread (it reads its entries and
// may scan recordings that the overview cache does not know yet). The plan is
// plain data afterwards and may move to a worker.

#include "core/overview/card_overview.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvante {
class RecordingCatalogue;
}

namespace korvante::overview {
class OverviewCache;
}

namespace korvante::clip {

using overview::CameraTime;

// One recording of the span, with what its metadata scan found.
struct ClipRecording {
    std::string name;       // the front file's (or the card file's) name
    CameraTime start;       // the camera time its name gives
    std::int64_t lengthMs = 0;
    overview::RecordingMetadata metadata;

    // Plain files: the front file's path and the rear file's (empty without
    // one). Card files: the card path "/DIR/NAME" of the one file that holds
    // both channels, its identifier and the open card device.
    std::string frontPath;
    std::string rearPath;
    std::int32_t fileId = -1;
    std::shared_ptr<unsigned char> cardDevice;
    std::string cardDevicePath; // the device or image the card was read from
    bool twoChannels = false;   // the name says 2CH (a card file then holds the rear stream)

    bool isCardFile() const { return fileId != -1; }
    CameraTime end() const { return start + std::chrono::milliseconds{lengthMs}; }
};

// A stretch of the span shown from one recording; between segments (and
// before the first, after the last) no recording covers the span.
struct ClipSegment {
    std::size_t recording = 0; // index into ClipPlan::recordings
    CameraTime from, to;       // camera time, from < to
};

struct ClipPlan {
    CameraTime in, out;
    std::vector<ClipRecording> recordings;
    std::vector<ClipSegment> segments; // in time order, not overlapping

    std::chrono::milliseconds span() const { return out - in; }
};

// Plans the span [in, out) over the catalogue's selected source. Where
// recordings overlap (an event recording inside a normal one), the one already
// shown goes on until it ends. Null with a one-line `error` when Out is not
// after In or no recording covers any of the span. `cache` may be null.
std::optional<ClipPlan> planClip(const RecordingCatalogue &catalogue, CameraTime in, CameraTime out,
                                 overview::OverviewCache *cache, std::string &error);

// The segments of [in, out) over recordings already read (exposed for tests).
std::vector<ClipSegment> segmentsOf(const std::vector<ClipRecording> &recordings, CameraTime in, CameraTime out);

// "YYYY-MM-DD HH:MM:SS[.mmm]" (the milliseconds may have one to three digits)
// as a camera time; none for anything else or a day that does not exist.
std::optional<CameraTime> parseCameraTime(const std::string &text);
// "YYYY-MM-DD HH:MM:SS.mmm".
std::string cameraTimeMsText(CameraTime time);

} // namespace korvante::clip
