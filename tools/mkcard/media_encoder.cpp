#include "mkcard/media_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace mkcard {
namespace {

struct CodecContextFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool fail(std::string *error, const std::string &text)
{
    if (error)
        *error = text;
    return false;
}

// Sends one frame (or the flush request) and collects every packet that
// comes out. `timeOf` turns a packet time into microseconds.
template <typename TimeOf>
bool drain(AVCodecContext *ctx, AVFrame *frame, AVPacket *pkt, std::vector<EncodedPacket> &out, TimeOf timeOf,
           std::string *error)
{
    int rc = avcodec_send_frame(ctx, frame);
    if (rc < 0)
        return fail(error, "encoder refused a frame: " + avError(rc));
    for (;;) {
        rc = avcodec_receive_packet(ctx, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return fail(error, "encoding failed: " + avError(rc));
        EncodedPacket p;
        p.data.assign(pkt->data, pkt->data + pkt->size);
        p.keyFrame = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        // Chunks are laid out by this time, so it is the decode time: with
        // B-frames the pictures are stored in decode order, as a camera does.
        p.timeUs = timeOf(std::max<int64_t>(pkt->dts, 0));
        out.push_back(std::move(p));
        av_packet_unref(pkt);
    }
}

// A real sensor's grain: without it the painted pictures compress to a
// tenth of a camera's bitrate, and decoding them costs far less than a
// camera's footage does. Luma only, below the frame-code strip, from a
// seeded generator so that a card is the same every time it is made.
void addSensorNoise(const YuvPicture &picture, uint32_t seed)
{
    uint32_t state = seed | 1u;
    for (int y = picture.height / 15 + 1; y < picture.height; ++y) {
        uint8_t *row = picture.y + static_cast<ptrdiff_t>(y) * picture.strideY;
        for (int x = 0; x < picture.width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int v = row[x] + static_cast<int>(state % 25) - 12;
            row[x] = static_cast<uint8_t>(std::clamp(v, 16, 235));
        }
    }
}

} // namespace

bool encodeVideo(const VideoSettings &s, std::vector<EncodedPacket> &packets, std::string *error)
{
    packets.clear();
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return fail(error, "libavcodec has no libx264 encoder");
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    if (!ctx || !frame || !pkt)
        return fail(error, "out of memory");
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, s.fps};
    ctx->framerate = AVRational{s.fps, 1};
    ctx->gop_size = s.fps;
    ctx->max_b_frames = s.cameraEncoding ? 3 : 0;
    ctx->thread_count = 1; // one thread: the output must not depend on timing
    std::string params = "keyint=" + std::to_string(s.fps) + ":min-keyint=" + std::to_string(s.fps) +
                         ":scenecut=0:sliced-threads=0:threads=1:lookahead-threads=1:aud=0";
    if (s.cameraEncoding) {
        // What a camera's encoder makes: CABAC, B-frames, about 12 Mbit/s at 1080p30.
        const double area = static_cast<double>(s.width) * s.height / (1920.0 * 1080.0);
        const auto kbps = std::max<long>(200, std::lround(12000.0 * area * s.fps / 30.0));
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        params += ":bframes=3:b-pyramid=normal:bitrate=" + std::to_string(kbps) + ":vbv-maxrate=" +
                  std::to_string(kbps) + ":vbv-bufsize=" + std::to_string(kbps);
    } else {
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "crf", "26", 0);
    }
    av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
    int rc = avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0)
        return fail(error, "cannot open the H.264 encoder: " + avError(rc));

    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = s.width;
    frame->height = s.height;
    rc = av_frame_get_buffer(frame.get(), 0);
    if (rc < 0)
        return fail(error, "cannot allocate a picture: " + avError(rc));
    const int fps = s.fps;
    auto timeOf = [fps](int64_t pts) { return pts * 1000000 / fps; };
    packets.reserve(static_cast<size_t>(s.frames));
    for (int i = 0; i < s.frames; ++i) {
        rc = av_frame_make_writable(frame.get());
        if (rc < 0)
            return fail(error, "cannot reuse a picture: " + avError(rc));
        YuvPicture picture{frame->data[0], frame->data[1], frame->data[2], frame->linesize[0],
                           frame->linesize[1], frame->linesize[2], s.width, s.height};
        paintFrame(picture, FrameCaption{s.channel, s.clockText ? s.clockText(i) : std::string(), i});
        if (s.cameraEncoding)
            addSensorNoise(picture, static_cast<uint32_t>(i) * 2654435761u + (s.channel == Channel::Rear ? 7u : 0u));
        frame->pts = i;
        // Key frames exactly once a second, whatever the encoder would pick.
        frame->pict_type = i % s.fps == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (!drain(ctx.get(), frame.get(), pkt.get(), packets, timeOf, error))
            return false;
    }
    if (!drain(ctx.get(), nullptr, pkt.get(), packets, timeOf, error))
        return false;
    if (packets.size() != static_cast<size_t>(s.frames))
        return fail(error, "the H.264 encoder returned " + std::to_string(packets.size()) + " pictures for " +
                               std::to_string(s.frames) + " frames");
    return true;
}

bool encodeAudio(AudioCodec codecKind, int sampleRate, const std::vector<int16_t> &samples, AudioTrack &track,
                 std::string *error)
{
    track = AudioTrack{};
    track.codec = codecKind;
    track.sampleRate = sampleRate;
    if (codecKind == AudioCodec::None)
        return true;
    if (codecKind == AudioCodec::Pcm) {
        const size_t block = static_cast<size_t>(sampleRate / 10);
        for (size_t start = 0; start < samples.size(); start += block) {
            EncodedPacket p;
            const size_t end = std::min(samples.size(), start + block);
            for (size_t i = start; i < end; ++i)
                putU16(p.data, static_cast<uint16_t>(samples[i]));
            p.keyFrame = true;
            p.timeUs = static_cast<int64_t>(start) * 1000000 / sampleRate;
            track.packets.push_back(std::move(p));
        }
        return true;
    }

    const AVCodec *codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        return fail(error, "libavcodec has no AAC encoder");
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    if (!ctx || !frame || !pkt)
        return fail(error, "out of memory");
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = sampleRate;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = 32000;
    ctx->time_base = AVRational{1, sampleRate};
    ctx->thread_count = 1;
    int rc = avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0)
        return fail(error, "cannot open the AAC encoder: " + avError(rc));
    if (ctx->extradata_size > 0)
        track.config.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    // Whole frames that fit in the pictures' time: the sound never outlasts them.
    const size_t wanted = std::max<size_t>(1, samples.size() / static_cast<size_t>(frameSize));

    std::vector<EncodedPacket> out;
    auto timeOf = [](int64_t) { return int64_t{0}; }; // set below from the packet's position
    for (size_t start = 0; start < samples.size(); start += static_cast<size_t>(frameSize)) {
        const int count = static_cast<int>(std::min(samples.size() - start, static_cast<size_t>(frameSize)));
        av_frame_unref(frame.get());
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = sampleRate;
        frame->nb_samples = count;
        av_channel_layout_default(&frame->ch_layout, 1);
        rc = av_frame_get_buffer(frame.get(), 0);
        if (rc < 0)
            return fail(error, "cannot allocate sound samples: " + avError(rc));
        auto *dst = reinterpret_cast<float *>(frame->data[0]);
        for (int i = 0; i < count; ++i)
            dst[i] = static_cast<float>(samples[start + static_cast<size_t>(i)]) / 32768.0f;
        frame->pts = static_cast<int64_t>(start);
        if (!drain(ctx.get(), frame.get(), pkt.get(), out, timeOf, error))
            return false;
    }
    if (!drain(ctx.get(), nullptr, pkt.get(), out, timeOf, error))
        return false;
    if (out.size() > wanted)
        out.resize(wanted);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i].keyFrame = true;
        out[i].timeUs = static_cast<int64_t>(i) * frameSize * 1000000 / sampleRate;
    }
    track.packets = std::move(out);
    return true;
}

} // namespace mkcard
