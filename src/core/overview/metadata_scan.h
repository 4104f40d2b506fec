#pragma once
// Reads what the overview needs of one recording, never its video: the
// length, the G-sensor samples and the GPS fixes. A finished recording costs
// its header list, its idx1 index and the metadata chunks the index points
// at, each read on its own; a recording without a usable index is walked by
// its chunk headers (a small read at each chunk, the data skipped), so even
// an unfinished recording costs a small part of its size.
//
// Threads: any; the source belongs to the caller's thread.

#include "core/overview/card_overview.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace korvante {
class ByteSource;
}

namespace korvante::overview {

struct ScanStats {
    std::int64_t bytesRead = 0;
    std::int64_t reads = 0;
    bool walked = false; // no usable index: the chunk headers were walked
};

// None when the bytes are no readable recording (`why` says so in a few
// lower-case words: "not a recording", "damaged header", "no video", "cannot
// be read", "cancelled"). A recording without metadata gives empty lists.
std::optional<RecordingMetadata> scanMetadata(ByteSource &source, std::string *why = nullptr,
                                              const std::atomic<bool> *cancel = nullptr,
                                              ScanStats *stats = nullptr);

} // namespace korvante::overview
