#include "core/playback/colour_converter.h"

#include "core/platform/log.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korvante {
namespace {

struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};

bool isPlanarYuv8(AVPixelFormat format)
{
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
    return d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM))
        && (d->flags & AV_PIX_FMT_FLAG_PLANAR) && d->nb_components >= 3 && d->comp[0].depth == 8;
}

} // namespace

class ColourConverter::BufferPool {
public:
    ~BufferPool()
    {
        for (auto *b : m_free)
            av_free(b);
    }
    std::uint8_t *take(size_t bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            if (bytes != m_bytes) {
                for (auto *b : m_free)
                    av_free(b);
                m_free.clear();
                m_bytes = bytes;
            }
            if (!m_free.empty()) {
                auto *b = m_free.back();
                m_free.pop_back();
                return b;
            }
        }
        return static_cast<std::uint8_t *>(av_malloc(bytes));
    }
    void give(std::uint8_t *buffer, size_t bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            if (bytes == m_bytes && m_free.size() < kKeep) {
                m_free.push_back(buffer);
                return;
            }
        }
        av_free(buffer);
    }

private:
    static constexpr size_t kKeep = 8;
    std::mutex m_mutex;
    std::vector<std::uint8_t *> m_free;
    size_t m_bytes = 0;
};

namespace {
struct PoolTicket {
    std::shared_ptr<ColourConverter::BufferPool> pool;
    std::uint8_t *buffer;
    size_t bytes;
};

void returnBuffer(void *info)
{
    auto *ticket = static_cast<PoolTicket *>(info);
    ticket->pool->give(ticket->buffer, ticket->bytes);
    delete ticket;
}
} // namespace

QImage ColourConverter::newImage(int width, int height, int rows)
{
    if (!m_pool)
        m_pool = std::make_shared<BufferPool>();
    const qsizetype bytesPerLine = (static_cast<qsizetype>(width) * 4 + 63) & ~qsizetype(63);
    const auto bytes = static_cast<size_t>(bytesPerLine) * static_cast<size_t>(std::max(rows, height));
    std::uint8_t *buffer = m_pool->take(bytes);
    if (!buffer)
        return QImage();
    auto *ticket = new PoolTicket{m_pool, buffer, bytes};
    return QImage(buffer, width, height, bytesPerLine, QImage::Format_RGB32, &returnBuffer, ticket);
}

ColourConverter::~ColourConverter()
{
    sws_freeContext(m_scaler);
    sws_freeContext(m_toRgb);
    sws_freeContext(m_generic);
    for (AVFrame *&f : m_half)
        av_frame_free(&f);
    av_frame_free(&m_shown);
}

namespace {

// `frame` (re)allocated as a `format` picture of width x height; false when
// memory runs out. Kept when it already is one.
bool ensureFrame(AVFrame *&frame, int width, int height, AVPixelFormat format)
{
    if (frame && frame->width == width && frame->height == height && frame->format == format)
        return true;
    av_frame_free(&frame);
    frame = av_frame_alloc();
    if (!frame)
        return false;
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame, 64) < 0) {
        av_frame_free(&frame);
        return false;
    }
    return true;
}

// One row of 2 x 2 averages: out[x] = (a[2x] + a[2x+1] + b[2x] + b[2x+1] + 2) / 4
// for x < count. Sixteen at a time with SSE2 where the build has it.
void averageRow(const std::uint8_t *a, const std::uint8_t *b, std::uint8_t *out, int count)
{
    int x = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i two = _mm_set1_epi16(2);
    for (; x + 16 <= count; x += 16) {
        const std::uint8_t *pa = a + 2 * x, *pb = b + 2 * x;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pa));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pa + 16));
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pb));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pb + 16));
        // Vertical sums in 16 bits, then neighbouring pairs added by madd.
        const __m128i s0 = _mm_madd_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(b0, zero)), ones);
        const __m128i s1 = _mm_madd_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(b0, zero)), ones);
        const __m128i s2 = _mm_madd_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(b1, zero)), ones);
        const __m128i s3 = _mm_madd_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(b1, zero)), ones);
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_packs_epi32(s0, s1), two), 2);
        const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_packs_epi32(s2, s3), two), 2);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < count; ++x)
        out[x] = static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
}

// Formats whose pictures the fast unscaled YUV to RGB converter takes as they are.
bool rgbReady(AVPixelFormat format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUV422P
        || format == AV_PIX_FMT_YUVJ422P;
}

bool fullRange(const AVFrame &frame)
{
    const auto f = static_cast<AVPixelFormat>(frame.format);
    return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P;
}

} // namespace

const AVFrame *ColourConverter::halve(const AVFrame &frame, int slot)
{
    const auto format = static_cast<AVPixelFormat>(frame.format);
    if (!isPlanarYuv8(format) || frame.width < 4 || frame.height < 4)
        return nullptr;
    const int width = frame.width / 2, height = frame.height / 2;
    AVFrame *&half = m_half[static_cast<size_t>(slot)];
    if (!ensureFrame(half, width, height, format))
        return nullptr;
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
    for (int plane = 0; plane < 3; ++plane) {
        const int shiftW = plane ? d->log2_chroma_w : 0, shiftH = plane ? d->log2_chroma_h : 0;
        const int outW = AV_CEIL_RSHIFT(width, shiftW), outH = AV_CEIL_RSHIFT(height, shiftH);
        // Source rows and columns used: 2 per output one, within the plane.
        const int inW = AV_CEIL_RSHIFT(frame.width, shiftW), inH = AV_CEIL_RSHIFT(frame.height, shiftH);
        if (outW * 2 > inW + 1 || outH * 2 > inH + 1)
            return nullptr;
        const int whole = std::min(outW, inW / 2);
        for (int y = 0; y < outH; ++y) {
            const int y0 = std::min(2 * y, inH - 1), y1 = std::min(2 * y + 1, inH - 1);
            const std::uint8_t *a = frame.data[plane] + static_cast<std::ptrdiff_t>(y0) * frame.linesize[plane];
            const std::uint8_t *b = frame.data[plane] + static_cast<std::ptrdiff_t>(y1) * frame.linesize[plane];
            std::uint8_t *out = half->data[plane] + static_cast<std::ptrdiff_t>(y) * half->linesize[plane];
            averageRow(a, b, out, whole);
            for (int x = whole; x < outW; ++x)
                out[x] = static_cast<std::uint8_t>((a[inW - 1] + b[inW - 1] + 1) >> 1);
        }
    }
    half->colorspace = frame.colorspace;
    half->color_range = frame.color_range;
    return half;
}

bool ColourConverter::adjustPlanes(AVFrame &frame, const PictureSettings &s)
{
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    // Luminance: y' = y × gain / 128 + offset, through a table.
    std::array<std::uint8_t, 256> lut{};
    for (int y = 0; y < 256; ++y)
        lut[static_cast<size_t>(y)] = static_cast<std::uint8_t>(std::clamp(y * s.gain / 128 + s.offset, 0, 255));
    for (int row = 0; row < frame.height; ++row) {
        std::uint8_t *p = frame.data[0] + static_cast<std::ptrdiff_t>(row) * frame.linesize[0];
        for (int x = 0; x < frame.width; ++x)
            p[x] = lut[p[x]];
    }
    // Chroma: rotate by the hue angle and scale by saturation / 64, in 16.16 fixed point.
    if (s.hue != 0 || s.saturation != 64) {
        const double angle = s.hue * M_PI / 180.0;
        const int c = static_cast<int>(std::lround(std::cos(angle) * s.saturation / 64.0 * 65536.0));
        const int n = static_cast<int>(std::lround(std::sin(angle) * s.saturation / 64.0 * 65536.0));
        const int cw = AV_CEIL_RSHIFT(frame.width, d->log2_chroma_w);
        const int ch = AV_CEIL_RSHIFT(frame.height, d->log2_chroma_h);
        for (int row = 0; row < ch; ++row) {
            std::uint8_t *u = frame.data[1] + static_cast<std::ptrdiff_t>(row) * frame.linesize[1];
            std::uint8_t *v = frame.data[2] + static_cast<std::ptrdiff_t>(row) * frame.linesize[2];
            for (int x = 0; x < cw; ++x) {
                const int cu = u[x] - 128, cv = v[x] - 128;
                const int nu = (cu * c - cv * n) / 65536 + 128;
                const int nv = (cu * n + cv * c) / 65536 + 128;
                u[x] = static_cast<std::uint8_t>(std::clamp(nu, 0, 255));
                v[x] = static_cast<std::uint8_t>(std::clamp(nv, 0, 255));
            }
        }
    }
    return true;
}

QSize ColourConverter::outputSize(QSize native, QSize wanted)
{
    // Any shown size, larger ones included: enlarging here is a filtered
    // scale in YUV, where painting would repeat pixels or scale in RGB on the
    // user-interface thread.
    if (wanted.isValid() && !wanted.isEmpty())
        return wanted;
    return native;
}

void ColourConverter::reportOnce(const char *what)
{
    if (!m_reported)
        logError(m_name + ": " + what);
    m_reported = true;
}

const AVFrame *ColourConverter::shownPicture(const AVFrame &source, QSize out, const PictureSettings &settings)
{
    const auto format = static_cast<AVPixelFormat>(source.format);
    const bool adjust = settings.adjustsColour();
    // The fast converter pairs rows: an odd height is made one row taller
    // here, and the image leaves that row out.
    const int height = (out.height() + 1) & ~1;
    if (!adjust && out == QSize(source.width, source.height) && height == source.height && rgbReady(format))
        return &source; // shown at its own size: straight to RGB
    // Halve while the picture stays at least twice the shown size: the
    // averages are cheap and leave the scaler a quarter of the pixels each.
    const AVFrame *from = &source;
    for (int slot = 0; slot < 2; ++slot) {
        if (out.width() * 2 > from->width || height * 2 > from->height)
            break;
        const AVFrame *half = halve(*from, slot);
        if (!half)
            break;
        from = half;
    }
    const AVPixelFormat shownFormat = fullRange(source) ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    if (!ensureFrame(m_shown, out.width(), height, shownFormat)) {
        reportOnce("out of memory for a picture");
        return nullptr;
    }
    // Bilinear: a filter as wide as the step when shrinking, interpolation
    // when enlarging; same-size copies take swscale's unscaled path.
    m_scaler = sws_getCachedContext(m_scaler, from->width, from->height, static_cast<AVPixelFormat>(from->format),
                                    out.width(), height, shownFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler) {
        reportOnce("no scaling of the decoder's picture format");
        return nullptr;
    }
    sws_scale(m_scaler, from->data, from->linesize, 0, from->height, m_shown->data, m_shown->linesize);
    // Adjusted on the shown pixels only (the decoder's own picture is shared).
    if (adjust)
        adjustPlanes(*m_shown, settings);
    return m_shown;
}

QImage ColourConverter::convert(const AVFrame &source, const PictureSettings &settings, QSize size)
{
    const QSize out = outputSize(QSize(source.width, source.height), size);
    if (out.isEmpty())
        return QImage();
    if (!isPlanarYuv8(static_cast<AVPixelFormat>(source.format)))
        return convertOther(source, settings, out);
    const AVFrame *yuv = shownPicture(source, out, settings);
    if (!yuv)
        return QImage();
    QImage image = newImage(out.width(), out.height(), yuv->height);
    if (image.isNull())
        return image;
    // Same size in and out: swscale's unscaled (vectorised) YUV to RGB path.
    m_toRgb = sws_getCachedContext(m_toRgb, yuv->width, yuv->height, static_cast<AVPixelFormat>(yuv->format),
                                   yuv->width, yuv->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_toRgb) {
        reportOnce("no conversion from the decoder's picture format");
        return QImage();
    }
    std::uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (settings.flipVertical) {
        // Write the rows bottom-up: the flip costs nothing. The first row
        // goes to the last one allocated, so that the extra row of an odd
        // height falls below the image.
        dst[0] = image.bits() + static_cast<std::ptrdiff_t>(yuv->height - 1) * image.bytesPerLine();
        dstStride[0] = -dstStride[0];
    }
    sws_scale(m_toRgb, yuv->data, yuv->linesize, 0, yuv->height, dst, dstStride);
    if (settings.mirrorHorizontal)
        image.mirror(true, false);
    return image;
}

QImage ColourConverter::convertOther(const AVFrame &frame, const PictureSettings &settings, QSize out)
{
    // Formats without planar 8-bit YUV (RGB, paletted, deep colour): one
    // swscale pass, as they are rare on cameras.
    QImage image = newImage(out.width(), out.height(), out.height());
    if (image.isNull())
        return image;
    m_generic = sws_getCachedContext(m_generic, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                     out.width(), out.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                     nullptr);
    if (!m_generic) {
        reportOnce("no conversion from the decoder's picture format");
        return QImage();
    }
    std::uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (settings.flipVertical) {
        dst[0] = image.bits() + static_cast<std::ptrdiff_t>(image.height() - 1) * image.bytesPerLine();
        dstStride[0] = -dstStride[0];
    }
    sws_scale(m_generic, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
    if (settings.mirrorHorizontal)
        image.mirror(true, false);
    return image;
}

} // namespace korvante
