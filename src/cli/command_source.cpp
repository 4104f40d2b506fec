#include "cli/command_source.h"

#include "cli/cli.h"
#include "cli/text_escape.h"
#include "core/config/viewer_config.h"
#include "core/storage/recording_catalogue.h"
#include "tavo/tavo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korvante::cli {
namespace {

std::string systemError() { return std::strerror(errno); }

} // namespace

int inputError(std::ostream &err, const std::string &input, const std::string &problem)
{
    err << "korvante-cli: " << escapeControls(input) << ": " << escapeControls(problem) << "\n";
    return kExitInput;
}

bool isDirectory(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

StdoutToStderr::StdoutToStderr()
{
    std::fflush(stdout);
    m_saved = ::dup(STDOUT_FILENO);
    if (m_saved >= 0)
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr()
{
    std::fflush(stdout);
    if (m_saved >= 0) {
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }
}

bool loadConfig(const CliOptions &o, ViewerConfig &config, std::ostream &err)
{
    if (o.config) {
        if (std::FILE *f = std::fopen(o.config->c_str(), "rb")) {
            std::fclose(f);
        } else {
            inputError(err, *o.config, "cannot open the configuration: " + systemError());
            return false;
        }
    }
    bool ok = false;
    {
        StdoutToStderr quiet;
        ok = o.config ? config.loadFile(*o.config) : config.load("viewerconfig.cfg");
    }
    if (!ok) {
        const std::string name = o.config ? *o.config : executableFolder() + "viewerconfig.cfg";
        inputError(err, name, "cannot read the configuration");
    }
    return ok;
}

int selectSource(const CliOptions &o, RecordingCatalogue &catalogue, CommandLinePicker &picker,
                 std::ostream &err, bool &empty)
{
    StorageSource source;
    empty = false;
    switch (o.sourceType) {
    case SourceType::Folder:
        if (!isDirectory(o.source))
            return inputError(err, o.source, "no such folder");
        source.kind = SourceComputer;
        source.label = catalogue.computerCaption;
        if (o.recursive)
            catalogue.recursePicked = true;
        break;
    case SourceType::Drive:
        if (!isDirectory(o.source))
            return inputError(err, o.source, "no such folder");
        source.kind = SourceRemovable;
        source.label = o.source.back() == '/' ? o.source : o.source + "/";
        if (o.recursive)
            catalogue.recurseRemovable = true;
        break;
    case SourceType::Tavo:
        if (std::FILE *f = std::fopen(o.source.c_str(), "rb"))
            std::fclose(f);
        else
            return inputError(err, o.source, "cannot open: " + systemError());
        if (!setText64(source.devicePath, o.source))
            return inputError(err, o.source, "device path longer than 63 bytes");
        if (VX_Tavo_Check_Tavo_partition(o.source.c_str()) == 0)
            return inputError(err, o.source, "no readable TAVO partition (not a card, or a damaged one)");
        source.kind = SourceTavo;
        source.label = o.source;
        break;
    }
    catalogue.setSources({source});
    static int owner = 0; // the tool has no window; any non-null owner will do
    catalogue.ownerWindow = &owner;
    catalogue.folderPicker = &picker;
    bool selected = false;
    {
        StdoutToStderr quiet;
        selected = catalogue.selectSource(0);
    }
    if (selected)
        return kExitOk;
    if (o.sourceType == SourceType::Folder) {
        empty = true; // a folder without recordings lists nothing
        return kExitOk;
    }
    return inputError(err, o.source, "cannot be scanned");
}

StderrLog::StderrLog(std::ostream &err)
{
    m_previous = setLogSink([&err](LogLevel level, std::string_view message) {
        if (level == LogLevel::Warning || level == LogLevel::Error)
            err << "korvante-cli: " << logLevelName(level) << ": " << escapeControls(std::string(message)) << "\n";
    });
}

StderrLog::~StderrLog() { setLogSink(std::move(m_previous)); }

} // namespace korvante::cli
