#pragma once
// korvante-cli trips and korvante-cli incidents: a source's drives and hard
// moments from its recordings' metadata, read through the overview cache.
// Output, tab-separated, one line per item (docs/cli.md):
//   trips:     NN, start, end, seconds, recordings, metres, km/h, peak g
//              (with --recordings, each trip's front file names follow it,
//              one per line after a tab)
//   incidents: NNN, camera time with tenths, g, front file name, offset in
//              the recording (s), speed 3 s before (km/h) or "-"
// Recordings that cannot be read are named on standard error and left out.

#include "cli/cli_options.h"

#include <ostream>

namespace korvante {
class RecordingCatalogue;
}

namespace korvante::cli {

int runOverview(const CliOptions &o, RecordingCatalogue &catalogue, std::ostream &out, std::ostream &err);

} // namespace korvante::cli
