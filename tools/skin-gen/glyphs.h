#pragma once
// Flat vector pictures drawn into a box: the symbols on buttons and icons.
// Each glyph is laid out on a 16 x 16 grid and scaled to the box, so one
// drawing serves a 20-pixel button and a 90-pixel one alike.

#include "skin_table.h"

#include <QColor>
#include <QRectF>

class QPainter;

namespace korvante::skin {

struct GlyphStyle {
    QColor colour;
    QColor accent;      // second colour of two-coloured glyphs
    bool tilted = false; // Pin: released (tilted) instead of pressed in
};

// Draws glyph into box (device pixels). Glyphs that have no picture
// (None and the panel layouts) draw nothing. The painter's state is kept.
void drawGlyph(QPainter &painter, Glyph glyph, const QRectF &box, const GlyphStyle &style);

} // namespace korvante::skin
