#pragma once
// Writes the camera's RIFF AVI 1.0 recordings byte by byte: our own writer,
// because the camera's layout needs exact control over chunk ids, the small
// header list, the trailing maximum-speed record and the unfinished variant.

#include "mkcard/byte_buffer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mkcard {

enum class StreamKind { Video, Audio, Text };
enum class AudioCodec { None, Aac, Pcm };

struct AviStream {
    StreamKind kind = StreamKind::Video;
    // Video: frame size and rate (frames per second).
    int width = 0;
    int height = 0;
    int fps = 0;
    // Audio: codec, sample rate in Hz (mono, 16-bit for PCM) and the codec's
    // configuration bytes (the AAC AudioSpecificConfig).
    AudioCodec audioCodec = AudioCodec::None;
    int sampleRate = 0;
    Bytes audioConfig;
    // Text: nominal packets per second, in thousandths (rate over scale 1000).
    uint32_t textRateMilli = 0;
};

// One chunk of the movie list. The data is not owned: it must outlive the
// call that writes the file.
struct AviChunk {
    int stream = 0;
    std::span<const uint8_t> data;
    bool keyFrame = false; // an IDR picture; other streams are always marked key
};

struct UnfinishedLayout {
    // Seeds the "old bytes" left on the card after the cut chunk.
    uint64_t seed = 0;
};

// The four-character id of a chunk of stream `index`: "00dc", "01wb", "03tx".
std::string chunkId(int index, StreamKind kind);

// Builds a whole recording. Chunks are written in the order given. A complete
// recording carries an idx1 index and a trailing JUNK chunk with "MSPD" and
// `maxSpeedKmh`; an unfinished one (power cut) has RIFF size 0, zero lengths
// in its headers, no index and no speed record, its last front-video chunk
// cut in half and old bytes after it.
Bytes buildAvi(const std::vector<AviStream> &streams, const std::vector<AviChunk> &chunks,
               int32_t maxSpeedKmh, const std::optional<UnfinishedLayout> &unfinished);

// File offsets that tests and the layout notes rely on.
inline constexpr size_t kTotalFramesOffset = 48;

} // namespace mkcard
