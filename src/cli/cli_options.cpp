#include "cli/cli_options.h"

#include <map>

namespace korvante::cli {
namespace {

const std::map<std::string, int> kKinds = {
    {"all", -1}, {"normal", 0}, {"event", 1}, {"parking", 2}, {"manual", 3}};

} // namespace

bool parseKindOption(const std::string &name, int &kind, std::string &error)
{
    const auto it = kKinds.find(name);
    if (it == kKinds.end()) {
        error = "--kind " + name + ": expected all, normal, event, parking or manual";
        return false;
    }
    kind = it->second;
    return true;
}

bool parseOptions(const std::vector<std::string> &args, CliOptions &o, std::string &error)
{
    bool sourceGiven = false;
    bool endOfOptions = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size()) {
                error = a + ": needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (o.command == "telemetry" || o.command == "export" || o.command == "clip" || o.command == "verify") {
            o.rest.push_back(a);
            continue;
        }
        if (!endOfOptions && a == "--config") {
            std::string v;
            if (!value(v))
                return false;
            o.config = v;
            continue;
        }
        if (!endOfOptions && (a == "--help" || a == "-h")) {
            o.command = "help";
            return true;
        }
        if (o.command.empty()) {
            if (a.rfind("-", 0) == 0) {
                error = a + ": unknown option (a command comes first: list, search, repair, sources, telemetry, export, clock, trips, incidents, clip, verify)";
                return false;
            }
            o.command = a;
            if (o.command != "list" && o.command != "search" && o.command != "repair"
                && o.command != "sources" && o.command != "telemetry" && o.command != "export" && o.command != "clock"
                && o.command != "trips" && o.command != "incidents" && o.command != "clip" && o.command != "verify"
                && o.command != "help") {
                error = a + ": unknown command";
                return false;
            }
            continue;
        }
        const bool catalogueCommand = o.command == "list" || o.command == "search" || o.command == "clock"
                                      || o.command == "trips" || o.command == "incidents";
        if (!endOfOptions && a == "--") {
            endOfOptions = true;
            continue;
        }
        if (!endOfOptions && a.rfind("--", 0) == 0) {
            std::string v;
            if (catalogueCommand && o.command != "trips" && a == "--kind") {
                if (!value(v) || !parseKindOption(v, o.kind, error))
                    return false;
            } else if ((o.command == "list" || o.command == "search" || o.command == "clock") && a == "--order") {
                if (!value(v))
                    return false;
                if (v != "asc" && v != "desc") {
                    error = "--order " + v + ": expected asc or desc";
                    return false;
                }
                o.descending = v == "desc";
            } else if (catalogueCommand && a == "--recursive") {
                o.recursive = true;
            } else if (catalogueCommand && (a == "--drive" || a == "--tavo")) {
                if (!value(v))
                    return false;
                if (sourceGiven) {
                    error = a + " " + v + ": only one source may be given";
                    return false;
                }
                o.sourceType = a == "--drive" ? SourceType::Drive : SourceType::Tavo;
                o.source = v;
                sourceGiven = true;
            } else if (o.command == "list" && a == "--repair") {
                o.repair = true;
            } else if (o.command == "search" && (a == "--from" || a == "--to")) {
                if (!value(a == "--from" ? o.from : o.to))
                    return false;
            } else if (o.command == "search" && a == "--min-speed") {
                if (!value(o.minSpeed))
                    return false;
            } else if (o.command == "search" && a == "--unit") {
                if (!value(o.unit))
                    return false;
            } else if (o.command == "trips" && a == "--gap") {
                if (!value(o.gap))
                    return false;
            } else if (o.command == "trips" && a == "--recordings") {
                o.listRecordings = true;
            } else if (o.command == "incidents" && a == "--min-g") {
                if (!value(o.minG))
                    return false;
            } else if (o.command == "repair" && a == "--dry-run") {
                o.dryRun = true;
            } else {
                error = a + ": unknown option for " + o.command;
                return false;
            }
            continue;
        }
        if (o.command == "repair") {
            o.files.push_back(a);
        } else if (catalogueCommand && !sourceGiven) {
            o.source = a;
            o.sourceType = SourceType::Folder;
            sourceGiven = true;
        } else {
            error = a + ": unexpected argument";
            return false;
        }
    }
    if (o.command.empty()) {
        error = "no command given";
        return false;
    }
    if ((o.command == "list" || o.command == "search" || o.command == "clock" || o.command == "trips"
         || o.command == "incidents")
        && !sourceGiven) {
        error = o.command + ": no source given (a FOLDER, --drive ROOT or --tavo DEVICE)";
        return false;
    }
    if (o.command == "search" && (o.from.empty() || o.to.empty())) {
        error = "search: --from and --to are both needed";
        return false;
    }
    if (o.command == "list" && o.repair && o.kind != -1) {
        error = "--repair: only a listing of all kinds repairs (use --kind all)";
        return false;
    }
    if (o.command == "repair" && o.files.empty()) {
        error = "repair: no file given";
        return false;
    }
    return true;
}

} // namespace korvante::cli
