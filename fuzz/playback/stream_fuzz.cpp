// Treats the input as a recording file and plays it through the stream-parse
// filter the way the engine does, without decoding: Load (libavformat's AVI
// demuxer through the filter's own I/O, then the idx1 reader or the chunk
// walk), every metadata packet through ReadPacket into the sensor records,
// then a decode thread's reader: a seek to the middle and to the start, and
// the packets after each. The work per input is bounded by the packet counts
// below and by the input's length (-max_len).
// Findings besides crashes and sanitizer reports: an index that points past
// the end of the file or out of file order, a packet count from ReadPacket
// that differs from the index, a reader packet of a stream it was not asked
// for.

#include "fuzz_input.h"

#include "core/platform/log.h"
#include "core/playback/demux_reader.h"
#include "core/playback/sensor_records.h"
#include "core/playback/stream_parse_filter.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include <cstring>

namespace {

constexpr int kPacketsPerPass = 64;

void check(bool condition, const char *what)
{
    korvante::fuzzing::check(condition, "stream_fuzz", what);
}

void readPackets(korvante::DemuxReader &reader, int stream, AVPacket *packet)
{
    for (int i = 0; i < kPacketsPerPass && reader.read(packet) >= 0; ++i)
        check(packet->stream_index == stream, "a packet of a stream the reader was not asked for");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = [] {
        // The filter's warnings about each bad input are expected here.
        korvante::setLogSink([](korvante::LogLevel, std::string_view) {});
        return true;
    }();
    (void)quiet;

    const korvante::fuzzing::MemoryFile file(data, size);
    korvante::StreamParseFilter filter("fuzz");
    filter.SetMode(1);
    filter.SetSource(0, -1);
    if (filter.Load(file.path()) != korvante::S_OK) {
        check(!filter.loadError().empty(), "a refused load without a reason");
        check(filter.pins().empty(), "a refused load with outputs");
        return 0;
    }

    const korvante::RecordingIndex &index = filter.index();
    const auto fileSize = static_cast<std::int64_t>(size);
    check(index.endPos <= fileSize, "the index ends past the end of the file");
    check(!index.video.empty() && !index.video.front().frames.empty(), "a loaded recording without video");
    for (const auto &video : index.video) {
        std::int64_t last = -1;
        for (const auto &frame : video.frames) {
            check(frame.pos > last && frame.pos < index.endPos, "a video frame out of order or past the end");
            last = frame.pos;
        }
    }
    for (const auto &packet : index.audio.packets)
        check(packet.pos >= 0 && packet.pos < index.endPos, "an audio packet past the end");

    korvante::CQDRVTextData records;
    std::size_t packets = 0;
    for (;;) {
        std::uint8_t buffer[1024] = {};
        std::int32_t length = sizeof buffer;
        std::int32_t time = 0;
        if (filter.ReadPacket(buffer, &length, &time) != korvante::S_OK)
            break;
        korvante::DispatchPacket(time, records, buffer);
        ++packets;
        check(packets <= index.metadata.size(), "more metadata packets than the index holds");
    }
    check(packets == index.metadata.size(), "fewer metadata packets than the index holds");

    const auto &front = index.video.front();
    const auto reader = filter.openReader();
    if (!reader)
        return 0; // the same bytes opened once; a second open may still refuse them
    reader->keepStreams({front.stream});
    AVPacket *packet = av_packet_alloc();
    const std::int64_t middle = front.frameAt(index.duration() / 2);
    if (reader->seekToFrame(front.stream, front.keyFrameAtOrBefore(middle)))
        readPackets(*reader, front.stream, packet);
    if (reader->seekToFrame(front.stream, 0))
        readPackets(*reader, front.stream, packet);
    av_packet_free(&packet);
    return 0;
}
