#pragma once
// What the card formatter shows of a card: the removable drives it may
// prepare, each drive's capacity, the four recording folders' shares of it
// with an estimate of their use, and how long each folder keeps recordings
// before the camera overwrites the oldest.
//
// Sizes in "MB" are MiB (the capacity in KiB divided by 1024, whole numbers),
// as the camera counts them.
//
// Stateless functions; any thread. Listing drives may ask UDisks2 for a
// read-only descriptor (see openDiskForReading): call that on the UI thread.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvante {

struct FormatterDrive {
    int32_t driveIndex = 0;  // position as a drive letter would be, from 3 ("D")
    std::string label;       // root with a trailing "/", plus " (TAVO)" on a TAVO card
    std::string devicePath;  // the whole disk, <system root>dev/<disk>
    int32_t kind = 0;        // 1: the disk holds a TAVO partition
    uint64_t capacityKiB = 0;
    std::string root;        // mount point of the file system, with "/"
    std::string disk;        // kernel names, e.g. "sdb" and "sdb1"
    std::string partition;
};

// The removable drives below the system root `sysRoot`, in disk order; never
// the disk of the running system. The capacity is the card library's sector
// count of the whole disk (the block layer's count when the disk cannot be
// read by this user, which also leaves it unmarked as TAVO).
std::vector<FormatterDrive> listFormatterDrives(const std::string &sysRoot);
// The list line of a drive: its label with "(TAVO)" taken out.
std::string formatterLineOf(const FormatterDrive &drive);
// "%s (%.2f GB) storage selected" with the root and capacity MB / 1024.
std::string capacityLineOf(const std::string &root, uint32_t capacityMB);

struct CardFolder {
    const char *name;   // folder at the card's root
    const char *label;  // shown beside its bar
    int sharePercent;   // of the capacity
    int frontMB;        // counted per front file
    int rearMB;         // counted per rear file
    const char *kindOfRecording; // "driving", ... in the retention line
};
const std::array<CardFolder, 4> &cardFolders();

// Files of one folder, with what is needed to measure its recording rate.
struct FolderScan {
    int frontFiles = 0;
    int rearFiles = 0;
    // Sums over the files whose header gives their length: bytes and
    // seconds, for front files (a card-partition file holds both channels)
    // and rear files apart.
    double frontBytes = 0, frontSeconds = 0;
    double rearBytes = 0, rearSeconds = 0;
    int measuredFronts = 0;
};

// Counts a file name as the camera's estimate does: a name whose fifth
// "_"-separated field is exactly "F.avi" is a front file, "R.avi" a rear one.
// A card-partition name ("F.tavo") is one front file, plus a rear file when
// its fourth field is "2CH". Returns 'F', 'R', 'T' (card-partition) or 0.
char classifyRecordingName(const std::string &name);
// Scans <root><folder>/ (plain files only) and, for a TAVO card, the folder
// of the same name in its partition.
FolderScan scanCardFolder(const FormatterDrive &drive, const std::string &folder);

struct FolderUsage {
    int allottedMB = 0;
    double freeMB = 0;
    int usedMB = 0;
    double percent = 0;     // may exceed 100
    std::string usageText;  // "Total: %d MB / Used: %d MB"
    std::string percentText; // "%3.1f%% used"
    int barRange = 0;       // 0 ... barRange, fits 16 bits
    int barPosition = 0;
};
FolderUsage folderUsage(uint32_t capacityMB, const CardFolder &folder, const FolderScan &scan);

struct RetentionForecast {
    double seconds = 0;     // how long the folder's share holds, 0 when unknown
    bool estimated = false; // from the per-file estimates, not from recordings on the card
    std::string text;       // "keeps ≈ 2 h 40 min of driving"
};
// `cardRecordingSeconds` is the mean length of a recording anywhere on the
// card (0 when none could be measured; a minute is assumed then).
RetentionForecast retentionForecast(int allottedMB, const CardFolder &folder, const FolderScan &scan,
                                    double cardRecordingSeconds);
// "2 h 40 min", "45 min", "3 days 4 h".
std::string formatDuration(double seconds);

} // namespace korvante
