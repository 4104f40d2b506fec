// Writes the fuzzer's seed corpus: tiny but complete card images (a few KiB each) made by the
// card writer, so the fuzzer starts from inputs that pass every check.
//   tavo_fuzz_seeds <output folder>

#include "tavo/tavo_writer.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

bool makeSeed(const std::string &path, uint64_t totalBytes, uint32_t clusterBytes,
              const std::function<bool(tavo::CardWriter &)> &fill)
{
    tavo::CardLayout layout{totalBytes, 512, clusterBytes};
    layout.fatStartSector = 1;
    layout.alignSectors = 1;
    std::string error;
    auto writer = tavo::CardWriter::createImage(path, layout, &error);
    if (!writer || !fill(*writer) || !writer->finish(&error)) {
        std::fprintf(stderr, "%s: %s %s\n", path.c_str(), error.c_str(),
                     writer ? writer->lastError().c_str() : "");
        return false;
    }
    return true;
}

std::vector<unsigned char> bytes(size_t n, unsigned char seed)
{
    std::vector<unsigned char> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(seed + i * 7);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    bool ok = true;
    ok &= makeSeed(out + "/empty-dirs.img", 4096, 512, [](tavo::CardWriter &w) {
        return w.addDirectory("NOR") && w.addDirectory("EVT") && w.addDirectory("MOT") &&
               w.addDirectory("MAN");
    });
    ok &= makeSeed(out + "/three-files.img", 8192, 512, [](tavo::CardWriter &w) {
        const auto a = bytes(700, 1);
        return w.addDirectory("NOR") && w.addDirectory("EVT") &&
               w.addFile("NOR", "N_20240101_120000_2CH_F.tavo", 1704110400, a.data(), a.size()) &&
               w.addFile("NOR", "N_20240101_120100_1CH_F.tavo", 1704110460, a.data(), 100) &&
               w.addFile("EVT", "E_20240101_120200_2CH_F.tavo", 1704110520, nullptr, 0);
    });
    ok &= makeSeed(out + "/multi-cluster.img", 12288, 1024, [](tavo::CardWriter &w) {
        const auto a = bytes(5000, 3);
        return w.addDirectory("MAN") &&
               w.addFile("MAN", "M_20231231_235959_2CH_F.tavo", -1, a.data(), a.size());
    });
    ok &= makeSeed(out + "/many-entries.img", 16384, 512, [](tavo::CardWriter &w) {
        if (!w.addDirectory("NOR") || !w.addDirectory("MOT"))
            return false;
        for (int i = 0; i < 12; ++i) {
            const auto a = bytes(static_cast<size_t>(i * 37), static_cast<unsigned char>(i));
            if (!w.addFile(i % 3 ? "NOR" : "MOT", "P" + std::to_string(i), i, a.data(), a.size()))
                return false;
        }
        return true;
    });
    return ok ? 0 : 1;
}
