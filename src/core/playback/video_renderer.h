#pragma once
// The windowless renderer of one video slot: keeps the latest frame shown,
// paints it into its window's destination rectangle, and answers frame grabs.
//
// The frame arrives converted at the size it is painted, smaller or larger
// than the picture (the decode thread asks outputSize() for each frame), so
// painting is a plain copy and enlarging is filtered, never pixel repetition. The decoded
// picture itself is kept by reference: a grab converts it at its own size on
// demand, and a paint after the destination changed (zoom, layout) converts
// it again at the new size instead of scaling the old image.
//
// Threads: present() is called by the presentation thread, outputSize() by
// the decode thread; everything else on the user-interface thread. The frame,
// the window and the destination are guarded by one mutex, held only to take
// or swap values; conversions run outside it.

#include "core/playback/colour_converter.h"
#include "core/playback/video_decoder.h"

#include <QImage>
#include <QRect>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class QPainter;

namespace korvante {

class VideoWindow;

class VideoRenderer final {
public:
    explicit VideoRenderer(std::string name);
    const std::string &name() const { return m_name; }

    void setWindow(VideoWindow *window);
    VideoWindow *window() const;
    // The area the picture is shown in (zoom and pan included). The picture
    // keeps its own shape: it is centred in the area with bars where the
    // shapes differ (pictureRect).
    void setDestination(const QRect &dest);
    QRect destination() const;
    // The picture's own size before its first frame arrives (from the
    // stream's header), so that the first frame is converted at its shown size.
    void setSourceSize(QSize size);
    // Where the picture is drawn: the largest rectangle of the picture's
    // shape centred in the destination.
    QRect pictureRect() const;
    // The size a new frame should be converted at: pictureRect()'s size.
    QSize outputSize() const;
    // The largest rectangle of `picture`'s shape centred in `area` (all of
    // `area` when either is empty).
    static QRect fitted(const QRect &area, QSize picture);

    // Shows `frame` and asks the window for a repaint.
    void present(DecodedFrame &&frame);
    // Forgets the frame shown (a new recording starts).
    void reset();

    // Draws the latest frame into the destination rectangle; returns the part
    // of the painter's device it covered (empty when nothing was drawn).
    QRect paint(QPainter &painter);
    // The latest frame at its own size as a 32-bit top-down image; null before
    // the first frame.
    QImage currentImage() const;
    std::int64_t currentFrame() const;
    std::uint64_t currentGeneration() const;
    std::uint64_t presentedCount() const;
    // Frames that were replaced by the next one before any paint showed them
    // (a window that paints too slowly drops these).
    std::uint64_t unpaintedCount() const;
    // The picture's own size (not the size it is shown at).
    QSize nativeSize() const;

private:
    const std::string m_name;
    mutable std::mutex m_mutex;
    VideoWindow *m_window = nullptr;
    QRect m_dest;
    QImage m_frame;
    std::shared_ptr<const AVFrame> m_source;
    PictureSettings m_settings;
    QSize m_native;
    std::int64_t m_number = -1;
    std::uint64_t m_generation = 0;
    std::uint64_t m_presented = 0;
    std::uint64_t m_paintedPresent = 0; // m_presented as of the last paint
    std::uint64_t m_unpainted = 0;

    // Conversions on the user-interface thread (grabs, a changed destination).
    mutable std::mutex m_convertMutex;
    mutable ColourConverter m_converter;
};

} // namespace korvante
