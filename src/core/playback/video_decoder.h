#pragma once
// The video decoder of one slot: FFmpeg's decoder for the stream's codec
// (H.264, and whatever else FFmpeg decodes from the FourCC: MJPG, XVID, DIVX),
// running in a decode thread of its own. It reads the slot's stream with its
// own demuxer, converts each picture through the slot's colour converter and
// queues the images (a few at most) for the presentation thread.
//
// Threads: connect/start/seek/stop and the parameters on the user-interface
// thread; the decode loop on its own thread; the queue is shared with the
// presentation thread.

#include "core/playback/colour_converter.h"
#include "core/playback/decoder_params.h"
#include "core/playback/frame_queue.h"
#include "core/playback/recording_index.h"
#include "core/playback/result_codes.h"

#include <QImage>

#include <atomic>
#include <functional>
#include <memory>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct AVCodecContext;
struct AVFrame;

namespace korvante {

class StreamParseFilter;

struct DecodedFrame {
    std::int64_t number = 0;  // frame number in the stream
    std::int64_t time = 0;    // 100 ns units
    std::uint64_t generation = 0;
    QImage image;             // converted at the size the picture is shown
    // The decoded picture itself (a reference, not a copy) and the settings it
    // was converted with: a frame grab converts it again at its own size.
    std::shared_ptr<const AVFrame> source;
    PictureSettings settings;
};

class VideoDecoder final {
public:
    static constexpr std::size_t kQueueFrames = 4;

    explicit VideoDecoder(std::string name);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    const std::string &name() const { return m_name; }
    DecoderParams &params() { return m_params; }
    HResult GetParam(std::int32_t id, std::int32_t *value) const { return m_params.GetParam(id, value); }
    HResult SetParam(std::int32_t id, std::int32_t value) { return m_params.SetParam(id, value); }

    // Takes video stream `videoIndex` (0 first) of `source` and creates the
    // FFmpeg decoder for it. E_FAIL when the stream does not exist or FFmpeg
    // cannot decode its codec. `source` and `converter` must outlive the decoder's thread.
    HResult connect(const StreamParseFilter &source, int videoIndex, ColourConverter &converter);
    bool connected() const { return m_codec != nullptr; }
    // The stream as it was when connected (its frames are those known then:
    // a recording still being walked has more by now, see knownFrames).
    const VideoStreamIndex &stream() const { return m_connected->video[static_cast<size_t>(m_videoIndex)]; }

    // Frames of the stream the load has found so far; `all` says whether
    // that is every frame (the walk is over). Any thread.
    std::int64_t knownFrames(bool *all = nullptr) const;
    // The frame shown at `time` (100 ns): by the frame rate, and within the
    // frames once all are known. Any thread.
    std::int64_t frameAt(std::int64_t time) const;
    std::int64_t frameTime(std::int64_t frame) const { return stream().frameTime(frame); }

    // The size each picture is wanted at (asked once per frame, on the decode
    // thread; thread-safe). Unset: the picture's own size.
    void setOutputSize(std::function<QSize()> size) { m_outputSize = std::move(size); }

    // Starts the decode thread; it waits for the first seek.
    void start();
    // Decodes from the key frame at or before `frame`, queueing from `frame`
    // on, tagged with `generation`. Any thread may call it; frames of older
    // generations may still come out of the queue and are to be dropped.
    void seek(std::int64_t frame, std::uint64_t generation);
    void stop();

    BoundedQueue<DecodedFrame> &queue() { return m_queue; }
    // The generation whose frames have all been queued (end of stream).
    std::uint64_t endedGeneration() const { return m_endedGeneration.load(); }
    // Whether the recording stopped being readable while this decoder read it
    // (its card pulled out, its file cut): the pictures end there. Any thread.
    bool readFailed() const { return m_readFailed.load(); }

private:
    void run();

    const std::string m_name;
    DecoderParams m_params;
    const StreamParseFilter *m_source = nullptr;
    std::shared_ptr<const RecordingIndex> m_connected;
    int m_videoIndex = 0;
    ColourConverter *m_converter = nullptr;
    std::function<QSize()> m_outputSize; // set before start()
    AVCodecContext *m_codec = nullptr;
    BoundedQueue<DecodedFrame> m_queue{kQueueFrames};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_seekPending = false;
    std::int64_t m_seekFrame = 0;
    std::uint64_t m_seekGeneration = 0;
    std::atomic<bool> m_interrupt{false}; // a seek or stop waits: leave the queue push
    std::atomic<std::uint64_t> m_endedGeneration{0};
    std::atomic<bool> m_readFailed{false};
    std::thread m_thread;
};

} // namespace korvante
