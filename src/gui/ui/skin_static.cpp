#include "skin_static.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

namespace korvante {

CSkinStatic::CSkinStatic(int id, const QRect &rect, QWidget *parent) : QWidget(parent), m_id(id)
{
    setGeometry(rect);
    // Paints every pixel itself: Qt then repaints nothing below it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

CSkinStatic::~CSkinStatic() = default;

void CSkinStatic::setToggled(bool toggled)
{
    m_toggled = toggled;
    update();
}

void CSkinStatic::setMessage(const QString &text)
{
    if (text == m_message)
        return;
    m_message = text;
    update();
}

void CSkinStatic::requestRepaint()
{
    if (m_repaintQueued.exchange(true))
        return; // one is on its way; it paints the newest frame
    // Queued with this window as context: dropped if the window is gone
    // before the UI thread gets to it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_repaintQueued = false;
            update();
        },
        Qt::QueuedConnection);
}

void CSkinStatic::paintEvent(QPaintEvent *event)
{
    ++m_paints;
    QPainter painter(this);
    if (!m_message.isEmpty()) {
        painter.fillRect(rect(), m_background);
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(8, 0, -8, 0), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    const QRect covered = m_videoPainter ? m_videoPainter(*this, painter) : QRect();
    const QRegion rest = QRegion(event->rect()).subtracted(QRegion(covered));
    for (const QRect &r : rest)
        painter.fillRect(r, m_background);
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
