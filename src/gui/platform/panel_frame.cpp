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
    if (dragsByBody() && m_drag.press(*this, event))
        return;
    PanelWindow::mousePressEvent(event);
}

void PanelFrame::mouseMoveEvent(QMouseEvent *event)
{
    if (m_drag.move(*this, event))
        return;
    PanelWindow::mouseMoveEvent(event);
}

void PanelFrame::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.release();
    PanelWindow::mouseReleaseEvent(event);
}

void PanelFrame::showOnTop(bool shown)
{
    if (shown) {
        show();
        raise();
    } else {
        hide();
    }
}

} // namespace korvante
