#pragma once
// Formats the FAT file system of a card as FAT32, the way the camera wants
// its card. Only the partition that is mounted as the card's drive is
// formatted; any other partition of the disk (a TAVO card's recordings) is
// left as it is.
//
// - On the real machine (system root "/"): through UDisks2 on the system bus
//   (unmount, Block.Format "vfat", mount again), which asks the desktop's own
//   authorisation; where that service does not answer and the program runs
//   as root, the file system is unmounted and mkfs.vfat runs on the partition.
// - Below a fake system root: the disk must be an image file; mkfs.vfat
//   formats the partition inside it (at its offset from the image's MBR), and
//   the mounted folder, which stands for the file system, is emptied. Block
//   devices are never formatted from a fake root.
//
// Threads: runs on the formatter's worker thread; it only reports progress
// through the callback (from that thread) and touches nothing else of the
// caller's.

#include <cstdint>
#include <functional>
#include <string>

namespace korvante {

struct FormatTarget {
    std::string sysRoot;    // with a trailing "/"
    std::string root;       // mount point of the file system, with "/"
    std::string disk;       // e.g. "sdb"
    std::string partition;  // e.g. "sdb1", or the disk itself when not partitioned
    std::string devicePath; // the whole disk below sysRoot
};

// Stages reported while formatting.
namespace format_stage {
inline constexpr int Started = 0;
inline constexpr int FileSystemFormatted = 4;
inline constexpr int Completed = 5;
inline constexpr int Failed = 7;
// Details of Failed: where it stopped.
inline constexpr int FailedFindingDisk = 0;   // the drive, its partition or write access
inline constexpr int FailedMakingFat = 2;     // unmounting or making the file system
} // namespace format_stage

using FormatProgress = std::function<void(int stage, int detail)>;

// Formats `target`. Reports Started, FileSystemFormatted, then returns true;
// on failure returns false with *why and *detail set (the caller reports
// Failed). Never formats the disk of the running system.
bool formatCardFileSystem(const FormatTarget &target, const FormatProgress &progress, std::string *why,
                          int *detail);

// Where a partition lies in an MBR disk image (512-byte sectors); false
// with *why when the partition is missing, empty, the TAVO partition, or
// runs past the image.
struct PartitionExtent {
    uint64_t firstSector = 0;
    uint64_t sectors = 0;
    int type = 0;
};
bool partitionInImage(const std::string &image, int number, PartitionExtent *extent, std::string *why);

} // namespace korvante
