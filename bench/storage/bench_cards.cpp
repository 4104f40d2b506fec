#include "bench_cards.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace korvante::bench {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

void put(Bytes &b, const char *tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(tag[i]));
}
void put32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void set32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
}

// RIFF, a small header list and the movie list's header (sizes filled later).
Bytes head(uint32_t movieBytes)
{
    Bytes b;
    put(b, "RIFF");
    put32(b, 0);
    put(b, "AVI ");
    put(b, "LIST");
    put32(b, 4 + 180);
    put(b, "hdrl");
    b.resize(b.size() + 180, 0x11);
    put(b, "LIST");
    put32(b, 4 + movieBytes);
    put(b, "movi");
    return b;
}

void writeAt(int fd, uint64_t offset, const Bytes &b)
{
    if (pwrite(fd, b.data(), b.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(b.size()))
        throw std::runtime_error("write failed");
}

Bytes smallRecording(int32_t speed)
{
    Bytes b = head(0);
    const size_t movie = b.size() - 12;
    for (int i = 0; i < 6; ++i) {
        put(b, i % 2 ? "01wb" : "00dc");
        put32(b, 120);
        b.resize(b.size() + 120, 0x90);
    }
    set32(b, movie + 4, static_cast<uint32_t>(b.size() - movie - 8));
    put(b, "idx1");
    put32(b, 0);
    put(b, "JUNK");
    put32(b, 8);
    put(b, "MSPD");
    put32(b, static_cast<uint32_t>(speed));
    set32(b, 4, static_cast<uint32_t>(b.size() - 8));
    return b;
}

void writeFile(const fs::path &path, const Bytes &b)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

void writeFolderCard(const std::string &root, int pairs)
{
    static const char *folders[] = {"NOR", "EVT", "MOT", "MAN"};
    static const char *letters[] = {"N", "E", "P", "M"};
    for (const char *f : folders)
        fs::create_directories(fs::path(root) / f);
    const Bytes rec = smallRecording(77);
    for (int i = 0; i < pairs; ++i) {
        const int k = i % 4;
        const int t = 8 * 3600 + i * 5; // one recording every five seconds from 08:00
        const int day = 1 + t / 86400, s = t % 86400;
        char front[64], rear[64];
        const int r = s + i % 3;
        std::snprintf(front, sizeof front, "%s_201203%02d_%02d%02d%02d_2CH_F.avi", letters[k], day, s / 3600,
                      s / 60 % 60, s % 60);
        std::snprintf(rear, sizeof rear, "%s_201203%02d_%02d%02d%02d_2CH_R.avi", letters[k], day, r / 3600,
                      r / 60 % 60, r % 60);
        writeFile(fs::path(root) / folders[k] / front, rec);
        writeFile(fs::path(root) / folders[k] / rear, rec);
    }
}

void writeLargeRecordings(const std::string &folder, int count, uint64_t bytes)
{
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "N_20120305_%06d_1CH_F.avi", 100000 + i);
        const fs::path path = fs::path(folder) / name;
        Bytes tail;
        put(tail, "idx1");
        put32(tail, 1600);
        tail.resize(tail.size() + 1600, 0x22);
        put(tail, "JUNK");
        put32(tail, 8);
        put(tail, "MSPD");
        put32(tail, static_cast<uint32_t>(40 + i % 100));
        const uint64_t movieEnd = bytes - tail.size();
        Bytes h = head(0);
        const size_t movie = h.size() - 12;
        set32(h, movie + 4, static_cast<uint32_t>(movieEnd - movie - 8));
        put(h, "00dc");
        put32(h, static_cast<uint32_t>(movieEnd - h.size() - 4));
        set32(h, 4, static_cast<uint32_t>(bytes - 8));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            throw std::runtime_error("cannot create " + path.string());
        writeAt(fd, 0, h);
        writeAt(fd, movieEnd, tail); // the movie data between stays a hole
        ::close(fd);
    }
}

std::string writeUnfinished(const std::string &folder, uint64_t bytes)
{
    fs::create_directories(folder);
    const fs::path path = fs::path(folder) / "N_20120305_142233_1CH_F.avi";
    Bytes b = head(0);
    set32(b, 16, 0);
    set32(b, b.size() - 8, 0);
    uint32_t n = 0;
    while (b.size() < bytes / 2) {
        const uint32_t size = n % 3 == 2 ? 977 : 24001 + (n % 7) * 2;
        put(b, n % 3 == 2 ? "01wb" : "00dc");
        put32(b, size);
        b.resize(b.size() + size, static_cast<unsigned char>(0x80 + n % 64));
        if (size & 1)
            b.push_back(0);
        ++n;
    }
    put(b, "00dc");
    put32(b, 30000);
    b.resize(b.size() + 1000, 0x81); // cut 1000 bytes into the chunk
    b.resize(bytes, 0x5C);            // old bytes of an earlier recording
    writeFile(path, b);
    return path.string();
}

} // namespace korvante::bench
