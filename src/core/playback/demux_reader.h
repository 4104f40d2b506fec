#pragma once
// One libavformat AVI demuxer over a ByteSource, through a custom AVIOContext.
// Each user (the load scan, each decode thread, the telemetry reader) owns its
// own reader; a reader is used by one thread at a time.

#include "core/recording/byte_source.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace korvante {

class DemuxReader final {
public:
    // Opens the AVI demuxer on `source`. The container's own index is ignored:
    // packets come in file order, and seeking uses the index entries that the
    // caller adds (see addKeyFrame). Null with a reason in `error` when the
    // bytes are not an AVI file the demuxer accepts.
    static std::unique_ptr<DemuxReader> open(std::unique_ptr<ByteSource> source,
                                             std::string *error);
    ~DemuxReader();
    DemuxReader(const DemuxReader &) = delete;
    DemuxReader &operator=(const DemuxReader &) = delete;

    AVFormatContext *context() const { return m_format; }
    ByteSource &source() const { return *m_source; }

    // Packets of streams other than these are skipped without being read.
    void keepStreams(std::initializer_list<int> streams);

    // Next packet in file order. 0, or a negative AVERROR at the end or on
    // failure. The packet is unreferenced first.
    int read(AVPacket *packet);

    // Makes a key frame of a video stream known for seeking: `frame` is its
    // frame number (the stream's time base counts frames), `pos` the offset of
    // its chunk header.
    void addKeyFrame(int stream, std::int64_t frame, std::int64_t pos, int size);

    // Moves to the last known key frame at or before `frame` of `stream`.
    bool seekToFrame(int stream, std::int64_t frame);

    // Ends the bytes the demuxer sees at `end`: reads from there on meet the
    // end of the file. Set after the load to the end of the last whole chunk,
    // so that a reader never hunts through what follows a recording (old
    // bytes, gigabytes of zeros) for chunks that are not its own.
    void limitTo(std::int64_t end) { m_limit = end; }
    // For a recording that is still being walked: a read that meets the limit
    // asks `grow` (with the offset it wants) for a new limit, which it may
    // wait for; a limit no further ends the bytes there. The reader's thread.
    void growLimit(std::function<std::int64_t(std::int64_t)> grow) { m_grow = std::move(grow); }

    // Whether a read failed, or the bytes ended short of the length the source
    // had when it was opened (a file cut, a card pulled out): the packets
    // stopped for that reason, not at the end of the recording.
    bool readFailed() const { return m_readFailed; }

private:
    DemuxReader() = default;
    std::unique_ptr<ByteSource> m_source;
    std::int64_t m_position = 0;
    std::int64_t m_limit = INT64_MAX;
    std::function<std::int64_t(std::int64_t)> m_grow;
    bool m_readFailed = false;
    AVIOContext *m_io = nullptr;
    AVFormatContext *m_format = nullptr;

    static int readCallback(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t seekCallback(void *opaque, std::int64_t offset, int whence);
};

} // namespace korvante
