// Treats the input as a whole card image and drives the reader the way the viewer does:
// probe, open, list every directory page by page, open and read every file to its end, plus
// random reads and wrong identifiers. Any read outside the image or any crash is a finding.

#include "tavo/card_volume.h"
#include "tavo/tavo.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// One in-memory file reused for every input; the library opens it by path like a disk.
const std::string &imagePath()
{
    static const std::string path = [] {
        const int fd = memfd_create("tavo-fuzz", 0);
        if (fd < 0)
            __builtin_trap();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void writeImage(const uint8_t *data, size_t size)
{
    const int fd = std::stoi(imagePath().substr(std::strlen("/proc/self/fd/")));
    if (ftruncate(fd, 0) != 0)
        __builtin_trap();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            __builtin_trap();
        done += static_cast<size_t>(n);
    }
}

void readFile(unsigned char *block, const std::string &dir, const std::string &name, int id,
              uint32_t size)
{
    static std::vector<unsigned char> buffer(VX_TAVO_READ_SIZE);
    const std::string path = "/" + dir + "/" + name;
    const int handle = VX_Tavo_File_Open(block, path.c_str(), "r", 0, 0, id);
    if (handle < 1)
        __builtin_trap();   // a listed file must open
    uint64_t total = 0;
    for (int i = 0; i < 2000; ++i) {
        const int n = VX_Tavo_File_Read(block, buffer.data(), VX_TAVO_READ_SIZE, handle);
        if (n <= 0)
            break;
        total += static_cast<uint64_t>(n);
    }
    if (total > size)
        __builtin_trap();   // reads stop at the size
    int64_t length = -1;
    VX_Tavo_File_Size(block, handle, &length);
    VX_Tavo_File_ReadAt(block, handle, length / 2, buffer.data(), 4096);
    VX_Tavo_File_ReadAt(block, handle, length, buffer.data(), 4096);
    VX_Tavo_File_Close(block, handle);
    // The name and the identifier must both match: names are unique in a directory.
    const int otherId = id == INT32_MAX ? 1 : id + 1;
    if (VX_Tavo_File_Open(block, path.c_str(), "r", 0, 0, otherId) >= 1 ||
        VX_Tavo_File_Open(block, (path + "x").c_str(), "r", 0, 0, id) >= 1)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeImage(data, size);
    const char *path = imagePath().c_str();
    VX_Tavo_Check_Tavo_partition(path);
    unsigned char info[VX_TAVO_MASTER_INFO_SIZE];
    VX_Tavo_Get_Master_Device_Info(path, info);

    // Directory names come from the reader's own view; the C interface cannot enumerate them.
    std::vector<std::string> dirs = {"NOR", "EVT", "MOT", "MAN"};
    std::unique_ptr<tavo::CardVolume> volume;
    if (tavo::CardVolume::open(path, &volume, nullptr) == VX_TAVO_OK)
        for (const auto &d : volume->directories())
            dirs.push_back(d.name);

    unsigned char block[VX_TAVO_DEVICE_BLOCK_SIZE] = {};
    if (VX_Tavo_Device_Open(path, VX_TAVO_OPEN_MODE, block) != VX_TAVO_OK) {
        if (volume)
            __builtin_trap();   // both ways of opening must agree
        return 0;
    }
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE);
    for (const std::string &dir : dirs) {
        uint32_t cursor = 1;
        for (int page = 0; page < 100000; ++page) {
            int64_t count = 0, bytes = 0;
            VX_Tavo_Get_Dir_Info(block, dir.c_str(), nullptr, &count, &bytes);
            list[0] = VX_TAVO_LIST_CAPACITY;
            list[1] = list[2] = list[3] = 0;
            const int n = VX_Tavo_Get_FileList(block, dir.c_str(), &cursor, list.data(), 0);
            if (n <= 0)
                break;
            if (n > VX_TAVO_LIST_CAPACITY)
                __builtin_trap();
            for (int i = 0; i < n; ++i) {
                const unsigned char *r = list.data() + VX_TAVO_LIST_HEADER_SIZE +
                                         static_cast<size_t>(i) * VX_TAVO_LIST_RECORD_SIZE;
                const std::string name(reinterpret_cast<const char *>(r),
                                       strnlen(reinterpret_cast<const char *>(r), 64));
                int id;
                uint32_t fileSize;
                std::memcpy(&id, r + VX_TAVO_RECORD_ID_OFFSET, 4);
                std::memcpy(&fileSize, r + VX_TAVO_RECORD_SIZE_OFFSET, 4);
                readFile(block, dir, name, id, fileSize);
            }
        }
    }
    VX_Tavo_Device_Close(block);
    return 0;
}
