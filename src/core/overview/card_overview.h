#pragma once
// The overview of a source's recordings: what each recording's metadata says
// (its G samples, GPS fixes and length), the trips they make up and the hard
// moments (incidents) in them. Plain arithmetic on what a scan read: no I/O,
// no Qt. Any thread.

#include "core/clock/clock_check.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvante::overview {

// The camera's wall clock knows no zone: a local time, in milliseconds.
using CameraTime = std::chrono::local_time<std::chrono::milliseconds>;

// One G-sensor reading: total G = sqrt(gx² + gy² + gz²), about 1 g at rest.
struct GSample {
    std::int32_t offsetMs = 0; // from the start of the recording
    float totalG = 0;
};

// One valid GPS fix, in decimal degrees (negative south and west).
struct Fix {
    std::int32_t offsetMs = 0;
    double latitude = 0;
    double longitude = 0;
    float speedKmh = 0;
    std::int64_t utcSeconds = 0; // the sentence's date and UTC time, s since 1970; 0 when it has none
};

// What a metadata scan of one recording gives; the cache keeps exactly this.
struct RecordingMetadata {
    std::int64_t lengthMs = 0;   // of the video
    std::vector<GSample> samples; // in time order
    std::vector<Fix> fixes;       // valid fixes only, in time order
};

struct BoundingBox {
    double south = 0, west = 0, north = 0, east = 0;
};

// A summary of one recording's metadata.
struct RecordingSummary {
    float peakG = 0;                   // highest total G, 0 without samples
    std::int32_t peakOffsetMs = 0;
    float maxSpeedKmh = 0;             // over its valid fixes
    double distanceM = 0;              // along its valid fixes
    std::optional<Fix> firstFix, lastFix;
    std::optional<BoundingBox> box;    // of its valid fixes
};

RecordingSummary summarize(const RecordingMetadata &metadata);

// One recording of the source (a front/rear pair is one: the front file's).
struct RecordingItem {
    std::string name;        // the front file's name
    std::int32_t kind = 0;   // 0 normal, 1 event, 2 parking, 3 manual (a name without a kind letter: 0)
    std::chrono::local_seconds start; // the camera time its name gives
    RecordingMetadata metadata;
    RecordingSummary summary;

    CameraTime startTime() const { return CameraTime{start}; }
    CameraTime endTime() const { return startTime() + std::chrono::milliseconds{metadata.lengthMs}; }
};

inline constexpr std::chrono::seconds kDefaultTripGap{30};
inline constexpr double kDefaultIncidentG = 1.5;

// The recordings of one drive: each starts no later than the gap after the
// end of the trip so far.
struct Trip {
    CameraTime start, end;
    std::vector<std::size_t> recordings; // indexes into the items, in camera-time order
    double distanceM = 0;                // along the trip's fixes merged by time
    float maxSpeedKmh = 0;
    float peakG = 0;

    std::chrono::milliseconds duration() const { return end - start; }
};

// A moment where total G reached the threshold. Peaks less than 5 s apart are
// one incident, at the highest; the same moment held by overlapping
// recordings names the event recording when one holds it.
struct Incident {
    CameraTime at;            // camera time of the peak
    float g = 0;
    std::size_t recording = 0; // index into the items
    std::int32_t offsetMs = 0; // of the peak in that recording
    std::optional<float> speedBeforeKmh; // the fix nearest 3 s before (within 2 s)
    std::size_t trip = 0;      // index into the trips
};

// A valid fix at its camera time, and the item it came from.
struct TimedFix {
    CameraTime at;
    const Fix *fix; // into items[recording].metadata.fixes
    std::size_t recording;
};

// The trip's fixes in time order, each moment once: the stretch two
// overlapping recordings share counts once.
std::vector<TimedFix> mergedFixes(const std::vector<RecordingItem> &items, const Trip &trip);

// `items` in any order; trips come out in camera-time order.
std::vector<Trip> buildTrips(const std::vector<RecordingItem> &items,
                             std::chrono::seconds gap = kDefaultTripGap);

// Incidents of the trips' recordings, strongest first (earlier first on a tie).
std::vector<Incident> findIncidents(const std::vector<RecordingItem> &items, const std::vector<Trip> &trips,
                                    double minG = kDefaultIncidentG);

// The incidents of one recording (index `recording`), for marks on its graph.
std::vector<const Incident *> incidentsOf(const std::vector<Incident> &incidents, std::size_t recording);

// The camera's clock checked over the items' fixes that carry a UTC time.
clock::ClockCheck clockOf(const std::vector<RecordingItem> &items);

// Great-circle distance in metres between two points in decimal degrees.
double greatCircleMetres(double lat1, double lon1, double lat2, double lon2);
// The same for the steps between consecutive fixes (metres apart): up to
// about 5 km the flat step along the mean latitude agrees with the great
// circle to well under a millimetre, at a fraction of the cost; longer steps
// take the great circle.
double shortGreatCircleMetres(double lat1, double lon1, double lat2, double lon2);

// NMEA degrees × 100 + minutes (sign kept) to decimal degrees.
double nmeaToDecimal(double nmea);

// "YYYY-MM-DD HH:MM:SS" and, with `tenths`, ".s".
std::string cameraTimeText(CameraTime time, bool tenths = false);

} // namespace korvante::overview
