// Treats the input as a recording file and runs the repair and the maximum-speed
// walk on it. Findings: a crash or sanitizer report, a repair that changes the
// file's length, a byte before its zero-fill start (other than the RIFF header)
// or leaves a non-zero byte after it, a refused repair that writes anything, and
// a speed walk that reads more windows than its budget allows.

#include "core/recording/max_speed.h"
#include "core/storage/recording_repair.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::FILE *memoryFile(const uint8_t *data, size_t size, const char *mode)
{
    const int fd = memfd_create("storage_fuzz", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    if (size && write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    std::FILE *f = fdopen(fd, mode);
    if (!f)
        std::abort();
    return f;
}

std::vector<uint8_t> contents(std::FILE *f)
{
    std::fflush(f);
    std::vector<uint8_t> out;
    if (fseeko(f, 0, SEEK_SET) != 0)
        std::abort();
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    return out;
}

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "storage_fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        std::FILE *f = memoryFile(data, size, "rb+");
        bool failed = false;
        const korvante::RepairPlan plan = korvante::repair(f, &failed);
        check(!failed, "repair failed to write to a memory file");
        const std::vector<uint8_t> after = contents(f);
        std::fclose(f);
        check(after.size() == size, "repair changed the length");
        if (!plan.repairable) {
            check(size == 0 || std::memcmp(after.data(), data, size) == 0, "a refused repair wrote");
        } else {
            check(plan.zeroFillStart >= 8 && plan.zeroFillStart <= size, "zero fill outside the file");
            check(plan.zeroFillStart + plan.zeroFillLength == size, "zero fill does not reach the end");
            check(std::memcmp(after.data(), "RIFF", 4) == 0, "no RIFF tag after repair");
            check(std::memcmp(after.data() + 8, data + 8, plan.zeroFillStart - 8) == 0,
                  "a byte before the zero fill changed");
            for (size_t i = plan.zeroFillStart; i < size; ++i)
                check(after[i] == 0, "a byte after the zero-fill start is not zero");
        }
    }
    {
        std::FILE *f = memoryFile(data, size, "rb");
        // Both budgets: the file's own size and a size the catalogue might hold.
        for (uint64_t sizeKiB : {static_cast<uint64_t>(size / 1024), uint64_t{1} << 20}) {
            korvante::SpeedWalkStats stats;
            const auto value = korvante::findMaxSpeed(f, sizeKiB, &stats);
            (void)value;
            const uint64_t windows = (size + korvante::kSpeedWindow - 1) / korvante::kSpeedWindow;
            check(stats.reads <= windows + 5, "speed walk read more windows than the file has");
        }
        std::fclose(f);
    }
    return 0;
}
