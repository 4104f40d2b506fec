#include "core/playback/recording_index.h"

#include "core/playback/demux_reader.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>
#include <memory>

namespace korvante {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000; // 100 ns units

struct AvPacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

std::uint32_t readLe32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isLower(unsigned char c) { return c >= 'a' && c <= 'z'; }

// A chunk id that may appear between the packets of the movie list.
bool isMovieChunkId(const unsigned char *id)
{
    if (std::memcmp(id, "LIST", 4) == 0 || std::memcmp(id, "JUNK", 4) == 0
        || std::memcmp(id, "idx1", 4) == 0)
        return true;
    if (id[0] == 'i' && id[1] == 'x' && isDigit(id[2]) && isDigit(id[3]))
        return true;
    return isDigit(id[0]) && isDigit(id[1]) && isLower(id[2]) && isLower(id[3]);
}

// Walks the chunk headers from `from` and says whether they lead exactly to
// `to`: true when only list headers and padding chunks lie between two
// packets, false when the gap holds bytes that are not chunks (the end of an
// unfinished recording followed by old data).
bool gapIsChunks(ByteSource &source, std::int64_t from, std::int64_t to)
{
    std::int64_t cur = from;
    for (int guard = 0; cur < to && guard < 4096; ++guard) {
        unsigned char head[12];
        if (source.readAt(cur, head, 12) < 8 || !isMovieChunkId(head))
            return false;
        const std::int64_t size = readLe32(head + 4);
        if (std::memcmp(head, "LIST", 4) == 0)
            cur += 12; // descend into the list ("rec " groups, the movie list itself)
        else
            cur += 8 + size + (size & 1);
    }
    return cur == to;
}

bool h264HasIdr(const std::uint8_t *data, int size)
{
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            const int type = data[i + 3] & 0x1F;
            if (type == 5)
                return true;
            i += 2;
        }
    }
    return false;
}

bool mpeg4HasIntraVop(const std::uint8_t *data, int size)
{
    for (int i = 0; i + 4 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
            return (data[i + 4] >> 6) == 0;
    }
    return false;
}

bool isKeyFrame(AVCodecID codec, const AVPacket &packet)
{
    switch (codec) {
    case AV_CODEC_ID_H264:
        return h264HasIdr(packet.data, packet.size);
    case AV_CODEC_ID_MPEG4:
        return mpeg4HasIntraVop(packet.data, packet.size);
    case AV_CODEC_ID_MJPEG:
        return true;
    default:
        return (packet.flags & AV_PKT_FLAG_KEY) != 0;
    }
}

} // namespace

std::int64_t VideoStreamIndex::frameTime(std::int64_t frame) const
{
    if (frameRate.num <= 0)
        return 0;
    return av_rescale(frame, kTicksPerSecond * frameRate.den, frameRate.num);
}

std::int64_t VideoStreamIndex::frameAt(std::int64_t time) const
{
    if (frames.empty() || frameRate.num <= 0 || time <= 0)
        return 0;
    const std::int64_t frame = av_rescale_rnd(time, frameRate.num, kTicksPerSecond * frameRate.den,
                                              AV_ROUND_DOWN);
    return std::min<std::int64_t>(frame, static_cast<std::int64_t>(frames.size()) - 1);
}

std::int64_t VideoStreamIndex::frameAtPos(std::int64_t pos) const
{
    auto it = std::lower_bound(frames.begin(), frames.end(), pos,
                               [](const VideoFrameEntry &e, std::int64_t p) { return e.pos < p; });
    if (it == frames.end() || it->pos != pos)
        return -1;
    return it - frames.begin();
}

std::int64_t VideoStreamIndex::keyFrameAtOrBefore(std::int64_t frame) const
{
    for (std::int64_t f = std::min<std::int64_t>(frame, static_cast<std::int64_t>(frames.size()) - 1);
         f >= 0; --f)
        if (frames[static_cast<size_t>(f)].key)
            return f;
    return 0;
}

std::int64_t AudioStreamIndex::timeAtPos(std::int64_t pos) const
{
    auto it = std::lower_bound(packets.begin(), packets.end(), pos,
                               [](const AudioPacketEntry &e, std::int64_t p) { return e.pos < p; });
    if (it == packets.end() || it->pos != pos)
        return -1;
    return it->time;
}

std::int64_t RecordingIndex::duration() const
{
    if (video.empty())
        return 0;
    return video.front().frameTime(static_cast<std::int64_t>(video.front().frames.size()));
}

bool scanRecording(DemuxReader &reader, RecordingIndex &index, std::string *error)
{
    AVFormatContext *format = reader.context();
    index = RecordingIndex{};
    std::vector<int> videoSlot(format->nb_streams, -1);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *st = format->streams[i];
        const AVCodecParameters *par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            VideoStreamIndex v;
            v.stream = static_cast<int>(i);
            v.codec = par->codec_id;
            v.fourcc = par->codec_tag;
            v.width = par->width;
            v.height = par->height;
            v.frameRate = av_inv_q(st->time_base);
            if (v.frameRate.num <= 0 || v.frameRate.den <= 0)
                v.frameRate = AVRational{30, 1};
            videoSlot[i] = static_cast<int>(index.video.size());
            index.video.push_back(std::move(v));
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && index.audio.stream < 0) {
            index.audio.stream = static_cast<int>(i);
            index.audio.codec = par->codec_id;
            index.audio.pcm = par->codec_id == AV_CODEC_ID_PCM_S16LE || par->codec_id == AV_CODEC_ID_PCM_U8
                || par->codec_id == AV_CODEC_ID_PCM_S24LE || par->codec_id == AV_CODEC_ID_PCM_S32LE;
        } else if ((par->codec_type == AVMEDIA_TYPE_SUBTITLE || par->codec_type == AVMEDIA_TYPE_DATA)
                   && index.metadataStream < 0) {
            index.metadataStream = static_cast<int>(i);
        }
    }
    if (index.video.empty()) {
        if (error)
            *error = "the recording has no video stream";
        return false;
    }

    ByteSource &source = reader.source();
    const std::int64_t fileSize = source.size();
    std::unique_ptr<AVPacket, AvPacketDeleter> packet(av_packet_alloc());
    // The packet held back until the next one proves that it was not cut off.
    struct Pending {
        int stream = -1;
        std::int64_t pos = 0;
        std::int64_t end = 0;
        bool key = false;
        std::int64_t audioTime = 0;
        MetadataRecord meta;
        bool hasMeta = false;
    };
    Pending pending;
    auto commit = [&](Pending &p) {
        if (p.stream < 0)
            return;
        index.endPos = p.end;
        const int slot = videoSlot[static_cast<size_t>(p.stream)];
        if (slot >= 0)
            index.video[static_cast<size_t>(slot)].frames.push_back({p.pos, p.key});
        else if (p.stream == index.audio.stream)
            index.audio.packets.push_back({p.pos, p.audioTime});
        else if (p.hasMeta)
            index.metadata.push_back(std::move(p.meta));
        p = Pending{};
    };

    for (;;) {
        if (reader.read(packet.get()) < 0)
            break;
        const AVPacket &pkt = *packet;
        if (pkt.pos < 8 || pkt.stream_index < 0)
            continue;
        // The demuxer hands a large PCM chunk over in pieces; the pieces after
        // the first lie inside the chunk already held.
        if (pending.stream == pkt.stream_index && pkt.pos > pending.pos + 8 && pkt.pos < pending.end)
            continue;
        // The demuxer reports where the chunk's data starts; the header is before it.
        const std::int64_t chunkPos = pkt.pos - 8;
        unsigned char head[8];
        if (source.readAt(chunkPos, head, 8) != 8) {
            index.truncated = true;
            break;
        }
        const std::int64_t declared = readLe32(head + 4);
        const std::int64_t end = chunkPos + 8 + declared + (declared & 1);
        if (pending.stream >= 0 && !gapIsChunks(source, pending.end, chunkPos)) {
            // Bytes that are not chunks follow the held packet: the recording
            // was cut there, and the held chunk is the one that was cut off.
            index.truncated = true;
            pending = Pending{};
            break;
        }
        commit(pending);
        if (chunkPos + 8 + declared > fileSize || pkt.size > declared) {
            index.truncated = true; // the last chunk runs past the end of the file
            break;
        }
        pending.stream = pkt.stream_index;
        pending.pos = chunkPos;
        pending.end = end;
        const int slot = videoSlot[static_cast<size_t>(pkt.stream_index)];
        if (slot >= 0) {
            pending.key = isKeyFrame(index.video[static_cast<size_t>(slot)].codec, pkt);
        } else if (pkt.stream_index == index.audio.stream) {
            const AVStream *st = format->streams[pkt.stream_index];
            const std::int64_t pts = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
            pending.audioTime = pts == AV_NOPTS_VALUE
                ? -1
                : av_rescale_q(pts, st->time_base, AVRational{1, static_cast<int>(kTicksPerSecond)});
        } else if (pkt.stream_index == index.metadataStream && pkt.size >= 4) {
            pending.meta.time = static_cast<std::int32_t>(readLe32(pkt.data));
            pending.meta.bytes.assign(pkt.data + 4, pkt.data + pkt.size);
            pending.hasMeta = true;
        }
    }
    // The last packet stands when only chunks (the index, padding) follow it;
    // old bytes after it mean that the recording was cut inside it.
    if (pending.stream >= 0 && pending.end < fileSize && !gapIsChunks(source, pending.end, fileSize)
        && !gapIsChunks(source, pending.end, fileSize - 1)) {
        index.truncated = true;
        pending = Pending{};
    }
    commit(pending);

    for (auto &v : index.video) {
        if (!v.frames.empty())
            v.frames.front().key = true; // decoding has to start somewhere
    }
    if (index.video.front().frames.empty()) {
        if (error)
            *error = "the recording has no whole video frame";
        return false;
    }
    return true;
}

void registerKeyFrames(const RecordingIndex &index, DemuxReader &reader)
{
    for (const auto &v : index.video) {
        for (size_t f = 0; f < v.frames.size(); ++f)
            if (v.frames[f].key)
                reader.addKeyFrame(v.stream, static_cast<std::int64_t>(f), v.frames[f].pos, 0);
    }
}

} // namespace korvante
