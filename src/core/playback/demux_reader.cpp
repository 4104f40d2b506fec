#include "core/playback/demux_reader.h"

#include "core/platform/log.h"
#include "core/recording/riff_chunk.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

namespace korvante {
namespace {
constexpr int kIoBufferSize = 64 * 1024;

// FFmpeg's own messages (a damaged frame, the metadata stream's unknown
// codec) are diagnostics of the media, not of the program: they go to the
// log sink as debug lines instead of standard error.
void ffmpegLog(void *avcl, int level, const char *format, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    logDebug("ffmpeg: " + text);
}

void routeFfmpegLog()
{
    static const bool once = [] {
        av_log_set_callback(&ffmpegLog);
        return true;
    }();
    (void)once;
}
} // namespace

int DemuxReader::readCallback(void *opaque, std::uint8_t *buffer, int size)
{
    auto *self = static_cast<DemuxReader *>(opaque);
    std::int64_t room = self->m_limit - self->m_position;
    if (room <= 0 && self->m_grow) {
        self->m_limit = std::max(self->m_limit, self->m_grow(self->m_position));
        room = self->m_limit - self->m_position;
    }
    if (room <= 0)
        return AVERROR_EOF;
    const std::int64_t n = self->m_source->readAt(self->m_position, buffer, std::min<std::int64_t>(size, room));
    // Nothing where the source had bytes when it was opened is a failure too:
    // the file was cut or the card holding it went away.
    if (n < 0 || (n == 0 && self->m_position < self->m_source->size())) {
        self->m_readFailed = true;
        return AVERROR(EIO);
    }
    if (n == 0)
        return AVERROR_EOF;
    self->m_position += n;
    return static_cast<int>(n);
}

std::int64_t DemuxReader::seekCallback(void *opaque, std::int64_t offset, int whence)
{
    auto *self = static_cast<DemuxReader *>(opaque);
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

std::unique_ptr<DemuxReader> DemuxReader::open(std::unique_ptr<ByteSource> source,
                                               std::string *error)
{
    auto fail = [&](const std::string &why) -> std::unique_ptr<DemuxReader> {
        if (error)
            *error = why;
        return nullptr;
    };
    if (!source)
        return fail("no source");
    routeFfmpegLog();
    std::unique_ptr<DemuxReader> self(new DemuxReader);
    self->m_source = std::move(source);

    // A cheap check before the demuxer sees the bytes: a recording is RIFF AVI.
    unsigned char magic[recording::kRiffHeaderBytes] = {};
    if (self->m_source->readAt(0, magic, sizeof magic) != static_cast<std::int64_t>(sizeof magic)
        || !recording::isRiffAvi(magic))
        return fail("not a RIFF AVI file");

    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return fail("out of memory");
    self->m_io = avio_alloc_context(buffer, kIoBufferSize, 0, self.get(), &readCallback, nullptr,
                                    &seekCallback);
    if (!self->m_io) {
        av_free(buffer);
        return fail("out of memory");
    }
    self->m_format = avformat_alloc_context();
    if (!self->m_format)
        return fail("out of memory");
    self->m_format->pb = self->m_io;
    self->m_format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_IGNIDX;
    // The metadata stream has no codec; keep the demuxer's content probe of it short.
    self->m_format->probesize = 32;
    const AVInputFormat *avi = av_find_input_format("avi");
    if (!avi)
        return fail("the AVI demuxer is missing");
    AVFormatContext *format = self->m_format;
    // Opened as a stream that cannot seek, so that the demuxer does not go
    // and read the idx1 index itself: its entries would steer seeks (in a
    // damaged file, to damaged chunks) besides the ones the load checked and
    // registers, and every reader would read the whole index again.
    self->m_io->seekable = 0;
    const int rc = avformat_open_input(&format, nullptr, avi, nullptr);
    if (self->m_io)
        self->m_io->seekable = AVIO_SEEKABLE_NORMAL;
    if (rc < 0) {
        // avformat_open_input frees the context on failure; the I/O context stays ours.
        self->m_format = nullptr;
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        return fail(std::string("the AVI demuxer refused the file: ") + text);
    }
    return self;
}

DemuxReader::~DemuxReader()
{
    if (m_format)
        avformat_close_input(&m_format);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

void DemuxReader::keepStreams(std::initializer_list<int> streams)
{
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        const bool keep = std::find(streams.begin(), streams.end(), static_cast<int>(i)) != streams.end();
        m_format->streams[i]->discard = keep ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}

int DemuxReader::read(AVPacket *packet)
{
    av_packet_unref(packet);
    return av_read_frame(m_format, packet);
}

void DemuxReader::addKeyFrame(int stream, std::int64_t frame, std::int64_t pos, int size)
{
    if (stream < 0 || static_cast<unsigned>(stream) >= m_format->nb_streams)
        return;
    av_add_index_entry(m_format->streams[stream], pos, frame, size, 0, AVINDEX_KEYFRAME);
}

bool DemuxReader::seekToFrame(int stream, std::int64_t frame)
{
    return av_seek_frame(m_format, stream, frame, AVSEEK_FLAG_BACKWARD) >= 0;
}

} // namespace korvante
