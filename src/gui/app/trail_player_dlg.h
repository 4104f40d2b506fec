#pragma once
// The main window: borderless 780 x 780, its own title drawn on a dark
// background. Shown by a one-shot timer 100 ms after it is made. In the
// default layout it can be dragged by any point of its body.
//
// UI thread only.

#include "gui/platform/message_window.h"

#include <QPoint>

namespace korvante {

class CVX_TrailPlayerDlg : public PanelDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 102;
    static constexpr int kWidth = 780;
    static constexpr int kHeight = 780;
    static constexpr int kShowTimer = 0;
    static constexpr int kCloseTimer = 1;
    static constexpr int kIdleTimer = 255;

    explicit CVX_TrailPlayerDlg(QWidget *parent = nullptr);
    ~CVX_TrailPlayerDlg() override;

    // Restores, raises and activates the window (another start asked for it).
    void bringToFront();

    static QString titleText() { return QStringLiteral("KORVANTE VIEWER    version 1.5.0"); }

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void onTimer(int id) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void centreOnScreen();

    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace korvante
