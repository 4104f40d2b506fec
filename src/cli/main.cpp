// korvante-cli: see cli.h.

#include "cli/cli.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const int rc = korvante::cli::runCli(args, std::cout, std::cerr);
        std::cout.flush();
        return rc;
    } catch (const std::exception &e) {
        std::cerr << "korvante-cli: " << e.what() << "\n";
        return korvante::cli::kExitInput;
    }
}
