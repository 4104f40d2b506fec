#pragma once
// Internal to the load: what the idx1 reader and the chunk walk share. The
// stream table (which chunk id belongs to which list of the index), the
// sound packets' times, and key-frame recognition from a frame's first bytes.

#include "core/playback/recording_index.h"
#include "core/recording/riff_layout.h"

#include <atomic>
#include <cstdint>
#include <memory>
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

// The walk of the movie list chunk by chunk (see recording_index.h), able to
// stop and go on: a recording without an index is played while it is walked.
// The source, layout, builder and index must outlive the walk. One thread at
// a time; the index it adds to is that thread's until the walk is done.
class ChunkWalk {
public:
    ChunkWalk(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder, RecordingIndex &index);
    ~ChunkWalk();
    ChunkWalk(const ChunkWalk &) = delete;
    ChunkWalk &operator=(const ChunkWalk &) = delete;

    // Walks on until the next chunk header lies at or past `until` (a file
    // offset) or the walk ends. None while there is more to walk and when it
    // ended well (done() tells which); otherwise the failure, with the reason
    // in `why`. After the end, every stream's first frame is a key frame.
    LoadFailure advance(std::int64_t until, const std::atomic<bool> *cancel, std::string *why);
    bool done() const;
    // Offset of the next chunk header to read: the bytes before it are walked.
    std::int64_t position() const;
    // The part of the file the walk covers: the movie list's contents, up to
    // the end of the file when the list's size is not known.
    std::int64_t regionStart() const;
    std::int64_t regionEnd() const;

private:
    struct State;
    std::unique_ptr<State> m;
};

// A load of the index in two halves. begin() reads the streams, the layout
// and, when it is usable, the idx1 index; without one it sets up the walk,
// which the caller drives (walk()->advance) as far and as fast as it likes.
// The index must outlive this object.
class IndexLoad {
public:
    LoadFailure begin(DemuxReader &reader, RecordingIndex &index, const IndexOptions &options, std::string *why);
    // The chunks still have to be walked.
    bool walking() const { return m_walk && !m_walk->done(); }
    ChunkWalk *walk() { return m_walk.get(); }
    const RiffLayout &layout() const { return m_layout; }

private:
    RiffLayout m_layout;
    std::unique_ptr<IndexBuilder> m_builder;
    std::unique_ptr<ChunkWalk> m_walk;
};

// Walks the movie list chunk by chunk, to its end (see recording_index.h).
LoadFailure scanChunks(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder,
                       RecordingIndex &index, const std::atomic<bool> *cancel, std::string *why);

} // namespace korvante
