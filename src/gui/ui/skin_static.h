#pragma once
// The video area of a screen panel. The playback engine's renderer draws into
// it through the video painter that the owner installs (the screen panel
// hands the engine's paint call over); the area fills what the picture leaves
// uncovered itself, so it is opaque and a new frame repaints this area alone,
// never the panel below it. A message line ("Opening …", "Cannot play …")
// replaces the picture while it is set. Mouse presses fall through to the
// parent panel, except in toggle mode, where a click flips the toggle flag
// and repaints.
//
// Ownership: a child widget of its parent; the video painter is the owner's.
// Threads: everything on the UI thread except requestRepaint(), which any
// thread may call (it queues a repaint to the UI thread).

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>

#include "core/playback/video_window.h"

namespace korvante {

class CSkinStatic final : public QWidget, public VideoWindow {
    Q_OBJECT
public:
    // Draws the video into `painter`, whose device is this window, and
    // returns the rectangle it covered.
    using VideoPainter = std::function<QRect(CSkinStatic &window, QPainter &painter)>;

    // `rect` is in parent coordinates.
    CSkinStatic(int id, const QRect &rect, QWidget *parent);
    ~CSkinStatic() override;

    int id() const { return m_id; }
    void setVideoPainter(VideoPainter painter) { m_videoPainter = std::move(painter); }
    // The colour of the area the picture does not cover.
    void setBackground(const QColor &colour) { m_background = colour; }

    // A line of text shown centred instead of the picture; empty shows the picture.
    void setMessage(const QString &text);
    QString message() const { return m_message; }

    // Paint events received so far (a repaint that nothing asked for shows here).
    quint64 paintCount() const { return m_paints; }

    // Toggle mode: a left click flips the flag and repaints.
    void enableToggle(bool enable) { m_toggleEnabled = enable; }
    bool isToggleEnabled() const { return m_toggleEnabled; }
    bool isToggled() const { return m_toggled; }
    void setToggled(bool toggled);

    // VideoWindow
    QSize clientSize() const override { return size(); }
    void requestRepaint() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    int m_id;
    VideoPainter m_videoPainter;
    QColor m_background{28, 31, 40};
    QString m_message;
    quint64 m_paints = 0;
    // Set while a repaint is queued, so that frames arriving faster than the
    // user-interface thread paints queue one repaint, not one each.
    std::atomic<bool> m_repaintQueued{false};
    bool m_toggleEnabled = false;
    bool m_toggled = false;
};

} // namespace korvante
