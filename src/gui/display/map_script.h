#pragma once
// The map panel's logic that needs no browser: parsing the script-call text,
// turning a call into JavaScript for the page, the fix step that picks the
// GPS fix of a playback position, the trip's track, and the map settings
// (tile address, connectivity target) read from the environment.
//
// Everything here is plain data in and out; the panel (map_view_dlg) and the
// browser wrapper (map_view) call it on the UI thread.

#include "core/playback/sensor_records.h"
#include "core/trip/trip_timeline.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <vector>

namespace korvante {

// One call of a page function: its name and its arguments, all strings.
struct ScriptCall {
    QString function;
    QStringList arguments;
};

// Parses "[javascript:]Name(arg, 'arg'; arg)": the text after the first
// "javascript:" (or the whole text), the name before the first "(" with
// white space trimmed, and the text after it split at every space, comma,
// quote, tab, parenthesis and semicolon (runs count once, no empty tokens).
// Nothing when the text is empty, has no "(", or the name is not a plain
// script identifier (a name the page cannot have, so the call would fail).
std::optional<ScriptCall> parseScriptCall(const QString &text);

// JavaScript that calls the function with its arguments as string literals
// and evaluates to the function's result as a string: "" when the page has
// no such function, the call throws, or the result is undefined or null.
QString scriptCallToJavaScript(const ScriptCall &call);

// Degrees × 100 + minutes (as GPS sentences give them) to decimal degrees;
// the sign carries through: 3730.5 -> 37.508333, -12700.0 -> -127.0.
double nmeaToDegrees(double stored);

// A number as the page receives it: six decimals, '.' whatever the locale.
QString formatDegrees(double degrees);

// "javascript:DrawCurrent('lon', 'lat')" for a fix, longitude first.
QString drawCurrentScript(const CQDRVGPSData &fix);

// The fix that belongs to playback position `position` (milliseconds): the
// first fix stamped after it, when there is one and it is valid. Walks the
// list under its lock. The map's marker and the sensor strip both use it, so
// they always show the same fix.
std::optional<CQDRVGPSData> fixAt(const CQDRVTextData &sensorData, std::uint32_t position);

// The fix step for playback position `position` (milliseconds): takes the
// first fix stamped after the position; when it is valid it becomes the
// current fix and the result is the script that moves the page's marker.
// An empty list clears the current fix; no later fix, or an invalid one,
// leaves everything as it was. Walks the list under its lock.
std::optional<QString> runFixStep(const CQDRVTextData &sensorData, CQDRVGPSData &currentFix,
                                  std::int32_t &currentFixValid, std::uint32_t position);

// What the panel last handed the page as the track; a change of the fix list
// shows as a different signature.
struct TrackSignature {
    std::size_t count = 0;
    std::int32_t lastTimestamp = 0;
    double firstLatitude = 0, firstLongitude = 0, lastLatitude = 0, lastLongitude = 0;
    bool operator==(const TrackSignature &) const = default;
};
TrackSignature trackSignature(const CQDRVTextData &sensorData);

// Longest track handed to the page; longer tracks are thinned evenly (the
// first and last points stay) so that one call stays well inside what the
// page's script engine accepts as arguments.
inline constexpr int kMaxTrackPoints = 5000;

// "javascript:DrawTrack('lon1', 'lat1', 'lon2', 'lat2', ...)" from the valid
// fixes of the list; "javascript:DrawTrack()" (clear) when there are none.
QString drawTrackScript(const CQDRVTextData &sensorData);

// A trip's whole track as the page receives it: the script that draws it
// (thinned as drawTrackScript thins) and the camera time of each point kept,
// so that the part driven up to a moment can be counted in the page's points.
struct TripTrack {
    QString script;
    std::vector<overview::CameraTime> times;
};
TripTrack tripTrackScript(const std::vector<trip::TrackPoint> &track);

// How many of the page's track points lie at or before `t` (times ascending).
std::size_t drivenPoints(const std::vector<overview::CameraTime> &times, overview::CameraTime t);

// "javascript:DrawDriven('n')": the first n points of the track are shown as driven.
QString drawDrivenScript(std::size_t points);

// Where the map's tiles come from and whom the connectivity check asks.
struct MapSettings {
    // Tile address template with {z}, {x}, {y} (and optionally {s}).
    QString tileUrl;
    // False: no check at all; the page opens offline without a message box.
    bool probe = true;
    QString probeHost;
    quint16 probePort = 0;
    // A setting that could not be used, for one diagnostic line; empty if none.
    QString problem;
};

inline constexpr char kDefaultTileUrl[] = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";

// From the two settings: `tiles` ($KORVANTE_MAP_TILES, empty for the default
// map service) and `probe` ($KORVANTE_MAP_PROBE: "host:port", "[v6 address]:port",
// "off", or empty to ask the tile server's own host and port). A probe value
// that cannot be used makes the check fail (the page opens offline) rather
// than asking some other address.
MapSettings mapSettings(const QString &tiles, const QString &probe);
MapSettings mapSettingsFromEnvironment();

// The page's address: the file in `folder`, with the mode and the tile
// address in its query ("mode=online&tiles=..." or "mode=offline").
QUrl mapPageUrl(const QString &pagePath, bool online, const QString &tileUrl);

} // namespace korvante
