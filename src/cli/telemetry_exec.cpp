// `korvante-cli telemetry …` and `korvante-cli clock …` run korvante-telemetry,
// which lies beside the tool. Keeping the decoder libraries out of korvante-cli itself keeps its
// start-up (and so every listing) fast.

#include "cli/cli.h"

#include "core/config/viewer_config.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace korvante::cli {

int runPacketCommand(const std::vector<std::string> &helperArgs, std::ostream &out, std::ostream &err)
{
    return runHelperProgram("korvante-telemetry", helperArgs.front(), helperArgs, out, err);
}

int runHelperProgram(const std::string &program, const std::string &command,
                     const std::vector<std::string> &helperArgs, std::ostream &out, std::ostream &err)
{
    const std::string exe = executableFolder() + program;
    if (::access(exe.c_str(), X_OK) != 0) {
        err << command << ": " << exe << " is missing\n";
        return kExitUsage;
    }
    out.flush();
    std::cout.flush();
    std::vector<std::string> args{exe};
    args.insert(args.end(), helperArgs.begin(), helperArgs.end());
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    err << command << ": cannot start " << exe << ": " << std::strerror(errno) << "\n";
    return kExitInput;
}

} // namespace korvante::cli
