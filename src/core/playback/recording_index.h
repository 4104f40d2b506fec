#pragma once
// What the stream-parse filter learns about a recording when it loads it: the
// streams, where every video frame and audio packet lies, and the metadata
// packets. Built by the load; a load that walks the chunks hands out copies
// of what it has walked so far (complete false) while it goes on. A copy
// handed out is read-only (any thread may read it).

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/rational.h>
}

namespace korvante {

class ByteSource;
class DemuxReader;

struct VideoFrameEntry {
    std::int64_t pos = 0; // offset of the chunk header in the file
    bool key = false;
};

struct VideoStreamIndex {
    int stream = -1;           // demuxer stream number
    AVCodecID codec = AV_CODEC_ID_NONE;
    std::uint32_t fourcc = 0;  // the stream's handler FourCC
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1}; // frames per second (rate/scale of the stream header)
    std::vector<VideoFrameEntry> frames; // in file order = display order

    // Time of a frame and the frame shown at a time, both in 100 ns units.
    std::int64_t frameTime(std::int64_t frame) const;
    std::int64_t frameAt(std::int64_t time) const;
    // Frame number of the chunk whose header is at `pos`, -1 when no frame starts there.
    std::int64_t frameAtPos(std::int64_t pos) const;
    // The last key frame at or before `frame` (0 when none is marked).
    std::int64_t keyFrameAtOrBefore(std::int64_t frame) const;
    // The frame shown at a time by the frame rate alone, however many frames
    // are known (a frame the walk has not reached yet).
    std::int64_t frameAtRate(std::int64_t time) const;
};

struct AudioPacketEntry {
    std::int64_t pos = 0;
    std::int64_t time = 0; // start, 100 ns units
};

struct AudioStreamIndex {
    int stream = -1;
    AVCodecID codec = AV_CODEC_ID_NONE;
    bool pcm = false;
    std::vector<AudioPacketEntry> packets;
    std::int64_t timeAtPos(std::int64_t pos) const; // -1 when unknown
};

struct MetadataRecord {
    std::int32_t time = 0;            // the chunk's own prefix, ms from the start
    std::vector<std::uint8_t> bytes;  // the packet after the prefix
};

// The metadata packets of a recording, in file order, held compactly: 16
// bytes of bookkeeping each and the packet's bytes in shared 64 KiB blocks,
// never moved once stored (no reallocation doubles the memory while a long
// track is read).
//
// Bounded: a packet keeps at most its first kMaxBytes bytes (all that a
// reader takes, and more than any packet of the camera holds); and packets
// are taken only while the memory they cost, counted with the record each
// decodes to (kRecordCost), stays within the budget, which is the
// recording's file size, and only up to kMaxPackets. So no recording costs
// more memory than its own size, and none more than about 100 MB, while a
// real recording (a few packets a second beside megabytes of video a second)
// keeps every packet. What is left out is counted in dropped().
class MetadataPackets {
public:
    static constexpr std::size_t kMaxBytes = 1024;
    static constexpr std::size_t kMaxPackets = 500'000; // 12 hours of 10 G-sensor readings and a fix a second
    static constexpr std::size_t kRecordCost = 112;     // a decoded GPS fix in its list node, the largest record

    // Memory the packets may take, in bytes (the file's size); unlimited until set.
    void setBudget(std::uint64_t bytes) { m_budget = bytes; }
    // Stores a packet; false (counted as dropped) when the bounds leave no room.
    bool add(std::int32_t time, const std::uint8_t *data, std::size_t size);

    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    std::size_t dropped() const { return m_dropped; }
    // The packet's time in ms and its bytes (at most kMaxBytes).
    std::int32_t timeAt(std::size_t i) const { return m_entries[i].time; }
    const std::uint8_t *bytesAt(std::size_t i) const;
    std::size_t lengthAt(std::size_t i) const { return m_entries[i].length; }
    // A copy of packet i.
    MetadataRecord operator[](std::size_t i) const;
    // Memory the bounds count for what is held.
    std::uint64_t cost() const { return m_cost; }
    // Set while every copy of this list is only read (copies a load hands
    // out while it goes on): packets are then still added to a block the
    // copies share, past the bytes any copy sees, instead of to a new block
    // for every copy.
    void appendToShared(bool on) { m_appendToShared = on; }

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    struct Entry {
        std::int32_t time;
        std::uint32_t length;
        std::uint32_t block;
        std::uint32_t offset;
    };
    std::deque<Entry> m_entries;
    // Shared between copies of an index; a block another copy also holds is
    // never written again.
    std::vector<std::shared_ptr<std::uint8_t[]>> m_blocks;
    std::size_t m_blockUsed = kBlock;
    std::uint64_t m_budget = UINT64_MAX;
    std::uint64_t m_cost = 0;
    std::size_t m_dropped = 0;
    bool m_appendToShared = false;
};

struct RecordingIndex {
    std::vector<VideoStreamIndex> video; // in stream order; the first is the channel's picture
    AudioStreamIndex audio;              // stream -1 when there is no sound
    int metadataStream = -1;
    MetadataPackets metadata;             // in file order, bounded (see MetadataPackets)
    std::int64_t endPos = 0;  // end of the last whole chunk; bytes after it are not read
    bool truncated = false;   // a cut-off chunk or garbage ended the scan
    bool fromIdx1 = false;    // built from the file's own index rather than a chunk walk
    int resyncs = 0;          // damaged stretches the chunk walk stepped over
    // False while a walk is still under way: the entries are those of the
    // part walked so far (the bytes before walkedTo, of the region the walk
    // covers), and more will follow.
    bool complete = true;
    std::int64_t walkedTo = 0;
    std::int64_t regionStart = 0;
    std::int64_t regionEnd = 0;

    // Length in 100 ns units: the first video stream's frame count times its frame period.
    std::int64_t duration() const;
    // The length while a walk is under way: what was walked, scaled up by
    // the bytes still to walk (at least the length walked); the length
    // itself once complete.
    std::int64_t estimatedDuration() const;
};

enum class LoadFailure { None, NotRecording, DamagedHeader, NoVideo, Unreadable, Cancelled };

struct IndexOptions {
    const std::atomic<bool> *cancel = nullptr; // polled between chunks; set: Cancelled soon
    bool useIdx1 = true;                       // false: always walk the chunks
};

// Builds the index of the recording that `reader` opened (the reader has read
// the headers; the index is built from its byte source).
//
// A finished recording is indexed from its idx1 chunk: headers, the index and
// the metadata chunks are read, not the video. When the index is missing or
// does not match the chunks (an unfinished recording, a damaged file), the
// movie list is walked chunk by chunk by the chunk sizes, reading the file
// once from start to end:
// - a chunk is accepted when the next chunk header (or the end) follows it;
// - a chunk whose id is damaged but whose size leads to a chunk header is
//   stepped over;
// - anything else (bytes that are not a chunk header, a size past the end of
//   the file) is damage. Inside a movie list of known size the walk searches
//   forward for the next run of chunk headers within a bounded distance and
//   goes on from there; in an unfinished recording (size 0) it is where the
//   camera stopped writing: old bytes of an earlier recording follow, so the
//   walk ends there and the chunk before is dropped as cut off.
// The reason of a failure goes to `why`.
LoadFailure buildRecordingIndex(DemuxReader &reader, RecordingIndex &index,
                                const IndexOptions &options, std::string *why);

// Registers the scanned key frames with a reader so that it can seek.
// `registered`, when given, counts per video stream the frames looked at by
// earlier calls; only the frames after them are registered, and it is updated
// (a reader that follows a walk registers what each new copy adds).
void registerKeyFrames(const RecordingIndex &index, DemuxReader &reader,
                       std::vector<std::size_t> *registered = nullptr);

} // namespace korvante
