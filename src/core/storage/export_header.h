#pragma once
// The header side of the export walk (export_walk.h): where a recording's
// header list keeps the fields an unfinished recording leaves at zero, how a
// movie chunk id maps to a stream, and the values written back. Internal to
// the export; kept apart so that the arithmetic can be checked on its own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace korvante::export_detail {

// The stream a movie chunk belongs to.
enum class ChunkClass { Front, Rear, Audio, Text, Other };

struct StreamHeader {
    char type[4]{};          // "vids", "auds", "txts" ...
    uint64_t typeOffset = 0; // file offset of the type; rate +24, length +32, buffer size +36
    uint32_t rate = 0;
    uint32_t sampleSize = 0; // 0: one chunk is one unit of the length
};

struct AviHeader {
    uint64_t declaredLength = 0; // RIFF size + 8
    uint64_t moviList = 0;       // offset of the movie list's "LIST"
    uint64_t moviId = 0;         // offset of "movi"; index offsets count from here
    std::optional<uint64_t> totalFrames; // offset of the main header's total-frames field
    std::optional<uint64_t> unsizedHeaderList; // offset of a header list whose size is 0
    std::vector<StreamHeader> streams;   // in stream order
    int videoStreams = 0;
    int front = -1, rear = -1, audio = -1, text = -1; // positions in `streams`

    // The class of the chunk whose header starts at `id` (4 bytes), or Other
    // for anything that is not a movie chunk id of this recording.
    ChunkClass classify(const unsigned char *id) const;
};

enum class HeaderParse { Done, Need, Bad };

// Parses the RIFF header and header list from the first `size` bytes of a
// recording, up to the movie list's "movi". Need: more bytes are needed.
HeaderParse parseAviHeader(const unsigned char *bytes, size_t size, AviHeader &header);

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
