#include "text_box.h"

#include <QPainter>

namespace korvante {

CTextBox::CTextBox(int id, const QRect &rect, QWidget *parent) : QWidget(parent), m_id(id)
{
    setGeometry(rect);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CTextBox::~CTextBox() = default;

void CTextBox::setText(const QString &text)
{
    // The time display sets its text ten times a second; an unchanged text
    // costs nothing.
    if (text == m_text)
        return;
    m_text = text;
    repaint();
}

void CTextBox::setTextColour(const QColor &colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    update();
}

void CTextBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColour());
    painter.setPen(m_colour);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}

} // namespace korvante
