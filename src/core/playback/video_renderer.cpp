#include "core/playback/video_renderer.h"

#include "core/playback/video_window.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QPainter>

#include <algorithm>

namespace korvante {

VideoRenderer::VideoRenderer(std::string name) : m_name(std::move(name)), m_converter(m_name + " (display)") {}

void VideoRenderer::setWindow(VideoWindow *window)
{
    std::lock_guard lock(m_mutex);
    m_window = window;
}

VideoWindow *VideoRenderer::window() const
{
    std::lock_guard lock(m_mutex);
    return m_window;
}

void VideoRenderer::setDestination(const QRect &dest)
{
    std::lock_guard lock(m_mutex);
    m_dest = dest;
}

QRect VideoRenderer::destination() const
{
    std::lock_guard lock(m_mutex);
    return m_dest;
}

void VideoRenderer::setSourceSize(QSize size)
{
    std::lock_guard lock(m_mutex);
    if (m_native.isEmpty())
        m_native = size;
}

QRect VideoRenderer::fitted(const QRect &area, QSize picture)
{
    if (area.isEmpty() || picture.isEmpty())
        return area;
    // Integer arithmetic on 64 bits: no rounding drift between paints.
    const std::int64_t aw = area.width(), ah = area.height();
    const std::int64_t pw = picture.width(), ph = picture.height();
    QSize size;
    if (aw * ph <= ah * pw) // the area is narrower than the picture: bars above and below
        size = QSize(area.width(), static_cast<int>(std::max<std::int64_t>(1, (aw * ph + pw / 2) / pw)));
    else
        size = QSize(static_cast<int>(std::max<std::int64_t>(1, (ah * pw + ph / 2) / ph)), area.height());
    return QRect(QPoint(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2),
                 size);
}

QRect VideoRenderer::pictureRect() const
{
    std::lock_guard lock(m_mutex);
    return fitted(m_dest, m_native);
}

QSize VideoRenderer::outputSize() const
{
    return pictureRect().size();
}

void VideoRenderer::present(DecodedFrame &&frame)
{
    VideoWindow *window = nullptr;
    std::shared_ptr<const AVFrame> old; // released outside the lock
    {
        std::lock_guard lock(m_mutex);
        m_native = frame.source ? QSize(frame.source->width, frame.source->height) : frame.image.size();
        m_frame = std::move(frame.image);
        old = std::exchange(m_source, std::move(frame.source));
        m_settings = frame.settings;
        if (m_window && m_generation == frame.generation && m_paintedPresent != m_presented)
            ++m_unpainted;
        m_number = frame.number;
        m_generation = frame.generation;
        ++m_presented;
        window = m_window;
    }
    // Called outside the mutex: the window may paint (and so lock) at once.
    if (window)
        window->requestRepaint();
}

void VideoRenderer::reset()
{
    std::shared_ptr<const AVFrame> old;
    std::lock_guard lock(m_mutex);
    m_frame = QImage();
    old = std::exchange(m_source, nullptr);
    m_native = QSize();
    m_number = -1;
}

QRect VideoRenderer::paint(QPainter &painter)
{
    QImage frame;
    QRect dest;
    std::shared_ptr<const AVFrame> source;
    PictureSettings settings;
    QSize native;
    std::uint64_t presented = 0;
    {
        std::lock_guard lock(m_mutex);
        frame = m_frame;
        dest = m_dest;
        source = m_source;
        settings = m_settings;
        native = m_native;
        presented = m_presented;
        m_paintedPresent = m_presented;
    }
    dest = fitted(dest, native);
    if (frame.isNull() || dest.isEmpty())
        return QRect();
    const QSize wanted = ColourConverter::outputSize(native, dest.size());
    if (source && frame.size() != wanted) {
        // The destination changed since this frame was converted: convert the
        // picture once more at the new size and keep that for later paints.
        QImage again;
        {
            std::lock_guard lock(m_convertMutex);
            again = m_converter.convert(*source, settings, wanted);
        }
        if (!again.isNull()) {
            frame = again;
            std::lock_guard lock(m_mutex);
            if (m_presented == presented)
                m_frame = std::move(again);
        }
    }
    if (frame.size() == dest.size()) {
        painter.drawImage(dest.topLeft(), frame); // a plain copy
    } else {
        // Only when the conversion at the new size failed: scale smoothly
        // rather than repeat pixels.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(dest, frame);
    }
    return dest;
}

QImage VideoRenderer::currentImage() const
{
    QImage frame;
    std::shared_ptr<const AVFrame> source;
    PictureSettings settings;
    QSize native;
    {
        std::lock_guard lock(m_mutex);
        frame = m_frame;
        source = m_source;
        settings = m_settings;
        native = m_native;
    }
    if (!source || frame.size() == native)
        return frame;
    std::lock_guard lock(m_convertMutex);
    return m_converter.convert(*source, settings);
}

std::int64_t VideoRenderer::currentFrame() const
{
    std::lock_guard lock(m_mutex);
    return m_number;
}

std::uint64_t VideoRenderer::currentGeneration() const
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}

std::uint64_t VideoRenderer::presentedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_presented;
}

std::uint64_t VideoRenderer::unpaintedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_unpainted;
}

QSize VideoRenderer::nativeSize() const
{
    std::lock_guard lock(m_mutex);
    return m_native;
}

} // namespace korvante
