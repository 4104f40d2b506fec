#pragma once
// The header side of the export walk (export_walk.h): the values written back
// into the fields of the header list (core/recording/header_list.h) that an
// unfinished recording leaves at zero. Internal to the export; kept apart so
// that the arithmetic can be checked on its own.

#include "core/recording/header_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace korvante::export_detail {

using recording::AviHeader;
using recording::ChunkClass;

struct StreamTotal {
    uint32_t chunks = 0;
    uint64_t bytes = 0;
    uint32_t largest = 0;
};

struct StreamTotals {
    StreamTotal front, rear, audio, text;
    void add(ChunkClass cls, uint32_t size);
};

struct Rates {
    uint32_t front = 0, rear = 0, text = 0;
};

// The rate correction of a two-channel recording with a metadata stream: each
// stream's rate is moved so that its chunk count fits the length that the
// video chunks give, in 32-bit integer steps with truncating division. None
// when a rate is below 1000 (or 0) or a result would not be a positive 32-bit
// rate.
std::optional<Rates> correctRates(const Rates &rates, uint32_t frontChunks, uint32_t rearChunks,
                                  uint32_t textChunks);

// The (file offset, value) pairs written into a rebuilt recording whose kept
// bytes end at `kept` and are followed by an index of `indexLength` bytes.
std::vector<std::pair<uint64_t, uint32_t>> headerPatches(const AviHeader &header, const StreamTotals &totals,
                                                         uint64_t kept, uint64_t indexLength);

} // namespace korvante::export_detail
