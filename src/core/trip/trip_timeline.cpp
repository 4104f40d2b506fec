#include "core/trip/trip_timeline.h"

#include <algorithm>
#include <map>

namespace korvante::trip {

using std::chrono::milliseconds;

namespace {

bool holds(const TripRecording &r, CameraTime t) { return r.start <= t && t < r.end(); }

} // namespace

void TripTimeline::settle()
{
    if (recordings.empty()) {
        m_start = m_end = {};
        return;
    }
    m_start = recordings.front().start;
    m_end = m_start;
    for (const TripRecording &r : recordings)
        m_end = std::max(m_end, r.end());
}

std::optional<std::size_t> TripTimeline::indexOf(const std::string &name) const
{
    for (std::size_t i = 0; i < recordings.size(); ++i)
        if (recordings[i].source.name == name)
            return i;
    return std::nullopt;
}

std::optional<Position> TripTimeline::locate(CameraTime t, std::optional<std::size_t> playing) const
{
    if (recordings.empty() || t < m_start || t >= m_end)
        return std::nullopt;
    if (playing && *playing < recordings.size() && holds(recordings[*playing], t))
        return Position{*playing, (t - recordings[*playing].start).count()};
    for (std::size_t i = 0; i < recordings.size(); ++i)
        if (holds(recordings[i], t))
            return Position{i, (t - recordings[i].start).count()};
    for (std::size_t i = 0; i < recordings.size(); ++i)
        if (recordings[i].start > t)
            return Position{i, 0};
    return std::nullopt;
}

std::optional<Position> TripTimeline::next(std::size_t i) const
{
    if (i >= recordings.size())
        return std::nullopt;
    const CameraTime t = recordings[i].end();
    for (std::size_t j = 0; j < recordings.size(); ++j) {
        if (j == i || !holds(recordings[j], t))
            continue;
        const milliseconds into = t - recordings[j].start;
        return Position{j, into >= kFollowOverlap ? into.count() : 0};
    }
    for (std::size_t j = 0; j < recordings.size(); ++j)
        if (recordings[j].start > t)
            return Position{j, 0};
    return std::nullopt;
}

std::optional<Position> TripTimeline::previous(std::size_t i) const
{
    if (i >= recordings.size())
        return std::nullopt;
    const CameraTime t = recordings[i].start;
    const CameraTime before = t - milliseconds{1};
    std::optional<std::size_t> holder, endedLast;
    for (std::size_t j = 0; j < recordings.size(); ++j) {
        const TripRecording &r = recordings[j];
        if (j == i || r.start >= t)
            continue;
        if (holds(r, before)) {
            if (!holder || r.start >= recordings[*holder].start)
                holder = j;
        } else if (!endedLast || r.end() >= recordings[*endedLast].end()) {
            endedLast = j;
        }
    }
    if (holder) {
        const TripRecording &r = recordings[*holder];
        const bool follows = r.end() - t < kFollowOverlap;
        return Position{*holder, follows ? r.lengthMs : (t - r.start).count()};
    }
    if (endedLast)
        return Position{*endedLast, recordings[*endedLast].lengthMs};
    return std::nullopt;
}

std::optional<TripIncident> TripTimeline::incidentAfter(CameraTime t) const
{
    const auto it = std::upper_bound(incidents.begin(), incidents.end(), t,
                                     [](CameraTime v, const TripIncident &x) { return v < x.at; });
    return it == incidents.end() ? std::nullopt : std::optional<TripIncident>(*it);
}

std::optional<TripIncident> TripTimeline::incidentBefore(CameraTime t) const
{
    const auto it = std::lower_bound(incidents.begin(), incidents.end(), t,
                                     [](const TripIncident &x, CameraTime v) { return x.at < v; });
    return it == incidents.begin() ? std::nullopt : std::optional<TripIncident>(*std::prev(it));
}

std::optional<TripTimeline> tripOf(const overview::OverviewResult &result,
                                   const std::vector<overview::SourceRecording> &recordings, const std::string &name,
                                   std::chrono::seconds gap, double thresholdG)
{
    const std::vector<overview::Trip> trips = overview::buildTrips(result.items, gap);
    std::optional<std::size_t> tripIndex;
    for (std::size_t t = 0; t < trips.size() && !tripIndex; ++t)
        for (std::size_t i : trips[t].recordings)
            if (result.items[i].name == name)
                tripIndex = t;
    if (!tripIndex)
        return std::nullopt;
    const overview::Trip &trip = trips[*tripIndex];

    // The source recording of each item, by path (the overview names it).
    std::map<std::string, const overview::SourceRecording *> byPath;
    for (const overview::SourceRecording &r : recordings)
        byPath.emplace(r.path, &r);

    TripTimeline timeline;
    std::map<std::size_t, std::size_t> slotOfItem;
    for (std::size_t i : trip.recordings) {
        const overview::RecordingItem &item = result.items[i];
        TripRecording r;
        if (i < result.paths.size())
            if (const auto found = byPath.find(result.paths[i]); found != byPath.end())
                r.source = *found->second;
        if (r.source.name.empty()) {
            r.source.name = item.name;
            r.source.kind = item.kind;
            if (i < result.paths.size())
                r.source.path = result.paths[i];
        }
        r.start = item.startTime();
        r.lengthMs = item.metadata.lengthMs;
        slotOfItem[i] = timeline.recordings.size();
        timeline.recordings.push_back(std::move(r));
    }
    timeline.settle();

    for (const overview::TimedFix &f : overview::mergedFixes(result.items, trip))
        timeline.track.push_back({f.at, f.fix->latitude, f.fix->longitude, f.fix->speedKmh});

    for (const overview::Incident &incident : overview::findIncidents(result.items, trips, thresholdG)) {
        if (incident.trip != *tripIndex)
            continue;
        timeline.incidents.push_back({incident.at, incident.g, Position{slotOfItem[incident.recording], incident.offsetMs}});
    }
    std::sort(timeline.incidents.begin(), timeline.incidents.end(),
              [](const TripIncident &a, const TripIncident &b) { return a.at < b.at; });
    return timeline;
}

std::optional<TripTimeline> readTrip(const std::vector<overview::SourceRecording> &all, std::size_t at,
                                     overview::OverviewCache *cache, std::chrono::seconds gap, double thresholdG,
                                     const std::atomic<bool> *cancel)
{
    if (at >= all.size())
        return std::nullopt;
    // Recordings are about a minute long: a window of a few on each side
    // mostly holds the whole trip; a trip that reaches an edge of what was
    // read is read further out on that side, twice as far each time.
    constexpr std::size_t kFirstReach = 4;
    std::size_t lo = at > kFirstReach ? at - kFirstReach : 0;
    std::size_t hi = std::min(all.size(), at + kFirstReach + 1); // read: [lo, hi)
    std::size_t reach = kFirstReach;
    overview::OverviewResult read;
    const auto readRange = [&](std::size_t from, std::size_t to) {
        if (from >= to)
            return;
        const std::vector<overview::SourceRecording> part(all.begin() + static_cast<std::ptrdiff_t>(from),
                                                          all.begin() + static_cast<std::ptrdiff_t>(to));
        overview::OverviewResult more = overview::buildOverview(part, cache, {}, cancel);
        for (std::size_t i = 0; i < more.items.size(); ++i) {
            read.items.push_back(std::move(more.items[i]));
            read.paths.push_back(i < more.paths.size() ? more.paths[i] : std::string());
        }
        // Camera-time order, each path following its item.
        std::vector<std::size_t> order(read.items.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t x, std::size_t y) { return read.items[x].start < read.items[y].start; });
        overview::OverviewResult sorted;
        for (std::size_t i : order) {
            sorted.items.push_back(std::move(read.items[i]));
            sorted.paths.push_back(std::move(read.paths[i]));
        }
        read = std::move(sorted);
    };
    readRange(lo, hi);
    for (;;) {
        if (cancel && cancel->load())
            return std::nullopt;
        std::optional<TripTimeline> trip = tripOf(read, all, all[at].name, gap, thresholdG);
        if (!trip)
            return std::nullopt; // the recording itself could not be read
        const bool reachesLo = lo > 0 && trip->recordings.front().source.path == read.paths.front();
        const bool reachesHi = hi < all.size() && trip->recordings.back().source.path == read.paths.back();
        if (!reachesLo && !reachesHi)
            return trip;
        reach *= 2;
        if (reachesLo) {
            const std::size_t from = lo > reach ? lo - reach : 0;
            readRange(from, lo);
            lo = from;
        }
        if (reachesHi) {
            const std::size_t to = std::min(all.size(), hi + reach);
            readRange(hi, to);
            hi = to;
        }
    }
}

} // namespace korvante::trip
