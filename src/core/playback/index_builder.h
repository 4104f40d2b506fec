#pragma once
// Internal to the load: what the idx1 reader and the chunk walk share. The
// stream table (which chunk id belongs to which list of the index), the
// sound packets' times, and key-frame recognition from a frame's first bytes.

#include "core/playback/recording_index.h"
#include "core/recording/riff_layout.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace korvante {

class ByteSource;

constexpr std::int64_t kTicksPerSecond = 10'000'000; // 100 ns units
// Bytes of a video chunk enough to find its picture type: parameter sets and
// SEI come before the first slice, and all of them are small.
constexpr std::int64_t kKeyProbeBytes = 64 * 1024;

// Whether a video chunk starting with these bytes holds a picture that
// decoding can start from.
bool isKeyFrame(AVCodecID codec, const unsigned char *data, std::int64_t size);

class IndexBuilder {
public:
    enum class Kind { None, Video, Audio, Metadata };

    // `index` already holds the streams; `layout` gives the sound's units.
    IndexBuilder(RecordingIndex &index, const RiffLayout &layout, std::size_t streamCount);

    // What a chunk id names: a stream of this recording of the matching type,
    // or None (padding, lists, another file's streams, damage).
    Kind classify(const unsigned char *id, int *stream) const;

    // The codec of a video stream `classify` named.
    AVCodecID codecOf(int stream) const;

    void addVideo(int stream, std::int64_t pos, bool key);
    void addAudio(std::int64_t pos, std::int64_t size);
    void addMetadata(const unsigned char *data, std::int64_t size);
    // Marks every video stream's first frame as a key frame (decoding has to
    // start somewhere) and says whether the first video stream has a frame.
    bool finish();

private:
    RecordingIndex &m_index;
    std::vector<int> m_videoSlot; // stream number -> position in m_index.video, -1
    std::uint32_t m_scale = 0, m_rate = 0, m_sampleSize = 0; // the sound stream's header
    std::uint32_t m_blockAlign = 0; // counting unit of a stream without sample size, 0: per chunk
    std::int64_t m_audioUnits = 0;
};

bool cancelled(const std::atomic<bool> *cancel);

// Reads the idx1 index. True when it is usable: every entry lies inside the
// movie list in file order, and the chunks checked (a spread of entries and
// every metadata chunk, which is read for its packet) are what it says.
// Unreadable and Cancelled are reported through `failure`.
bool indexFromIdx1(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder,
                   RecordingIndex &index, const std::atomic<bool> *cancel,
                   LoadFailure *failure, std::string *why);

// Walks the movie list chunk by chunk (see recording_index.h).
LoadFailure scanChunks(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder,
                       RecordingIndex &index, const std::atomic<bool> *cancel, std::string *why);

} // namespace korvante
