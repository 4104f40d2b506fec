#pragma once
// Records of the catalogue: one recording file, one storage source offered to
// the user, one folder searched for the selected source. Strings are UTF-8 (the
// "wide" and "8-bit" forms of a name hold the same bytes).

#include <array>
#include <cstdint>
#include <string>

namespace korvante {

// A NUL-terminated 8-bit text of at most 63 bytes.
using Text64 = std::array<char, 64>;

// Copies `text` into a 64-byte field; false (field emptied) when it does not fit.
bool setText64(Text64 &field, const std::string &text);
inline std::string text64(const Text64 &field) { return std::string(field.data()); }

// 100 ns units since 1601-01-01 UTC.
using WindowsFileTime = uint64_t;
inline constexpr int64_t kUnixToWindowsSeconds = 11644473600LL;
// Seconds (and nanoseconds) since 1970-01-01 UTC to a Windows file time; times
// before 1601 become 0.
WindowsFileTime windowsFileTimeOf(int64_t unixSeconds, uint32_t nanoseconds = 0);

struct RecordingEntry {
    int32_t folderIndex = 0;    // configured folder it was found in; 0 for a picked folder
    int32_t cardFileId = -1;    // card library identifier; -1 on a plain file system
    Text64 cardName{};          // the card library's name; TAVO files only
    std::string name;           // the file name
    std::string path;           // plain: folder path + name; TAVO: the name alone
    WindowsFileTime created = 0;
    uint64_t sizeKiB = 0;       // whole KiB, remainder dropped
    // The file the scan found (plain files): st_dev and st_ino, 0 when
    // unknown. A repair writes only that file.
    uint64_t device = 0;
    uint64_t inode = 0;
    // Plain files: the exact size and the modification time (ns since 1970)
    // the scan saw, for caches keyed by them; 0 when unknown.
    uint64_t sizeBytes = 0;
    int64_t modifiedNs = 0;

    bool isCardFile() const { return cardFileId != -1; }
};

enum SourceKind : int32_t {
    SourceRemovable = 0, // removable drive with plain folders
    SourceTavo = 1,      // TAVO partition on a card
    SourceComputer = 2,  // folder picked on the computer
    SourceNone = 3,
};

struct StorageSource {
    int32_t driveIndex = 0;     // running drive number (3 for the first drive); unused for the computer entry
    std::string label;          // mount point with "/" (+ " (TAVO)"), or the computer caption
    Text64 devicePath{};        // the whole disk, /dev/<disk> below the system root
    int32_t kind = SourceRemovable;
};

struct ScannedFolder {
    std::string path;           // folder path with "/"; the card directory name for TAVO
    Text64 cardName{};
    int32_t count = 0;
};

// Criteria of a search: local time points in seconds and a speed in km/h.
struct SearchCriteria {
    int64_t start = 0;
    int64_t end = 0;
    float minSpeed = 0.0f;
};

inline constexpr float kMaxPlausibleSpeedKmh = 450.0f;

} // namespace korvante
