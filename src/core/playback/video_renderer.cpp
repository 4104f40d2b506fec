#include "core/playback/video_renderer.h"

#include "core/playback/video_window.h"

#include <QPainter>

namespace korvante {

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

void VideoRenderer::present(const QImage &frame, std::int64_t number, std::uint64_t generation)
{
    VideoWindow *window = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_frame = frame;
        m_number = number;
        m_generation = generation;
        ++m_presented;
        window = m_window;
    }
    // Called outside the mutex: the window may paint (and so lock) at once.
    if (window)
        window->requestRepaint();
}

void VideoRenderer::reset()
{
    std::lock_guard lock(m_mutex);
    m_frame = QImage();
    m_number = -1;
}

void VideoRenderer::paint(QPainter &painter) const
{
    QImage frame;
    QRect dest;
    {
        std::lock_guard lock(m_mutex);
        frame = m_frame;
        dest = m_dest;
    }
    if (frame.isNull() || dest.isEmpty())
        return;
    painter.drawImage(dest, frame);
}

QImage VideoRenderer::currentImage() const
{
    std::lock_guard lock(m_mutex);
    return m_frame;
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

QSize VideoRenderer::nativeSize() const
{
    std::lock_guard lock(m_mutex);
    return m_frame.size();
}

} // namespace korvante
