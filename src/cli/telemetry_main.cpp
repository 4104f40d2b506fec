// korvante-telemetry: the commands of korvante-cli that read recordings'
// packets (and so load the decoders): `telemetry ARGS` and `clock ARGS`, as
// docs/cli.md documents them. korvante-cli starts it with the command first.

#include "cli/clock_command.h"
#include "cli/telemetry.h"

#include <iostream>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    int rc = 2;
    if (!args.empty() && args.front() == "telemetry")
        rc = korvante::cli::runTelemetry({args.begin() + 1, args.end()}, std::cout, std::cerr);
    else if (!args.empty() && args.front() == "clock")
        rc = korvante::cli::runClock({args.begin() + 1, args.end()}, std::cout, std::cerr);
    else
        std::cerr << "korvante-telemetry: started by korvante-cli: telemetry ARGS or clock ARGS\n";
    std::cout.flush();
    return rc;
}
