#include "core/clip/stream_reader.h"

#include "core/recording/byte_source.h"
#include "core/recording/riff_chunk.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace korvante::clip {
namespace {

constexpr int kIoBufferSize = 256 * 1024;
constexpr AVRational kMicroseconds{1, 1'000'000};

std::string averrorText(int rc)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

} // namespace

int StreamReader::readCallback(void *opaque, std::uint8_t *buffer, int size)
{
    auto *self = static_cast<StreamReader *>(opaque);
    const std::int64_t n = self->m_source->readAt(self->m_position, buffer, size);
    if (n < 0)
        return AVERROR(EIO);
    if (n == 0)
        return AVERROR_EOF;
    self->m_position += n;
    return static_cast<int>(n);
}

std::int64_t StreamReader::seekCallback(void *opaque, std::int64_t offset, int whence)
{
    auto *self = static_cast<StreamReader *>(opaque);
    const std::int64_t size = self->m_source->size();
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->m_position;
        break;
    case SEEK_END:
        offset += size;
        break;
    default:
        return -1;
    }
    if (offset < 0)
        return -1;
    self->m_position = offset;
    return offset;
}

std::unique_ptr<StreamReader> StreamReader::open(std::unique_ptr<ByteSource> source, StreamKind kind, int nth,
                                                 std::string *why)
{
    auto fail = [&](const std::string &text) -> std::unique_ptr<StreamReader> {
        if (why)
            *why = text;
        return nullptr;
    };
    if (!source)
        return fail("cannot be read");
    unsigned char magic[recording::kRiffHeaderBytes] = {};
    if (source->readAt(0, magic, sizeof magic) != static_cast<std::int64_t>(sizeof magic)
        || !recording::isRiffAvi(magic))
        return fail("not a recording");

    std::unique_ptr<StreamReader> self(new StreamReader);
    self->m_source = std::move(source);
    self->m_kind = kind;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return fail("out of memory");
    self->m_io = avio_alloc_context(buffer, kIoBufferSize, 0, self.get(), &readCallback, nullptr, &seekCallback);
    if (!self->m_io) {
        av_free(buffer);
        return fail("out of memory");
    }
    self->m_format = avformat_alloc_context();
    if (!self->m_format)
        return fail("out of memory");
    self->m_format->pb = self->m_io;
    self->m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The metadata stream has no codec; its content probe is kept short.
    self->m_format->probesize = 32;
    const AVInputFormat *avi = av_find_input_format("avi");
    if (!avi)
        return fail("the AVI demuxer is missing");
    if (const int rc = avformat_open_input(&self->m_format, nullptr, avi, nullptr); rc < 0) {
        self->m_format = nullptr; // freed by the failed open; the I/O context stays ours
        return fail("the AVI demuxer refused it: " + averrorText(rc));
    }
    const AVMediaType type = kind == StreamKind::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    int seen = 0;
    for (unsigned i = 0; i < self->m_format->nb_streams; ++i) {
        AVStream *st = self->m_format->streams[i];
        const bool wanted = st->codecpar->codec_type == type && seen++ == nth && self->m_stream < 0;
        if (wanted)
            self->m_stream = static_cast<int>(i);
        st->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    if (self->m_stream < 0)
        return fail(kind == StreamKind::Video ? (nth == 0 ? "no video" : "no rear video") : "no sound");
    AVStream *st = self->m_format->streams[self->m_stream];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return fail("no decoder for its " + std::string(kind == StreamKind::Video ? "video" : "sound"));
    self->m_decoder = avcodec_alloc_context3(codec);
    if (!self->m_decoder || avcodec_parameters_to_context(self->m_decoder, st->codecpar) < 0)
        return fail("out of memory");
    self->m_decoder->pkt_timebase = st->time_base;
    if (kind == StreamKind::Video) {
        self->m_decoder->thread_count = 0;
        self->m_decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = av_inv_q(st->time_base);
        av_reduce(&self->m_rateNum, &self->m_rateDen, rate.num, rate.den, 1 << 30);
        self->m_frameDurationUs = av_rescale(1'000'000, self->m_rateDen, self->m_rateNum);
        if (self->m_frameDurationUs <= 0)
            return fail("a video rate of no use");
    }
    if (const int rc = avcodec_open2(self->m_decoder, codec, nullptr); rc < 0)
        return fail("its decoder cannot be opened: " + averrorText(rc));

    // Bits a second, from the index the demuxer read.
    const int entries = avformat_index_get_entries_count(st);
    std::int64_t bytes = 0;
    for (int i = 0; i < entries; ++i)
        bytes += avformat_index_get_entry(st, i)->size;
    if (kind == StreamKind::Video && entries > 0)
        self->m_bitRate = av_rescale(bytes * 8, self->m_rateNum, static_cast<std::int64_t>(entries) * self->m_rateDen);
    else
        self->m_bitRate = st->codecpar->bit_rate;

    self->m_packet = av_packet_alloc();
    self->m_frame = av_frame_alloc();
    if (!self->m_packet || !self->m_frame)
        return fail("out of memory");
    self->m_waitKey = true;
    return self;
}

StreamReader::~StreamReader()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_decoder);
    if (m_format)
        avformat_close_input(&m_format);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

int StreamReader::width() const { return m_decoder->width; }
int StreamReader::height() const { return m_decoder->height; }

void StreamReader::seek(std::int64_t offsetUs)
{
    AVStream *st = m_format->streams[m_stream];
    const std::int64_t target = av_rescale_q(offsetUs, kMicroseconds, st->time_base);
    // Without an index (an unfinished recording) the demuxer cannot seek:
    // decoding then starts at the beginning.
    if (av_seek_frame(m_format, m_stream, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(m_format, m_stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    avcodec_flush_buffers(m_decoder);
    m_waitKey = true;
    m_drained = false;
    m_given = 0;
    m_error.clear();
}

bool StreamReader::readPacket()
{
    while (true) {
        const int rc = av_read_frame(m_format, m_packet);
        if (rc < 0) {
            if (rc != AVERROR_EOF && m_error.empty())
                m_error = "reading stopped: " + averrorText(rc);
            return false;
        }
        if (m_packet->stream_index != m_stream || m_packet->size <= 0) {
            av_packet_unref(m_packet);
            continue;
        }
        if (m_waitKey) {
            // Decoding starts at a key frame; its chunk's time is the time of
            // the first frame shown.
            if (m_kind == StreamKind::Video && !(m_packet->flags & AV_PKT_FLAG_KEY)) {
                av_packet_unref(m_packet);
                continue;
            }
            const std::int64_t ts = m_packet->dts != AV_NOPTS_VALUE ? m_packet->dts : m_packet->pts;
            m_baseUs = ts != AV_NOPTS_VALUE ? av_rescale_q(ts, m_format->streams[m_stream]->time_base, kMicroseconds)
                                            : 0;
            m_audioNextUs = m_baseUs;
            m_waitKey = false;
        }
        return true;
    }
}

AVFrame *StreamReader::next(std::int64_t &startUs)
{
    while (true) {
        const int rc = avcodec_receive_frame(m_decoder, m_frame);
        if (rc == 0) {
            if (m_kind == StreamKind::Video) {
                startUs = m_baseUs + av_rescale(m_given++, 1'000'000LL * m_rateDen, m_rateNum);
            } else {
                const std::int64_t ts = m_frame->best_effort_timestamp;
                startUs = ts != AV_NOPTS_VALUE
                              ? av_rescale_q(ts, m_format->streams[m_stream]->time_base, kMicroseconds)
                              : m_audioNextUs;
                m_audioNextUs = startUs + av_rescale(m_frame->nb_samples, 1'000'000, m_decoder->sample_rate);
            }
            return m_frame;
        }
        if (rc == AVERROR_EOF)
            return nullptr;
        if (rc != AVERROR(EAGAIN)) {
            m_error = "the decoder failed: " + averrorText(rc);
            return nullptr;
        }
        if (m_drained)
            return nullptr;
        if (!readPacket()) {
            avcodec_send_packet(m_decoder, nullptr);
            m_drained = true;
            continue;
        }
        const int sent = avcodec_send_packet(m_decoder, m_packet);
        av_packet_unref(m_packet);
        // A damaged packet is passed over, as a player would.
        (void)sent;
    }
}

} // namespace korvante::clip
