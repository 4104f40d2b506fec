#pragma once
// Fonts and text placement for the captions and labels drawn into images.
// Needs a QGuiApplication (the generator runs one on the offscreen platform).

#include <QFont>
#include <QRectF>
#include <QString>

class QColor;
class QPainter;

namespace korvante::skin {

// A sans-serif face at a size in pixels; the same face on every image.
QFont skinFont(int pixelSize, bool bold = false);

// Draws text in colour inside rect with the given alignment flags.
void drawLabel(QPainter &painter, const QRectF &rect, const QString &text, const QColor &colour,
               int pixelSize, bool bold = false, int flags = Qt::AlignLeft | Qt::AlignVCenter);

} // namespace korvante::skin
