#include "glyphs.h"

#include "text.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace korvante::skin {
namespace {

// Line width on the 16-unit grid: about 1.3 pixels on a 14-pixel glyph.
constexpr double kStroke = 1.5;

QPen strokePen(const QColor &colour, double width = kStroke)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void fillPolygon(QPainter &p, const QColor &colour, std::initializer_list<QPointF> points)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF(QList<QPointF>(points)));
}

void strokePolyline(QPainter &p, const QColor &colour, std::initializer_list<QPointF> points,
                    double width = kStroke)
{
    p.setPen(strokePen(colour, width));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF(QList<QPointF>(points)));
}

void strokeRect(QPainter &p, const QColor &colour, const QRectF &r, double radius = 0, double width = kStroke)
{
    p.setPen(strokePen(colour, width));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, radius, radius);
}

void fillRect(QPainter &p, const QColor &colour, const QRectF &r, double radius = 0)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(r, radius, radius);
}

void arrowHead(QPainter &p, const QColor &colour, QPointF tip, double angleDegrees, double size = 3.2)
{
    const double a = angleDegrees * std::numbers::pi / 180.0;
    const QPointF back(std::cos(a) * size, std::sin(a) * size);
    const QPointF side(-std::sin(a) * size * 0.75, std::cos(a) * size * 0.75);
    fillPolygon(p, colour, {tip, tip - back + side, tip - back - side});
}

void gear(QPainter &p, const QColor &colour)
{
    QPainterPath body;
    body.addEllipse(QPointF(8, 8), 4.9, 4.9);
    for (int i = 0; i < 8; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-1.35, -7.4, 2.7, 4), 0.6, 0.6);
        QTransform t;
        t.translate(8, 8);
        t.rotate(i * 45.0);
        body = body.united(t.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(QPointF(8, 8), 2.1, 2.1);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(body.subtracted(hole));
}

void globe(QPainter &p, const QColor &colour, bool parallels, const QColor &mark)
{
    p.setPen(strokePen(colour, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
    if (parallels) {
        p.setPen(strokePen(mark, 1.3));
        p.drawLine(QPointF(2.2, 5), QPointF(13.8, 5));
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
        p.drawLine(QPointF(2.2, 11), QPointF(13.8, 11));
    } else {
        p.setPen(strokePen(mark, 1.3));
        p.drawEllipse(QPointF(8, 8), 2.8, 6.5);
        p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
    }
}

void gauge(QPainter &p, const QColor &colour, const QColor &needle)
{
    p.setPen(strokePen(colour, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(1.5, 2.5, 13, 13), -30 * 16, 240 * 16);
    for (int i = 0; i <= 4; ++i) {
        const double a = (210.0 - i * 60.0) * std::numbers::pi / 180.0;
        const QPointF c(8, 9);
        p.drawLine(c + QPointF(std::cos(a), -std::sin(a)) * 4.4, c + QPointF(std::cos(a), -std::sin(a)) * 5.4);
    }
    p.setPen(strokePen(needle, 1.6));
    p.drawLine(QPointF(8, 9), QPointF(11.6, 5.2));
    p.setPen(Qt::NoPen);
    p.setBrush(needle);
    p.drawEllipse(QPointF(8, 9), 1.5, 1.5);
}

void pin(QPainter &p, const QColor &colour, bool tilted)
{
    p.save();
    if (tilted) {
        p.translate(8, 8);
        p.rotate(40);
        p.translate(-8, -8);
    }
    fillRect(p, colour, QRectF(4.5, 1.2, 7, 2), 0.8);
    fillPolygon(p, colour, {{6, 3}, {10, 3}, {11, 8.5}, {5, 8.5}});
    fillRect(p, colour, QRectF(3.5, 8.3, 9, 1.7), 0.6);
    p.setPen(strokePen(colour, 1.3));
    p.drawLine(QPointF(8, 10), QPointF(8, tilted ? 14.2 : 15));
    p.restore();
}

} // namespace

void drawGlyph(QPainter &painter, Glyph glyph, const QRectF &box, const GlyphStyle &style)
{
    const double designWidth = glyph == Glyph::RearFlip ? 24.0 : 16.0;
    const double unit = std::min(box.width() / designWidth, box.height() / 16.0);
    const QColor &c = style.colour;
    const QColor &a = style.accent.isValid() ? style.accent : style.colour;

    QPainter &p = painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(box.center() - QPointF(designWidth / 2 * unit, 8 * unit));
    p.scale(unit, unit);

    switch (glyph) {
    case Glyph::Play:
        fillPolygon(p, c, {{4.5, 2.5}, {13.5, 8}, {4.5, 13.5}});
        break;
    case Glyph::Pause:
        fillRect(p, c, QRectF(3.5, 2.5, 3.2, 11), 0.6);
        fillRect(p, c, QRectF(9.3, 2.5, 3.2, 11), 0.6);
        break;
    case Glyph::Stop:
        fillRect(p, c, QRectF(3, 3, 10, 10), 1);
        break;
    case Glyph::Previous:
        fillRect(p, c, QRectF(2.5, 3, 2.2, 10), 0.4);
        fillPolygon(p, c, {{13.5, 3}, {5, 8}, {13.5, 13}});
        break;
    case Glyph::Next:
        fillRect(p, c, QRectF(11.3, 3, 2.2, 10), 0.4);
        fillPolygon(p, c, {{2.5, 3}, {11, 8}, {2.5, 13}});
        break;
    case Glyph::Rewind:
        fillPolygon(p, c, {{8, 3}, {0.8, 8}, {8, 13}});
        fillPolygon(p, c, {{15.2, 3}, {8, 8}, {15.2, 13}});
        break;
    case Glyph::Forward:
        fillPolygon(p, c, {{0.8, 3}, {8, 8}, {0.8, 13}});
        fillPolygon(p, c, {{8, 3}, {15.2, 8}, {8, 13}});
        break;
    case Glyph::Print:
        strokeRect(p, c, QRectF(4.5, 1.5, 7, 4));
        strokeRect(p, c, QRectF(1.2, 5.5, 13.6, 6.5), 1.2);
        fillRect(p, c, QRectF(4.5, 9.5, 7, 5.2), 0.5);
        fillRect(p, a, QRectF(11.6, 7, 1.6, 1.3));
        break;
    case Glyph::Capture:
        strokeRect(p, c, QRectF(1.2, 4.5, 13.6, 9.5), 1.5);
        fillRect(p, c, QRectF(5, 2.2, 6, 2.6), 0.6);
        p.setPen(strokePen(c));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(8, 9.2), 2.8, 2.8);
        fillRect(p, a, QRectF(11.8, 6.2, 1.5, 1.3));
        break;
    case Glyph::RearFlip: {
        // A screen with an "R" and a vertical flip arrow beside it.
        strokeRect(p, c, QRectF(1, 2, 13, 12), 1.2);
        QFont f = skinFont(11, true);
        p.setFont(f);
        p.setPen(c);
        p.drawText(QRectF(1, 2, 13, 12), Qt::AlignCenter, QStringLiteral("R"));
        p.setPen(strokePen(a, 1.4));
        p.drawLine(QPointF(19, 4.2), QPointF(19, 11.8));
        arrowHead(p, a, QPointF(19, 1.5), -90, 3);
        arrowHead(p, a, QPointF(19, 14.5), 90, 3);
        break;
    }
    case Glyph::Swap:
        p.setPen(strokePen(c));
        p.drawLine(QPointF(1.5, 5), QPointF(11.5, 5));
        arrowHead(p, c, QPointF(15, 5), 0, 3.6);
        p.setPen(strokePen(c));
        p.drawLine(QPointF(4.5, 11), QPointF(14.5, 11));
        arrowHead(p, c, QPointF(1, 11), 180, 3.6);
        break;
    case Glyph::Sensor:
        p.setPen(strokePen(a, 1.1));
        p.drawLine(QPointF(1, 8.5), QPointF(15, 8.5));
        strokePolyline(p, c, {{1, 8.5}, {3.5, 8.5}, {5.5, 2.5}, {8.5, 14}, {10.8, 5.5}, {12.5, 8.5}, {15, 8.5}});
        break;
    case Glyph::Overview:
        // Three trips as bars over a base line, the hard one in the accent.
        p.setPen(strokePen(c, 1.2));
        p.drawLine(QPointF(1.2, 14.4), QPointF(14.8, 14.4));
        fillRect(p, c, QRectF(2.2, 8.2, 3, 5.2));
        fillRect(p, a, QRectF(6.5, 1.6, 3, 11.8));
        fillRect(p, c, QRectF(10.8, 5.8, 3, 7.6));
        break;
    case Glyph::Map:
        p.setPen(strokePen(c, 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(QPolygonF(QList<QPointF>{{1.2, 3.6}, {5.4, 2}, {10.6, 3.6}, {14.8, 2},
                                               {14.8, 12.4}, {10.6, 14}, {5.4, 12.4}, {1.2, 14}}));
        p.drawLine(QPointF(5.4, 2), QPointF(5.4, 12.4));
        p.drawLine(QPointF(10.6, 3.6), QPointF(10.6, 14));
        break;
    case Glyph::List:
        for (double y : {3.5, 8.0, 12.5}) {
            fillRect(p, a, QRectF(1.3, y - 1.2, 2.4, 2.4), 0.5);
            p.setPen(strokePen(c, 1.6));
            p.drawLine(QPointF(6, y), QPointF(14.6, y));
        }
        break;
    case Glyph::Adjust: {
        const double knobs[3] = {10.5, 5, 8.5};
        for (int i = 0; i < 3; ++i) {
            const double y = 3.5 + i * 4.5;
            p.setPen(strokePen(c, 1.2));
            p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
            p.setPen(Qt::NoPen);
            p.setBrush(a);
            p.drawEllipse(QPointF(knobs[i], y), 1.9, 1.9);
        }
        break;
    }
    case Glyph::Card:
        p.setPen(strokePen(c, 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(QPolygonF(QList<QPointF>{{3.5, 1.2}, {10.2, 1.2}, {12.8, 3.8}, {12.8, 14.8}, {3.5, 14.8}}));
        p.setPen(strokePen(a, 1.2));
        for (double x : {5.8, 8.0, 10.2})
            p.drawLine(QPointF(x, 3.4), QPointF(x, 6));
        fillRect(p, c, QRectF(5.5, 10, 5, 2.4), 0.4);
        break;
    case Glyph::Gear:
        gear(p, c);
        break;
    case Glyph::Close:
        p.setPen(strokePen(c, 1.8));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    case Glyph::FullScreen:
        strokePolyline(p, c, {{1.5, 6}, {1.5, 1.5}, {6, 1.5}});
        strokePolyline(p, c, {{10, 1.5}, {14.5, 1.5}, {14.5, 6}});
        strokePolyline(p, c, {{14.5, 10}, {14.5, 14.5}, {10, 14.5}});
        strokePolyline(p, c, {{6, 14.5}, {1.5, 14.5}, {1.5, 10}});
        fillRect(p, a, QRectF(5, 5, 6, 6), 0.6);
        break;
    case Glyph::FitScreen:
        strokeRect(p, c, QRectF(1.2, 2.5, 13.6, 11), 1, 1.3);
        strokePolyline(p, a, {{4, 7}, {4, 5.2}, {6, 5.2}}, 1.3);
        strokePolyline(p, a, {{10, 5.2}, {12, 5.2}, {12, 7}}, 1.3);
        strokePolyline(p, a, {{12, 9}, {12, 10.8}, {10, 10.8}}, 1.3);
        strokePolyline(p, a, {{6, 10.8}, {4, 10.8}, {4, 9}}, 1.3);
        break;
    case Glyph::Minimise:
        p.setPen(strokePen(c, 1.9));
        p.drawLine(QPointF(3, 10.5), QPointF(13, 10.5));
        break;
    case Glyph::DefaultScreen:
        strokePolyline(p, c, {{5.2, 5.2}, {5.2, 1.8}, {14.2, 1.8}, {14.2, 9.8}, {10.8, 9.8}}, 1.3);
        strokeRect(p, c, QRectF(1.8, 6, 9, 8.2), 0.6, 1.3);
        fillRect(p, a, QRectF(1.8, 6, 9, 2.2));
        break;
    case Glyph::Pin:
        pin(p, c, style.tilted);
        break;
    case Glyph::Reset:
        p.setPen(strokePen(c, 1.6));
        p.setBrush(Qt::NoBrush);
        // Open circle from the top right round to the right, the arrow at its start
        // pointing clockwise.
        p.drawArc(QRectF(3, 3.5, 10, 10), 60 * 16, 280 * 16);
        arrowHead(p, c, QPointF(12, 5.5), 30, 4.5);
        break;
    case Glyph::Speaker:
        fillPolygon(p, c, {{1.5, 5.6}, {4.6, 5.6}, {8.6, 2}, {8.6, 14}, {4.6, 10.4}, {1.5, 10.4}});
        p.setPen(strokePen(a, 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(6.6, 5, 6, 6), -50 * 16, 100 * 16);
        p.drawArc(QRectF(4.6, 2.2, 10.6, 11.6), -50 * 16, 100 * 16);
        break;
    case Glyph::Latitude:
        globe(p, c, true, a);
        break;
    case Glyph::Longitude:
        globe(p, c, false, a);
        break;
    case Glyph::Speed:
    case Glyph::SearchSpeed:
        gauge(p, c, a);
        break;
    case Glyph::MapBadge: {
        // Pin over a folded map.
        p.setPen(strokePen(c, 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(QPolygonF(QList<QPointF>{{1, 10}, {5.3, 8.6}, {10.7, 10}, {15, 8.6},
                                               {15, 14.6}, {10.7, 16}, {5.3, 14.6}, {1, 16}}));
        QPainterPath drop;
        drop.moveTo(8, 13.2);
        drop.cubicTo(5.5, 9.8, 3.6, 7.6, 3.6, 5.2);
        drop.arcTo(QRectF(3.6, 0.8, 8.8, 8.8), 180, -180);
        drop.cubicTo(12.4, 7.6, 10.5, 9.8, 8, 13.2);
        p.setPen(Qt::NoPen);
        p.setBrush(a);
        p.drawPath(drop);
        p.setBrush(c);
        p.drawEllipse(QPointF(8, 5.2), 1.7, 1.7);
        break;
    }
    case Glyph::ArrowLeft:
        fillPolygon(p, c, {{4, 8}, {11, 3.5}, {11, 12.5}});
        break;
    case Glyph::ArrowRight:
        fillPolygon(p, c, {{12, 8}, {5, 3.5}, {5, 12.5}});
        break;
    case Glyph::ArrowUp:
        fillPolygon(p, c, {{8, 4}, {3.5, 11}, {12.5, 11}});
        break;
    case Glyph::ArrowDown:
        fillPolygon(p, c, {{8, 12}, {3.5, 5}, {12.5, 5}});
        break;
    case Glyph::FolderOpen:
        p.setPen(strokePen(c, 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF(QList<QPointF>{{2.5, 13}, {1.2, 13}, {1.2, 2.8}, {5.6, 2.8}, {7.2, 4.6},
                                                {12.6, 4.6}, {12.6, 7}}));
        fillPolygon(p, a, {{3.4, 7.4}, {15.2, 7.4}, {12.6, 13.6}, {1.2, 13.6}});
        break;
    case Glyph::SortAscending:
    case Glyph::SortDescending: {
        const bool up = glyph == Glyph::SortAscending;
        for (int i = 0; i < 3; ++i) {
            const double length = up ? 3.0 + i * 3.0 : 9.0 - i * 3.0;
            fillRect(p, c, QRectF(1.2, 2.4 + i * 4.4, length, 2.2), 0.5);
        }
        p.setPen(strokePen(a, 1.6));
        p.drawLine(QPointF(13, up ? 13.8 : 1.6), QPointF(13, up ? 5 : 11));
        arrowHead(p, a, QPointF(13, up ? 1.4 : 14.6), up ? -90 : 90, 3.4);
        break;
    }
    case Glyph::SearchDate:
        strokeRect(p, c, QRectF(1.5, 3, 13, 11.5), 1, 1.3);
        fillRect(p, c, QRectF(1.5, 3, 13, 3.2), 0.8);
        p.setPen(strokePen(c, 1.4));
        p.drawLine(QPointF(5, 1.2), QPointF(5, 4));
        p.drawLine(QPointF(11, 1.2), QPointF(11, 4));
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 3; ++col)
                fillRect(p, col == 2 && row == 1 ? a : c, QRectF(3.6 + col * 3.4, 8 + row * 3, 2, 1.8));
        break;
    case Glyph::Convert:
        strokePolyline(p, c, {{7, 3}, {1.5, 3}, {1.5, 14.5}, {13, 14.5}, {13, 9}}, 1.3);
        p.setPen(strokePen(a, 1.6));
        p.drawLine(QPointF(6, 10), QPointF(12.5, 3.5));
        arrowHead(p, a, QPointF(14.8, 1.2), -45, 3.6);
        break;
    case Glyph::Gps: {
        // Satellite with its signal going down to the left.
        const QPointF sat(9.6, 6.2);
        p.setPen(strokePen(a, 0.8));
        p.setBrush(Qt::NoBrush);
        for (double r : {5.2, 7.6})
            p.drawArc(QRectF(sat.x() - r, sat.y() - r, 2 * r, 2 * r), 190 * 16, 70 * 16);
        p.save();
        p.translate(sat);
        p.rotate(-40);
        fillRect(p, c, QRectF(-1.7, -1.7, 3.4, 3.4), 0.5);
        p.setPen(QPen(c, 0.5));
        p.setBrush(a);
        p.drawRect(QRectF(-6.8, -1.3, 4.3, 2.6));
        p.drawRect(QRectF(2.5, -1.3, 4.3, 2.6));
        p.restore();
        break;
    }
    case Glyph::AppIcon: {
        QLinearGradient body(0, 1, 0, 15);
        body.setColorAt(0, QColor(58, 63, 84));
        body.setColorAt(1, QColor(22, 24, 32));
        p.setPen(QPen(QColor(90, 97, 130), 0.4));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(0.6, 2.2, 14.8, 11.6), 2.4, 2.4);
        p.setPen(QPen(a, 0.9));
        p.setBrush(QColor(10, 10, 12));
        p.drawEllipse(QPointF(8, 8), 4.2, 4.2);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 46, 70));
        p.drawEllipse(QPointF(8, 8), 2.4, 2.4);
        p.setBrush(QColor(255, 255, 255, 170));
        p.drawEllipse(QPointF(7, 7), 0.8, 0.8);
        p.setBrush(style.accent.isValid() ? QColor(220, 60, 60) : c);
        p.drawEllipse(QPointF(13.2, 4.2), 0.8, 0.8);
        break;
    }
    case Glyph::None:
    case Glyph::GraphPanel:
    case Glyph::PictureSettingsPanel:
    case Glyph::ReportPanel:
    case Glyph::DeviceSettingsPanel:
        break;
    }
    p.restore();
}

} // namespace korvante::skin
