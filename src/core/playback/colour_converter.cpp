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

QImage ColourConverter::newImage(int width, int height)
{
    if (!m_pool)
        m_pool = std::make_shared<BufferPool>();
    const qsizetype bytesPerLine = (static_cast<qsizetype>(width) * 4 + 63) & ~qsizetype(63);
    const auto bytes = static_cast<size_t>(bytesPerLine) * static_cast<size_t>(height);
    std::uint8_t *buffer = m_pool->take(bytes);
    if (!buffer)
        return QImage();
    auto *ticket = new PoolTicket{m_pool, buffer, bytes};
    return QImage(buffer, width, height, bytesPerLine, QImage::Format_RGB32, &returnBuffer, ticket);
}

ColourConverter::~ColourConverter()
{
    sws_freeContext(m_sws);
    av_frame_free(&m_half);
}

const AVFrame *ColourConverter::halve(const AVFrame &frame)
{
    const auto format = static_cast<AVPixelFormat>(frame.format);
    if (!isPlanarYuv8(format) || frame.width < 4 || frame.height < 4)
        return nullptr;
    const int width = frame.width / 2, height = frame.height / 2;
    if (!m_half || m_half->width != width || m_half->height != height || m_half->format != frame.format) {
        av_frame_free(&m_half);
        m_half = av_frame_alloc();
        if (!m_half)
            return nullptr;
        m_half->width = width;
        m_half->height = height;
        m_half->format = frame.format;
        if (av_frame_get_buffer(m_half, 32) < 0) {
            av_frame_free(&m_half);
            return nullptr;
        }
    }
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
    for (int plane = 0; plane < 3; ++plane) {
        const int shiftW = plane ? d->log2_chroma_w : 0, shiftH = plane ? d->log2_chroma_h : 0;
        const int outW = AV_CEIL_RSHIFT(width, shiftW), outH = AV_CEIL_RSHIFT(height, shiftH);
        // Source rows and columns used: 2 per output one, within the plane.
        const int inW = AV_CEIL_RSHIFT(frame.width, shiftW), inH = AV_CEIL_RSHIFT(frame.height, shiftH);
        if (outW * 2 > inW + 1 || outH * 2 > inH + 1)
            return nullptr;
        for (int y = 0; y < outH; ++y) {
            const int y0 = std::min(2 * y, inH - 1), y1 = std::min(2 * y + 1, inH - 1);
            const std::uint8_t *a = frame.data[plane] + static_cast<std::ptrdiff_t>(y0) * frame.linesize[plane];
            const std::uint8_t *b = frame.data[plane] + static_cast<std::ptrdiff_t>(y1) * frame.linesize[plane];
            std::uint8_t *out = m_half->data[plane] + static_cast<std::ptrdiff_t>(y) * m_half->linesize[plane];
            const int whole = std::min(outW, inW / 2);
            for (int x = 0; x < whole; ++x)
                out[x] = static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
            for (int x = whole; x < outW; ++x)
                out[x] = static_cast<std::uint8_t>((a[inW - 1] + b[inW - 1] + 1) >> 1);
        }
    }
    m_half->colorspace = frame.colorspace;
    m_half->color_range = frame.color_range;
    return m_half;
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
    if (wanted.isValid() && !wanted.isEmpty() && wanted.width() <= native.width() && wanted.height() <= native.height())
        return wanted;
    return native; // enlarging is left to the painter: converting more pixels gains nothing
}

QImage ColourConverter::convert(const AVFrame &source, const PictureSettings &settings, QSize size)
{
    const AVFrame *frame = &source;
    std::unique_ptr<AVFrame, FrameDeleter> adjusted;
    if (settings.adjustsColour() && isPlanarYuv8(static_cast<AVPixelFormat>(source.format))) {
        // The decoder keeps its pictures as references: adjust a private copy.
        adjusted.reset(av_frame_clone(&source));
        if (adjusted && av_frame_make_writable(adjusted.get()) >= 0 && adjustPlanes(*adjusted, settings))
            frame = adjusted.get();
    }
    const QSize out = outputSize(QSize(frame->width, frame->height), size);
    // Shown at half the size or less (a 1080p picture in a screen of the main
    // window): average 2 x 2 pixels first, so that the scaler, the costly part
    // of the conversion, reads a quarter of the pixels.
    if (out.width() * 2 <= frame->width && out.height() * 2 <= frame->height) {
        if (const AVFrame *half = halve(*frame))
            frame = half;
    }
    QImage image = newImage(out.width(), out.height());
    if (image.isNull())
        return image;
    // Bilinear when the picture keeps its size (swscale's unscaled path);
    // fast bilinear when it shrinks: the cheapest of swscale's filters that
    // does not drop whole rows and columns.
    const int flags = out == QSize(frame->width, frame->height) ? SWS_BILINEAR : SWS_FAST_BILINEAR;
    m_sws = sws_getCachedContext(m_sws, frame->width, frame->height,
                                 static_cast<AVPixelFormat>(frame->format), out.width(),
                                 out.height(), AV_PIX_FMT_BGRA, flags, nullptr, nullptr,
                                 nullptr);
    if (!m_sws) {
        if (!m_reported)
            logError(m_name + ": no conversion from the decoder's picture format");
        m_reported = true;
        return QImage();
    }
    std::uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (settings.flipVertical) {
        // Write the rows bottom-up: the flip costs nothing.
        dst[0] = image.bits() + static_cast<std::ptrdiff_t>(image.height() - 1) * image.bytesPerLine();
        dstStride[0] = -dstStride[0];
    }
    sws_scale(m_sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    if (settings.mirrorHorizontal)
        image.mirror(true, false);
    return image;
}

} // namespace korvante
