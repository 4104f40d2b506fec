#pragma once
// Decodes one stream of a recording (a video channel or the sound) read with
// libavformat's AVI demuxer through a custom I/O context over a ByteSource, so
// plain files and card files read alike.
//
// Video frames come out in display order, each with its start as an offset
// from the recording's start. AVI keeps one time per chunk, in decode order,
// so a frame's time is counted from the key frame the decoder started at (its
// chunk's time) rather than taken from the reordered timestamps.
//
// Threads: one reader per thread; the reader owns its source.

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
}

namespace korvante {
class ByteSource;
}

namespace korvante::clip {

enum class StreamKind { Video, Audio };

class StreamReader {
public:
    // The `nth` stream of `kind` (0 the first: a card file's front video,
    // 1 its rear). Null with `why` when the bytes are no recording or hold no
    // such stream, or its decoder cannot be opened.
    static std::unique_ptr<StreamReader> open(std::unique_ptr<ByteSource> source, StreamKind kind, int nth,
                                              std::string *why);
    ~StreamReader();
    StreamReader(const StreamReader &) = delete;
    StreamReader &operator=(const StreamReader &) = delete;

    // Video: size and frame duration in µs. Audio: the decoder's sample rate.
    int width() const;
    int height() const;
    std::int64_t frameDurationUs() const { return m_frameDurationUs; }
    // Frames per second as a fraction (video).
    int rateNum() const { return m_rateNum; }
    int rateDen() const { return m_rateDen; }
    // Bits a second of the stream's chunks, from the recording's index; 0 unknown.
    std::int64_t bitRate() const { return m_bitRate; }
    AVCodecContext *decoder() const { return m_decoder; }

    // Goes to the key frame at or before `offsetUs` (the recording's start
    // when there is no index); the next frames are decoded from there.
    void seek(std::int64_t offsetUs);
    // The next decoded frame and its start in µs from the recording's start;
    // null at the end of the stream. The frame stays valid until the next call.
    AVFrame *next(std::int64_t &startUs);
    // Why reading stopped early, if it did (a damaged or cut-off recording ends quietly).
    const std::string &error() const { return m_error; }

private:
    StreamReader() = default;
    bool readPacket();

    static int readCallback(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t seekCallback(void *opaque, std::int64_t offset, int whence);

    std::unique_ptr<ByteSource> m_source;
    std::int64_t m_position = 0;
    AVIOContext *m_io = nullptr;
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_decoder = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_frame = nullptr;
    StreamKind m_kind = StreamKind::Video;
    int m_stream = -1;
    int m_rateNum = 30, m_rateDen = 1;
    std::int64_t m_frameDurationUs = 33'333;
    std::int64_t m_bitRate = 0;
    // Video: the key frame decoding started at, and the frames given since.
    std::int64_t m_baseUs = 0;
    std::int64_t m_given = 0;
    bool m_waitKey = false;
    bool m_drained = false; // the demuxer ended and the decoder was told so
    std::int64_t m_audioNextUs = 0;
    std::string m_error;
};

} // namespace korvante::clip
