#pragma once
// The video area of a screen panel: a window that paints nothing of its own
// and erases nothing. The playback engine's renderer draws into it through
// the video painter that the owner installs (the screen panel hands the
// engine's paint call over). Mouse presses fall through to the parent panel,
// except in toggle mode, where a click flips the toggle flag and repaints.
//
// Ownership: a child widget of its parent; the video painter is the owner's.
// Threads: everything on the UI thread except requestRepaint(), which any
// thread may call (it queues a repaint to the UI thread).

#include <QWidget>

#include <functional>

#ifdef KORVANTE_HAVE_PLAYBACK
#include "core/playback/video_window.h"
#endif

namespace korvante {

#ifdef KORVANTE_HAVE_PLAYBACK
using SkinStaticVideoBase = VideoWindow;
#else
// Without the playback engine the same shape stands alone.
class SkinStaticVideoBase {
public:
    virtual ~SkinStaticVideoBase() = default;
    virtual QSize clientSize() const = 0;
    virtual void requestRepaint() = 0;
};
#endif

class CSkinStatic final : public QWidget, public SkinStaticVideoBase {
    Q_OBJECT
public:
    // Draws the video into `painter`, whose device is this window.
    using VideoPainter = std::function<void(CSkinStatic &window, QPainter &painter)>;

    // `rect` is in parent coordinates.
    CSkinStatic(int id, const QRect &rect, QWidget *parent);
    ~CSkinStatic() override;

    int id() const { return m_id; }
    void setVideoPainter(VideoPainter painter) { m_videoPainter = std::move(painter); }

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
    bool m_toggleEnabled = false;
    bool m_toggled = false;
};

} // namespace korvante
