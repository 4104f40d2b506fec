#include "text.h"

#include <QColor>
#include <QPainter>

namespace korvante::skin {

QFont skinFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void drawLabel(QPainter &painter, const QRectF &rect, const QString &text, const QColor &colour,
               int pixelSize, bool bold, int flags)
{
    painter.save();
    painter.setFont(skinFont(pixelSize, bold));
    painter.setPen(colour);
    painter.drawText(rect, flags, text);
    painter.restore();
}

} // namespace korvante::skin
