#pragma once
// `korvante-cli clip` and `korvante-cli verify`, carried out by korvante-clip
// (which alone loads the encoders): the clip export without a display, and
// the check of a clip's evidence file. docs/cli.md documents both.

#include <ostream>
#include <string>
#include <vector>

namespace korvante::cli {

// `args` is korvante-cli's whole command line (global options, the command, its arguments).
int runClip(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int runVerify(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace korvante::cli
