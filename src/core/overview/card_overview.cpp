#include "core/overview/card_overview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvante::overview {
namespace {

using std::chrono::milliseconds;

constexpr double kEarthRadiusM = 6371008.8; // mean radius
constexpr double kPi = 3.14159265358979323846;
// Peaks closer than this are one incident.
constexpr milliseconds kIncidentMerge{5000};
// The same moment in two overlapping recordings, given the names' whole seconds.
constexpr milliseconds kSameMoment{1000};
// "Speed before": the fix nearest this long before the peak, within kBeforeWindow of it.
constexpr milliseconds kBeforeOffset{3000};
constexpr milliseconds kBeforeWindow{2000};
// A fix of an overlapping recording at most this much after the last one kept
// is the same sentence again, not a new position.
constexpr milliseconds kSameFix{500};
constexpr std::int32_t kEventKind = 1;

double pathMetres(const std::vector<TimedFix> &fixes)
{
    double metres = 0;
    for (std::size_t i = 1; i < fixes.size(); ++i)
        metres += shortGreatCircleMetres(fixes[i - 1].fix->latitude, fixes[i - 1].fix->longitude,
                                         fixes[i].fix->latitude, fixes[i].fix->longitude);
    return metres;
}

double stepMetres(const Fix &a, const Fix &b) { return shortGreatCircleMetres(a.latitude, a.longitude, b.latitude, b.longitude); }

// The trip's distance. Recordings that follow each other without overlapping
// (the usual drive) keep their own fixes whole, so their summaries' distances
// and the steps between them make it up; only overlaps need the merge.
double tripMetres(const std::vector<RecordingItem> &items, const Trip &trip)
{
    bool overlapping = false;
    for (std::size_t k = 1; k < trip.recordings.size() && !overlapping; ++k)
        overlapping = items[trip.recordings[k]].startTime() < items[trip.recordings[k - 1]].endTime();
    if (overlapping)
        return pathMetres(mergedFixes(items, trip));
    double metres = 0;
    const Fix *last = nullptr;
    for (std::size_t i : trip.recordings) {
        const RecordingSummary &s = items[i].summary;
        if (!s.firstFix)
            continue;
        if (last)
            metres += stepMetres(*last, *s.firstFix);
        metres += s.distanceM;
        last = &*s.lastFix;
    }
    return metres;
}


struct Candidate {
    CameraTime at;
    float g;
    std::size_t recording;
    std::int32_t offsetMs;
};

} // namespace

// A fix of another recording is kept only when it lies more than kSameFix
// after the last one kept.
std::vector<TimedFix> mergedFixes(const std::vector<RecordingItem> &items, const Trip &trip)
{
    std::vector<TimedFix> all;
    std::size_t count = 0;
    for (std::size_t i : trip.recordings)
        count += items[i].metadata.fixes.size();
    all.reserve(count);
    for (std::size_t i : trip.recordings)
        for (const Fix &f : items[i].metadata.fixes)
            all.push_back({items[i].startTime() + milliseconds{f.offsetMs}, &f, i});
    const auto byTime = [](const TimedFix &a, const TimedFix &b) { return a.at < b.at; };
    if (!std::is_sorted(all.begin(), all.end(), byTime)) // recordings that follow each other are in order already
        std::stable_sort(all.begin(), all.end(), byTime);
    std::vector<TimedFix> kept;
    kept.reserve(all.size());
    for (const TimedFix &f : all)
        if (kept.empty() || (f.recording == kept.back().recording ? f.at > kept.back().at : f.at - kept.back().at > kSameFix))
            kept.push_back(f);
    return kept;
}


clock::ClockCheck clockOf(const std::vector<RecordingItem> &items)
{
    std::vector<clock::RecordingFixes> recordings;
    recordings.reserve(items.size());
    for (const RecordingItem &item : items) {
        clock::RecordingFixes r;
        r.name = item.name;
        r.start = item.start;
        for (const Fix &f : item.metadata.fixes)
            if (f.utcSeconds != 0)
                r.fixes.push_back({milliseconds{f.offsetMs}, clock::UtcTime{std::chrono::seconds{f.utcSeconds}}});
        if (!r.fixes.empty())
            recordings.push_back(std::move(r));
    }
    return clock::checkClock(recordings);
}

double nmeaToDecimal(double nmea)
{
    const double magnitude = std::fabs(nmea);
    const double degrees = std::floor(magnitude / 100.0);
    const double decimal = degrees + (magnitude - degrees * 100.0) / 60.0;
    return nmea < 0 ? -decimal : decimal;
}

double greatCircleMetres(double lat1, double lon1, double lat2, double lon2)
{
    const double rad = kPi / 180.0;
    const double dLat = (lat2 - lat1) * rad;
    const double dLon = (lon2 - lon1) * rad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2)
                     + std::cos(lat1 * rad) * std::cos(lat2 * rad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadiusM * std::asin(std::min(1.0, std::sqrt(a)));
}

double shortGreatCircleMetres(double lat1, double lon1, double lat2, double lon2)
{
    constexpr double kShortDegrees = 0.05; // about 5.5 km
    const double dLat = lat2 - lat1;
    const double dLon = lon2 - lon1;
    if (std::fabs(dLat) > kShortDegrees || std::fabs(dLon) > kShortDegrees)
        return greatCircleMetres(lat1, lon1, lat2, lon2);
    const double rad = kPi / 180.0;
    const double x = dLon * rad * std::cos((lat1 + lat2) / 2 * rad);
    const double y = dLat * rad;
    return kEarthRadiusM * std::sqrt(x * x + y * y);
}

RecordingSummary summarize(const RecordingMetadata &metadata)
{
    RecordingSummary s;
    for (const GSample &g : metadata.samples)
        if (g.totalG > s.peakG) {
            s.peakG = g.totalG;
            s.peakOffsetMs = g.offsetMs;
        }
    const auto &fixes = metadata.fixes;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const Fix &f = fixes[i];
        s.maxSpeedKmh = std::max(s.maxSpeedKmh, f.speedKmh);
        if (i > 0)
            s.distanceM += shortGreatCircleMetres(fixes[i - 1].latitude, fixes[i - 1].longitude, f.latitude, f.longitude);
        if (!s.box)
            s.box = BoundingBox{f.latitude, f.longitude, f.latitude, f.longitude};
        s.box->south = std::min(s.box->south, f.latitude);
        s.box->north = std::max(s.box->north, f.latitude);
        s.box->west = std::min(s.box->west, f.longitude);
        s.box->east = std::max(s.box->east, f.longitude);
    }
    if (!fixes.empty()) {
        s.firstFix = fixes.front();
        s.lastFix = fixes.back();
    }
    return s;
}

std::vector<Trip> buildTrips(const std::vector<RecordingItem> &items, std::chrono::seconds gap)
{
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return items[a].start < items[b].start; });
    std::vector<Trip> trips;
    for (std::size_t i : order) {
        const RecordingItem &item = items[i];
        if (trips.empty() || item.startTime() > trips.back().end + gap) {
            Trip trip;
            trip.start = item.startTime();
            trip.end = item.endTime();
            trips.push_back(std::move(trip));
        }
        Trip &trip = trips.back();
        trip.recordings.push_back(i);
        trip.end = std::max(trip.end, item.endTime());
        trip.peakG = std::max(trip.peakG, item.summary.peakG);
        trip.maxSpeedKmh = std::max(trip.maxSpeedKmh, item.summary.maxSpeedKmh);
    }
    for (Trip &trip : trips)
        trip.distanceM = tripMetres(items, trip);
    return trips;
}

std::vector<Incident> findIncidents(const std::vector<RecordingItem> &items, const std::vector<Trip> &trips,
                                    double minG)
{
    std::vector<Incident> incidents;
    for (std::size_t t = 0; t < trips.size(); ++t) {
        const Trip &trip = trips[t];
        std::vector<Candidate> candidates;
        for (std::size_t i : trip.recordings)
            for (const GSample &g : items[i].metadata.samples)
                if (g.totalG >= minG)
                    candidates.push_back({items[i].startTime() + milliseconds{g.offsetMs}, g.totalG, i, g.offsetMs});
        if (candidates.empty())
            continue;
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const Candidate &a, const Candidate &b) { return a.at < b.at; });
        const std::vector<TimedFix> fixes = mergedFixes(items, trip);

        auto emit = [&](std::size_t first, std::size_t last) {
            std::size_t peak = first;
            for (std::size_t k = first; k < last; ++k)
                if (candidates[k].g > candidates[peak].g)
                    peak = k;
            // The same moment in an event recording: that recording is the one named.
            Candidate chosen = candidates[peak];
            if (items[chosen.recording].kind != kEventKind) {
                std::optional<std::size_t> event;
                for (std::size_t k = first; k < last; ++k) {
                    const Candidate &c = candidates[k];
                    if (items[c.recording].kind == kEventKind && std::chrono::abs(c.at - chosen.at) <= kSameMoment
                        && (!event || c.g > candidates[*event].g))
                        event = k;
                }
                if (event)
                    chosen = candidates[*event];
            }
            Incident incident;
            incident.at = chosen.at;
            incident.g = chosen.g;
            incident.recording = chosen.recording;
            incident.offsetMs = chosen.offsetMs;
            incident.trip = t;
            // The fixes are in time order: the nearest is one of the two around `wanted`.
            const CameraTime wanted = chosen.at - kBeforeOffset;
            const auto after = std::lower_bound(fixes.begin(), fixes.end(), wanted,
                                                [](const TimedFix &f, CameraTime t) { return f.at < t; });
            const TimedFix *nearest = nullptr;
            for (auto it : {after, after == fixes.begin() ? fixes.end() : after - 1})
                if (it != fixes.end() && std::chrono::abs(it->at - wanted) <= kBeforeWindow
                    && (!nearest || std::chrono::abs(it->at - wanted) < std::chrono::abs(nearest->at - wanted)))
                    nearest = &*it;
            if (nearest)
                incident.speedBeforeKmh = nearest->fix->speedKmh;
            incidents.push_back(incident);
        };

        std::size_t first = 0;
        for (std::size_t k = 1; k < candidates.size(); ++k)
            if (candidates[k].at - candidates[k - 1].at >= kIncidentMerge) {
                emit(first, k);
                first = k;
            }
        emit(first, candidates.size());
    }
    std::stable_sort(incidents.begin(), incidents.end(), [](const Incident &a, const Incident &b) {
        return a.g != b.g ? a.g > b.g : a.at < b.at;
    });
    return incidents;
}

std::vector<const Incident *> incidentsOf(const std::vector<Incident> &incidents, std::size_t recording)
{
    std::vector<const Incident *> found;
    for (const Incident &i : incidents)
        if (i.recording == recording)
            found.push_back(&i);
    return found;
}

std::string cameraTimeText(CameraTime time, bool tenths)
{
    const auto day = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day ymd{day};
    const std::chrono::hh_mm_ss<milliseconds> clock{time - day};
    char text[40];
    if (tenths)
        std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld.%ld", static_cast<int>(ymd.year()),
                      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                      static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                      static_cast<long>(clock.seconds().count()), static_cast<long>(clock.subseconds().count() / 100));
    else
        std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(ymd.year()),
                      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                      static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                      static_cast<long>(clock.seconds().count()));
    return text;
}

} // namespace korvante::overview
