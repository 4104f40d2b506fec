// tavo_bench make <image> <MiB>   writes a card image of that size, filled with recordings
// tavo_bench read <image>         reads every file through the C entry points in 5 MiB blocks
//                                 and prints the bytes read, the time and the rate

#include "tavo/tavo.h"
#include "tavo/tavo_writer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char *const kDirectories[] = {"NOR", "EVT", "MOT", "MAN"};

int makeImage(const std::string &path, uint64_t mib)
{
    std::string error;
    auto writer = tavo::CardWriter::createImage(
        path, tavo::CardLayout{mib << 20, 32u << 20, 65536}, &error);
    if (!writer) {
        std::fprintf(stderr, "tavo_bench: %s\n", error.c_str());
        return 1;
    }
    for (const char *dir : kDirectories)
        writer->addDirectory(dir);
    // Recordings of about 10 MB, sizes not cluster multiples, until the card is nearly full.
    std::vector<unsigned char> data(10'000'000 + 65536);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    int count = 0;
    for (;; ++count) {
        const size_t size = 10'000'000 + static_cast<size_t>(count % 7) * 9973;
        if (writer->freeBytes() < size)
            break;
        char name[64];
        std::snprintf(name, sizeof name, "N_20240101_%06d_2CH_F.tavo", count);
        data[0] = static_cast<unsigned char>(count);
        if (!writer->addFile(kDirectories[count % 4], name, 1704067200 + count * 60, data.data(),
                             size)) {
            std::fprintf(stderr, "tavo_bench: %s\n", writer->lastError().c_str());
            return 1;
        }
    }
    if (!writer->finish(&error)) {
        std::fprintf(stderr, "tavo_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d files written to %s\n", count, path.c_str());
    return 0;
}

int readImage(const std::string &path)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<unsigned char> block(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    if (VX_Tavo_Device_Open(path.c_str(), VX_TAVO_OPEN_MODE, block.data()) != 0) {
        std::fprintf(stderr, "tavo_bench: cannot open %s\n", path.c_str());
        return 1;
    }
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE);
    std::vector<unsigned char> buffer(VX_TAVO_READ_SIZE);
    uint64_t bytes = 0;
    int files = 0;
    for (const char *dir : kDirectories) {
        uint32_t cursor = 1;
        for (;;) {
            int64_t count = 0, total = 0;
            VX_Tavo_Get_Dir_Info(block.data(), dir, nullptr, &count, &total);
            list[0] = VX_TAVO_LIST_CAPACITY;
            const int n = VX_Tavo_Get_FileList(block.data(), dir, &cursor, list.data(), 0);
            if (n <= 0)
                break;
            for (int i = 0; i < n; ++i) {
                const unsigned char *r = list.data() + VX_TAVO_LIST_HEADER_SIZE +
                                         static_cast<size_t>(i) * VX_TAVO_LIST_RECORD_SIZE;
                int id = 0;
                std::memcpy(&id, r + VX_TAVO_RECORD_ID_OFFSET, 4);
                const std::string cardPath =
                    std::string("/") + dir + "/" + reinterpret_cast<const char *>(r);
                const int h = VX_Tavo_File_Open(block.data(), cardPath.c_str(), "r", 0, 0, id);
                if (h < 1) {
                    std::fprintf(stderr, "tavo_bench: cannot open %s\n", cardPath.c_str());
                    return 1;
                }
                int got;
                while ((got = VX_Tavo_File_Read(block.data(), buffer.data(), VX_TAVO_READ_SIZE,
                                                h)) > 0)
                    bytes += static_cast<uint64_t>(got);
                VX_Tavo_File_Close(block.data(), h);
                ++files;
            }
        }
    }
    VX_Tavo_Device_Close(block.data());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d files, %llu bytes in %.3f s, %.1f MB/s\n", files,
                static_cast<unsigned long long>(bytes), seconds, bytes / seconds / 1e6);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return makeImage(argv[2], std::strtoull(argv[3], nullptr, 10));
    if (argc == 3 && std::strcmp(argv[1], "read") == 0)
        return readImage(argv[2]);
    std::fprintf(stderr, "usage: %s make <image> <MiB> | read <image>\n", argv[0]);
    return 2;
}
