#pragma once
// The two forms of a sample card: a folder tree (NOR, EVT, MOT, MAN and
// SETUP/setup.ini) and a card image (MBR, FAT32 partition holding
// SETUP/setup.ini, TAVO partition holding the recordings).

#include "mkcard/byte_buffer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mkcard {

inline const char *const kRecordingFolders[] = {"NOR", "EVT", "MOT", "MAN"};

// The camera's settings file with its fifteen keys at their defaults, one
// "KEY=value" line each, CR LF line ends.
std::string setupIniText();

// Writes into `folder` (created when missing). Files are written under a
// temporary name and renamed, so an interrupted run leaves no half file
// under a recording's name.
class FolderCard final {
public:
    static std::unique_ptr<FolderCard> create(const std::string &folder, int64_t setupUnixTime, std::string *error);
    bool addFile(const std::string &subfolder, const std::string &name, const Bytes &data, int64_t unixTime,
                 std::string *error);

private:
    explicit FolderCard(std::string folder) : m_folder(std::move(folder)) {}
    std::string m_folder;
};

struct CardImageFile {
    std::string directory; // NOR, EVT, MOT or MAN
    std::string name;
    int64_t unixTime = 0;
    std::string stagedPath; // where the bytes wait until the image is written
    uint64_t size = 0;
};

// Holds the card-partition files on disk, in a temporary folder beside the
// image, until the image is written, so a large card never sits in memory.
// The folder goes with the object.
class CardImageStage final {
public:
    static std::unique_ptr<CardImageStage> create(const std::string &imagePath, std::string *error);
    ~CardImageStage();
    CardImageStage(const CardImageStage &) = delete;
    CardImageStage &operator=(const CardImageStage &) = delete;

    bool add(const std::string &directory, const std::string &name, int64_t unixTime, const Bytes &data,
             std::string *error);
    const std::vector<CardImageFile> &files() const { return m_files; }

private:
    explicit CardImageStage(std::string folder) : m_folder(std::move(folder)) {}
    std::string m_folder;
    std::vector<CardImageFile> m_files;
};

// Size in MiB that holds these files plus the FAT partition and slack.
uint64_t defaultImageMib(const std::vector<CardImageFile> &files);

inline constexpr uint64_t kFatPartitionMib = 48;
inline constexpr uint32_t kCardClusterBytes = 32768;

// Writes the whole image: TAVO partition through the card library's writer,
// FAT32 formatted with mkfs.vfat at its offset, SETUP/setup.ini copied in with
// mtools (no mounting, so it works for any user). `setupLocalTime` is the
// camera-clock time stamp of the settings file; `volumeId` seeds the FAT.
bool writeCardImage(const std::string &path, uint64_t imageMib, const std::vector<CardImageFile> &files,
                    int64_t setupLocalTime, uint32_t volumeId, std::string *error);

// Absolute path of a helper program (searched in PATH, then /usr/sbin and
// /sbin, where mkfs.vfat lives), or empty when it is not installed.
std::string findProgram(const std::string &name);

} // namespace mkcard
