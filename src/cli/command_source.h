#pragma once
// What the catalogue commands (list, search, clock) share: the configuration
// loaded quietly, the command line's source selected in a catalogue, and the
// core's warnings routed to standard error. Used by korvante-cli and by
// korvante-telemetry, which carries out the commands that read packets.

#include "cli/cli_options.h"
#include "core/platform/log.h"
#include "core/storage/folder_picker.h"

#include <optional>
#include <ostream>
#include <string>

namespace korvante {
class RecordingCatalogue;
class ViewerConfig;
} // namespace korvante

namespace korvante::cli {

// Answers the catalogue's folder question with the folder named on the command line.
class CommandLinePicker final : public FolderPicker {
public:
    explicit CommandLinePicker(std::string folder) : m_folder(std::move(folder)) {}
    std::optional<std::string> pickFolder(void *, const std::string &) override { return m_folder; }

private:
    std::string m_folder;
};

// "korvante-cli: INPUT: PROBLEM" on `err`; returns the input error status.
int inputError(std::ostream &err, const std::string &input, const std::string &problem);

bool isDirectory(const std::string &path);

// The configuration loader and the card library print their diagnostics on
// standard output; while one of these lives, that goes to standard error so
// that standard output holds nothing but result lines.
class StdoutToStderr final {
public:
    StdoutToStderr();
    ~StdoutToStderr();
    StdoutToStderr(const StdoutToStderr &) = delete;
    StdoutToStderr &operator=(const StdoutToStderr &) = delete;

private:
    int m_saved = -1;
};

// Loads --config FILE, or viewerconfig.cfg beside the executable; false after
// printing why it could not.
bool loadConfig(const CliOptions &o, ViewerConfig &config, std::ostream &err);

// Selects the command line's source in `catalogue`. Returns kExitOk, or an exit
// code after printing the error. `empty` is set when a folder holds no recordings.
int selectSource(const CliOptions &o, RecordingCatalogue &catalogue, CommandLinePicker &picker,
                 std::ostream &err, bool &empty);

// Warnings and errors of the core go to standard error, prefixed with the tool's name.
class StderrLog final {
public:
    explicit StderrLog(std::ostream &err);
    ~StderrLog();
    StderrLog(const StderrLog &) = delete;
    StderrLog &operator=(const StderrLog &) = delete;

private:
    LogSink m_previous;
};

} // namespace korvante::cli
