#pragma once
// Control images: button faces, option buttons, slider pieces, list header
// and scroll bar pieces, and icons. Backgrounds are in panels.h.

#include "skin_table.h"

#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

namespace korvante::skin {

// Draws a button face of the given state (ButtonNormal, ButtonHover or
// ButtonPressed) into rect: glyph and caption as the table gives them.
// Panels use it to paint faces into their backgrounds.
void drawButtonFace(QPainter &painter, const QRectF &rect, Kind kind, Glyph glyph, const QString &caption);

// Renders every kind but Background; the image has the table's size and
// transparent pixels outside the control's shape.
QImage renderControl(const SkinImage &image);

} // namespace korvante::skin
