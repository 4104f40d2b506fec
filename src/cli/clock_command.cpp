#include "cli/clock_command.h"

#include "cli/cli.h"
#include "cli/command_source.h"
#include "cli/row_printer.h"
#include "cli/text_escape.h"
#include "core/clock/card_clock.h"
#include "core/config/viewer_config.h"
#include "core/storage/catalogue_config.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"

#include <charconv>

namespace korvante::cli {
namespace {

std::string integerText(long long value)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

} // namespace

int runClock(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    CliOptions o;
    std::string error;
    if (!parseOptions(args, o, error) || o.command != "clock") {
        err << "korvante-cli: " << (error.empty() ? "not a clock command" : error) << " (see korvante-cli --help)\n";
        return kExitUsage;
    }
    StderrLog log(err);
    ViewerConfig config;
    if (!loadConfig(o, config, err))
        return kExitInput;
    RecordingCatalogue catalogue;
    importConfiguration(config, catalogue);
    CommandLinePicker picker(o.source);
    catalogue.sortOrder = o.descending.value_or(false) ? SortOrder::Descending : SortOrder::Ascending;
    bool empty = false;
    if (const int rc = selectSource(o, catalogue, picker, err, empty); rc != kExitOk)
        return rc;
    std::vector<clock::RecordingFixes> read;
    if (!empty) {
        RowPrinter rows; // only the row order is used
        if (o.kind >= 0)
            catalogue.listKind(o.kind, rows);
        else
            catalogue.listAllWithoutRepair(rows);
        for (const clock::RecordingRef &ref : clock::recordingsOf(catalogue)) {
            std::string why;
            if (auto fixes = clock::readRecordingFixes(ref, &why))
                read.push_back(std::move(*fixes));
            else
                err << "korvante-cli: " << escapeControls(ref.name) << ": " << why << "; left out\n";
        }
    }
    const clock::ClockCheck check = clock::checkClock(read);
    if (check.recordings.empty())
        return inputError(err, o.source, "no recording with a valid GPS fix; the clock cannot be checked");

    for (const clock::RecordingClock &r : check.recordings) {
        out << escapeControls(displayName(r.name)) << '\t'
            << clock::civilText(std::chrono::floor<std::chrono::seconds>(r.firstCamera)) << '\t'
            << clock::civilText(r.firstUtc) << '\t' << integerText(r.drift.count());
        if (r.apart)
            out << "\tapart";
        out << '\n';
    }
    out << "zone " << clock::zoneText(check.zone) << "\tdrift " << integerText(check.drift.count())
        << " s\trecordings " << check.agreeing << '\n';
    out.flush();
    if (!out) {
        err << "korvante-cli: the output could not be written\n";
        return kExitInput;
    }
    return kExitOk;
}

} // namespace korvante::cli
