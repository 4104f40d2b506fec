// korvante-telemetry: the G-sensor samples or the GPS track of a recording,
// as `korvante-cli telemetry` documents it.

#include "cli/telemetry.h"

#include <iostream>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int rc = korvante::cli::runTelemetry(args, std::cout, std::cerr);
    std::cout.flush();
    return rc;
}
