#include "media_loader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libavutil/sha.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>

#include <dlfcn.h>

// Every FFmpeg function the program calls, with the library that has it.
#define KORVANTE_FFMPEG_FUNCTIONS(X)                                                                                 \
    X(avutil, av_audio_fifo_alloc)                                                                                   \
    X(avutil, av_audio_fifo_free)                                                                                    \
    X(avutil, av_audio_fifo_read)                                                                                    \
    X(avutil, av_audio_fifo_size)                                                                                    \
    X(avutil, av_audio_fifo_write)                                                                                   \
    X(avutil, av_channel_layout_compare)                                                                             \
    X(avutil, av_channel_layout_copy)                                                                                \
    X(avutil, av_channel_layout_default)                                                                             \
    X(avutil, av_channel_layout_uninit)                                                                              \
    X(avutil, av_dict_free)                                                                                          \
    X(avutil, av_dict_set)                                                                                           \
    X(avutil, av_frame_alloc)                                                                                        \
    X(avutil, av_frame_clone)                                                                                        \
    X(avutil, av_frame_free)                                                                                         \
    X(avutil, av_frame_get_buffer)                                                                                   \
    X(avutil, av_frame_make_writable)                                                                                \
    X(avutil, av_frame_move_ref)                                                                                     \
    X(avutil, av_frame_unref)                                                                                        \
    X(avutil, av_free)                                                                                               \
    X(avutil, av_freep)                                                                                              \
    X(avutil, av_image_copy_plane)                                                                                   \
    X(avutil, av_log_format_line2)                                                                                   \
    X(avutil, av_log_set_callback)                                                                                   \
    X(avutil, av_malloc)                                                                                             \
    X(avutil, av_opt_set)                                                                                            \
    X(avutil, av_pix_fmt_desc_get)                                                                                   \
    X(avutil, av_reduce)                                                                                             \
    X(avutil, av_rescale)                                                                                            \
    X(avutil, av_rescale_q)                                                                                          \
    X(avutil, av_rescale_rnd)                                                                                        \
    X(avutil, av_sha_alloc)                                                                                          \
    X(avutil, av_sha_final)                                                                                          \
    X(avutil, av_sha_init)                                                                                           \
    X(avutil, av_sha_update)                                                                                         \
    X(avutil, av_strerror)                                                                                           \
    X(swresample, swr_alloc_set_opts2)                                                                               \
    X(swresample, swr_convert)                                                                                       \
    X(swresample, swr_free)                                                                                          \
    X(swresample, swr_get_out_samples)                                                                               \
    X(swresample, swr_init)                                                                                          \
    X(swscale, sws_freeContext)                                                                                      \
    X(swscale, sws_getCachedContext)                                                                                 \
    X(swscale, sws_getContext)                                                                                       \
    X(swscale, sws_scale)                                                                                            \
    X(avcodec, av_packet_alloc)                                                                                      \
    X(avcodec, av_packet_free)                                                                                       \
    X(avcodec, av_packet_rescale_ts)                                                                                 \
    X(avcodec, av_packet_unref)                                                                                      \
    X(avcodec, avcodec_alloc_context3)                                                                               \
    X(avcodec, avcodec_find_decoder)                                                                                 \
    X(avcodec, avcodec_find_encoder)                                                                                 \
    X(avcodec, avcodec_find_encoder_by_name)                                                                         \
    X(avcodec, avcodec_flush_buffers)                                                                                \
    X(avcodec, avcodec_free_context)                                                                                 \
    X(avcodec, avcodec_open2)                                                                                        \
    X(avcodec, avcodec_parameters_from_context)                                                                      \
    X(avcodec, avcodec_parameters_to_context)                                                                        \
    X(avcodec, avcodec_receive_frame)                                                                                \
    X(avcodec, avcodec_receive_packet)                                                                               \
    X(avcodec, avcodec_send_frame)                                                                                   \
    X(avcodec, avcodec_send_packet)                                                                                  \
    X(avformat, av_add_index_entry)                                                                                  \
    X(avformat, av_find_input_format)                                                                                \
    X(avformat, av_interleaved_write_frame)                                                                          \
    X(avformat, av_read_frame)                                                                                       \
    X(avformat, av_seek_frame)                                                                                       \
    X(avformat, av_write_trailer)                                                                                    \
    X(avformat, avformat_alloc_context)                                                                              \
    X(avformat, avformat_alloc_output_context2)                                                                      \
    X(avformat, avformat_close_input)                                                                                \
    X(avformat, avformat_free_context)                                                                               \
    X(avformat, avformat_index_get_entries_count)                                                                    \
    X(avformat, avformat_index_get_entry)                                                                            \
    X(avformat, avformat_new_stream)                                                                                 \
    X(avformat, avformat_open_input)                                                                                 \
    X(avformat, avformat_write_header)                                                                               \
    X(avformat, avio_alloc_context)                                                                                  \
    X(avformat, avio_context_free)                                                                                   \
    X(avformat, avio_flush)

namespace {

struct Functions {
#define KORVANTE_MEMBER(lib, name) decltype(&::name) name = nullptr;
    KORVANTE_FFMPEG_FUNCTIONS(KORVANTE_MEMBER)
#undef KORVANTE_MEMBER
};

struct Library {
    const char *key;
    const char *soname; // from the FFmpeg the program was built against
};

// In dependency order, each opened with its symbols global for the next.
constexpr Library kLibraries[] = {
    {"avutil", KORVANTE_AVUTIL_SONAME},
    {"swresample", KORVANTE_SWRESAMPLE_SONAME},
    {"swscale", KORVANTE_SWSCALE_SONAME},
    {"avcodec", KORVANTE_AVCODEC_SONAME},
    {"avformat", KORVANTE_AVFORMAT_SONAME},
};

struct State {
    std::once_flag started;
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    bool ok = false;
    std::string problem;
    Functions functions;
    // A log callback asked for before the load: set when it is done.
    void (*pendingLogCallback)(void *, int, const char *, va_list) = nullptr;
};

State &state()
{
    // Never destroyed: calls may come from threads still running at exit.
    static State *s = new State;
    return *s;
}

void *handleFor(void *const handles[], const char *key)
{
    for (size_t i = 0; i < std::size(kLibraries); ++i)
        if (std::string_view(kLibraries[i].key) == key)
            return handles[i];
    return nullptr;
}

void load()
{
    State &s = state();
    Functions f;
    std::string problem;
    void *handles[std::size(kLibraries)] = {};
    for (size_t i = 0; i < std::size(kLibraries) && problem.empty(); ++i) {
        handles[i] = ::dlopen(kLibraries[i].soname, RTLD_NOW | RTLD_GLOBAL);
        if (!handles[i]) {
            const char *error = ::dlerror();
            problem = std::string("cannot load ") + kLibraries[i].soname + ": " + (error ? error : "unknown error");
        }
    }
    if (problem.empty()) {
#define KORVANTE_RESOLVE(lib, name)                                                                                  \
    f.name = reinterpret_cast<decltype(&::name)>(::dlsym(handleFor(handles, #lib), #name));                          \
    if (!f.name && problem.empty())                                                                                  \
        problem = std::string(#name) + " is missing from lib" #lib;
        KORVANTE_FFMPEG_FUNCTIONS(KORVANTE_RESOLVE)
#undef KORVANTE_RESOLVE
    }
    if (!problem.empty())
        std::fprintf(stderr, "korvante: FFmpeg could not be loaded: %s\n", problem.c_str());
    std::lock_guard lock(s.mutex);
    if (problem.empty() && s.pendingLogCallback)
        f.av_log_set_callback(s.pendingLogCallback);
    s.functions = f;
    s.ok = problem.empty();
    s.problem = problem;
    s.done = true;
    s.done_cv.notify_all();
}

} // namespace

namespace korvante::media_loader {

void startLoading()
{
    State &s = state();
    std::call_once(s.started, [] { std::thread(load).detach(); });
}

bool waitLoaded(std::string *problem)
{
    State &s = state();
    startLoading();
    std::unique_lock lock(s.mutex);
    s.done_cv.wait(lock, [&s] { return s.done; });
    if (problem)
        *problem = s.problem;
    return s.ok;
}

} // namespace korvante::media_loader

namespace {

const Functions *loaded()
{
    static const Functions *functions = [] {
        State &s = state();
        return korvante::media_loader::waitLoaded() ? &s.functions : nullptr;
    }();
    return functions;
}

// Calls that cannot go on without FFmpeg end the program with the reason:
// only the look-ups below can say "not there" to their callers, and the
// viewer asks those first (a missing FFmpeg closes it before any playback).
const Functions &required()
{
    const Functions *f = loaded();
    if (!f) {
        std::string problem;
        korvante::media_loader::waitLoaded(&problem);
        std::fprintf(stderr, "korvante: cannot play without FFmpeg (%s)\n", problem.c_str());
        std::abort();
    }
    return *f;
}

} // namespace

extern "C" {

// Look-ups: "not found" without FFmpeg.
const AVInputFormat *av_find_input_format(const char *short_name)
{
    const Functions *f = loaded();
    return f ? f->av_find_input_format(short_name) : nullptr;
}
const AVCodec *avcodec_find_decoder(enum AVCodecID id)
{
    const Functions *f = loaded();
    return f ? f->avcodec_find_decoder(id) : nullptr;
}
// Kept until the load is done rather than waiting for it.
void av_log_set_callback(void (*callback)(void *, int, const char *, va_list))
{
    State &s = state();
    {
        std::lock_guard lock(s.mutex);
        if (!s.done) {
            s.pendingLogCallback = callback;
            return;
        }
    }
    if (const Functions *f = loaded())
        f->av_log_set_callback(callback);
}

void av_channel_layout_default(AVChannelLayout *ch_layout, int nb_channels)
{
    required().av_channel_layout_default(ch_layout, nb_channels);
}
AVFrame *av_frame_alloc(void) { return required().av_frame_alloc(); }
AVFrame *av_frame_clone(const AVFrame *src) { return required().av_frame_clone(src); }
void av_frame_free(AVFrame **frame) { required().av_frame_free(frame); }
int av_frame_get_buffer(AVFrame *frame, int align) { return required().av_frame_get_buffer(frame, align); }
int av_frame_make_writable(AVFrame *frame) { return required().av_frame_make_writable(frame); }
void av_frame_move_ref(AVFrame *dst, AVFrame *src) { required().av_frame_move_ref(dst, src); }
void av_frame_unref(AVFrame *frame) { required().av_frame_unref(frame); }
void av_free(void *ptr) { required().av_free(ptr); }
void av_freep(void *ptr) { required().av_freep(ptr); }
int av_log_format_line2(void *ptr, int level, const char *fmt, va_list vl, char *line, int line_size,
                        int *print_prefix)
{
    return required().av_log_format_line2(ptr, level, fmt, vl, line, line_size, print_prefix);
}
void *av_malloc(size_t size) { return required().av_malloc(size); }
const AVPixFmtDescriptor *av_pix_fmt_desc_get(enum AVPixelFormat pix_fmt)
{
    return required().av_pix_fmt_desc_get(pix_fmt);
}
int64_t av_rescale(int64_t a, int64_t b, int64_t c) { return required().av_rescale(a, b, c); }
int64_t av_rescale_rnd(int64_t a, int64_t b, int64_t c, enum AVRounding rnd)
{
    return required().av_rescale_rnd(a, b, c, rnd);
}
int av_strerror(int errnum, char *errbuf, size_t errbuf_size)
{
    return required().av_strerror(errnum, errbuf, errbuf_size);
}

int swr_alloc_set_opts2(struct SwrContext **ps, AVChannelLayout *out_ch_layout, enum AVSampleFormat out_sample_fmt,
                        int out_sample_rate, AVChannelLayout *in_ch_layout, enum AVSampleFormat in_sample_fmt,
                        int in_sample_rate, int log_offset, void *log_ctx)
{
    return required().swr_alloc_set_opts2(ps, out_ch_layout, out_sample_fmt, out_sample_rate, in_ch_layout,
                                          in_sample_fmt, in_sample_rate, log_offset, log_ctx);
}
int swr_convert(struct SwrContext *s, uint8_t **out, int out_count, const uint8_t **in, int in_count)
{
    return required().swr_convert(s, out, out_count, in, in_count);
}
void swr_free(struct SwrContext **s) { required().swr_free(s); }
int swr_get_out_samples(struct SwrContext *s, int in_samples) { return required().swr_get_out_samples(s, in_samples); }
int swr_init(struct SwrContext *s) { return required().swr_init(s); }

void sws_freeContext(struct SwsContext *swsContext) { required().sws_freeContext(swsContext); }
struct SwsContext *sws_getCachedContext(struct SwsContext *context, int srcW, int srcH, enum AVPixelFormat srcFormat,
                                        int dstW, int dstH, enum AVPixelFormat dstFormat, int flags,
                                        SwsFilter *srcFilter, SwsFilter *dstFilter, const double *param)
{
    return required().sws_getCachedContext(context, srcW, srcH, srcFormat, dstW, dstH, dstFormat, flags, srcFilter,
                                           dstFilter, param);
}
int sws_scale(struct SwsContext *c, const uint8_t *const srcSlice[], const int srcStride[], int srcSliceY,
              int srcSliceH, uint8_t *const dst[], const int dstStride[])
{
    return required().sws_scale(c, srcSlice, srcStride, srcSliceY, srcSliceH, dst, dstStride);
}

AVPacket *av_packet_alloc(void) { return required().av_packet_alloc(); }
void av_packet_free(AVPacket **pkt) { required().av_packet_free(pkt); }
void av_packet_unref(AVPacket *pkt) { required().av_packet_unref(pkt); }
AVCodecContext *avcodec_alloc_context3(const AVCodec *codec) { return required().avcodec_alloc_context3(codec); }
void avcodec_flush_buffers(AVCodecContext *avctx) { required().avcodec_flush_buffers(avctx); }
void avcodec_free_context(AVCodecContext **avctx) { required().avcodec_free_context(avctx); }
int avcodec_open2(AVCodecContext *avctx, const AVCodec *codec, AVDictionary **options)
{
    return required().avcodec_open2(avctx, codec, options);
}
int avcodec_parameters_to_context(AVCodecContext *codec, const AVCodecParameters *par)
{
    return required().avcodec_parameters_to_context(codec, par);
}
int avcodec_receive_frame(AVCodecContext *avctx, AVFrame *frame) { return required().avcodec_receive_frame(avctx, frame); }
int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt) { return required().avcodec_send_packet(avctx, avpkt); }

int av_add_index_entry(AVStream *st, int64_t pos, int64_t timestamp, int size, int distance, int flags)
{
    return required().av_add_index_entry(st, pos, timestamp, size, distance, flags);
}
int av_read_frame(AVFormatContext *s, AVPacket *pkt) { return required().av_read_frame(s, pkt); }
int av_seek_frame(AVFormatContext *s, int stream_index, int64_t timestamp, int flags)
{
    return required().av_seek_frame(s, stream_index, timestamp, flags);
}
AVFormatContext *avformat_alloc_context(void) { return required().avformat_alloc_context(); }
void avformat_close_input(AVFormatContext **s) { required().avformat_close_input(s); }
int avformat_open_input(AVFormatContext **ps, const char *url, const AVInputFormat *fmt, AVDictionary **options)
{
    return required().avformat_open_input(ps, url, fmt, options);
}
AVIOContext *avio_alloc_context(unsigned char *buffer, int buffer_size, int write_flag, void *opaque,
                                int (*read_packet)(void *opaque, uint8_t *buf, int buf_size),
                                int (*write_packet)(void *opaque, uint8_t *buf, int buf_size),
                                int64_t (*seek)(void *opaque, int64_t offset, int whence))
{
    return required().avio_alloc_context(buffer, buffer_size, write_flag, opaque, read_packet, write_packet, seek);
}
void avio_context_free(AVIOContext **s) { required().avio_context_free(s); }


// Writing clips (encoders, the MP4 muxer, the evidence's digests).
AVAudioFifo *av_audio_fifo_alloc(enum AVSampleFormat sample_fmt, int channels, int nb_samples)
{
    return required().av_audio_fifo_alloc(sample_fmt, channels, nb_samples);
}
void av_audio_fifo_free(AVAudioFifo *af) { required().av_audio_fifo_free(af); }
int av_audio_fifo_read(AVAudioFifo *af, void **data, int nb_samples)
{
    return required().av_audio_fifo_read(af, data, nb_samples);
}
int av_audio_fifo_size(AVAudioFifo *af) { return required().av_audio_fifo_size(af); }
int av_audio_fifo_write(AVAudioFifo *af, void **data, int nb_samples)
{
    return required().av_audio_fifo_write(af, data, nb_samples);
}
int av_channel_layout_compare(const AVChannelLayout *chl, const AVChannelLayout *chl1)
{
    return required().av_channel_layout_compare(chl, chl1);
}
int av_channel_layout_copy(AVChannelLayout *dst, const AVChannelLayout *src)
{
    return required().av_channel_layout_copy(dst, src);
}
void av_channel_layout_uninit(AVChannelLayout *channel_layout) { required().av_channel_layout_uninit(channel_layout); }
void av_dict_free(AVDictionary **m) { required().av_dict_free(m); }
int av_dict_set(AVDictionary **pm, const char *key, const char *value, int flags)
{
    return required().av_dict_set(pm, key, value, flags);
}
void av_image_copy_plane(uint8_t *dst, int dst_linesize, const uint8_t *src, int src_linesize, int bytewidth, int height)
{
    required().av_image_copy_plane(dst, dst_linesize, src, src_linesize, bytewidth, height);
}
int av_opt_set(void *obj, const char *name, const char *val, int search_flags)
{
    return required().av_opt_set(obj, name, val, search_flags);
}
int av_reduce(int *dst_num, int *dst_den, int64_t num, int64_t den, int64_t max)
{
    return required().av_reduce(dst_num, dst_den, num, den, max);
}
int64_t av_rescale_q(int64_t a, AVRational bq, AVRational cq) { return required().av_rescale_q(a, bq, cq); }
struct AVSHA *av_sha_alloc(void) { return required().av_sha_alloc(); }
void av_sha_final(struct AVSHA *context, uint8_t *digest) { required().av_sha_final(context, digest); }
int av_sha_init(struct AVSHA *context, int bits) { return required().av_sha_init(context, bits); }
void av_sha_update(struct AVSHA *ctx, const uint8_t *data, size_t len) { required().av_sha_update(ctx, data, len); }
struct SwsContext *sws_getContext(int srcW, int srcH, enum AVPixelFormat srcFormat, int dstW, int dstH,
                                  enum AVPixelFormat dstFormat, int flags, SwsFilter *srcFilter, SwsFilter *dstFilter,
                                  const double *param)
{
    return required().sws_getContext(srcW, srcH, srcFormat, dstW, dstH, dstFormat, flags, srcFilter, dstFilter, param);
}
void av_packet_rescale_ts(AVPacket *pkt, AVRational tb_src, AVRational tb_dst)
{
    required().av_packet_rescale_ts(pkt, tb_src, tb_dst);
}
const AVCodec *avcodec_find_encoder(enum AVCodecID id) { return required().avcodec_find_encoder(id); }
const AVCodec *avcodec_find_encoder_by_name(const char *name) { return required().avcodec_find_encoder_by_name(name); }
int avcodec_parameters_from_context(AVCodecParameters *par, const AVCodecContext *codec)
{
    return required().avcodec_parameters_from_context(par, codec);
}
int avcodec_receive_packet(AVCodecContext *avctx, AVPacket *avpkt) { return required().avcodec_receive_packet(avctx, avpkt); }
int avcodec_send_frame(AVCodecContext *avctx, const AVFrame *frame) { return required().avcodec_send_frame(avctx, frame); }
int av_interleaved_write_frame(AVFormatContext *s, AVPacket *pkt) { return required().av_interleaved_write_frame(s, pkt); }
int av_write_trailer(AVFormatContext *s) { return required().av_write_trailer(s); }
int avformat_alloc_output_context2(AVFormatContext **ctx, const AVOutputFormat *oformat, const char *format_name,
                                   const char *filename)
{
    return required().avformat_alloc_output_context2(ctx, oformat, format_name, filename);
}
void avformat_free_context(AVFormatContext *s) { required().avformat_free_context(s); }
int avformat_index_get_entries_count(const AVStream *st) { return required().avformat_index_get_entries_count(st); }
const AVIndexEntry *avformat_index_get_entry(AVStream *st, int idx) { return required().avformat_index_get_entry(st, idx); }
AVStream *avformat_new_stream(AVFormatContext *s, const AVCodec *c) { return required().avformat_new_stream(s, c); }
int avformat_write_header(AVFormatContext *s, AVDictionary **options)
{
    return required().avformat_write_header(s, options);
}
void avio_flush(AVIOContext *s) { required().avio_flush(s); }

} // extern "C"
