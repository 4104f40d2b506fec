#pragma once
// One drive as one timeline: the recordings of a trip in camera-time order,
// where a moment of the trip plays (which recording, what offset), what plays
// after a recording ends, the trip's incidents and its whole GPS track.
//
// Plain data built from what the overview read (no I/O, no Qt); any thread.
// Times are camera times (the camera's wall clock, no zone), offsets are
// milliseconds from the start of a recording.
#include "core/overview/card_overview.h"
#include "core/overview/source_overview.h"
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvante::trip {

using overview::CameraTime;

struct TripRecording {
    overview::SourceRecording source; // name, path, kind; card files: id and device
    CameraTime start;                 // the camera time its name gives
    std::int64_t lengthMs = 0;
    CameraTime end() const { return start + std::chrono::milliseconds{lengthMs}; }
};

// A moment of the trip as a recording and an offset in it.
struct Position {
    std::size_t recording = 0;
    std::int64_t offsetMs = 0;
    friend bool operator==(const Position &, const Position &) = default;
};

struct TrackPoint {
    CameraTime at;
    double latitude = 0, longitude = 0; // decimal degrees
    float speedKmh = 0;
};

struct TripIncident {
    CameraTime at; // of the peak
    float g = 0;
    Position where;
};

// Recordings that overlap by less than this follow each other: their names
// carry whole seconds, so the next one starts at its beginning rather than a
// second's guess into it.
inline constexpr std::chrono::milliseconds kFollowOverlap{2000};

class TripTimeline {
public:
    std::vector<TripRecording> recordings; // camera-time order, at least one
    std::vector<TripIncident> incidents;   // time order
    std::vector<TrackPoint> track;         // the valid fixes of all recordings, each moment once

    CameraTime start() const { return m_start; }
    CameraTime end() const { return m_end; }
    std::chrono::milliseconds duration() const { return m_end - m_start; }

    std::optional<std::size_t> indexOf(const std::string &name) const;
    CameraTime timeAt(Position p) const { return recordings[p.recording].start + std::chrono::milliseconds{p.offsetMs}; }

    // Where moment `t` plays: the recording `playing` when it holds t, else
    // the first (in order) that holds it; in a gap between recordings the
    // next recording's start; none outside the trip.
    std::optional<Position> locate(CameraTime t, std::optional<std::size_t> playing = std::nullopt) const;

    // What plays after recording i has ended: the recording that holds the
    // moment i ends (the earliest-starting one when several do), from that
    // moment, or from its start when it began less than kFollowOverlap
    // before; in a gap the next recording to start. None at the trip's end.
    std::optional<Position> next(std::size_t i) const;
    // What played before recording i started: the latest-starting other
    // recording that holds the moment just before i's start, or in a gap the
    // one that ended last before it; `offsetMs` is where it gives way to i (its
    // length when it ended less than kFollowOverlap after i's start): the
    // caller shows the frame before that. None at the trip's start.
    std::optional<Position> previous(std::size_t i) const;

    // The first incident after / last before `t` (strictly), none when there is no such.
    std::optional<TripIncident> incidentAfter(CameraTime t) const;
    std::optional<TripIncident> incidentBefore(CameraTime t) const;

    // Sets start and end from the recordings; the builders call it.
    void settle();

private:
    CameraTime m_start{}, m_end{};
};

// The trip holding the recording named `name` among an overview's items
// (recordings[i] is the source recording of result.items[i]'s path), with the
// trip gap and incident threshold of the overview. None when no item has that
// name.
std::optional<TripTimeline> tripOf(const overview::OverviewResult &result,
                                   const std::vector<overview::SourceRecording> &recordings, const std::string &name,
                                   std::chrono::seconds gap = overview::kDefaultTripGap,
                                   double thresholdG = overview::kDefaultIncidentG);

// Reads the trip of `all[at]` (`all` as recordingsOf gives it, in camera-time
// order): that recording and its neighbours, further out while the trip
// reaches the end of what was read, each from `cache` when it knows it (may
// be null). On a worker thread: the cache must be that thread's. None when
// the recording cannot be read or `cancel` was set.
std::optional<TripTimeline> readTrip(const std::vector<overview::SourceRecording> &all, std::size_t at,
                                     overview::OverviewCache *cache,
                                     std::chrono::seconds gap = overview::kDefaultTripGap,
                                     double thresholdG = overview::kDefaultIncidentG,
                                     const std::atomic<bool> *cancel = nullptr);

} // namespace korvante::trip
