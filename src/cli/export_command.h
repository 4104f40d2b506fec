#pragma once
// `korvante-cli export`: the recordings of a card's TAVO partition written as
// ".avi" files into a folder, as the viewer's conversion dialog writes them.

#include <ostream>
#include <string>
#include <vector>

namespace korvante {
class RecordingCatalogue;
}

namespace korvante::cli {

// Runs `export` with its arguments (everything after the command) on a
// catalogue that holds the configured folders. Exported files are listed on
// `out` (path, tab, "copied" or "rebuilt"); errors go to `err` one line each,
// and a progress line too when `err` is the process's terminal.
int runExportCommand(const std::vector<std::string> &args, RecordingCatalogue &catalogue, std::ostream &out,
                     std::ostream &err);

} // namespace korvante::cli
