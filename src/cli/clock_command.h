#pragma once
// korvante-cli clock: the camera's clock of a source's recordings checked
// against their GPS time. Carried out by korvante-telemetry (it reads the
// recordings' packets); `args` is the whole command line of korvante-cli.
//
// Output, tab-separated: per recording with a valid fix its front file name,
// the camera time and the UTC time of its first valid fix, and its drift in
// whole seconds in the card's zone (a fifth column "apart" when its clock is
// more than a minute from the card's); then "zone UTC+08:00", "drift -47 s",
// "recordings N". No fix at all: a line on standard error and status 1.

#include <ostream>
#include <string>
#include <vector>

namespace korvante::cli {

int runClock(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace korvante::cli
