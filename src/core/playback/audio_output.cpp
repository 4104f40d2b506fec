#include "core/playback/audio_output.h"

#include "core/platform/log.h"
#include "core/playback/demux_reader.h"
#include "core/playback/stream_parse_filter.h"

#include <QAudioSink>
#include <QMediaDevices>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace korvante {
namespace {
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kQueueTicks = kTicksPerSecond / 2; // half a second of sound waits at most

struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct SwrDeleter {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
} // namespace

std::int32_t volumeToHundredthsOfDb(std::int32_t percent)
{
    const float f = static_cast<float>(percent) / 100.0f;
    const double v = 1000.0 * std::log10(1e-10 + static_cast<double>(f) * (1.0 - 1e-10));
    // Truncation toward zero. Full volume gives 0 (0 dB) and stays full: it is
    // not turned into silence.
    return static_cast<std::int32_t>(v);
}

// ---------------------------------------------------------------- renderer

std::unique_ptr<AudioRenderer> AudioRenderer::create(std::string name)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<AudioRenderer>(std::move(name), device);
}

AudioRenderer::AudioRenderer(std::string name, const QAudioDevice &device)
    : m_name(std::move(name)), m_device(device)
{
    m_format.setSampleFormat(QAudioFormat::Int16);
    m_format.setSampleRate(48000);
    m_format.setChannelCount(2);
    if (!m_device.isNull() && !m_device.isFormatSupported(m_format)) {
        m_format = m_device.preferredFormat();
        m_format.setSampleFormat(QAudioFormat::Int16);
    }
    open(QIODevice::ReadOnly);
}

AudioRenderer::~AudioRenderer()
{
    halt();
    delete m_sink;
}

std::int64_t AudioRenderer::bytesToTicks(std::int64_t bytes) const
{
    const std::int64_t perSecond = m_format.bytesForDuration(1'000'000);
    return perSecond > 0 ? bytes * kTicksPerSecond / perSecond : 0;
}

bool AudioRenderer::write(std::vector<char> bytes, std::int64_t time, const std::atomic<bool> &abandon)
{
    std::unique_lock lock(m_mutex);
    m_room.wait(lock, [&] { return bytesToTicks(m_queuedBytes) < kQueueTicks || abandon.load(); });
    if (abandon.load())
        return false;
    m_queuedBytes += static_cast<std::int64_t>(bytes.size());
    if (m_chunks.empty() && m_readTime < 0)
        m_readTime = time;
    m_chunks.push_back(Chunk{std::move(bytes), 0, time});
    return true;
}

void AudioRenderer::wakeWriter()
{
    { std::lock_guard lock(m_mutex); }
    m_room.notify_all();
}

void AudioRenderer::flush(std::int64_t position)
{
    {
        std::lock_guard lock(m_mutex);
        m_chunks.clear();
        m_queuedBytes = 0;
        m_readTime = position;
    }
    m_room.notify_all();
}

qint64 AudioRenderer::readData(char *data, qint64 maxSize)
{
    qint64 done = 0;
    {
        std::lock_guard lock(m_mutex);
        while (done < maxSize && !m_chunks.empty()) {
            Chunk &c = m_chunks.front();
            const auto n = std::min<qint64>(maxSize - done, static_cast<qint64>(c.bytes.size() - c.used));
            std::memcpy(data + done, c.bytes.data() + c.used, static_cast<size_t>(n));
            c.used += static_cast<size_t>(n);
            done += n;
            m_readTime = c.time + bytesToTicks(static_cast<std::int64_t>(c.used));
            if (c.used == c.bytes.size())
                m_chunks.pop_front();
        }
        m_queuedBytes -= done;
        if (done > 0)
            m_lastPull = std::chrono::steady_clock::now();
        // Out of sound (the end of the recording, or the decoder is behind):
        // the sound no longer vouches for the position.
        m_starved = done < maxSize;
    }
    m_room.notify_all();
    if (done < maxSize && m_playing) {
        // Starved (or the decoder is behind): silence, so the sink keeps its pace.
        std::memset(data + done, 0, static_cast<size_t>(maxSize - done));
        return maxSize;
    }
    return done;
}

qint64 AudioRenderer::bytesAvailable() const
{
    std::lock_guard lock(m_mutex);
    return m_queuedBytes + QIODevice::bytesAvailable();
}

bool AudioRenderer::audioPosition(std::int64_t &position)
{
    std::lock_guard lock(m_mutex);
    if (!m_playing || m_starved || m_readTime < 0 || m_lastPull == std::chrono::steady_clock::time_point{})
        return false;
    const auto sincePull = std::chrono::steady_clock::now() - m_lastPull;
    if (sincePull > std::chrono::milliseconds(200))
        return false; // the sink stopped pulling: let the monotonic clock carry on
    // What is heard now was pulled one sink buffer ago; between pulls the
    // position moves on with the wall clock.
    const std::int64_t since = std::chrono::duration_cast<std::chrono::nanoseconds>(sincePull).count() / 100;
    position = std::max<std::int64_t>(0, m_readTime - m_latency + std::min(since, m_latency));
    return true;
}

void AudioRenderer::play()
{
    if (m_device.isNull())
        return;
    if (!m_sink) {
        m_sink = new QAudioSink(m_device, m_format);
        m_sink->setVolume(std::pow(10.0, m_volume.load() / 2000.0));
    }
    {
        std::lock_guard lock(m_mutex);
        m_playing = true;
        m_starved = false;
        m_lastPull = {};
    }
    m_sink->start(this);
    std::lock_guard lock(m_mutex);
    m_latency = bytesToTicks(m_sink->bufferSize());
}

void AudioRenderer::halt()
{
    {
        std::lock_guard lock(m_mutex);
        m_playing = false;
    }
    if (m_sink)
        m_sink->stop();
}

void AudioRenderer::setVolume(std::int32_t hundredthsOfDb)
{
    m_volume = std::clamp(hundredthsOfDb, -10000, 0);
    if (m_sink)
        m_sink->setVolume(std::pow(10.0, m_volume.load() / 2000.0));
}

// ---------------------------------------------------------------- decoder

AudioDecoder::AudioDecoder(std::string name) : m_name(std::move(name)) {}

AudioDecoder::~AudioDecoder()
{
    stop();
    avcodec_free_context(&m_codec);
}

HResult AudioDecoder::connect(const StreamParseFilter &source, AudioRenderer &renderer)
{
    const auto snapshot = source.snapshot();
    const RecordingIndex &index = *snapshot;
    if (index.audio.stream < 0)
        return E_FAIL;
    const AVCodec *codec = avcodec_find_decoder(index.audio.codec);
    if (!codec) {
        logError(m_name + ": no decoder for the sound of " + source.name());
        return E_FAIL;
    }
    // The stream's parameters (sample rate, channels, the AAC configuration)
    // come from a reader of the file.
    auto reader = source.openReader();
    if (!reader)
        return E_FAIL;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return E_FAIL;
    if (avcodec_parameters_to_context(ctx, reader->context()->streams[index.audio.stream]->codecpar) < 0
        || avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        logError(m_name + ": the sound decoder cannot be opened");
        return E_FAIL;
    }
    avcodec_free_context(&m_codec);
    m_codec = ctx;
    m_source = &source;
    m_renderer = &renderer;
    return S_OK;
}

void AudioDecoder::start()
{
    if (!m_codec || m_thread.joinable())
        return;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void AudioDecoder::seek(std::int64_t position)
{
    {
        std::lock_guard lock(m_mutex);
        m_seekPending = true;
        m_seekPosition = position;
        m_interrupt = true;
    }
    m_wake.notify_all();
    if (m_renderer)
        m_renderer->wakeWriter();
}

void AudioDecoder::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_interrupt = true;
    }
    m_wake.notify_all();
    if (!m_thread.joinable())
        return; // nothing runs: the renderer may already be gone
    m_renderer->wakeWriter();
    m_thread.join();
}

void AudioDecoder::run()
{
    std::vector<std::size_t> registered;
    auto reader = m_source->openReader(&m_interrupt, &registered);
    if (!reader)
        return;
    // The copy of the index this thread goes by; while the recording is
    // still walked, a newer one is taken at every seek and whenever the
    // reader has gone past the end of this one.
    std::shared_ptr<const RecordingIndex> index = m_source->snapshot();
    reader->keepStreams({index->audio.stream});
    const QAudioFormat out = m_renderer->format();
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, out.channelCount());
    SwrContext *raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, out.sampleRate(), &m_codec->ch_layout,
                            m_codec->sample_fmt, m_codec->sample_rate, 0, nullptr) < 0
        || swr_init(raw) < 0) {
        swr_free(&raw);
        logError(m_name + ": the sound cannot be converted for the output");
        return;
    }
    std::unique_ptr<SwrContext, SwrDeleter> swr(raw);
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    const int bytesPerFrame = 2 * out.channelCount();

    bool active = false;
    std::int64_t from = 0;      // sound before this time is not wanted
    std::int64_t nextTime = -1; // time of the next decoded sample

    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (!active)
                m_wake.wait(lock, [&] { return m_stop || m_seekPending; });
            if (m_stop)
                break;
            if (m_seekPending) {
                m_seekPending = false;
                m_interrupt = false;
                from = m_seekPosition;
                lock.unlock();
                // Sound is found by the picture at the same place: wait for
                // the walk to pass that picture, as the pictures do.
                const std::int64_t wanted = index->video.front().frameAtRate(from);
                index = m_source->waitForIndex(
                    [&](const RecordingIndex &i) {
                        return static_cast<std::int64_t>(i.video.front().frames.size()) > wanted;
                    },
                    &m_interrupt);
                if (m_interrupt.load()) {
                    active = false; // another seek or the stop came meanwhile
                    continue;
                }
                registerKeyFrames(*index, *reader, &registered);
                const VideoStreamIndex &video = index->video.front();
                const std::int64_t key = video.keyFrameAtOrBefore(video.frameAt(from));
                reader->seekToFrame(video.stream, key);
                avcodec_flush_buffers(m_codec);
                swr_init(swr.get());
                nextTime = -1;
                active = true;
            }
        }
        if (reader->read(packet.get()) < 0) {
            active = false; // the end: what is queued plays out
            continue;
        }
        if (packet->pos - 8 >= index->endPos && !index->complete)
            index = m_source->snapshot(); // the reader only reads what the walk has passed
        if (packet->pos - 8 >= index->endPos) {
            active = false;
            continue;
        }
        // A piece of a PCM chunk that the demuxer split has no entry of its
        // own: its sound follows the previous piece's.
        const std::int64_t packetTime = index->audio.timeAtPos(packet->pos - 8);
        if (packetTime < 0 && nextTime < 0)
            continue;
        if (avcodec_send_packet(m_codec, packet.get()) < 0)
            continue;
        if (nextTime < 0)
            nextTime = packetTime;
        while (avcodec_receive_frame(m_codec, frame.get()) == 0) {
            const int maxOut = swr_get_out_samples(swr.get(), frame->nb_samples);
            std::vector<char> bytes(static_cast<size_t>(std::max(maxOut, 0) * bytesPerFrame));
            auto *dst = reinterpret_cast<std::uint8_t *>(bytes.data());
            const int got = swr_convert(swr.get(), &dst, maxOut,
                                        const_cast<const std::uint8_t **>(frame->extended_data),
                                        frame->nb_samples);
            av_frame_unref(frame.get());
            if (got <= 0)
                continue;
            bytes.resize(static_cast<size_t>(got * bytesPerFrame));
            std::int64_t time = nextTime;
            nextTime += static_cast<std::int64_t>(got) * kTicksPerSecond / out.sampleRate();
            if (nextTime <= from)
                continue; // wholly before the seek target
            if (time < from) {
                const auto skip = static_cast<size_t>((from - time) * out.sampleRate() / kTicksPerSecond)
                    * static_cast<size_t>(bytesPerFrame);
                bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(skip, bytes.size())));
                time = from;
            }
            if (!m_renderer->write(std::move(bytes), time, m_interrupt))
                break;
        }
    }
}

} // namespace korvante
