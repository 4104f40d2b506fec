#pragma once
// korvante-cli: the catalogue, repair and speed search of the viewer on the
// command line, with plain tab-separated output for scripts.
//
// Exit codes: 0 done; 1 an input could not be used (missing folder, unreadable
// file, not a card); 2 the command line is wrong; 3 (repair) some file has no
// movie list to repair by.

#include <ostream>
#include <string>
#include <vector>

namespace korvante::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInput = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotRepairable = 3;

// Runs one command line (without the program name). Output and errors go to
// `out` and `err`; nothing else is printed, apart from the card library's own
// standard-output line for a card that cannot be opened.
int runCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// Replaces the process with korvante-telemetry beside the tool, which carries
// out the commands that read recordings' packets (and alone loads the
// decoders): `helperArgs` is the command ("telemetry" or "clock") and its
// arguments. Returns only when that fails.
int runPacketCommand(const std::vector<std::string> &helperArgs, std::ostream &out, std::ostream &err);
// The same for the helper `program` beside the tool, started with `helperArgs`;
// error lines name `command`.
int runHelperProgram(const std::string &program, const std::string &command,
                     const std::vector<std::string> &helperArgs, std::ostream &out, std::ostream &err);

const char *usageText();

} // namespace korvante::cli
