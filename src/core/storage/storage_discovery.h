#pragma once
// Finds the removable drives of the machine: mounted file systems on disks that
// report themselves removable (or are mmcblk card slots). Everything is read
// below one system root, "/" or $KORVANTE_SYSROOT, so a test can build a fake
// machine whose disks are image files:
//   <root>proc/self/mountinfo           the mount table
//   <root>sys/block/<disk>/{removable,size,dev}, <disk>/<partition>/{partition,dev}
//   <root>dev/<disk>                     the whole disk (or its image file)
// Mount points in the table are read below the same root.
//
// Stateless; any thread may call, except openDiskForReading (UI thread: it
// may use the system bus). Nothing here opens a disk for writing.

#include <string>
#include <vector>

namespace korvante {

// The system root with a trailing "/".
std::string systemRoot();

struct MountedVolume {
    std::string disk;       // e.g. "sdb"
    std::string partition;  // e.g. "sdb1"; the disk itself when not partitioned
    std::string mountPoint; // below the system root, with a trailing "/"
    std::string devicePath; // the whole disk: <root>dev/<disk>
    int diskNumber = -1;    // 0 for the disk(s) holding the root file system, else 1, 2, ...
    bool removable = false;
    bool mediumPresent = false; // the disk has sectors and the file system answers statvfs
    bool readable = false;      // this user may list the mounted file system
};

// Every mounted file system on a block device known below `root`, once per
// device, in disk and partition order.
std::vector<MountedVolume> listMountedVolumes(const std::string &root);

// The removable volumes that may be offered: removable, with a medium, not on
// the root file system's disk, and readable by this user.
std::vector<MountedVolume> listRemovableVolumes(const std::string &root);

// How the card library reads a volume's whole disk.
enum class DiskAccess {
    Direct,     // this user may open the disk for reading
    Descriptor, // through a read-only descriptor from UDisks2, attached to the card library
    None,       // neither: the disk's partitions cannot be looked at
};

// Makes the whole disk of `volume` readable to the card library under its
// devicePath: directly when this user may open it for reading; else, on the
// real machine (root "/"), through a read-only descriptor that UDisks2 opens
// for the user, attached to the card library. Writing is never asked for.
// With None, *why (may be null) says what access is missing.
DiskAccess openDiskForReading(const std::string &root, const MountedVolume &volume, std::string *why);

// The disk number of the volume mounted at `mountPoint` (with or without a
// trailing "/"), or -1 when no known disk holds it.
int diskNumberOfVolume(const std::string &root, const std::string &mountPoint);

} // namespace korvante
