#include "cli/overview_command.h"

#include "cli/cli.h"
#include "cli/command_source.h"
#include "cli/text_escape.h"
#include "core/overview/source_overview.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace korvante::cli {
namespace {

constexpr long kMaxGapSeconds = 7L * 24 * 3600;
constexpr double kMaxG = 100.0;

std::string fixed(double value, int decimals)
{
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(text, r.ptr) : std::string("-");
}

std::string whole(double value) { return std::to_string(std::llround(value)); }

std::string numbered(std::size_t n, int width)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*zu", width, n);
    return text;
}

std::optional<long> parseGap(const std::string &text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long gap = std::stol(text);
    return gap <= kMaxGapSeconds ? std::optional<long>(gap) : std::nullopt;
}

std::optional<double> parseG(const std::string &text)
{
    double g = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), g, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !(g > 0) || g > kMaxG)
        return std::nullopt;
    return g;
}

} // namespace

int runOverview(const CliOptions &o, RecordingCatalogue &catalogue, std::ostream &out, std::ostream &err)
{
    const bool trips = o.command == "trips";
    const auto gap = parseGap(o.gap);
    if (!gap)
        return inputError(err, "--gap " + o.gap, "not a whole number of seconds up to a week");
    const auto minG = parseG(o.minG);
    if (!minG)
        return inputError(err, "--min-g " + o.minG, "not a force in g above 0 (e.g. 1.5)");

    CommandLinePicker picker(o.source);
    bool empty = false;
    if (const int rc = selectSource(o, catalogue, picker, err, empty); rc != kExitOk || empty)
        return rc;
    overview::OverviewCache cache;
    const overview::OverviewResult result = overview::buildOverview(overview::recordingsOf(catalogue), &cache);
    for (const std::string &skipped : result.skipped)
        err << "korvante-cli: " << escapeControls(skipped) << "; left out\n";

    const auto &items = result.items;
    const std::vector<overview::Trip> tripList = overview::buildTrips(items, std::chrono::seconds{*gap});
    if (trips) {
        const int width = tripList.size() >= 100 ? static_cast<int>(std::to_string(tripList.size()).size()) : 2;
        for (std::size_t t = 0; t < tripList.size(); ++t) {
            const overview::Trip &trip = tripList[t];
            out << numbered(t + 1, width) << '\t' << overview::cameraTimeText(trip.start) << '\t'
                << overview::cameraTimeText(trip.end) << '\t' << whole(trip.duration().count() / 1000.0) << '\t'
                << trip.recordings.size() << '\t' << whole(trip.distanceM) << '\t' << whole(trip.maxSpeedKmh) << '\t'
                << fixed(trip.peakG, 2) << '\n';
            if (o.listRecordings)
                for (std::size_t i : trip.recordings)
                    out << '\t' << escapeControls(displayName(items[i].name)) << '\n';
        }
    } else {
        std::vector<overview::Incident> incidents = overview::findIncidents(items, tripList, *minG);
        if (o.kind >= 0)
            std::erase_if(incidents, [&](const overview::Incident &i) { return items[i.recording].kind != o.kind; });
        const int width = incidents.size() >= 1000 ? static_cast<int>(std::to_string(incidents.size()).size()) : 3;
        for (std::size_t n = 0; n < incidents.size(); ++n) {
            const overview::Incident &i = incidents[n];
            out << numbered(n + 1, width) << '\t' << overview::cameraTimeText(i.at, true) << '\t' << fixed(i.g, 2)
                << '\t' << escapeControls(displayName(items[i.recording].name)) << '\t' << fixed(i.offsetMs / 1000.0, 1)
                << '\t' << (i.speedBeforeKmh ? whole(*i.speedBeforeKmh) : std::string("-")) << '\n';
        }
    }
    out.flush();
    if (!out) {
        err << "korvante-cli: the output could not be written\n";
        return kExitInput;
    }
    return kExitOk;
}

} // namespace korvante::cli
