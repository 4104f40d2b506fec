#include "core/playback/recording_index.h"

#include "core/playback/demux_reader.h"
#include "core/platform/log.h"
#include "core/playback/index_builder.h"
#include "core/recording/metadata_chunk.h"
#include "core/recording/riff_chunk.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>
#include <memory>

namespace korvante {

namespace {

// Whether an Annex B access unit holds a random-access picture: an IDR slice
// (H.264) or an IRAP picture (HEVC).
bool annexBHasKey(const unsigned char *data, std::int64_t size, bool hevc)
{
    for (std::int64_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            const unsigned char nal = data[i + 3];
            if (hevc) {
                const int type = (nal >> 1) & 0x3F;
                if (type >= 16 && type <= 21)
                    return true;
                if (type < 16)
                    return false; // the first slice decides
            } else {
                const int type = nal & 0x1F;
                if (type == 5)
                    return true;
                if (type == 1)
                    return false;
            }
            i += 2;
        }
    }
    return false;
}

bool mpeg4HasIntraVop(const unsigned char *data, std::int64_t size)
{
    for (std::int64_t i = 0; i + 4 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
            return (data[i + 4] >> 6) == 0;
    }
    return false;
}

} // namespace

bool isKeyFrame(AVCodecID codec, const unsigned char *data, std::int64_t size)
{
    switch (codec) {
    case AV_CODEC_ID_H264: return annexBHasKey(data, size, false);
    case AV_CODEC_ID_HEVC: return annexBHasKey(data, size, true);
    case AV_CODEC_ID_MPEG4: return mpeg4HasIntraVop(data, size);
    case AV_CODEC_ID_MJPEG: return true;
    default: return false; // unknown: decoding starts at the first frame
    }
}

bool cancelled(const std::atomic<bool> *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

IndexBuilder::IndexBuilder(RecordingIndex &index, const RiffLayout &layout, std::size_t streamCount)
    : m_index(index), m_videoSlot(streamCount, -1)
{
    for (size_t i = 0; i < index.video.size(); ++i) {
        const auto stream = static_cast<size_t>(index.video[i].stream);
        if (stream < m_videoSlot.size())
            m_videoSlot[stream] = static_cast<int>(i);
    }
    if (index.audio.stream >= 0 && static_cast<size_t>(index.audio.stream) < layout.streams.size()) {
        const StreamHeader &h = layout.streams[static_cast<size_t>(index.audio.stream)];
        m_scale = h.scale;
        m_rate = h.rate;
        m_sampleSize = h.sampleSize;
        // The demuxer counts sound by the format's block when the two disagree,
        // and by blocks of a chunk when the stream has no sample size; the
        // times here are the demuxer's, so that both agree on every packet.
        if (m_sampleSize != 0 && h.blockAlign != 0 && m_sampleSize != h.blockAlign)
            m_sampleSize = h.blockAlign;
        if (m_sampleSize == 0 && h.blockAlign > 4 && index.audio.codec != AV_CODEC_ID_AAC
            && index.audio.codec != AV_CODEC_ID_MP2 && index.audio.codec != AV_CODEC_ID_FLAC)
            m_blockAlign = h.blockAlign;
    }
}

IndexBuilder::Kind IndexBuilder::classify(const unsigned char *id, int *stream) const
{
    if (!recording::isStreamChunkId(id))
        return Kind::None;
    const int s = recording::chunkStream(id);
    if (stream)
        *stream = s;
    if (static_cast<size_t>(s) >= m_videoSlot.size())
        return Kind::None;
    const bool video = (id[2] == 'd' && (id[3] == 'c' || id[3] == 'b'));
    if (m_videoSlot[static_cast<size_t>(s)] >= 0)
        return video ? Kind::Video : Kind::None;
    if (s == m_index.audio.stream)
        return id[2] == 'w' && id[3] == 'b' ? Kind::Audio : Kind::None;
    if (s == m_index.metadataStream)
        return id[2] == 't' && id[3] == 'x' ? Kind::Metadata : Kind::None;
    return Kind::None;
}

AVCodecID IndexBuilder::codecOf(int stream) const
{
    return m_index.video[static_cast<size_t>(m_videoSlot[static_cast<size_t>(stream)])].codec;
}

void IndexBuilder::addVideo(int stream, std::int64_t pos, bool key)
{
    m_index.video[static_cast<size_t>(m_videoSlot[static_cast<size_t>(stream)])].frames.push_back({pos, key});
}

void IndexBuilder::addAudio(std::int64_t pos, std::int64_t size)
{
    const std::int64_t time = m_scale > 0 && m_rate > 0
        ? av_rescale(m_audioUnits, kTicksPerSecond * m_scale, m_rate)
        : -1;
    m_index.audio.packets.push_back({pos, time});
    if (m_sampleSize > 0)
        m_audioUnits += size / m_sampleSize;
    else if (m_blockAlign > 0)
        m_audioUnits += (size + m_blockAlign - 1) / m_blockAlign;
    else
        ++m_audioUnits;
}

void IndexBuilder::addMetadata(const unsigned char *data, std::int64_t size)
{
    constexpr auto prefix = static_cast<std::int64_t>(recording::kMetadataTimeBytes);
    if (size < prefix)
        return; // no room for the time prefix: not a packet
    m_index.metadata.add(recording::metadataTime(data), data + prefix, static_cast<std::size_t>(size - prefix));
}

bool IndexBuilder::finish()
{
    for (auto &v : m_index.video) {
        if (!v.frames.empty())
            v.frames.front().key = true;
    }
    return !m_index.video.empty() && !m_index.video.front().frames.empty();
}

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

std::int64_t VideoStreamIndex::frameAtRate(std::int64_t time) const
{
    if (frameRate.num <= 0 || time <= 0)
        return 0;
    return av_rescale_rnd(time, frameRate.num, kTicksPerSecond * frameRate.den, AV_ROUND_DOWN);
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

std::int64_t RecordingIndex::estimatedDuration() const
{
    const std::int64_t walked = duration();
    if (complete || walkedTo <= regionStart || regionEnd <= walkedTo)
        return walked;
    const double scale = static_cast<double>(regionEnd - regionStart) / static_cast<double>(walkedTo - regionStart);
    return std::max(walked, static_cast<std::int64_t>(static_cast<double>(walked) * scale));
}

LoadFailure IndexLoad::begin(DemuxReader &reader, RecordingIndex &index, const IndexOptions &options,
                             std::string *why)
{
    AVFormatContext *format = reader.context();
    index = RecordingIndex{};
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
        if (why)
            *why = "the recording has no video stream";
        return LoadFailure::NoVideo;
    }

    ByteSource &source = reader.source();
    RiffLayout &layout = m_layout;
    switch (readRiffLayout(source, layout, why)) {
    case LayoutResult::Ok: break;
    case LayoutResult::NotRecording: return LoadFailure::NotRecording;
    case LayoutResult::DamagedHeader: return LoadFailure::DamagedHeader;
    case LayoutResult::Unreadable: return LoadFailure::Unreadable;
    }

    // What one recording may hold of metadata is bounded by its own size.
    index.metadata.setBudget(static_cast<std::uint64_t>(std::max<std::int64_t>(source.size(), 0)));
    const RecordingIndex streams = index; // the stream table, without entries
    if (options.useIdx1 && layout.idx1Pos >= 0) {
        IndexBuilder builder(index, layout, format->nb_streams);
        LoadFailure failure = LoadFailure::None;
        std::string unusable;
        if (indexFromIdx1(source, layout, builder, index, options.cancel, &failure, &unusable)) {
            index.fromIdx1 = true;
            return LoadFailure::None;
        }
        if (failure != LoadFailure::None) {
            if (why)
                *why = unusable;
            return failure;
        }
        logInfo("the recording's index is not usable (" + unusable + "); reading its chunks");
        index = streams;
    }
    m_builder = std::make_unique<IndexBuilder>(index, layout, format->nb_streams);
    m_walk = std::make_unique<ChunkWalk>(source, layout, *m_builder, index);
    index.complete = false;
    index.regionStart = m_walk->regionStart();
    index.regionEnd = m_walk->regionEnd();
    index.walkedTo = index.regionStart;
    return LoadFailure::None;
}

LoadFailure buildRecordingIndex(DemuxReader &reader, RecordingIndex &index, const IndexOptions &options,
                                std::string *why)
{
    IndexLoad load;
    const LoadFailure failure = load.begin(reader, index, options, why);
    if (failure != LoadFailure::None || !load.walking())
        return failure;
    const LoadFailure walked = load.walk()->advance(INT64_MAX, options.cancel, why);
    index.complete = true;
    index.walkedTo = load.walk()->position();
    return walked;
}

bool MetadataPackets::add(std::int32_t time, const std::uint8_t *data, std::size_t size)
{
    const std::size_t length = std::min(size, kMaxBytes);
    const std::uint64_t cost = sizeof(Entry) + length + kRecordCost;
    // Once one packet is left out, so is the rest: what is kept is the track
    // up to a point, never one with holes.
    if (m_dropped > 0 || m_entries.size() >= kMaxPackets || cost > m_budget || m_cost > m_budget - cost) {
        ++m_dropped;
        return false;
    }
    if (kBlock - m_blockUsed < length || (!m_appendToShared && !m_blocks.empty() && m_blocks.back().use_count() > 1)) {
        m_blocks.push_back(std::make_shared_for_overwrite<std::uint8_t[]>(kBlock));
        m_blockUsed = 0;
    }
    if (length > 0)
        std::memcpy(m_blocks.back().get() + m_blockUsed, data, length);
    m_entries.push_back({time, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(m_blocks.size() - 1),
                         static_cast<std::uint32_t>(m_blockUsed)});
    m_blockUsed += length;
    m_cost += cost;
    return true;
}

const std::uint8_t *MetadataPackets::bytesAt(std::size_t i) const
{
    const Entry &e = m_entries[i];
    return e.length == 0 ? nullptr : m_blocks[e.block].get() + e.offset;
}

MetadataRecord MetadataPackets::operator[](std::size_t i) const
{
    MetadataRecord record;
    record.time = m_entries[i].time;
    if (const std::uint8_t *bytes = bytesAt(i))
        record.bytes.assign(bytes, bytes + m_entries[i].length);
    return record;
}

void registerKeyFrames(const RecordingIndex &index, DemuxReader &reader, std::vector<std::size_t> *registered)
{
    if (registered)
        registered->resize(index.video.size(), 0);
    for (size_t i = 0; i < index.video.size(); ++i) {
        const auto &v = index.video[i];
        const size_t from = registered ? (*registered)[i] : 0;
        for (size_t f = from; f < v.frames.size(); ++f)
            if (v.frames[f].key)
                reader.addKeyFrame(v.stream, static_cast<std::int64_t>(f), v.frames[f].pos, 0);
        if (registered)
            (*registered)[i] = std::max(from, v.frames.size());
    }
}

} // namespace korvante
