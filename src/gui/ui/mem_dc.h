#pragma once
// Memory device contexts: flicker-free painting. Each one draws into an
// off-screen pixmap the size of its target rectangle and copies the pixmap to
// the target once, when it is finished or destroyed. Coordinates given to
// painter() are the target's own: the buffer's origin is the rectangle's
// top-left corner.
//
// Ownership: borrows the target painter, which must outlive this object.
// UI thread only (pixmaps).

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRect>

#include <optional>

namespace korvante {

class OffscreenDC {
public:
    OffscreenDC(const OffscreenDC &) = delete;
    OffscreenDC &operator=(const OffscreenDC &) = delete;

    // The painter to draw with, in target coordinates.
    QPainter &painter() { return m_direct ? *m_target : *m_painter; }
    QPainter *operator->() { return &painter(); }
    // The rectangle covered, in target coordinates.
    QRect rect() const { return m_rect; }
    // False when drawing goes straight to the target (a printer, or an empty rectangle).
    bool isBuffering() const { return !m_direct; }
    // Copies the buffer to the target now; later calls and the destructor do nothing.
    void finish();

protected:
    // `fill` is painted over the rectangle first (transparent: the target's
    // own pixels show wherever nothing is drawn). A printer target is drawn
    // to directly, without a buffer.
    OffscreenDC(QPainter &target, const QRect &rect, const QColor &fill);
    ~OffscreenDC();

private:
    QPainter *m_target;
    QRect m_rect;
    QPixmap m_buffer;
    std::optional<QPainter> m_painter;
    bool m_direct = false;
    bool m_finished = false;
};

// The G-sensor graph's buffer. The rectangle defaults to the target's clip
// box (the whole device when nothing is clipped); it is filled with the
// target's background colour.
class CQDRVMemDC final : public OffscreenDC {
public:
    explicit CQDRVMemDC(QPainter &target, const QRect &rect = {});
    ~CQDRVMemDC() = default;
};

// The bitmap slider's buffer. Starts transparent, so a transparent channel
// shows what is beneath the slider. Also answers the visibility questions of
// the target and draws text, as a device context would.
class CUMemDC final : public OffscreenDC {
public:
    CUMemDC(QPainter &target, const QRect &rect);
    ~CUMemDC() = default;

    // Whether a point or a rectangle (target coordinates) is inside the
    // covered rectangle and the target's clip region.
    bool ptVisible(const QPoint &point) const;
    bool rectVisible(const QRect &rect) const;
    // Text at a baseline point, and text laid out in a rectangle (Qt::AlignmentFlag | Qt::TextFlag).
    void textOut(int x, int y, const QString &text);
    void drawText(const QRect &rect, int flags, const QString &text);

private:
    QRegion m_clip;
};

// The list control's, its header's and its scroll bars' buffer, filled with
// `fill` (black for the list and its header).
class CListViewMemDC final : public OffscreenDC {
public:
    CListViewMemDC(QPainter &target, const QRect &rect, const QColor &fill = Qt::black);
    ~CListViewMemDC() = default;
};

} // namespace korvante
