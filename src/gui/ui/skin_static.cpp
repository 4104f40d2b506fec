#include "skin_static.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>

namespace korvante {

CSkinStatic::CSkinStatic(int id, const QRect &rect, QWidget *parent) : QWidget(parent), m_id(id)
{
    setGeometry(rect);
    // Erases nothing: the panel's background (or the last video frame) stays.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

CSkinStatic::~CSkinStatic() = default;

void CSkinStatic::setToggled(bool toggled)
{
    m_toggled = toggled;
    update();
}

void CSkinStatic::requestRepaint()
{
    // Queued with this window as context: dropped if the window is gone
    // before the UI thread gets to it.
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void CSkinStatic::paintEvent(QPaintEvent *)
{
    if (!m_videoPainter)
        return;
    QPainter painter(this);
    m_videoPainter(*this, painter);
}

void CSkinStatic::mousePressEvent(QMouseEvent *event)
{
    if (m_toggleEnabled && event->button() == Qt::LeftButton) {
        m_toggled = !m_toggled;
        update();
        return;
    }
    // The screen panel handles presses in its video area itself.
    event->ignore();
}

} // namespace korvante
