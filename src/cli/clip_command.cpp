#include "cli/clip_command.h"

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "cli/command_source.h"
#include "cli/text_escape.h"
#include "core/clip/clip_writer.h"
#include "core/clip/evidence.h"
#include "core/config/viewer_config.h"
#include "core/overview/overview_cache.h"
#include "core/storage/catalogue_config.h"
#include "core/storage/recording_catalogue.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

namespace korvante::cli {
namespace {

constexpr std::int64_t kLargestEvidence = 16 << 20;

struct ClipArgs {
    std::string from, to, out;
    clip::ClipOptions options;
};

// Set by SIGINT, SIGTERM and SIGHUP: the clip being written is abandoned and its temporary files removed.
std::atomic<bool> g_interrupted{false};
extern "C" void onInterrupt(int) { g_interrupted.store(true); }

class InterruptGuard final {
public:
    InterruptGuard()
    {
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

int usage(std::ostream &err, const std::string &error)
{
    err << "korvante-cli: " << escapeControls(error) << " (see korvante-cli --help)\n";
    return kExitUsage;
}

int refuse(std::ostream &err, const std::string &what)
{
    err << "korvante-cli: " << escapeControls(what) << "\n";
    return kExitInput;
}

// The arguments after `clip`: the source into `o`, the rest into `a`.
bool parseClipArgs(const std::vector<std::string> &rest, CliOptions &o, ClipArgs &a, std::string &error)
{
    bool sourceGiven = false;
    bool endOfOptions = false;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string &arg = rest[i];
        auto value = [&](std::string &into) {
            if (i + 1 >= rest.size()) {
                error = arg + ": needs a value";
                return false;
            }
            into = rest[++i];
            return true;
        };
        std::string v;
        if (!endOfOptions && arg == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && arg.rfind("--", 0) == 0) {
            if (arg == "--from" || arg == "--to" || arg == "--out") {
                if (!value(arg == "--from" ? a.from : arg == "--to" ? a.to : a.out))
                    return false;
            } else if (arg == "--layout") {
                if (!value(v))
                    return false;
                const auto layout = clip::layoutNamed(v);
                if (!layout) {
                    error = "--layout " + v + ": expected front, rear, side or pip";
                    return false;
                }
                a.options.layout = *layout;
            } else if (arg == "--overlay") {
                a.options.overlay = true;
            } else if (arg == "--no-audio") {
                a.options.sound = false;
            } else if (arg == "--force") {
                a.options.overwrite = true;
            } else if (arg == "--recursive") {
                o.recursive = true;
            } else if (arg == "--drive" || arg == "--tavo") {
                if (!value(v))
                    return false;
                if (sourceGiven) {
                    error = arg + " " + v + ": only one source may be given";
                    return false;
                }
                o.sourceType = arg == "--drive" ? SourceType::Drive : SourceType::Tavo;
                o.source = v;
                sourceGiven = true;
            } else {
                error = arg + ": unknown option for clip";
                return false;
            }
        } else if (!sourceGiven) {
            o.sourceType = SourceType::Folder;
            o.source = arg;
            sourceGiven = true;
        } else {
            error = arg + ": unexpected argument";
            return false;
        }
    }
    if (a.from.empty() || a.to.empty()) {
        error = "clip: --from and --to are both needed";
        return false;
    }
    if (a.out.empty()) {
        error = "clip: no --out FILE.mp4 given";
        return false;
    }
    if (!sourceGiven) {
        error = "clip: no source given (a FOLDER, --drive ROOT or --tavo DEVICE)";
        return false;
    }
    return true;
}

class Progress final {
public:
    explicit Progress(std::ostream &err) : m_err(err), m_on(&err == &std::cerr && ::isatty(STDERR_FILENO)) {}
    void show(double fraction)
    {
        const int percent = static_cast<int>(std::floor(fraction * 100));
        if (!m_on || percent == m_shown)
            return;
        m_shown = percent;
        m_err << "\r\033[Kclip " << percent << "%" << std::flush;
    }
    void clear()
    {
        if (m_on && m_shown >= 0)
            m_err << "\r\033[K" << std::flush;
    }

private:
    std::ostream &m_err;
    bool m_on;
    int m_shown = -1;
};

} // namespace

int runClip(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    CliOptions o;
    std::string error;
    if (!parseOptions(args, o, error) || o.command != "clip")
        return usage(err, error.empty() ? "not a clip command" : error);
    ClipArgs a;
    if (!parseClipArgs(o.rest, o, a, error))
        return usage(err, error);
    const auto in = clip::parseCameraTime(a.from);
    if (!in)
        return refuse(err, "--from " + a.from + ": not a camera time (YYYY-MM-DD HH:MM:SS[.mmm])");
    const auto outTime = clip::parseCameraTime(a.to);
    if (!outTime)
        return refuse(err, "--to " + a.to + ": not a camera time (YYYY-MM-DD HH:MM:SS[.mmm])");
    if (*outTime <= *in)
        return refuse(err, "--to " + a.to + ": Out is not after In (--from " + a.from + "); nothing was written");
    if (const std::string refusal = clip::outputRefusal(a.out, a.options.overwrite); !refusal.empty())
        return refuse(err, refusal + "; nothing was written");

    StderrLog log(err);
    ViewerConfig config;
    if (!loadConfig(o, config, err))
        return kExitInput;
    RecordingCatalogue catalogue;
    importConfiguration(config, catalogue);
    CommandLinePicker picker(o.source);
    bool empty = false;
    if (const int rc = selectSource(o, catalogue, picker, err, empty); rc != kExitOk)
        return rc;
    overview::OverviewCache cache;
    const auto plan = clip::planClip(catalogue, *in, *outTime, &cache, error);
    if (!plan)
        return refuse(err, error + "; nothing was written");

    InterruptGuard interrupt;
    g_interrupted.store(false);
    Progress progress(err);
    const clip::ClipOutcome outcome =
        clip::writeClip(*plan, a.options, a.out, [&](double f) { progress.show(f); }, &g_interrupted);
    progress.clear();
    if (!outcome.ok())
        return refuse(err, (outcome.status == clip::ClipStatus::Cancelled ? std::string("clip: interrupted")
                                                                          : a.out)
                               + ": " + outcome.message);
    if (!outcome.message.empty())
        err << "korvante-cli: warning: " << escapeControls(outcome.message) << "\n";
    out << escapeControls(outcome.clipPath) << '\t' << escapeControls(outcome.evidencePath) << '\n';
    out.flush();
    return kExitOk;
}

int runVerify(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    CliOptions o;
    std::string error;
    if (!parseOptions(args, o, error) || o.command != "verify")
        return usage(err, error.empty() ? "not a verify command" : error);
    std::string evidencePath, sources;
    for (std::size_t i = 0; i < o.rest.size(); ++i) {
        const std::string &arg = o.rest[i];
        if (arg == "--sources") {
            if (i + 1 >= o.rest.size())
                return usage(err, "--sources: needs a value");
            sources = o.rest[++i];
        } else if (arg.rfind("--", 0) == 0) {
            return usage(err, arg + ": unknown option for verify");
        } else if (evidencePath.empty()) {
            evidencePath = arg;
        } else {
            return usage(err, arg + ": unexpected argument");
        }
    }
    if (evidencePath.empty())
        return usage(err, "verify: no evidence file given");
    if (!sources.empty() && !isDirectory(sources))
        return inputError(err, sources, "no such folder");
    struct stat st {};
    if (::stat(evidencePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return inputError(err, evidencePath, "no such file");
    if (st.st_size > kLargestEvidence)
        return inputError(err, evidencePath, "too large for an evidence file");
    std::ifstream file(evidencePath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file)
        return inputError(err, evidencePath, "cannot be read");
    const auto evidence = clip::parseEvidence(text.str(), error);
    if (!evidence)
        return inputError(err, evidencePath, error);
    StderrLog log(err);
    std::vector<clip::VerifiedFile> files;
    {
        StdoutToStderr quiet; // the card library's own lines, when a card is read
        files = clip::verifyEvidence(evidencePath, *evidence, sources);
    }
    int rc = kExitOk;
    for (const clip::VerifiedFile &f : files) {
        static constexpr const char *kStates[] = {"ok", "changed", "missing"};
        out << escapeControls(f.name) << '\t' << kStates[static_cast<int>(f.state)] << '\n';
        if (f.state != clip::FileState::Ok)
            rc = kExitInput;
    }
    out.flush();
    return rc;
}

} // namespace korvante::cli
