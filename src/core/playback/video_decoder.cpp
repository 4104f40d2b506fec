#include "core/playback/video_decoder.h"

#include "core/platform/log.h"
#include "core/playback/demux_reader.h"
#include "core/playback/stream_parse_filter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <memory>

namespace korvante {
namespace {
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
} // namespace

VideoDecoder::VideoDecoder(std::string name) : m_name(std::move(name)) {}

VideoDecoder::~VideoDecoder()
{
    stop();
    avcodec_free_context(&m_codec);
}

HResult VideoDecoder::connect(const StreamParseFilter &source, int videoIndex, ColourConverter &converter)
{
    auto snapshot = source.snapshot();
    const RecordingIndex &index = *snapshot;
    if (videoIndex < 0 || static_cast<size_t>(videoIndex) >= index.video.size())
        return E_FAIL;
    const VideoStreamIndex &stream = index.video[static_cast<size_t>(videoIndex)];
    const AVCodec *codec = avcodec_find_decoder(stream.codec);
    if (!codec) {
        logError(m_name + ": no decoder for the video codec of " + source.name());
        return E_FAIL;
    }
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return E_FAIL;
    ctx->codec_tag = stream.fourcc;
    ctx->width = stream.width;
    ctx->height = stream.height;
    ctx->thread_count = 0; // as many as the machine has
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        logError(m_name + ": the video decoder cannot be opened");
        return E_FAIL;
    }
    avcodec_free_context(&m_codec);
    m_codec = ctx;
    m_source = &source;
    m_connected = std::move(snapshot);
    m_videoIndex = videoIndex;
    m_converter = &converter;
    return S_OK;
}

std::int64_t VideoDecoder::knownFrames(bool *all) const
{
    const auto index = m_source->snapshot();
    const auto &video = index->video;
    const auto slot = static_cast<size_t>(m_videoIndex);
    if (all)
        *all = index->complete;
    return slot < video.size() ? static_cast<std::int64_t>(video[slot].frames.size()) : 0;
}

std::int64_t VideoDecoder::frameAt(std::int64_t time) const
{
    bool all = false;
    const std::int64_t known = knownFrames(&all);
    const std::int64_t frame = stream().frameAtRate(time);
    return all ? std::clamp<std::int64_t>(frame, 0, std::max<std::int64_t>(known - 1, 0)) : frame;
}

void VideoDecoder::start()
{
    if (!m_codec || m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread([this] { run(); });
}

void VideoDecoder::seek(std::int64_t frame, std::uint64_t generation)
{
    {
        std::lock_guard lock(m_mutex);
        m_seekPending = true;
        m_seekFrame = frame;
        m_seekGeneration = generation;
        m_interrupt = true;
    }
    m_wake.notify_all();
    m_queue.wake();
}

void VideoDecoder::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_interrupt = true;
    }
    m_wake.notify_all();
    m_queue.wake();
    if (m_thread.joinable())
        m_thread.join();
    m_queue.clear();
}

void VideoDecoder::run()
{
    std::vector<std::size_t> registered;
    auto reader = m_source->openReader(&m_interrupt, &registered);
    if (!reader) {
        logError(m_name + ": the stream cannot be read");
        return;
    }
    const auto slot = static_cast<size_t>(m_videoIndex);
    // The copy of the index this thread goes by. While the recording is
    // still walked a newer copy is taken when the reader has gone past the
    // end of this one, and at every seek.
    std::shared_ptr<const RecordingIndex> index = m_source->snapshot();
    const VideoStreamIndex *stream = &index->video[slot];
    std::int64_t frameCount = static_cast<std::int64_t>(stream->frames.size());
    auto takeNewest = [&](std::shared_ptr<const RecordingIndex> newer) {
        index = std::move(newer);
        stream = &index->video[slot];
        frameCount = static_cast<std::int64_t>(stream->frames.size());
    };
    reader->keepStreams({stream->stream});
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());

    bool active = false;
    bool inputDone = false;
    std::uint64_t generation = 0;
    std::int64_t nextOut = 0;
    std::int64_t dropBefore = 0;

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
                generation = m_seekGeneration;
                const std::int64_t wanted = std::max<std::int64_t>(m_seekFrame, 0);
                lock.unlock();
                // A frame the walk has not reached yet: wait until it has
                // (the frame is then known exactly) or ends before it.
                takeNewest(m_source->waitForIndex(
                    [&](const RecordingIndex &i) { return static_cast<std::int64_t>(i.video[slot].frames.size()) > wanted; },
                    &m_interrupt));
                if (m_interrupt.load()) {
                    active = false; // another seek or the stop came meanwhile
                    continue;
                }
                registerKeyFrames(*index, *reader, &registered);
                dropBefore = std::clamp<std::int64_t>(wanted, 0, frameCount - 1);
                const std::int64_t key = stream->keyFrameAtOrBefore(dropBefore);
                if (!reader->seekToFrame(stream->stream, key))
                    logWarning(m_name + ": seeking failed");
                avcodec_flush_buffers(m_codec);
                nextOut = key;
                inputDone = false;
                active = true;
            }
        }

        if (!inputDone) {
            if (reader->read(packet.get()) < 0) {
                if (reader->readFailed() && !m_readFailed.exchange(true))
                    logWarning(m_name + ": the recording cannot be read any more; its pictures end here");
                inputDone = true;
                avcodec_send_packet(m_codec, nullptr); // drain the frames held back
            } else {
                const std::int64_t chunk = packet->pos - 8;
                if (packet->stream_index != stream->stream)
                    continue;
                if (chunk >= index->endPos && !index->complete)
                    takeNewest(m_source->snapshot()); // the reader only reads what the walk has passed
                if (chunk >= index->endPos) {
                    inputDone = true; // past the last whole chunk of a cut-off recording
                    avcodec_send_packet(m_codec, nullptr);
                } else if (stream->frameAtPos(chunk) < 0) {
                    continue; // not a frame the load scan accepted
                } else if (avcodec_send_packet(m_codec, packet.get()) < 0) {
                    logDebug(m_name + ": a damaged frame was skipped");
                }
            }
        }

        for (;;) {
            const int rc = avcodec_receive_frame(m_codec, frame.get());
            if (rc == AVERROR(EAGAIN))
                break;
            if (rc < 0) { // AVERROR_EOF after the drain, or a hard error
                active = false;
                if (!m_interrupt.load())
                    m_endedGeneration = generation;
                break;
            }
            const std::int64_t number = nextOut++;
            if (number < dropBefore || number >= frameCount)
                continue;
            DecodedFrame out;
            out.number = number;
            out.time = stream->frameTime(number);
            out.generation = generation;
            out.settings = m_params.snapshot();
            out.image = m_converter->convert(*frame, out.settings, m_outputSize ? m_outputSize() : QSize());
            // Hand the reference on rather than copying the picture.
            if (AVFrame *kept = av_frame_alloc()) {
                av_frame_move_ref(kept, frame.get());
                out.source.reset(kept, [](const AVFrame *f) {
                    AVFrame *p = const_cast<AVFrame *>(f);
                    av_frame_free(&p);
                });
            }
            av_frame_unref(frame.get());
            if (out.image.isNull())
                continue;
            if (!m_queue.push(std::move(out), [this] { return m_interrupt.load(); }))
                break; // the next turn of the loop takes the seek or the stop
        }
    }
}

} // namespace korvante
