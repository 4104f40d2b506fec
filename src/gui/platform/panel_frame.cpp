#include "panel_frame.h"

#include <QMouseEvent>

namespace korvante {

PanelFrame::PanelFrame(QWidget *mainWindow)
    : PanelWindow(mainWindow, Qt::Tool | Qt::FramelessWindowHint)
{
    // Tool windows would otherwise take the focus from the main window.
    setAttribute(Qt::WA_ShowWithoutActivating);
}

QPoint PanelFrame::mainWindowOrigin() const
{
    const QWidget *main = parentWidget();
    return main ? main->frameGeometry().topLeft() : QPoint();
}

void PanelFrame::placeAt(QPoint offset, QSize size)
{
    setGeometry(QRect(mainWindowOrigin() + offset, size));
}

void PanelFrame::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && dragsByBody()) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    PanelWindow::mousePressEvent(event);
}

void PanelFrame::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    PanelWindow::mouseMoveEvent(event);
}

void PanelFrame::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    PanelWindow::mouseReleaseEvent(event);
}

} // namespace korvante
