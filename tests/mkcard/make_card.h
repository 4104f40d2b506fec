#pragma once
// Makes a sample card for any test suite by running korvante-mkcard.
//
// Use from a test program made with korvante_add_test (which defines
// KORVANTE_BINARY_DIR) and add `add_dependencies(<test> korvante-mkcard)` to
// its CMakeLists.txt so the tool is built first. A small, fast card:
//   korvante::testing::makeCard({"--folder", dir, "--size", "320x240", "--seconds", "2"})

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace korvante::testing {

inline std::string mkcardPath() { return std::string(KORVANTE_BINARY_DIR) + "/bin/korvante-mkcard"; }

inline std::string shellQuote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs the tool with `args` and returns its exit code (-1 when it could not
// be started or did not exit normally). Its error line, if any, goes to the
// test's standard error.
inline int makeCard(const std::vector<std::string> &args)
{
    std::string command = shellQuote(mkcardPath());
    for (const auto &a : args)
        command += " " + shellQuote(a);
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace korvante::testing
