// The C entry points: argument checks and translation to CardVolume and the device registry.

#include "tavo.h"

#include "byte_order.h"
#include "card_volume.h"
#include "device_registry.h"
#include "disk_file.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

using namespace tavo;

namespace {

// A caller's NUL-terminated text of at most `limit` bytes before the NUL; nullopt otherwise.
std::optional<std::string_view> textArg(const char *text, size_t limit)
{
    if (!text)
        return std::nullopt;
    const size_t n = strnlen(text, limit + 1);
    if (n > limit)
        return std::nullopt;
    return std::string_view(text, n);
}

constexpr size_t kMaxDevicePath = 4096;

int32_t clampTime(int64_t t)
{
    return static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX));
}

// Start and Stop pair up per user of the library (each catalogue starts it once); the last
// Stop closes whatever is still open, so one user's Stop never closes another user's devices.
std::mutex g_startMutex;
int g_startCount = 0;

} // namespace

extern "C" {

int VX_Tavo_Start(void)
{
    std::lock_guard lock(g_startMutex);
    ++g_startCount;
    return VX_TAVO_OK;
}

int VX_Tavo_Stop(void)
{
    std::lock_guard lock(g_startMutex);
    if (g_startCount > 0)
        --g_startCount;
    if (g_startCount == 0)
        unregisterAllDevices();
    return VX_TAVO_OK;
}

int VX_Tavo_Check_Tavo_partition(const char *devicePath)
{
    const auto path = textArg(devicePath, kMaxDevicePath);
    if (!path)
        return 0;
    DiskProbe probe;
    if (probeDisk(std::string(*path), &probe) != VX_TAVO_OK)
        return 0;
    return probe.tavoValid ? 1 : 0;
}

int VX_Tavo_Get_Master_Device_Info(const char *devicePath, unsigned char *info)
{
    if (!info)
        return VX_TAVO_ERR_ARGUMENT;
    std::memset(info, 0, VX_TAVO_MASTER_INFO_SIZE);
    const auto path = textArg(devicePath, kMaxDevicePath);
    if (!path)
        return VX_TAVO_ERR_ARGUMENT;
    DiskProbe probe;
    if (const int rc = probeDisk(std::string(*path), &probe); rc != VX_TAVO_OK)
        return rc;
    const uint64_t sectors = probe.diskBytes / kSectorBytes;
    storeLe32(info + VX_TAVO_INFO_VERSION_OFFSET, 1);
    storeLe32(info + VX_TAVO_INFO_SECTOR_SIZE_OFFSET, kSectorBytes);
    storeLe32(info + VX_TAVO_INFO_FLAGS_OFFSET, probe.tavoValid ? 1u : 0u);
    storeLe32(info + VX_TAVO_INFO_SECTOR_COUNT_OFFSET,
              static_cast<uint32_t>(std::min<uint64_t>(sectors, 0xFFFFFFFFu)));
    storeLe64(info + VX_TAVO_INFO_DISK_BYTES_OFFSET, probe.diskBytes);
    if (probe.fat) {
        storeLe64(info + VX_TAVO_INFO_FAT_OFFSET_OFFSET,
                  uint64_t{probe.fat->firstSector} * kSectorBytes);
        storeLe64(info + VX_TAVO_INFO_FAT_BYTES_OFFSET,
                  uint64_t{probe.fat->sectorCount} * kSectorBytes);
    }
    if (probe.tavo) {
        storeLe64(info + VX_TAVO_INFO_TAVO_OFFSET_OFFSET,
                  uint64_t{probe.tavo->firstSector} * kSectorBytes);
        storeLe64(info + VX_TAVO_INFO_TAVO_BYTES_OFFSET,
                  uint64_t{probe.tavo->sectorCount} * kSectorBytes);
    }
    return VX_TAVO_OK;
}

int VX_Tavo_Attach_Descriptor(const char *devicePath, int fd)
{
    const auto path = textArg(devicePath, kMaxDevicePath);
    if (!path || path->empty())
        return VX_TAVO_ERR_ARGUMENT;
    return DiskFile::attachDescriptor(std::string(*path), fd, nullptr) ? VX_TAVO_OK : VX_TAVO_ERR_IO;
}

int VX_Tavo_Detach_Descriptor(const char *devicePath)
{
    const auto path = textArg(devicePath, kMaxDevicePath);
    if (!path)
        return VX_TAVO_ERR_ARGUMENT;
    return DiskFile::detachDescriptor(std::string(*path)) ? VX_TAVO_OK : VX_TAVO_ERR_NOT_FOUND;
}

int VX_Tavo_Device_Open(const char *devicePath, int /*mode*/, unsigned char *deviceBlock)
{
    const auto path = textArg(devicePath, kMaxDevicePath);
    if (!path || !deviceBlock)
        return VX_TAVO_ERR_ARGUMENT;
    if (findDevice(deviceBlock))
        return VX_TAVO_ERR_ARGUMENT;   // refuse to forget a device that is still open
    std::unique_ptr<CardVolume> volume;
    if (const int rc = CardVolume::open(std::string(*path), &volume, nullptr); rc != VX_TAVO_OK)
        return rc;
    return registerDevice(deviceBlock, std::move(volume));
}

int VX_Tavo_Device_Close(unsigned char *deviceBlock)
{
    return unregisterDevice(deviceBlock) ? VX_TAVO_OK : VX_TAVO_ERR_ARGUMENT;
}

int VX_Tavo_Get_Dir_Info(unsigned char *deviceBlock, const char *dirName, unsigned char *info,
                         int64_t *fileCount, int64_t *totalBytes)
{
    const auto device = findDevice(deviceBlock);
    const auto name = textArg(dirName, kMaxDirNameBytes);
    if (!device || !name)
        return VX_TAVO_ERR_ARGUMENT;
    const CardVolume &volume = device->volume();
    const auto dir = volume.findDirectory(*name);
    if (!dir)
        return VX_TAVO_ERR_NOT_FOUND;
    uint64_t bytes = 0;
    int64_t oldest = 0;
    int64_t newest = 0;
    const auto &indexes = volume.filesInDirectory(*dir);
    for (size_t i = 0; i < indexes.size(); ++i) {
        const FileEntry &f = volume.files()[indexes[i]];
        bytes += f.size;
        oldest = i == 0 ? f.time : std::min(oldest, f.time);
        newest = i == 0 ? f.time : std::max(newest, f.time);
    }
    if (info) {
        std::memset(info, 0, VX_TAVO_DIR_INFO_SIZE);
        storeLe32(info + VX_TAVO_DIRINFO_FILE_COUNT_OFFSET, static_cast<uint32_t>(indexes.size()));
        storeLe64(info + VX_TAVO_DIRINFO_TOTAL_BYTES_OFFSET, bytes);
        storeLe64(info + VX_TAVO_DIRINFO_OLDEST_OFFSET, static_cast<uint64_t>(oldest));
        storeLe64(info + VX_TAVO_DIRINFO_NEWEST_OFFSET, static_cast<uint64_t>(newest));
    }
    if (fileCount)
        *fileCount = static_cast<int64_t>(indexes.size());
    if (totalBytes)
        *totalBytes = static_cast<int64_t>(bytes);
    return VX_TAVO_OK;
}

int VX_Tavo_Get_FileList(unsigned char *deviceBlock, const char *dirName, uint32_t *cursor,
                         unsigned char *listBuffer, int /*reserved*/)
{
    const auto device = findDevice(deviceBlock);
    const auto name = textArg(dirName, kMaxDirNameBytes);
    if (!device || !name || !cursor || !listBuffer || *cursor == 0)
        return VX_TAVO_ERR_ARGUMENT;
    // The buffer is sized for 30 records; a larger capacity word cannot be trusted.
    const uint32_t capacity =
        std::min<uint32_t>(loadLe32(listBuffer), VX_TAVO_LIST_CAPACITY);
    if (capacity == 0)
        return VX_TAVO_ERR_ARGUMENT;
    const CardVolume &volume = device->volume();
    const auto dir = volume.findDirectory(*name);
    if (!dir)
        return VX_TAVO_ERR_NOT_FOUND;
    const auto &indexes = volume.filesInDirectory(*dir);
    const uint64_t first = uint64_t{*cursor} - 1;
    if (first >= indexes.size())
        return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(capacity, indexes.size() - first));
    for (size_t i = 0; i < n; ++i) {
        const FileEntry &f = volume.files()[indexes[first + i]];
        unsigned char *record =
            listBuffer + VX_TAVO_LIST_HEADER_SIZE + i * VX_TAVO_LIST_RECORD_SIZE;
        std::memset(record, 0, VX_TAVO_LIST_RECORD_SIZE);
        std::memcpy(record + VX_TAVO_RECORD_NAME_OFFSET, f.name.data(), f.name.size());
        storeLe32(record + VX_TAVO_RECORD_ID_OFFSET, f.fileId);
        storeLe32(record + VX_TAVO_RECORD_SIZE_OFFSET, static_cast<uint32_t>(f.size));
        storeLe32(record + VX_TAVO_RECORD_TIME_OFFSET, static_cast<uint32_t>(clampTime(f.time)));
    }
    *cursor = static_cast<uint32_t>(first + n + 1);
    return static_cast<int>(n);
}

int VX_Tavo_File_Open(unsigned char *deviceBlock, const char *path, const char *mode,
                      int /*reserved1*/, int /*reserved2*/, int fileId)
{
    const auto device = findDevice(deviceBlock);
    const auto text = textArg(path, VX_TAVO_PATH_MAX - 1);
    const auto modeText = textArg(mode, 2);
    if (!device || !text || !modeText || *modeText != "r" || fileId < 1)
        return VX_TAVO_ERR_ARGUMENT;
    // "/DIR/NAME": exactly two components.
    if (text->size() < 4 || (*text)[0] != '/')
        return VX_TAVO_ERR_NOT_FOUND;
    const size_t slash = text->find('/', 1);
    if (slash == std::string_view::npos)
        return VX_TAVO_ERR_NOT_FOUND;
    const std::string_view dirName = text->substr(1, slash - 1);
    const std::string_view fileName = text->substr(slash + 1);
    const CardVolume &volume = device->volume();
    const auto index = volume.findFileById(static_cast<uint32_t>(fileId));
    if (!index)
        return VX_TAVO_ERR_NOT_FOUND;
    const FileEntry &f = volume.files()[*index];
    if (f.name != fileName || volume.directories()[f.dirIndex].name != dirName)
        return VX_TAVO_ERR_NOT_FOUND;
    return device->openFile(static_cast<uint32_t>(*index));
}

int VX_Tavo_File_Read(unsigned char *deviceBlock, unsigned char *buffer, int size, int handle)
{
    const auto device = findDevice(deviceBlock);
    if (!device || !buffer || size < 0)
        return VX_TAVO_ERR_ARGUMENT;
    const auto h = device->handle(handle);
    if (!h)
        return VX_TAVO_ERR_ARGUMENT;
    const FileEntry &f = device->volume().files()[h->fileIndex];
    const int64_t n = device->volume().read(f, h->position, buffer, static_cast<size_t>(size));
    if (n < 0)
        return VX_TAVO_ERR_IO;
    device->setPosition(handle, h->position + static_cast<uint64_t>(n));
    return static_cast<int>(n);
}

int VX_Tavo_File_Close(unsigned char *deviceBlock, int handle)
{
    const auto device = findDevice(deviceBlock);
    if (!device || !device->closeFile(handle))
        return VX_TAVO_ERR_ARGUMENT;
    return VX_TAVO_OK;
}

int VX_Tavo_File_ReadAt(unsigned char *deviceBlock, int handle, int64_t offset,
                        unsigned char *buffer, int size)
{
    const auto device = findDevice(deviceBlock);
    if (!device || !buffer || size < 0 || offset < 0)
        return VX_TAVO_ERR_ARGUMENT;
    const auto h = device->handle(handle);
    if (!h)
        return VX_TAVO_ERR_ARGUMENT;
    const FileEntry &f = device->volume().files()[h->fileIndex];
    const int64_t n = device->volume().read(f, static_cast<uint64_t>(offset), buffer,
                                            static_cast<size_t>(size));
    return n < 0 ? VX_TAVO_ERR_IO : static_cast<int>(n);
}

int VX_Tavo_File_Size(unsigned char *deviceBlock, int handle, int64_t *size)
{
    const auto device = findDevice(deviceBlock);
    if (!device || !size)
        return VX_TAVO_ERR_ARGUMENT;
    const auto h = device->handle(handle);
    if (!h)
        return VX_TAVO_ERR_ARGUMENT;
    *size = static_cast<int64_t>(device->volume().files()[h->fileIndex].size);
    return VX_TAVO_OK;
}

int VX_Tavo_File_Seek(unsigned char *deviceBlock, int handle, int64_t offset)
{
    const auto device = findDevice(deviceBlock);
    if (!device || offset < 0)
        return VX_TAVO_ERR_ARGUMENT;
    const auto h = device->handle(handle);
    if (!h)
        return VX_TAVO_ERR_ARGUMENT;
    if (static_cast<uint64_t>(offset) > device->volume().files()[h->fileIndex].size)
        return VX_TAVO_ERR_ARGUMENT;
    return device->setPosition(handle, static_cast<uint64_t>(offset)) ? VX_TAVO_OK
                                                                      : VX_TAVO_ERR_ARGUMENT;
}

} // extern "C"
