#pragma once
// Command line of korvante-mkcard.

#include "mkcard/recording.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

struct Options {
    std::string folder;     // folder card to write, or empty
    std::string image;      // card image to write, or empty
    uint64_t imageMib = 0;  // 0: large enough for the recordings
    CardSettings card;
    bool help = false;
};

// Parses the arguments after the program name. On failure returns false
// with a one-line message in `error`.
bool parseOptions(const std::vector<std::string> &args, Options &options, std::string *error);

// Reads "YYYY-MM-DD HH:MM:SS" into camera-clock seconds (the fields read as
// UTC). Refuses anything else, and dates outside 2000 to 2099.
bool parseStartTime(const std::string &text, int64_t &local);

const char *usageText();

} // namespace mkcard
