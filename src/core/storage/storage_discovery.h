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
// Stateless; any thread may call. Nothing here opens a disk for writing.

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
};

// Every mounted file system on a block device known below `root`, once per
// device, in disk and partition order.
std::vector<MountedVolume> listMountedVolumes(const std::string &root);

// The removable volumes that may be offered: removable, with a medium, and not
// on the root file system's disk.
std::vector<MountedVolume> listRemovableVolumes(const std::string &root);

// The disk number of the volume mounted at `mountPoint` (with or without a
// trailing "/"), or -1 when no known disk holds it.
int diskNumberOfVolume(const std::string &root, const std::string &mountPoint);

} // namespace korvante
