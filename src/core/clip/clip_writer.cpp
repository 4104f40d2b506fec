#include "core/clip/clip_writer.h"

#include "core/clip/evidence.h"
#include "core/clip/output_file.h"
#include "core/clip/overlay.h"
#include "core/clip/stream_reader.h"
#include "core/recording/byte_source.h"
#include "core/storage/export_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#ifndef KORVANTE_VERSION
#define KORVANTE_VERSION "unknown"
#endif

namespace korvante::clip {
namespace {

using std::chrono::milliseconds;
using Micro = std::chrono::microseconds;
constexpr AVRational kMicroseconds{1, 1'000'000};
constexpr AVRational kVideoTimeBase{1, 90'000};
constexpr int kAudioBitRatePerChannel = 64'000;

std::string averrorText(int rc)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

std::int64_t microsBetween(CameraTime from, CameraTime to)
{
    return std::chrono::duration_cast<Micro>(to - from).count();
}

std::string baseNameOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int even(double value) { return std::max(2, static_cast<int>(value / 2) * 2); }

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The clip's picture: where each channel goes.
struct Geometry {
    int width = 0, height = 0;
    Rect main;        // the driving channel (rear for the rear layout, front otherwise)
    Rect second;      // the rear beside or inside the front; empty for front and rear
    int border = 0;   // around the picture in picture
};

Geometry geometryOf(Layout layout, int fw, int fh, int rw, int rh, int bandHeight)
{
    Geometry g;
    switch (layout) {
    case Layout::Front:
    case Layout::Rear: {
        const int w = layout == Layout::Front ? fw : rw, h = layout == Layout::Front ? fh : rh;
        g.width = even(w);
        g.height = even(h);
        g.main = {0, 0, g.width, g.height};
        break;
    }
    case Layout::Side: {
        // The rear scaled to the front's height, to its right.
        g.height = even(fh);
        const int sw = even(static_cast<double>(rw) * g.height / rh + 1);
        g.main = {0, 0, even(fw), g.height};
        g.second = {g.main.w, 0, sw, g.height};
        g.width = g.main.w + sw;
        break;
    }
    case Layout::Pip: {
        // The rear at a quarter of the front's width in the lower right
        // corner, above the overlay band, in a thin light frame.
        g.width = even(fw);
        g.height = even(fh);
        g.main = {0, 0, g.width, g.height};
        const int pw = even(g.width / 4.0);
        const int ph = even(static_cast<double>(pw) * rh / rw + 1);
        g.border = even(std::max(2.0, g.width / 480.0));
        const int margin = even(std::max(4.0, g.width / 64.0));
        g.second = {g.width - margin - pw, std::max(0, g.height - bandHeight - margin - ph), pw, ph};
        break;
    }
    }
    return g;
}

void fillRect(AVFrame *frame, const Rect &r, std::uint8_t y, std::uint8_t u, std::uint8_t v)
{
    for (int row = r.y; row < r.y + r.h; ++row)
        std::memset(frame->data[0] + static_cast<std::ptrdiff_t>(row) * frame->linesize[0] + r.x, y,
                    static_cast<std::size_t>(r.w));
    for (int row = r.y / 2; row < (r.y + r.h) / 2; ++row) {
        std::memset(frame->data[1] + static_cast<std::ptrdiff_t>(row) * frame->linesize[1] + r.x / 2, u,
                    static_cast<std::size_t>(r.w / 2));
        std::memset(frame->data[2] + static_cast<std::ptrdiff_t>(row) * frame->linesize[2] + r.x / 2, v,
                    static_cast<std::size_t>(r.w / 2));
    }
}

void fillBlack(AVFrame *frame, const Rect &r) { fillRect(frame, r, 16, 128, 128); }

// Puts decoded pictures into a rectangle of the clip's picture: copied when
// they fit as they are, scaled otherwise (one scaler per source size kept).
class Placer {
public:
    ~Placer()
    {
        for (auto &[key, context] : m_scalers)
            sws_freeContext(context);
    }
    void place(const AVFrame *source, AVFrame *target, const Rect &r)
    {
        if (source->width == r.w && source->height == r.h
            && (source->format == AV_PIX_FMT_YUV420P || source->format == AV_PIX_FMT_YUVJ420P)) {
            for (int plane = 0; plane < 3; ++plane) {
                const int shift = plane == 0 ? 0 : 1;
                av_image_copy_plane(target->data[plane] + static_cast<std::ptrdiff_t>(r.y >> shift) * target->linesize[plane]
                                        + (r.x >> shift),
                                    target->linesize[plane], source->data[plane], source->linesize[plane],
                                    r.w >> shift, r.h >> shift);
            }
            return;
        }
        const auto key = std::make_tuple(source->width, source->height, source->format, r.w, r.h);
        SwsContext *&context = m_scalers[key];
        if (!context)
            context = sws_getContext(source->width, source->height, static_cast<AVPixelFormat>(source->format), r.w,
                                     r.h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!context) {
            fillBlack(target, r);
            return;
        }
        std::uint8_t *planes[4] = {
            target->data[0] + static_cast<std::ptrdiff_t>(r.y) * target->linesize[0] + r.x,
            target->data[1] + static_cast<std::ptrdiff_t>(r.y / 2) * target->linesize[1] + r.x / 2,
            target->data[2] + static_cast<std::ptrdiff_t>(r.y / 2) * target->linesize[2] + r.x / 2, nullptr};
        sws_scale(context, source->data, source->linesize, 0, source->height, planes, target->linesize);
    }

private:
    std::map<std::tuple<int, int, int, int, int>, SwsContext *> m_scalers;
};

// The overlay's values at `offsetMs` into a recording: the latest G sample
// and GPS fix at or before it (a fix older than 3 s is no speed any more).
OverlayValues valuesAt(const ClipRecording *recording, CameraTime time, std::int64_t offsetMs)
{
    OverlayValues v;
    v.time = time;
    if (!recording)
        return v;
    const auto &samples = recording->metadata.samples;
    auto s = std::upper_bound(samples.begin(), samples.end(), offsetMs,
                              [](std::int64_t t, const overview::GSample &g) { return t < g.offsetMs; });
    if (s != samples.begin() && offsetMs - std::prev(s)->offsetMs <= 3000)
        v.totalG = std::prev(s)->totalG;
    const auto &fixes = recording->metadata.fixes;
    auto f = std::upper_bound(fixes.begin(), fixes.end(), offsetMs,
                              [](std::int64_t t, const overview::Fix &x) { return t < x.offsetMs; });
    if (f != fixes.begin() && offsetMs - std::prev(f)->offsetMs <= 3000) {
        const overview::Fix &fix = *std::prev(f);
        v.speedKmh = fix.speedKmh;
        v.latitude = fix.latitude;
        v.longitude = fix.longitude;
    }
    return v;
}

std::unique_ptr<ByteSource> openFront(const ClipRecording &r)
{
    if (r.isCardFile())
        return openCardSource(r.cardDevice.get(), r.fileId, r.frontPath, r.cardDevice);
    return openFileSource(r.frontPath);
}

std::unique_ptr<ByteSource> openRear(const ClipRecording &r)
{
    if (r.isCardFile())
        return r.twoChannels ? openCardSource(r.cardDevice.get(), r.fileId, r.frontPath, r.cardDevice) : nullptr;
    return r.rearPath.empty() ? nullptr : openFileSource(r.rearPath);
}

bool hasRear(const ClipRecording &r) { return r.isCardFile() ? r.twoChannels : !r.rearPath.empty(); }

// A channel's reader: the front (nth video 0) or rear (the rear file's first
// video, or a card file's second).
std::unique_ptr<StreamReader> openChannel(const ClipRecording &r, bool rear, std::string *why)
{
    if (!rear)
        return StreamReader::open(openFront(r), StreamKind::Video, 0, why);
    if (!hasRear(r)) {
        *why = "no rear file";
        return nullptr;
    }
    return StreamReader::open(openRear(r), StreamKind::Video, r.isCardFile() ? 1 : 0, why);
}

// The clip's sound: the front channel's sound of each segment placed at its
// camera time, silence where there is none, encoded as AAC.
class SoundTrack {
public:
    ~SoundTrack()
    {
        av_audio_fifo_free(m_fifo);
        swr_free(&m_resampler);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_encoder);
    }
    bool open(int sampleRate, const AVChannelLayout &layout, std::int64_t totalSamples, std::string &error)
    {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        m_encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!m_encoder) {
            error = "no AAC encoder";
            return false;
        }
        m_encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_encoder->sample_rate = sampleRate;
        av_channel_layout_copy(&m_encoder->ch_layout, &layout);
        m_encoder->bit_rate = static_cast<std::int64_t>(kAudioBitRatePerChannel) * layout.nb_channels;
        m_encoder->time_base = {1, sampleRate};
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (const int rc = avcodec_open2(m_encoder, codec, nullptr); rc < 0) {
            error = "the AAC encoder cannot be opened: " + averrorText(rc);
            return false;
        }
        m_fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, layout.nb_channels, 1 << 16);
        m_frame = av_frame_alloc();
        m_total = totalSamples;
        return m_fifo && m_frame;
    }
    AVCodecContext *encoder() const { return m_encoder; }
    int rate() const { return m_encoder->sample_rate; }

    // Decoded sound of a recording, `startUs` into the clip's time, kept
    // only within [fromSample, toSample) of the clip.
    bool add(const AVFrame *frame, std::int64_t clipStartUs, std::int64_t fromSample, std::int64_t toSample)
    {
        if (!prepareResampler(frame))
            return false;
        std::int64_t at = av_rescale(clipStartUs, rate(), 1'000'000);
        // Converted to the clip's rate and layout first.
        const int capacity = swr_get_out_samples(m_resampler, frame->nb_samples) + 32;
        AVFrame *converted = av_frame_alloc();
        converted->format = AV_SAMPLE_FMT_FLTP;
        converted->sample_rate = rate();
        av_channel_layout_copy(&converted->ch_layout, &m_encoder->ch_layout);
        converted->nb_samples = capacity;
        if (av_frame_get_buffer(converted, 0) < 0) {
            av_frame_free(&converted);
            return false;
        }
        const int n = swr_convert(m_resampler, converted->data, capacity,
                                  const_cast<const std::uint8_t **>(frame->extended_data), frame->nb_samples);
        bool ok = n >= 0;
        if (n > 0) {
            std::int64_t skip = std::max<std::int64_t>({0, fromSample - at, m_written - at});
            std::int64_t end = std::min<std::int64_t>(at + n, std::min(toSample, m_total));
            if (at + skip < end) {
                silenceUntil(at + skip);
                void *planes[AV_NUM_DATA_POINTERS];
                for (int c = 0; c < m_encoder->ch_layout.nb_channels; ++c)
                    planes[c] = converted->data[c] + skip * static_cast<std::int64_t>(sizeof(float));
                const int count = static_cast<int>(end - (at + skip));
                ok = av_audio_fifo_write(m_fifo, planes, count) == count;
                m_written += count;
            }
        }
        av_frame_free(&converted);
        return ok;
    }
    // Silence up to clip sample `sample`.
    void silenceUntil(std::int64_t sample)
    {
        sample = std::min(sample, m_total);
        std::vector<float> zeros(4096, 0.0f);
        while (m_written < sample) {
            const int count = static_cast<int>(std::min<std::int64_t>(4096, sample - m_written));
            void *planes[AV_NUM_DATA_POINTERS];
            for (int c = 0; c < m_encoder->ch_layout.nb_channels; ++c)
                planes[c] = zeros.data();
            av_audio_fifo_write(m_fifo, planes, count);
            m_written += count;
        }
    }
    std::int64_t written() const { return m_written; }
    // Encodes whole frames from the queue (all of it with `flush`); packets go to `write`.
    bool encode(bool flush, const std::function<bool(AVPacket *)> &write)
    {
        const int frameSize = m_encoder->frame_size > 0 ? m_encoder->frame_size : 1024;
        while (av_audio_fifo_size(m_fifo) >= frameSize || (flush && av_audio_fifo_size(m_fifo) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(m_fifo));
            av_frame_unref(m_frame);
            m_frame->format = AV_SAMPLE_FMT_FLTP;
            m_frame->sample_rate = rate();
            av_channel_layout_copy(&m_frame->ch_layout, &m_encoder->ch_layout);
            m_frame->nb_samples = count;
            if (av_frame_get_buffer(m_frame, 0) < 0)
                return false;
            av_audio_fifo_read(m_fifo, reinterpret_cast<void **>(m_frame->data), count);
            m_frame->pts = m_encoded;
            m_encoded += count;
            if (avcodec_send_frame(m_encoder, m_frame) < 0 || !drain(write))
                return false;
        }
        if (flush) {
            avcodec_send_frame(m_encoder, nullptr);
            return drain(write);
        }
        return true;
    }

private:
    bool prepareResampler(const AVFrame *frame)
    {
        if (m_resampler && frame->format == m_inFormat && frame->sample_rate == m_inRate
            && av_channel_layout_compare(&frame->ch_layout, &m_inLayout) == 0)
            return true;
        swr_free(&m_resampler);
        if (swr_alloc_set_opts2(&m_resampler, &m_encoder->ch_layout, AV_SAMPLE_FMT_FLTP, rate(),
                                const_cast<AVChannelLayout *>(&frame->ch_layout),
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr)
                < 0
            || swr_init(m_resampler) < 0)
            return false;
        m_inFormat = frame->format;
        m_inRate = frame->sample_rate;
        av_channel_layout_uninit(&m_inLayout);
        av_channel_layout_copy(&m_inLayout, &frame->ch_layout);
        return true;
    }
    bool drain(const std::function<bool(AVPacket *)> &write)
    {
        AVPacket *packet = av_packet_alloc();
        bool ok = true;
        while (ok && avcodec_receive_packet(m_encoder, packet) == 0)
            ok = write(packet);
        av_packet_free(&packet);
        return ok;
    }

    AVCodecContext *m_encoder = nullptr;
    AVAudioFifo *m_fifo = nullptr;
    SwrContext *m_resampler = nullptr;
    AVFrame *m_frame = nullptr;
    int m_inFormat = -1, m_inRate = 0;
    AVChannelLayout m_inLayout{};
    std::int64_t m_total = 0;   // samples in the whole clip
    std::int64_t m_written = 0; // samples queued so far
    std::int64_t m_encoded = 0;
};

struct Failure {
    std::string message;
};

// The whole export of one clip; one object per writeClip call.
class ClipJob {
public:
    ClipJob(const ClipPlan &plan, const ClipOptions &options, const ClipProgress &progress,
            const std::atomic<bool> *cancel)
        : m_plan(plan), m_options(options), m_progress(progress), m_cancel(cancel)
    {
    }
    ~ClipJob()
    {
        av_frame_free(&m_picture);
        avcodec_free_context(&m_video);
        if (m_muxer) {
            m_muxer->pb = nullptr; // the output file owns its write context
            avformat_free_context(m_muxer);
        }
    }

    ClipOutcome run(const std::string &outputPath);

private:
    bool cancelled() const { return m_cancel && m_cancel->load(); }
    void setUp(OutputFile &file);
    void encodeSegment(const ClipSegment &segment);
    void fillGap(std::int64_t fromUs, std::int64_t toUs);
    void emitPicture(std::int64_t clipUs, const ClipRecording *recording, std::int64_t offsetUs);
    void sendFrame(AVFrame *frame);
    bool writePacket(AVPacket *packet, AVCodecContext *encoder, AVStream *stream);
    void pumpSound(StreamReader *sound, const ClipSegment &segment, std::int64_t untilClipUs);
    void report(double fraction)
    {
        if (m_progress)
            m_progress(std::clamp(fraction, 0.0, 1.0));
    }
    std::vector<EvidenceSource> hashSources();

    const ClipPlan &m_plan;
    const ClipOptions &m_options;
    const ClipProgress &m_progress;
    const std::atomic<bool> *m_cancel;

    bool m_mainIsRear = false;
    bool m_useSecond = false;
    Geometry m_geometry;
    std::unique_ptr<OverlayPainter> m_overlay;
    std::int64_t m_frameUs = 33'333;
    int m_rateNum = 30, m_rateDen = 1;
    std::int64_t m_spanUs = 0;
    std::int64_t m_bitRate = 0;

    AVFormatContext *m_muxer = nullptr;
    AVCodecContext *m_video = nullptr;
    AVStream *m_videoStream = nullptr;
    AVStream *m_soundStream = nullptr;
    std::unique_ptr<SoundTrack> m_sound;
    AVFrame *m_picture = nullptr;
    Placer m_placer;

    // The pictures sent: their times (in the encoder's time base) and lengths.
    std::int64_t m_lastPts = -1;
    std::map<std::int64_t, std::int64_t> m_durations;
    std::int64_t m_frames = 0;
    // Where the sound reader of the current segment stands.
    StreamReader *m_soundReader = nullptr;
    AVFrame *m_pendingSound = nullptr;
    std::int64_t m_pendingSoundUs = 0;
    // The second channel: its reader, the picture shown and the next one.
    struct Second {
        std::unique_ptr<StreamReader> reader;
        AVFrame *shown = nullptr, *next = nullptr;
        std::int64_t shownUs = 0, nextUs = 0;
        bool ended = false;
        ~Second()
        {
            av_frame_free(&shown);
            av_frame_free(&next);
        }
    };
    Second *m_second = nullptr;
    std::vector<std::string> m_warnings;
};

std::string layoutWord(Layout layout) { return layoutName(layout); }

void ClipJob::setUp(OutputFile &file)
{
    m_spanUs = microsBetween(m_plan.in, m_plan.out);
    m_mainIsRear = m_options.layout == Layout::Rear;
    m_useSecond = m_options.layout == Layout::Side || m_options.layout == Layout::Pip;

    // The picture's size and rate come from the first recording of the span
    // that has the channels the layout needs.
    int fw = 0, fh = 0, rw = 0, rh = 0;
    std::int64_t frontBits = 0, rearBits = 0;
    bool anyRear = false;
    std::string why;
    for (const ClipSegment &segment : m_plan.segments) {
        const ClipRecording &r = m_plan.recordings[segment.recording];
        if (fw == 0) {
            if (auto front = openChannel(r, false, &why)) {
                fw = front->width();
                fh = front->height();
                frontBits = front->bitRate();
                m_frameUs = front->frameDurationUs();
                m_rateNum = front->rateNum();
                m_rateDen = front->rateDen();
            } else if (!m_mainIsRear) {
                throw Failure{baseNameOf(r.frontPath) + ": " + why};
            }
        }
        if (rw == 0 && hasRear(r)) {
            if (auto rear = openChannel(r, true, &why)) {
                anyRear = true;
                rw = rear->width();
                rh = rear->height();
                rearBits = rear->bitRate();
                if (fw == 0) {
                    m_frameUs = rear->frameDurationUs();
                    m_rateNum = rear->rateNum();
                    m_rateDen = rear->rateDen();
                }
            }
        }
    }
    if ((m_mainIsRear || m_useSecond) && !anyRear)
        throw Failure{"no recording of the span has a rear channel to show"};
    if (m_mainIsRear) {
        fw = rw;
        fh = rh;
    }
    if (fw <= 0 || fh <= 0)
        throw Failure{"the span's recordings have no readable video"};
    // The band's height depends on the picture's; the layout on the band's.
    const Geometry plain = geometryOf(m_options.layout, fw, fh, rw, rh, 0);
    if (m_options.overlay)
        m_overlay = std::make_unique<OverlayPainter>(plain.width, plain.height, m_options.speedUnit);
    m_geometry = geometryOf(m_options.layout, fw, fh, rw, rh, m_overlay ? m_overlay->bandHeight() : 0);

    switch (m_options.layout) {
    case Layout::Front:
    case Layout::Pip:
        m_bitRate = frontBits;
        break;
    case Layout::Rear:
        m_bitRate = rearBits;
        break;
    case Layout::Side:
        m_bitRate = frontBits + rearBits;
        break;
    }
    if (m_bitRate <= 0) // no index to measure by: a camera's rate for this many pixels a second
        m_bitRate = av_rescale(static_cast<std::int64_t>(m_geometry.width) * m_geometry.height, 12'000'000LL * m_rateNum,
                               1920LL * 1080 * 30 * m_rateDen);
    if (m_options.quality == Quality::Half)
        m_bitRate /= 2;

    // The muxer, over the temporary file.
    if (avformat_alloc_output_context2(&m_muxer, nullptr, "mp4", nullptr) < 0 || !m_muxer)
        throw Failure{"the MP4 muxer is missing"};
    m_muxer->pb = file.writeContext();
    if (!m_muxer->pb)
        throw Failure{"out of memory"};
    m_muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
    file.attachReader(m_muxer);

    const AVCodec *x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264)
        throw Failure{"FFmpeg has no libx264 encoder"};
    m_video = avcodec_alloc_context3(x264);
    if (!m_video)
        throw Failure{"out of memory"};
    m_video->width = m_geometry.width;
    m_video->height = m_geometry.height;
    m_video->pix_fmt = AV_PIX_FMT_YUV420P;
    m_video->time_base = kVideoTimeBase;
    m_video->framerate = {m_rateNum, m_rateDen};
    m_video->sample_aspect_ratio = {1, 1};
    m_video->bit_rate = m_bitRate;
    m_video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(m_video->priv_data, "preset", m_options.preset.c_str(), 0);
    if (const int rc = avcodec_open2(m_video, x264, nullptr); rc < 0)
        throw Failure{"libx264 cannot be opened: " + averrorText(rc)};
    m_videoStream = avformat_new_stream(m_muxer, nullptr);
    if (!m_videoStream || avcodec_parameters_from_context(m_videoStream->codecpar, m_video) < 0)
        throw Failure{"out of memory"};
    m_videoStream->time_base = kVideoTimeBase;
    m_videoStream->avg_frame_rate = m_video->framerate;

    // Sound: the front channel's, in the first recording of the span that has any.
    if (m_options.sound) {
        for (const ClipSegment &segment : m_plan.segments) {
            auto reader = StreamReader::open(openFront(m_plan.recordings[segment.recording]), StreamKind::Audio, 0, &why);
            if (!reader)
                continue;
            AVCodecContext *d = reader->decoder();
            m_sound = std::make_unique<SoundTrack>();
            std::string error;
            if (!m_sound->open(d->sample_rate, d->ch_layout, av_rescale(m_spanUs, d->sample_rate, 1'000'000), error))
                throw Failure{error};
            m_soundStream = avformat_new_stream(m_muxer, nullptr);
            if (!m_soundStream || avcodec_parameters_from_context(m_soundStream->codecpar, m_sound->encoder()) < 0)
                throw Failure{"out of memory"};
            m_soundStream->time_base = {1, m_sound->rate()};
            break;
        }
    }

    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int rc = avformat_write_header(m_muxer, &options);
    av_dict_free(&options);
    if (rc < 0)
        throw Failure{file.error().empty() ? "the MP4 header cannot be written: " + averrorText(rc) : file.error()};

    m_picture = av_frame_alloc();
    m_picture->format = AV_PIX_FMT_YUV420P;
    m_picture->width = m_geometry.width;
    m_picture->height = m_geometry.height;
    if (!m_picture || av_frame_get_buffer(m_picture, 0) < 0)
        throw Failure{"out of memory"};
}

bool ClipJob::writePacket(AVPacket *packet, AVCodecContext *encoder, AVStream *stream)
{
    if (encoder == m_video) {
        const auto d = m_durations.find(packet->pts);
        packet->duration = d != m_durations.end() && d->second > 0 ? d->second
                                                                     : av_rescale_q(m_frameUs, kMicroseconds, kVideoTimeBase);
        if (d != m_durations.end())
            m_durations.erase(d);
    }
    av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    return av_interleaved_write_frame(m_muxer, packet) >= 0;
}

void ClipJob::sendFrame(AVFrame *frame)
{
    if (avcodec_send_frame(m_video, frame) < 0)
        throw Failure{"libx264 refused a picture"};
    AVPacket *packet = av_packet_alloc();
    bool ok = true;
    while (ok && avcodec_receive_packet(m_video, packet) == 0)
        ok = writePacket(packet, m_video, m_videoStream);
    av_packet_free(&packet);
    if (!ok)
        throw Failure{"the clip cannot be written"};
}

// One picture of the clip at `clipUs`: the driving channel's picture is
// already in place; the second channel and the band are added here.
void ClipJob::emitPicture(std::int64_t clipUs, const ClipRecording *recording, std::int64_t offsetUs)
{
    if (m_useSecond) {
        if (m_second && m_second->shown && offsetUs >= 0) {
            // The rear picture shown at this moment: the last that started by then.
            while (!m_second->ended) {
                if (!m_second->next) {
                    std::int64_t at = 0;
                    AVFrame *f = m_second->reader->next(at);
                    if (!f) {
                        m_second->ended = true;
                        break;
                    }
                    m_second->next = av_frame_clone(f);
                    m_second->nextUs = at;
                }
                if (m_second->nextUs > offsetUs)
                    break;
                av_frame_free(&m_second->shown);
                m_second->shown = m_second->next;
                m_second->shownUs = m_second->nextUs;
                m_second->next = nullptr;
            }
        }
        const Rect &r = m_geometry.second;
        if (m_options.layout == Layout::Pip) {
            const int b = m_geometry.border;
            fillRect(m_picture, {r.x - b, r.y - b, r.w + 2 * b, r.h + 2 * b}, 200, 128, 128);
        }
        if (m_second && m_second->shown && offsetUs >= m_second->shownUs)
            m_placer.place(m_second->shown, m_picture, r);
        else
            fillBlack(m_picture, r);
    }
    if (m_overlay) {
        const CameraTime time = m_plan.in + std::chrono::duration_cast<milliseconds>(Micro{clipUs});
        m_overlay->paint(m_picture, valuesAt(recording, time, offsetUs / 1000));
    }
    std::int64_t pts = av_rescale_q(clipUs, kMicroseconds, kVideoTimeBase);
    if (pts <= m_lastPts)
        pts = m_lastPts + 1;
    if (m_lastPts >= 0)
        m_durations[m_lastPts] = pts - m_lastPts;
    m_durations[pts] = av_rescale_q(m_frameUs, kMicroseconds, kVideoTimeBase);
    m_lastPts = pts;
    m_picture->pts = pts;
    ++m_frames;
    sendFrame(m_picture);
    if (av_frame_make_writable(m_picture) < 0)
        throw Failure{"out of memory"};
    report(0.95 * static_cast<double>(clipUs) / static_cast<double>(m_spanUs));
}

void ClipJob::fillGap(std::int64_t fromUs, std::int64_t toUs)
{
    // Pictures at the channel's rate; a gap shorter than half a picture
    // only lengthens the picture before it.
    const std::int64_t count = av_rescale_rnd(toUs - fromUs, m_rateNum, 1'000'000LL * m_rateDen, AV_ROUND_NEAR_INF);
    for (std::int64_t k = 0; k < count; ++k) {
        if (cancelled())
            return;
        const std::int64_t t = fromUs + av_rescale(k, 1'000'000LL * m_rateDen, m_rateNum);
        fillBlack(m_picture, {0, 0, m_geometry.width, m_geometry.height});
        Second *saved = m_second; // no rear picture in a gap either
        m_second = nullptr;
        emitPicture(t, nullptr, -1);
        m_second = saved;
        if (m_sound) {
            m_sound->silenceUntil(av_rescale(std::min(t + m_frameUs, toUs), m_sound->rate(), 1'000'000));
            if (!m_sound->encode(false, [&](AVPacket *p) { return writePacket(p, m_sound->encoder(), m_soundStream); }))
                throw Failure{"the sound cannot be written"};
        }
    }
}

void ClipJob::pumpSound(StreamReader *sound, const ClipSegment &segment, std::int64_t untilClipUs)
{
    if (!m_sound)
        return;
    const ClipRecording &r = m_plan.recordings[segment.recording];
    const std::int64_t recordingToClip = microsBetween(m_plan.in, r.start);
    const std::int64_t from = av_rescale(microsBetween(m_plan.in, segment.from), m_sound->rate(), 1'000'000);
    const std::int64_t to = av_rescale(microsBetween(m_plan.in, segment.to), m_sound->rate(), 1'000'000);
    const std::int64_t until = std::min(to, av_rescale(untilClipUs, m_sound->rate(), 1'000'000));
    while (sound && m_sound->written() < until) {
        std::int64_t at = 0;
        AVFrame *frame = sound->next(at);
        if (!frame)
            break;
        if (!m_sound->add(frame, recordingToClip + at, from, to))
            throw Failure{"the sound cannot be converted"};
    }
    // A recording without sound, or whose sound ends early: silence.
    if (!sound || untilClipUs >= microsBetween(m_plan.in, segment.to))
        m_sound->silenceUntil(until);
    if (!m_sound->encode(false, [&](AVPacket *p) { return writePacket(p, m_sound->encoder(), m_soundStream); }))
        throw Failure{"the sound cannot be written"};
}

void ClipJob::encodeSegment(const ClipSegment &segment)
{
    const ClipRecording &r = m_plan.recordings[segment.recording];
    const std::int64_t fromUs = microsBetween(r.start, segment.from); // offsets in the recording
    const std::int64_t toUs = microsBetween(r.start, segment.to);
    const std::int64_t recordingToClip = microsBetween(m_plan.in, r.start);
    std::string why;

    std::unique_ptr<StreamReader> main = openChannel(r, m_mainIsRear, &why);
    if (!main && !(m_mainIsRear && !hasRear(r)))
        throw Failure{baseNameOf(m_mainIsRear ? (r.isCardFile() ? r.frontPath : r.rearPath) : r.frontPath) + ": " + why};
    Second second;
    if (m_useSecond && hasRear(r)) {
        second.reader = openChannel(r, true, &why);
        if (second.reader) {
            second.reader->seek(fromUs);
            std::int64_t at = 0;
            if (AVFrame *f = second.reader->next(at)) {
                second.shown = av_frame_clone(f);
                second.shownUs = at;
            } else {
                second.ended = true;
            }
        } else {
            m_warnings.push_back(baseNameOf(r.rearPath) + ": " + why + "; its part is black");
        }
    }
    m_second = second.reader ? &second : nullptr;
    std::unique_ptr<StreamReader> sound;
    if (m_sound) {
        sound = StreamReader::open(openFront(r), StreamKind::Audio, 0, &why);
        if (sound)
            sound->seek(fromUs);
    }

    std::int64_t covered = microsBetween(m_plan.in, segment.from);
    if (main) {
        main->seek(fromUs);
        std::int64_t start = 0;
        while (AVFrame *frame = main->next(start)) {
            if (cancelled())
                break;
            if (start + main->frameDurationUs() <= fromUs)
                continue; // before the segment: decoded only to reach it
            if (start >= toUs)
                break;
            const std::int64_t shownFrom = std::max(start, fromUs);
            m_placer.place(frame, m_picture, m_geometry.main);
            emitPicture(recordingToClip + shownFrom, &r, shownFrom);
            covered = recordingToClip + std::min(start + main->frameDurationUs(), toUs);
            pumpSound(sound.get(), segment, covered);
        }
        if (!main->error().empty())
            m_warnings.push_back(baseNameOf(r.frontPath) + ": " + main->error());
    }
    m_second = nullptr;
    // Pictures the recording did not have after all (it ends early, or has
    // no such channel): black.
    if (!cancelled() && covered < microsBetween(m_plan.in, segment.to))
        fillGap(covered, microsBetween(m_plan.in, segment.to));
    pumpSound(sound.get(), segment, microsBetween(m_plan.in, segment.to));
}

std::vector<EvidenceSource> ClipJob::hashSources()
{
    struct Used {
        const ClipRecording *recording;
        bool rear;
        std::vector<EvidencePart> parts;
    };
    std::vector<Used> used;
    const auto add = [&](const ClipRecording &r, bool rear, const ClipSegment &s) {
        for (Used &u : used)
            if (u.recording == &r && u.rear == rear) {
                u.parts.push_back({microsBetween(r.start, s.from) / 1000, microsBetween(r.start, s.to) / 1000});
                return;
            }
        used.push_back({&r, rear, {{microsBetween(r.start, s.from) / 1000, microsBetween(r.start, s.to) / 1000}}});
    };
    // The front file gives the front picture, the sound and the overlay's
    // values; the rear file the rear picture. A card file holds them all.
    const bool frontUsed = !m_mainIsRear || m_options.overlay || m_sound;
    for (const ClipSegment &s : m_plan.segments) {
        const ClipRecording &r = m_plan.recordings[s.recording];
        if (r.isCardFile()) {
            add(r, false, s);
            continue;
        }
        if (frontUsed)
            add(r, false, s);
        if ((m_mainIsRear || m_useSecond) && hasRear(r))
            add(r, true, s);
    }
    std::int64_t total = 0;
    std::vector<std::unique_ptr<ByteSource>> sources;
    for (const Used &u : used) {
        sources.push_back(u.rear ? openRear(*u.recording) : openFront(*u.recording));
        if (!sources.back())
            throw Failure{baseNameOf(u.rear ? u.recording->rearPath : u.recording->frontPath)
                          + ": cannot be read again to hash it"};
        total += sources.back()->size();
    }
    std::vector<EvidenceSource> result;
    std::int64_t before = 0;
    for (std::size_t i = 0; i < used.size(); ++i) {
        const Used &u = used[i];
        const ClipRecording &r = *u.recording;
        EvidenceSource e;
        e.role = r.isCardFile() ? (r.twoChannels ? "front and rear" : "front") : (u.rear ? "rear" : "front");
        const std::string path = u.rear ? r.rearPath : r.frontPath;
        e.name = baseNameOf(path);
        if (r.isCardFile()) {
            e.path = path;
            e.card = r.cardDevicePath;
            if (char *real = ::realpath(e.card.c_str(), nullptr)) {
                e.card = real;
                std::free(real);
            }
        } else if (char *real = ::realpath(path.c_str(), nullptr)) {
            e.path = real;
            std::free(real);
        } else {
            e.path = path;
        }
        e.size = sources[i]->size();
        e.parts = u.parts;
        e.sha256 = sha256Of(*sources[i], [&](std::int64_t done) {
            report(0.96 + 0.04 * static_cast<double>(before + done) / static_cast<double>(std::max<std::int64_t>(1, total)));
        }, m_cancel);
        if (e.sha256.empty()) {
            if (cancelled())
                return {};
            throw Failure{e.name + ": cannot be read to hash it"};
        }
        before += e.size;
        result.push_back(std::move(e));
    }
    return result;
}

ClipOutcome ClipJob::run(const std::string &outputPath)
{
    ClipOutcome outcome;
    outcome.clipPath = outputPath;
    outcome.evidencePath = evidencePathOf(outputPath);
    if (std::string refusal = outputRefusal(outputPath, m_options.overwrite); !refusal.empty()) {
        outcome.status = ClipStatus::Refused;
        outcome.message = std::move(refusal);
        return outcome;
    }
    const std::size_t slash = outputPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : outputPath.substr(0, slash));
    removeStaleTemporaries(folder);
    OutputFile clipFile(outputPath);
    OutputFile evidenceFile(outcome.evidencePath);
    try {
        if (!clipFile.create())
            throw Failure{clipFile.error()};
        setUp(clipFile);
        report(0);
        std::int64_t covered = 0;
        for (const ClipSegment &segment : m_plan.segments) {
            if (cancelled())
                break;
            const std::int64_t from = microsBetween(m_plan.in, segment.from);
            if (covered < from)
                fillGap(covered, from);
            encodeSegment(segment);
            covered = microsBetween(m_plan.in, segment.to);
        }
        if (!cancelled() && covered < m_spanUs)
            fillGap(covered, m_spanUs);
        if (cancelled()) {
            outcome.status = ClipStatus::Cancelled;
            outcome.message = "cancelled; nothing was written";
            return outcome;
        }
        // The last picture lasts until Out.
        if (m_lastPts >= 0)
            m_durations[m_lastPts] = std::max<std::int64_t>(
                1, av_rescale_q(m_spanUs, kMicroseconds, kVideoTimeBase) - m_lastPts);
        sendFrame(nullptr);
        if (m_sound) {
            m_sound->silenceUntil(av_rescale(m_spanUs, m_sound->rate(), 1'000'000));
            if (!m_sound->encode(true, [&](AVPacket *p) { return writePacket(p, m_sound->encoder(), m_soundStream); }))
                throw Failure{"the sound cannot be written"};
        }
        report(0.95);
        if (av_write_trailer(m_muxer) < 0 || m_muxer->pb->error < 0)
            throw Failure{clipFile.error().empty() ? "the clip cannot be completed" : clipFile.error()};
        avio_flush(m_muxer->pb);
        if (!clipFile.error().empty() || !clipFile.sync())
            throw Failure{clipFile.error()};

        Evidence evidence;
        {
            struct FdSource final : ByteSource {
                int fd;
                explicit FdSource(int f) : fd(f) {}
                std::int64_t size() const override
                {
                    struct stat st {};
                    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
                }
                std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
                {
                    return ::pread(fd, buffer, static_cast<std::size_t>(length), offset);
                }
            } clipBytes(clipFile.fd());
            evidence.clipSize = clipBytes.size();
            evidence.clipSha256 = sha256Of(clipBytes, {}, m_cancel);
            if (evidence.clipSha256.empty() && !cancelled())
                throw Failure{"the clip cannot be read back to hash it"};
        }
        evidence.sources = hashSources();
        if (cancelled()) {
            outcome.status = ClipStatus::Cancelled;
            outcome.message = "cancelled; nothing was written";
            return outcome;
        }
        evidence.clipName = baseNameOf(outputPath);
        evidence.in = cameraTimeMsText(m_plan.in);
        evidence.out = cameraTimeMsText(m_plan.out);
        evidence.program = programName();
        evidence.layout = layoutWord(m_options.layout);
        evidence.overlay = m_options.overlay;
        evidence.sound = m_sound != nullptr;
        evidence.quality = m_options.quality == Quality::Half ? "half" : "source";
        evidence.speedUnit = speedText(0.0f, m_options.speedUnit).substr(2);
        evidence.videoBitRate = m_bitRate;
        evidence.encoder = "libx264 " + m_options.preset;
        evidence.width = m_geometry.width;
        evidence.height = m_geometry.height;
        if (!evidenceFile.create() || !evidenceFile.writeAll(evidenceJson(evidence)) || !evidenceFile.sync())
            throw Failure{evidenceFile.error()};
        if (!clipFile.commit(m_options.overwrite))
            throw Failure{clipFile.error()};
        if (!evidenceFile.commit(m_options.overwrite)) {
            // A clip without its evidence is not given out.
            ::unlink(outputPath.c_str());
            throw Failure{evidenceFile.error()};
        }
        report(1);
        outcome.status = ClipStatus::Written;
        outcome.frames = m_frames;
        outcome.width = m_geometry.width;
        outcome.height = m_geometry.height;
        outcome.sound = m_sound != nullptr;
        if (!m_warnings.empty())
            outcome.message = m_warnings.front();
        return outcome;
    } catch (const Failure &failure) {
        outcome.status = cancelled() ? ClipStatus::Cancelled : ClipStatus::Failed;
        outcome.message = cancelled() ? "cancelled; nothing was written" : failure.message + "; nothing was written";
        return outcome;
    }
}

} // namespace

std::optional<Layout> layoutNamed(const std::string &name)
{
    for (Layout l : {Layout::Front, Layout::Rear, Layout::Side, Layout::Pip})
        if (name == layoutName(l))
            return l;
    return std::nullopt;
}

const char *layoutName(Layout layout)
{
    switch (layout) {
    case Layout::Front:
        return "front";
    case Layout::Rear:
        return "rear";
    case Layout::Side:
        return "side";
    case Layout::Pip:
        return "pip";
    }
    return "front";
}

std::string evidencePathOf(const std::string &clipPath) { return clipPath + ".evidence.json"; }

std::string proposedClipName(CameraTime in)
{
    std::string text = overview::cameraTimeText(std::chrono::floor<std::chrono::seconds>(in)); // YYYY-MM-DD HH:MM:SS
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9')
            digits += c;
    return "clip_" + digits.substr(0, 8) + "_" + digits.substr(8) + ".mp4";
}

std::string programName() { return std::string("KORVANTE VIEWER ") + KORVANTE_VERSION; }

std::string outputRefusal(const std::string &outputPath, bool overwrite)
{
    const std::size_t slash = outputPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : outputPath.substr(0, slash));
    const std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
        return outputPath + ": not a file name";
    if (const std::string problem = outputFolderRefusal(folder); !problem.empty())
        return folder + ": " + problem;
    struct stat st {};
    if (!overwrite) {
        for (const std::string &path : {outputPath, evidencePathOf(outputPath)})
            if (::lstat(path.c_str(), &st) == 0)
                return path + " exists (use --force to replace it)";
    } else if (::lstat(outputPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return outputPath + " is a folder";
    }
    return {};
}

ClipOutcome writeClip(const ClipPlan &plan, const ClipOptions &options, const std::string &outputPath,
                      const ClipProgress &progress, const std::atomic<bool> *cancel)
{
    ClipJob job(plan, options, progress, cancel);
    return job.run(outputPath);
}

} // namespace korvante::clip
