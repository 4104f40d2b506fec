#include "core/device/card_usage.h"

#include "core/platform/log.h"
#include "core/recording/byte_reader.h"
#include "core/recording/header_list.h"
#include "core/storage/storage_discovery.h"
#include "tavo/tavo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace korvante {

namespace {

namespace fs = std::filesystem;

constexpr std::array<CardFolder, 4> kFolders{{
    {"NOR", "NORMAL", 40, 80, 40, "driving"},
    {"EVT", "EVENT", 20, 40, 20, "events"},
    {"MOT", "PARKING", 10, 40, 20, "parking"},
    {"MAN", "MANUAL", 10, 40, 20, "manual recordings"},
}};

constexpr size_t kHeaderBytes = 256;
constexpr double kMiB = 1024.0 * 1024.0;

using recording::le32;
using recording::le64;

std::vector<std::string> splitFields(const std::string &name)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t next = name.find('_', start);
        fields.push_back(name.substr(start, next - start));
        if (next == std::string::npos)
            return fields;
        start = next + 1;
    }
}

void addFile(FolderScan &scan, char kind, const std::string &name, double bytes, double seconds)
{
    if (kind == 'F' || kind == 'T') {
        ++scan.frontFiles;
        if (kind == 'T' && splitFields(name)[3] == "2CH")
            ++scan.rearFiles;
        if (seconds > 0) {
            scan.frontBytes += bytes;
            scan.frontSeconds += seconds;
            ++scan.measuredFronts;
        }
    } else if (kind == 'R') {
        ++scan.rearFiles;
        if (seconds > 0) {
            scan.rearBytes += bytes;
            scan.rearSeconds += seconds;
        }
    }
}

// The partition's recordings of a TAVO card, through the card library.
void scanTavoFolder(const FormatterDrive &drive, const std::string &folder, FolderScan &scan)
{
    std::vector<unsigned char> block(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    if (VX_Tavo_Device_Open(drive.devicePath.c_str(), VX_TAVO_OPEN_MODE, block.data()) != VX_TAVO_OK)
        return;
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE, 0);
    uint32_t cursor = 1;
    for (;;) {
        const uint32_t capacity = VX_TAVO_LIST_CAPACITY;
        std::memcpy(list.data(), &capacity, sizeof capacity);
        const int count = VX_Tavo_Get_FileList(block.data(), folder.c_str(), &cursor, list.data(), 0);
        if (count <= 0)
            break;
        for (int i = 0; i < count; ++i) {
            const unsigned char *record = list.data() + VX_TAVO_LIST_HEADER_SIZE + i * VX_TAVO_LIST_RECORD_SIZE;
            const std::string name(reinterpret_cast<const char *>(record),
                                   strnlen(reinterpret_cast<const char *>(record), VX_TAVO_RECORD_NAME_SIZE));
            const char kind = classifyRecordingName(name);
            if (kind != 'T')
                continue;
            const int id = static_cast<int>(le32(record + VX_TAVO_RECORD_ID_OFFSET));
            const double bytes = le32(record + VX_TAVO_RECORD_SIZE_OFFSET);
            double seconds = 0;
            const std::string path = "/" + folder + "/" + name;
            const int handle = VX_Tavo_File_Open(block.data(), path.c_str(), "r", 0, 0, id);
            if (handle >= 1) {
                unsigned char header[kHeaderBytes] = {};
                const int got = VX_Tavo_File_ReadAt(block.data(), handle, 0, header, sizeof header);
                if (got > 0)
                    seconds = recording::firstVideoSeconds(header, static_cast<size_t>(got));
                VX_Tavo_File_Close(block.data(), handle);
            }
            addFile(scan, kind, name, bytes, seconds);
        }
    }
    VX_Tavo_Device_Close(block.data());
}

} // namespace

const std::array<CardFolder, 4> &cardFolders() { return kFolders; }

std::vector<FormatterDrive> listFormatterDrives(const std::string &sysRoot)
{
    std::vector<FormatterDrive> drives;
    int32_t driveIndex = 3;
    for (const MountedVolume &volume : listRemovableVolumes(sysRoot)) {
        FormatterDrive drive;
        drive.driveIndex = driveIndex++;
        drive.root = volume.mountPoint;
        drive.label = volume.mountPoint;
        drive.devicePath = volume.devicePath;
        drive.disk = volume.disk;
        drive.partition = volume.partition;
        std::string why;
        if (openDiskForReading(sysRoot, volume, &why) != DiskAccess::None) {
            if (VX_Tavo_Check_Tavo_partition(drive.devicePath.c_str()) != 0) {
                drive.kind = 1;
                drive.label += " (TAVO)";
            }
            unsigned char info[VX_TAVO_MASTER_INFO_SIZE] = {};
            if (VX_Tavo_Get_Master_Device_Info(drive.devicePath.c_str(), info) == VX_TAVO_OK) {
                const uint32_t sectors = le32(info + VX_TAVO_INFO_SECTOR_COUNT_OFFSET);
                // The 32-bit count saturates on disks above 2 TiB; the byte
                // count beside it does not.
                drive.capacityKiB = sectors != 0xFFFFFFFFu ? uint64_t(sectors) * 512 / 1024
                                                           : le64(info + VX_TAVO_INFO_DISK_BYTES_OFFSET) / 1024;
            }
        } else {
            logWarning(volume.mountPoint + ": its disk cannot be read, the capacity comes from the system; " + why);
        }
        if (drive.capacityKiB == 0) {
            std::ifstream size(fs::path(sysRoot) / "sys/block" / volume.disk / "size");
            uint64_t sectors = 0;
            if (size >> sectors)
                drive.capacityKiB = sectors * 512 / 1024;
        }
        drives.push_back(std::move(drive));
    }
    return drives;
}

std::string formatterLineOf(const FormatterDrive &drive)
{
    std::string line = drive.label;
    if (const size_t at = line.find("(TAVO)"); at != std::string::npos)
        line.erase(at, 6);
    return line;
}

std::string capacityLineOf(const std::string &root, uint32_t capacityMB)
{
    char text[64];
    std::snprintf(text, sizeof text, " (%.2f GB) storage selected", capacityMB / 1024.0);
    return root + text;
}

char classifyRecordingName(const std::string &name)
{
    const std::vector<std::string> fields = splitFields(name);
    if (fields.size() < 5)
        return 0;
    if (fields[4] == "F.avi")
        return 'F';
    if (fields[4] == "R.avi")
        return 'R';
    if (fields[4] == "F.tavo")
        return 'T';
    return 0;
}

FolderScan scanCardFolder(const FormatterDrive &drive, const std::string &folder)
{
    FolderScan scan;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(fs::path(drive.root) / folder, ec)) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError))
            continue;
        const std::string name = entry.path().filename().string();
        const char kind = classifyRecordingName(name);
        if (kind != 'F' && kind != 'R')
            continue;
        unsigned char header[kHeaderBytes] = {};
        std::ifstream in(entry.path(), std::ios::binary);
        in.read(reinterpret_cast<char *>(header), sizeof header);
        const double seconds = recording::firstVideoSeconds(header, static_cast<size_t>(in.gcount()));
        std::error_code sizeError;
        const auto bytes = entry.file_size(sizeError);
        addFile(scan, kind, name, sizeError ? 0.0 : double(bytes), seconds);
    }
    if (drive.kind == 1)
        scanTavoFolder(drive, folder, scan);
    return scan;
}

FolderUsage folderUsage(uint32_t capacityMB, const CardFolder &folder, const FolderScan &scan)
{
    FolderUsage usage;
    usage.allottedMB = static_cast<int>(uint64_t(capacityMB) * folder.sharePercent / 100);
    const double allotted = usage.allottedMB;
    usage.freeMB = allotted - double(scan.frontFiles) * folder.frontMB - double(scan.rearFiles) * folder.rearMB;
    usage.usedMB = static_cast<int>(allotted - usage.freeMB);
    char text[96];
    std::snprintf(text, sizeof text, "Total: %d MB / Used: %d MB", usage.allottedMB, usage.usedMB);
    usage.usageText = text;
    usage.percent = allotted == 0 ? 0 : (allotted - usage.freeMB) * (100 / allotted);
    if (usage.percent < 0)
        usage.percent = 0;
    std::snprintf(text, sizeof text, "%3.1f%% used", usage.percent);
    usage.percentText = text;
    // A bar counts in 16 bits: a larger share is shown in steps of 2, 4 ... MB.
    int step = 1;
    while (usage.allottedMB / step > 65535)
        step *= 2;
    usage.barRange = usage.allottedMB / step;
    const double position = std::clamp(allotted - usage.freeMB, 0.0, allotted);
    usage.barPosition = static_cast<int>(position / step);
    return usage;
}

std::string formatDuration(double seconds)
{
    const long minutes = std::lround(seconds / 60);
    char text[64];
    if (minutes < 60)
        std::snprintf(text, sizeof text, "%ld min", minutes);
    else if (minutes < 48 * 60)
        std::snprintf(text, sizeof text, "%ld h %ld min", minutes / 60, minutes % 60);
    else
        std::snprintf(text, sizeof text, "%ld days %ld h", minutes / 1440, minutes % 1440 / 60);
    return text;
}

RetentionForecast retentionForecast(int allottedMB, const CardFolder &folder, const FolderScan &scan,
                                    double cardRecordingSeconds)
{
    RetentionForecast forecast;
    // Bytes the camera writes per second of recording in this folder: its
    // front files' measured rate, plus the rear files' where there are any.
    double rate = 0;
    if (scan.frontSeconds > 0) {
        rate = scan.frontBytes / scan.frontSeconds;
        if (scan.rearSeconds > 0)
            rate += scan.rearBytes / scan.rearSeconds;
    } else {
        const double length = cardRecordingSeconds > 0 ? cardRecordingSeconds : 60.0;
        rate = (folder.frontMB + folder.rearMB) * kMiB / length;
        forecast.estimated = true;
    }
    if (allottedMB <= 0 || rate <= 0) {
        forecast.text = "no space for recordings";
        return forecast;
    }
    forecast.seconds = allottedMB * kMiB / rate;
    forecast.text = "keeps \u2248 " + formatDuration(forecast.seconds) + " of " + folder.kindOfRecording
                    + (forecast.estimated ? " (estimate)" : "");
    return forecast;
}

} // namespace korvante
