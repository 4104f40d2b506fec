#pragma once
// The desktop's disk service, UDisks2, on the system D-Bus: it opens a disk
// on the user's behalf where the desktop's policy allows it (usually for the
// removable media of the active session), without the user being able to open
// the device node.
//
// UI thread (or any one thread at a time): the system bus connection is
// Qt's shared one.

#include <string>

namespace korvante {

// The UDisks2 object path of the block device with kernel name `disk`
// ("sdb" gives /org/freedesktop/UDisks2/block_devices/sdb; characters other
// than letters, digits and "_" are written as "_" and two hex digits).
std::string udisksBlockObjectPath(const std::string &disk);

// Asks UDisks2 for a read-only descriptor of the block device `disk`
// (Block.OpenDevice, mode "r", without asking the user for a password).
// Returns the descriptor, which the caller owns, or -1 with *why (may be
// null) set. Fails at once when there is no system bus, or no application
// object (Qt's bus connections need one).
int openDiskThroughUDisks(const std::string &disk, std::string *why);

} // namespace korvante
