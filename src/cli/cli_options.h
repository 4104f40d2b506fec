#pragma once
// The command line of korvante-cli, parsed into one structure.

#include <optional>
#include <string>
#include <vector>

namespace korvante::cli {

enum class SourceType { Folder, Drive, Tavo };

struct CliOptions {
    std::string command;             // list, search, repair, sources, telemetry, export, clock, trips,
                                     // incidents, clip, verify, help
    std::optional<std::string> config;
    // list, search, clock, trips and incidents
    int kind = -1;                   // -1 all, else 0 to 3
    std::optional<bool> descending;  // --order; the command picks the default
    bool repair = false;
    bool recursive = false;
    SourceType sourceType = SourceType::Folder;
    std::string source;
    std::string from, to;            // YYYY-MM-DD
    std::string minSpeed = "0";
    std::string unit = "kmh";
    // trips: --gap (whole seconds, as typed) and --recordings; incidents: --min-g
    std::string gap = "30";
    bool listRecordings = false;
    std::string minG = "1.5";
    // repair
    bool dryRun = false;
    std::vector<std::string> files;
    // telemetry, export, clip and verify: everything after the command
    std::vector<std::string> rest;
};

// The recording kind named by `name` ("all" -1, "normal" 0, "event" 1,
// "parking" 2, "manual" 3) for --kind; false with a one-line `error` for
// any other name.
bool parseKindOption(const std::string &name, int &kind, std::string &error);

// Parses `args`; on a mistake returns false with a one-line `error`.
bool parseOptions(const std::vector<std::string> &args, CliOptions &options, std::string &error);

} // namespace korvante::cli
