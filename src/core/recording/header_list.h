#pragma once
// The header list of the camera's recordings ("LIST" "hdrl"): the main header
// "avih" and one "LIST" "strl" per stream with its stream header "strh" and
// format "strf". Where the fields lie, and the reading of a header held in
// memory (the export and the card usage read the first bytes of a file; the
// playback engine reads the list through riff_layout.h). Any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvante::recording {

// Offsets in the main header's data.
inline constexpr std::uint64_t kAvihTotalFrames = 16;
// Offsets in a stream header's data; rate/scale is the stream's unit rate.
inline constexpr std::uint64_t kStrhType = 0;
inline constexpr std::uint64_t kStrhScale = 20;
inline constexpr std::uint64_t kStrhRate = 24;
inline constexpr std::uint64_t kStrhLength = 32;
inline constexpr std::uint64_t kStrhSuggestedBuffer = 36;
inline constexpr std::uint64_t kStrhSampleSize = 44;
inline constexpr std::uint64_t kStrhMinimum = 48; // through the sample size
// Offset of the block size in a sound stream's format (a WAVEFORMATEX).
inline constexpr std::uint64_t kWaveBlockAlign = 12;

// The stream a chunk of the camera's movie list belongs to.
enum class ChunkClass { Front, Rear, Audio, Text, Other };

struct AviStream {
    char type[4]{};          // "vids", "auds", "txts" ...
    std::uint64_t typeOffset = 0; // file offset of the stream header's data (its type); fields at kStrh*
    std::uint32_t rate = 0;
    std::uint32_t sampleSize = 0; // 0: one chunk is one unit of the length
};

// A recording's header, read from its first bytes up to the movie list.
struct AviHeader {
    std::uint64_t declaredLength = 0; // RIFF size + 8
    std::uint64_t moviList = 0;       // offset of the movie list's "LIST"
    std::uint64_t moviId = 0;         // offset of "movi"; index offsets count from here
    std::optional<std::uint64_t> totalFrames; // offset of the main header's total-frames field
    std::optional<std::uint64_t> unsizedHeaderList; // offset of a header list whose size is 0
    std::vector<AviStream> streams;   // in stream order
    int videoStreams = 0;
    int front = -1, rear = -1, audio = -1, text = -1; // positions in `streams`

    // The class of the chunk whose header starts at `id` (4 bytes), or Other
    // for anything that is not a movie chunk id of this recording.
    ChunkClass classify(const unsigned char *id) const;
};

enum class HeaderParse { Done, Need, Bad };

// Parses the RIFF header and header list from the first `size` bytes of a
// recording, up to the movie list's "movi". Need: more bytes are needed; Bad:
// not RIFF AVI, or a header list without a size and no movie list within its
// first MiB. An unfinished recording's header list (size 0) ends where the
// movie list begins.
HeaderParse parseAviHeader(const unsigned char *bytes, std::size_t size, AviHeader &header);

// The length in seconds of the first stream, when the first `size` bytes of
// a file hold the camera's header list with "avih" first and a video stream
// header first after it; 0 otherwise (and for an unfinished recording, whose
// lengths are 0).
double firstVideoSeconds(const unsigned char *bytes, std::size_t size);

} // namespace korvante::recording
