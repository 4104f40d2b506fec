#pragma once
// Finds the maximum speed (km/h) that the camera stores after a recording's
// index, in a "JUNK" chunk whose payload starts "MSPD" and a 32-bit value. The
// walk reads 64-byte windows and seeks over the header list, the movie list and
// the index, so a recording costs a handful of small reads. Any thread, one
// walk per FILE at a time.

#include <cstdint>
#include <cstdio>
#include <optional>

namespace korvante {

// Counts of one walk, for benchmarks and tests.
struct SpeedWalkStats {
    uint32_t reads = 0; // window reads issued
};

inline constexpr size_t kSpeedWindow = 64;

// `file` is open for reading (owned by the caller); `sizeKiB` is the size known
// from the catalogue, the read budget when the file does not start "RIFF".
// Returns the stored value, or none when the layout before the index is not the
// camera's or no marker is found within the budget.
std::optional<int32_t> findMaxSpeed(std::FILE *file, uint64_t sizeKiB, SpeedWalkStats *stats = nullptr);

} // namespace korvante
