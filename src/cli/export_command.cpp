#include "cli/export_command.h"

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "cli/row_printer.h"
#include "core/storage/export_entry.h"
#include "core/storage/recording_catalogue.h"
#include "tavo/tavo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>

namespace korvante::cli {
namespace {

struct ExportArgs {
    std::string device;
    std::string folder;
    int kind = -1;
    bool all = false;
    bool force = false;
    std::vector<std::string> names;
};

// Set by SIGINT, SIGTERM and SIGHUP (a closed terminal): the recording being written is abandoned (its
// temporary file removed) and no further one is started.
std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) { g_interrupted.store(true); }

class InterruptGuard final {
public:
    InterruptGuard()
    {
        g_interrupted.store(false);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_int);
        ::sigaction(SIGTERM, &action, &m_term);
        ::sigaction(SIGHUP, &action, &m_hup);
    }
    ~InterruptGuard()
    {
        ::sigaction(SIGINT, &m_int, nullptr);
        ::sigaction(SIGTERM, &m_term, nullptr);
        ::sigaction(SIGHUP, &m_hup, nullptr);
    }
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;

private:
    struct sigaction m_int {}, m_term {}, m_hup {};
};


bool parseExportArgs(const std::vector<std::string> &args, ExportArgs &a, std::string &error)
{
    bool endOfOptions = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size()) {
                error = arg + ": needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (endOfOptions || arg.rfind("--", 0) != 0) {
            a.names.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "--tavo") {
            if (!value(a.device))
                return false;
        } else if (arg == "--to") {
            if (!value(a.folder))
                return false;
        } else if (arg == "--kind") {
            std::string v;
            if (!value(v) || !parseKindOption(v, a.kind, error))
                return false;
        } else if (arg == "--all") {
            a.all = true;
        } else if (arg == "--force") {
            a.force = true;
        } else {
            error = arg + ": unknown option for export";
            return false;
        }
    }
    if (a.device.empty()) {
        error = "export: no card given (--tavo DEVICE)";
        return false;
    }
    if (a.all && !a.names.empty()) {
        error = "export: --all and recording names exclude each other";
        return false;
    }
    return true;
}

int fail(std::ostream &err, const std::string &what, const std::string &problem)
{
    err << "korvante-cli: " << escapeControls(what) << ": " << escapeControls(problem) << "\n";
    return kExitInput;
}

// The card's rows (all kinds or one) in the catalogue; an exit code on failure.
int openCard(const ExportArgs &a, RecordingCatalogue &catalogue, std::ostream &err)
{
    if (std::FILE *f = std::fopen(a.device.c_str(), "rb"))
        std::fclose(f);
    else
        return fail(err, a.device, std::string("cannot open: ") + std::strerror(errno));
    StorageSource source;
    if (!setText64(source.devicePath, a.device))
        return fail(err, a.device, "device path longer than 63 bytes");
    if (VX_Tavo_Check_Tavo_partition(a.device.c_str()) == 0)
        return fail(err, a.device, "no readable TAVO partition (not a card, or a damaged one)");
    source.kind = SourceTavo;
    source.label = a.device;
    catalogue.setSources({source});
    std::fflush(stdout);
    // The catalogue's diagnostic line for a card it cannot open goes to
    // standard output; standard output keeps the result lines only, and the
    // error line below says the same.
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        ::dup2(null, STDOUT_FILENO);
    if (null >= 0)
        ::close(null);
    const bool selected = catalogue.selectSource(0);
    std::fflush(stdout);
    if (saved >= 0) {
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
    }
    if (!selected)
        return fail(err, a.device, "the card cannot be read");
    NullListView rows;
    if (a.kind >= 0)
        catalogue.listKind(a.kind, rows);
    else
        catalogue.listAllWithoutRepair(rows);
    return kExitOk;
}

// Whether `name` (as given on the command line) names `entry`: its card name,
// the name without ".tavo", or the ".avi" name it is exported under.
bool names(const std::string &name, const RecordingEntry &entry)
{
    std::string shown = entry.name;
    for (size_t p; (p = shown.find(".tavo")) != std::string::npos;)
        shown.erase(p, 5);
    return name == entry.name || name == shown || name == exportFileName(entry.name);
}

class Progress final {
public:
    explicit Progress(std::ostream &err) : m_err(err), m_on(&err == &std::cerr && ::isatty(STDERR_FILENO)) {}
    void show(size_t index, size_t count, const std::string &name, uint64_t done, uint64_t size)
    {
        if (!m_on)
            return;
        const unsigned percent = size > 0 ? static_cast<unsigned>(std::min<uint64_t>(100, done * 100 / size)) : 0;
        m_err << "\r\033[Kexport " << index + 1 << "/" << count << " " << escapeControls(name) << " " << percent
              << "%" << std::flush;
    }
    void clear()
    {
        if (m_on)
            m_err << "\r\033[K" << std::flush;
    }

private:
    std::ostream &m_err;
    bool m_on;
};

} // namespace

int runExportCommand(const std::vector<std::string> &args, RecordingCatalogue &catalogue, std::ostream &out,
                     std::ostream &err)
{
    ExportArgs a;
    std::string error;
    if (!parseExportArgs(args, a, error)) {
        err << "korvante-cli: " << error << " (see korvante-cli --help)\n";
        return kExitUsage;
    }
    // The conversion dialog's two refusals, in its order.
    if (!a.all && a.names.empty())
        return fail(err, "export", "Please select one or more files to convert.");
    if (a.folder.empty())
        return fail(err, "export", "Please enter the save path.");
    if (const std::string problem = outputFolderRefusal(a.folder); !problem.empty())
        return fail(err, a.folder, problem + (problem == "no such folder" ? "" : "; nothing was written"));
    if (const int rc = openCard(a, catalogue, err); rc != kExitOk)
        return rc;

    std::vector<int> chosen;
    std::set<std::string> found;
    for (int row = 0; row < catalogue.shownCount(); ++row) {
        const RecordingEntry *entry = catalogue.shownEntryAt(row);
        bool wanted = a.all;
        for (const auto &name : a.names)
            if (names(name, *entry)) {
                wanted = true;
                found.insert(name);
            }
        if (wanted)
            chosen.push_back(row);
    }
    int rc = kExitOk;
    for (const auto &name : a.names)
        if (!found.count(name))
            rc = fail(err, name, "no such recording on the card" + std::string(a.kind >= 0 ? " (of that kind)" : ""));
    if (rc != kExitOk)
        return rc;
    if (chosen.empty())
        return fail(err, "export", "Please select one or more files to convert.");

    // Files that would be replaced are named before anything is written.
    const std::string folder = a.folder.back() == '/' ? a.folder : a.folder + "/";
    // So are recordings that would be written to one file: none may replace
    // another of the same run, --force or not.
    for (const auto &[file, rows] : sharedOutputNames(catalogue, chosen)) {
        std::set<std::string> paths;
        for (int row : rows)
            paths.insert(catalogue.cardPathOf(*catalogue.shownEntryAt(row)));
        std::string which;
        for (const auto &path : paths)
            which += (which.empty() ? "" : ", ") + path;
        rc = fail(err, folder + file,
                  std::to_string(rows.size()) + " recordings would be written to this one file (" + which
                      + "); export them one at a time into different folders");
    }
    if (rc != kExitOk)
        return rc;
    if (!a.force) {
        struct stat st {};
        for (int row : chosen) {
            const std::string file = exportFileName(catalogue.shownEntryAt(row)->path);
            const std::string target = folder + file;
            if (!file.empty() && ::lstat(target.c_str(), &st) == 0)
                rc = fail(err, target, "exists (use --force to replace it)");
        }
        if (rc != kExitOk)
            return rc;
    }

    InterruptGuard interrupt;
    Progress progress(err);
    for (size_t i = 0; i < chosen.size() && !g_interrupted.load(); ++i) {
        const RecordingEntry &entry = *catalogue.shownEntryAt(chosen[i]);
        ExportOptions options;
        options.overwrite = a.force;
        options.cancel = &g_interrupted;
        const uint64_t size = entry.sizeKiB * 1024;
        options.progress = [&](uint64_t done) { progress.show(i, chosen.size(), entry.name, done, size); };
        progress.show(i, chosen.size(), entry.name, 0, size);
        const EntryExportResult r = exportEntry(catalogue, chosen[i], folder, options);
        progress.clear();
        if (r.ok()) {
            out << escapeControls(r.outputPath) << '\t'
                << (r.result.outcome == ExportOutcome::Rebuilt ? "rebuilt" : "copied") << '\n' << std::flush;
        } else if (r.result.outcome != ExportOutcome::Cancelled) {
            rc = fail(err, r.outputPath.empty() ? entry.name : r.outputPath, r.message);
        }
    }
    if (g_interrupted.load())
        return fail(err, "export", "interrupted; the recording being written was removed");
    return rc;
}

} // namespace korvante::cli
