#include "trail_player_dlg.h"

#include "core/platform/log.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace korvante {

CVX_TrailPlayerDlg::CVX_TrailPlayerDlg(QWidget *parent)
    : PanelDialog(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("CVX_TrailPlayerDlg"));
    setWindowTitle(QStringLiteral("KORVANTE VIEWER"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(kWidth, kHeight);
    centreOnScreen();
    // Starts hidden; timer 0 shows it once the panels are in place.
    setTimer(kShowTimer, 100);
    // Timer 1 closes the window as the Close button does; nothing in the
    // viewer sets it, but demos and tests do, through the environment.
    bool ok = false;
    const int quitAfterMs = qEnvironmentVariableIntValue("KORVANTE_QUIT_AFTER_MS", &ok);
    if (ok && quitAfterMs > 0)
        setTimer(kCloseTimer, quitAfterMs);
}

CVX_TrailPlayerDlg::~CVX_TrailPlayerDlg() = default;

void CVX_TrailPlayerDlg::centreOnScreen()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
}

void CVX_TrailPlayerDlg::bringToFront()
{
    logInfo("activation requested by another start");
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

qintptr CVX_TrailPlayerDlg::onMessage(int message, quintptr w, qintptr l)
{
    (void)w;
    (void)l;
    if (message == msg::ButtonClick)
        return -1; // title-bar buttons are not part of this window yet
    return 0;
}

void CVX_TrailPlayerDlg::onTimer(int id)
{
    if (id == kShowTimer) {
        killTimer(kShowTimer);
        show();
        logDebug("main window shown");
    } else if (id == kCloseTimer) {
        killTimer(kCloseTimer);
        accept();
    } else if (id == kIdleTimer) {
        killTimer(kIdleTimer);
    }
}

void CVX_TrailPlayerDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(QColor(220, 220, 220));
    painter.drawText(QRect(QPoint(15, 6), QPoint(319, 20)), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     titleText());
}

void CVX_TrailPlayerDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    PanelDialog::mousePressEvent(event);
}

void CVX_TrailPlayerDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    PanelDialog::mouseMoveEvent(event);
}

void CVX_TrailPlayerDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    PanelDialog::mouseReleaseEvent(event);
}

} // namespace korvante
