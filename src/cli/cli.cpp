#include "cli/cli.h"

#include "cli/cli_options.h"
#include "cli/command_source.h"
#include "cli/export_command.h"
#include "cli/overview_command.h"
#include "core/storage/catalogue_config.h"
#include "cli/row_printer.h"
#include "core/config/viewer_config.h"
#include "core/platform/log.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"
#include "tavo/tavo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace korvante::cli {
namespace {

std::string systemError() { return std::strerror(errno); }

// Local midnight of a strict YYYY-MM-DD date.
std::optional<int64_t> parseDay(const std::string &text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    NameDateTime day;
    day.year = std::stoi(text.substr(0, 4));
    day.month = std::stoi(text.substr(5, 2));
    day.day = std::stoi(text.substr(8, 2));
    const auto t = day.toLocalTime();
    if (!t)
        return std::nullopt;
    std::tm tm{};
    const std::time_t when = *t;
    if (!localtime_r(&when, &tm) || tm.tm_mday != day.day || tm.tm_mon + 1 != day.month)
        return std::nullopt; // 31 April and the like
    return static_cast<int64_t>(*t);
}

int runList(const CliOptions &o, RecordingCatalogue &catalogue, std::ostream &out, std::ostream &err)
{
    CommandLinePicker picker(o.source);
    catalogue.sortOrder = o.descending.value_or(false) ? SortOrder::Descending : SortOrder::Ascending;
    bool empty = false;
    if (const int rc = selectSource(o, catalogue, picker, err, empty); rc != kExitOk || empty)
        return rc;
    RowPrinter rows;
    if (o.kind >= 0)
        catalogue.listKind(o.kind, rows);
    else if (o.repair)
        catalogue.listAll(rows);
    else
        catalogue.listAllWithoutRepair(rows);
    rows.print(out);
    return kExitOk;
}

int runSearch(const CliOptions &o, RecordingCatalogue &catalogue, std::ostream &out, std::ostream &err)
{
    const auto from = parseDay(o.from);
    if (!from)
        return inputError(err, "--from " + o.from, "not a date (YYYY-MM-DD)");
    const auto to = parseDay(o.to);
    if (!to)
        return inputError(err, "--to " + o.to, "not a date (YYYY-MM-DD)");
    if (*from > *to)
        return inputError(err, "--from " + o.from, "lies after --to " + o.to);
    if (o.minSpeed.empty() || o.minSpeed.size() > 9
        || o.minSpeed.find_first_not_of("0123456789") != std::string::npos)
        return inputError(err, "--min-speed " + o.minSpeed, "not a whole number");
    float factor = 1.0f;
    if (o.unit == "mph")
        factor = 1.609344f;
    else if (o.unit == "knot")
        factor = 1.852f;
    else if (o.unit != "kmh")
        return inputError(err, "--unit " + o.unit, "expected kmh, mph or knot");

    SearchCriteria criteria;
    criteria.start = *from;
    criteria.end = *to;
    criteria.minSpeed = static_cast<float>(std::stol(o.minSpeed)) * factor;

    CommandLinePicker picker(o.source);
    catalogue.sortOrder = o.descending.value_or(true) ? SortOrder::Descending : SortOrder::Ascending;
    bool empty = false;
    if (const int rc = selectSource(o, catalogue, picker, err, empty); rc != kExitOk || empty)
        return rc;
    RowPrinter rows;
    if (o.kind >= 0)
        catalogue.searchKind(rows, criteria, o.kind);
    else
        catalogue.searchAll(rows, criteria);
    rows.print(out);
    return kExitOk;
}

int runSources(RecordingCatalogue &catalogue, std::ostream &out)
{
    catalogue.enumerateSources();
    for (const auto &s : catalogue.sources())
        out << escapeControls(s.label) << '\t' << s.kind << '\t' << escapeControls(text64(s.devicePath)) << '\n';
    return kExitOk;
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

int runRepair(const CliOptions &o, std::ostream &out, std::ostream &err)
{
    int rc = kExitOk;
    bool notRepairable = false;
    for (const auto &path : o.files) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            rc = inputError(err, path, systemError());
            continue;
        }
        // Never through a link: the file named is the file written.
        std::string why;
        std::unique_ptr<std::FILE, FileCloser> file(openForRepair(path, true, 0, 0, why));
        if (!file) {
            rc = inputError(err, path, errno == EACCES ? "cannot read: " + why : why);
            continue;
        }
        if (isIntactDescriptor(fileno(file.get()))) {
            out << escapeControls(path) << "\tintact\n";
            continue;
        }
        if (!o.dryRun) {
            // The same file, now for writing.
            if (::fstat(fileno(file.get()), &st) != 0) {
                rc = inputError(err, path, systemError());
                continue;
            }
            file.reset(openForRepair(path, false, st.st_dev, st.st_ino, why));
            if (!file) {
                rc = inputError(err, path, "cannot open for writing: " + why);
                continue;
            }
        }
        const RepairPlan plan = planRepair(file.get());
        if (!plan.repairable) {
            out << escapeControls(path) << "\tnot repairable\n";
            notRepairable = true;
            continue;
        }
        if (!o.dryRun) {
            const bool written = applyRepair(file.get(), plan, &why) && std::fflush(file.get()) == 0;
            if (!written && why.empty())
                why = systemError();
            if (std::fclose(file.release()) != 0 && written)
                why = systemError();
            else if (written) {
                out << escapeControls(path) << "\trepaired\t" << plan.zeroFillStart << '\t' << plan.zeroFillLength
                    << '\n';
                continue;
            }
            rc = inputError(err, path, "repair failed to write: " + why);
            continue;
        }
        out << escapeControls(path) << "\trepairable\t" << plan.zeroFillStart << '\t' << plan.zeroFillLength
            << '\n';
    }
    if (rc == kExitOk && notRepairable)
        rc = kExitNotRepairable;
    return rc;
}

} // namespace

const char *usageText()
{
    return "usage: korvante-cli [--config FILE] COMMAND ...\n"
           "  list [--kind all|normal|event|parking|manual] [--order asc|desc] [--repair]\n"
           "       [--recursive] (FOLDER | --drive ROOT | --tavo DEVICE)\n"
           "  search --from YYYY-MM-DD --to YYYY-MM-DD [--min-speed N] [--unit kmh|mph|knot]\n"
           "       [--kind ...] [--order asc|desc] [--recursive] (FOLDER | --drive ROOT | --tavo DEVICE)\n"
           "  repair [--dry-run] FILE...\n"
           "  export --tavo DEVICE [--kind ...] (--all | NAME...) --to FOLDER [--force]\n"
           "  sources\n"
           "  telemetry ...\n"
           "  clock [--kind ...] [--recursive] (FOLDER | --drive ROOT | --tavo DEVICE)\n"
           "  trips [--gap SECONDS] [--recordings] [--recursive] (FOLDER | --drive ROOT | --tavo DEVICE)\n"
           "  incidents [--min-g G] [--kind ...] [--recursive] (FOLDER | --drive ROOT | --tavo DEVICE)\n"
           "  clip --from TIME --to TIME [--layout front|rear|side|pip] [--overlay] [--no-audio] [--force]\n"
           "       --out FILE.mp4 (FOLDER | --drive ROOT | --tavo DEVICE)   TIME: YYYY-MM-DD HH:MM:SS[.mmm]\n"
           "  verify EVIDENCE.json [--sources FOLDER]\n"

           "Rows: number, date, time, type, channels, name, separated by tabs.\n";
}

int runCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    CliOptions o;
    std::string error;
    if (!parseOptions(args, o, error)) {
        err << "korvante-cli: " << error << " (see korvante-cli --help)\n";
        return kExitUsage;
    }
    if (o.command == "help") {
        out << usageText();
        return kExitOk;
    }
    if (o.command == "telemetry") {
        std::vector<std::string> helperArgs{"telemetry"};
        helperArgs.insert(helperArgs.end(), o.rest.begin(), o.rest.end());
        return runPacketCommand(helperArgs, out, err);
    }
    if (o.command == "clock") {
        // Checked here, so that a wrong command line never starts the helper.
        std::vector<std::string> helperArgs{"clock"};
        helperArgs.insert(helperArgs.end(), args.begin(), args.end());
        return runPacketCommand(helperArgs, out, err);
    }
    if (o.command == "clip" || o.command == "verify") {
        // Carried out by korvante-clip, which alone loads the encoders.
        return runHelperProgram("korvante-clip", o.command, args, out, err);
    }
    StderrLog log(err);
    if (o.command == "repair")
        return runRepair(o, out, err);

    ViewerConfig config;
    if (!loadConfig(o, config, err))
        return kExitInput;
    RecordingCatalogue catalogue;
    importConfiguration(config, catalogue);
    if (o.command == "sources")
        return runSources(catalogue, out);
    if (o.command == "export")
        return runExportCommand(o.rest, catalogue, out, err);
    if (o.command == "list")
        return runList(o, catalogue, out, err);
    if (o.command == "trips" || o.command == "incidents")
        return runOverview(o, catalogue, out, err);
    return runSearch(o, catalogue, out, err);
}

} // namespace korvante::cli
