#pragma once
// Drags a top-level window by any point of its body: the owner forwards its
// mouse press, move and release, and decides when a press may start a drag.
// UI thread only.

#include <QMouseEvent>
#include <QPoint>
#include <QWidget>

namespace korvante {

class BodyDrag final {
public:
    // Starts a drag on a left press; returns whether the event was taken.
    bool press(const QWidget &window, QMouseEvent *event)
    {
        if (event->button() != Qt::LeftButton)
            return false;
        m_dragging = true;
        m_offset = event->globalPosition().toPoint() - window.frameGeometry().topLeft();
        event->accept();
        return true;
    }
    // Moves the window while dragging; returns whether the event was taken.
    bool move(QWidget &window, QMouseEvent *event)
    {
        if (!m_dragging || !(event->buttons() & Qt::LeftButton))
            return false;
        window.move(event->globalPosition().toPoint() - m_offset);
        event->accept();
        return true;
    }
    void release() { m_dragging = false; }

private:
    bool m_dragging = false;
    QPoint m_offset;
};

} // namespace korvante
