#pragma once
// The windowless renderer of one video slot: keeps the latest frame shown as
// a 32-bit image, paints it into its window's destination rectangle, and
// answers frame grabs.
//
// Threads: present() is called by the presentation thread; everything else
// on the user-interface thread. The frame and the window are guarded by one
// mutex; painting copies nothing (QImage is shared) and holds the mutex only
// to take the image.

#include <QImage>
#include <QRect>

#include <cstdint>
#include <mutex>
#include <string>

class QPainter;

namespace korvante {

class VideoWindow;

class VideoRenderer final {
public:
    explicit VideoRenderer(std::string name) : m_name(std::move(name)) {}
    const std::string &name() const { return m_name; }

    void setWindow(VideoWindow *window);
    VideoWindow *window() const;
    void setDestination(const QRect &dest);
    QRect destination() const;

    // Shows `frame` (frame number `number` of generation `generation`) and asks
    // the window for a repaint.
    void present(const QImage &frame, std::int64_t number, std::uint64_t generation);
    // Forgets the frame shown (a new recording starts).
    void reset();

    // Draws the latest frame scaled into the destination rectangle.
    void paint(QPainter &painter) const;
    // The latest frame as a 32-bit top-down image; null before the first frame.
    QImage currentImage() const;
    std::int64_t currentFrame() const;
    std::uint64_t currentGeneration() const;
    std::uint64_t presentedCount() const;
    QSize nativeSize() const;

private:
    const std::string m_name;
    mutable std::mutex m_mutex;
    VideoWindow *m_window = nullptr;
    QRect m_dest;
    QImage m_frame;
    std::int64_t m_number = -1;
    std::uint64_t m_generation = 0;
    std::uint64_t m_presented = 0;
};

} // namespace korvante
