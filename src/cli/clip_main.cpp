// korvante-clip: the commands of korvante-cli that encode or hash clips,
// `clip` and `verify`, as docs/cli.md documents them. korvante-cli starts it
// with its own command line.

#include "cli/cli_options.h"
#include "cli/clip_command.h"

#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char **argv)
{
    // Errors reach the user as one line of ours, not the libraries' own.
    av_log_set_level(AV_LOG_QUIET);
    const std::vector<std::string> args(argv + 1, argv + argc);
    korvante::cli::CliOptions o;
    std::string error;
    int rc = 2;
    if (!korvante::cli::parseOptions(args, o, error))
        std::cerr << "korvante-cli: " << error << " (see korvante-cli --help)\n";
    else if (o.command == "clip")
        rc = korvante::cli::runClip(args, std::cout, std::cerr);
    else if (o.command == "verify")
        rc = korvante::cli::runVerify(args, std::cout, std::cerr);
    else
        std::cerr << "korvante-clip: started by korvante-cli: clip ARGS or verify ARGS\n";
    std::cout.flush();
    return rc;
}
