// Writes the export fuzzer's seeds: the first recording of each folder of a
// card image made by korvante-mkcard, read out through the card library, each
// behind one block-size byte (the first a block of 64 bytes, the next 200).
//   export_fuzz_seeds <card image> <output folder>

#include "tavo/tavo.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <card image> <output folder>\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    if (VX_Tavo_Device_Open(argv[1], VX_TAVO_OPEN_MODE, device.data()) != 0) {
        std::fprintf(stderr, "%s: not a card image\n", argv[1]);
        return 1;
    }
    int written = 0;
    for (const char *dir : {"NOR", "EVT", "MOT", "MAN"}) {
        std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE, 0);
        const std::uint32_t capacity = VX_TAVO_LIST_CAPACITY;
        std::memcpy(list.data(), &capacity, 4);
        std::uint32_t cursor = 1;
        if (VX_Tavo_Get_FileList(device.data(), dir, &cursor, list.data(), 0) <= 0)
            continue;
        const unsigned char *first = list.data() + VX_TAVO_LIST_HEADER_SIZE;
        const std::string name(reinterpret_cast<const char *>(first));
        std::int32_t id = 0;
        std::memcpy(&id, first + VX_TAVO_RECORD_ID_OFFSET, 4);
        const std::string cardPath = std::string("/") + dir + "/" + name;
        const int handle = VX_Tavo_File_Open(device.data(), cardPath.c_str(), "r", 0, 0, id);
        if (handle < 1)
            continue;
        std::vector<unsigned char> bytes(1, static_cast<unsigned char>(written == 0 ? 63 : 199));
        unsigned char buffer[65536];
        int n;
        while ((n = VX_Tavo_File_Read(device.data(), buffer, sizeof buffer, handle)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        VX_Tavo_File_Close(device.data(), handle);
        const std::string out = std::string(argv[2]) + "/" + dir + ".rec";
        if (std::FILE *f = std::fopen(out.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
            ++written;
        }
    }
    VX_Tavo_Device_Close(device.data());
    return written > 0 ? 0 : 1;
}
