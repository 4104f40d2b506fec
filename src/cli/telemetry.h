#pragma once
// korvante-cli telemetry: the G-sensor samples (CSV) or the GPS track (GPX 1.1,
// GPX 1.0 or KML) of one recording, read through the playback engine's stream-parse
// filter and written to standard output.
//
//   telemetry [--format csv|gpx|gpx10|kml] RECORDING
//   telemetry [--format csv|gpx|gpx10|kml] --tavo DEVICE NAME
//
// Exit codes as the tool's (0 done, 1 input unusable, 2 command line wrong).

#include <ostream>
#include <string>
#include <vector>

namespace korvante::cli {

int runTelemetry(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace korvante::cli
