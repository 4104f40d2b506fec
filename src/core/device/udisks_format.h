#pragma once
// Formatting through the desktop's disk service, UDisks2, on the system bus:
// the partition is unmounted, formatted as "vfat" (FAT32 on a card of the
// camera's sizes) and mounted again, each step under the desktop's own
// authorisation (it may ask the user for a password).
//
// Any one thread at a time; needs the application object (Qt's bus
// connections run on its machinery).

#include <string>

namespace korvante {

enum class UDisksFormatResult {
    Formatted,
    Unavailable, // no system bus or no UDisks2 on it: nothing was done
    Failed,      // UDisks2 refused or failed; *why says why
};

// `partition` is the kernel name of the block device, e.g. "sdb1".
UDisksFormatResult formatThroughUDisks(const std::string &partition, std::string *why);

} // namespace korvante
