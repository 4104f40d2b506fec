#include "faces.h"

#include "glyphs.h"
#include "palette.h"
#include "text.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace korvante::skin {
namespace {

QImage blank(const SkinImage &image)
{
    QImage out(image.width, image.height, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    return out;
}

bool horizontal(const SkinImage &image) { return image.width >= image.height; }

// The square (or, for wide glyphs, the box) a glyph takes on a small button.
QRectF glyphBox(const QRectF &face, Glyph glyph)
{
    if (glyph == Glyph::RearFlip)
        return face.adjusted(3, 3, -3, -3);
    const double side = std::min(face.width(), face.height()) * 0.7;
    return QRectF(face.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
}

void drawOption(QPainter &p, const SkinImage &image)
{
    const QPointF centre(image.width / 2.0, image.height / 2.0);
    const double radius = std::min(image.width, image.height) / 2.0 - 2.5;
    p.setRenderHint(QPainter::Antialiasing);
    switch (image.kind) {
    case Kind::OptionSelected:
        p.setPen(QPen(palette::accentLight, 1.6));
        p.setBrush(palette::accentDark);
        p.drawEllipse(centre, radius, radius);
        p.setPen(Qt::NoPen);
        p.setBrush(palette::glyphBright);
        p.drawEllipse(centre, radius * 0.48, radius * 0.48);
        break;
    case Kind::OptionHover:
        p.setPen(QPen(palette::accentLight, 1.6));
        p.setBrush(QColor(40, 44, 62));
        p.drawEllipse(centre, radius, radius);
        break;
    default:
        p.setPen(QPen(palette::label, 1.4));
        p.setBrush(palette::groove);
        p.drawEllipse(centre, radius, radius);
        break;
    }
}

void drawToggle(QPainter &p, const SkinImage &image)
{
    const QRectF face(0.5, 0.5, image.width - 1, image.height - 1);
    p.setRenderHint(QPainter::Antialiasing);
    GlyphStyle style;
    if (image.kind == Kind::ToggleOn) {
        p.setPen(QPen(palette::accent, 1));
        p.setBrush(palette::accentDark);
        p.drawRoundedRect(face, 3, 3);
        style.colour = palette::glyphBright;
    } else {
        style.colour = palette::glyph;
        style.tilted = true;
    }
    drawGlyph(p, image.glyph, glyphBox(face, image.glyph), style);
}

void drawSliderChannel(QPainter &p, const SkinImage &image)
{
    const bool active = image.kind == Kind::SliderActiveChannel;
    const double thickness = 5;
    const QRectF groove = horizontal(image)
                              ? QRectF(0.5, (image.height - thickness) / 2, image.width - 1, thickness)
                              : QRectF((image.width - thickness) / 2, 0.5, thickness, image.height - 1);
    p.setRenderHint(QPainter::Antialiasing);
    if (active) {
        QLinearGradient fill(groove.topLeft(), groove.bottomLeft());
        fill.setColorAt(0, palette::accentLight);
        fill.setColorAt(1, palette::accent);
        p.setPen(QPen(palette::accentDark, 1));
        p.setBrush(fill);
    } else {
        p.setPen(QPen(palette::grooveLine, 1));
        p.setBrush(palette::groove);
    }
    p.drawRoundedRect(groove, thickness / 2, thickness / 2);
}

void drawSliderThumb(QPainter &p, const SkinImage &image)
{
    const QPointF centre(image.width / 2.0, image.height / 2.0);
    const double radius = std::min(image.width, image.height) / 2.0 - 1;
    p.setRenderHint(QPainter::Antialiasing);
    if (image.kind == Kind::SliderActiveThumb) {
        p.setPen(QPen(palette::accentLight, 2));
        p.setBrush(palette::glyphBright);
        p.drawEllipse(centre, radius - 0.5, radius - 0.5);
        return;
    }
    QLinearGradient fill(0, 0, 0, image.height);
    fill.setColorAt(0, QColor(236, 238, 246));
    fill.setColorAt(1, QColor(160, 166, 184));
    p.setPen(QPen(QColor(58, 62, 78), 1));
    p.setBrush(fill);
    p.drawEllipse(centre, radius - 0.5, radius - 0.5);
}

// Header pieces are one or two pixels wide: paint them row by row so the
// stretched columns carry an exact gradient.
void drawHeaderPiece(QImage &out, Kind kind)
{
    const int h = out.height();
    for (int y = 0; y < h; ++y) {
        const double t = h > 1 ? double(y) / (h - 1) : 0.0;
        auto mix = [t](QColor a, QColor b) {
            return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                                    float(a.greenF() + (b.greenF() - a.greenF()) * t),
                                    float(a.blueF() + (b.blueF() - a.blueF()) * t));
        };
        QColor face;
        switch (kind) {
        case Kind::HeaderBackground:
            face = mix(QColor(30, 32, 41), QColor(16, 17, 22));
            break;
        case Kind::HeaderFace:
            face = y == 0 ? QColor(96, 104, 138) : y == h - 1 ? QColor(14, 15, 20)
                                                            : mix(QColor(64, 70, 94), QColor(36, 39, 54));
            break;
        default:
            break;
        }
        for (int x = 0; x < out.width(); ++x) {
            QColor c = face;
            if (kind == Kind::HeaderEdge)
                c = x == 0 ? QColor(14, 15, 20) : QColor(92, 100, 132);
            out.setPixelColor(x, y, c);
        }
    }
}

void drawScrollTrack(QImage &out)
{
    const bool across = out.width() == 1; // a column: the bar is horizontal
    const int n = across ? out.height() : out.width();
    for (int i = 0; i < n; ++i) {
        const QColor c = (i == 0 || i == n - 1) ? QColor(52, 59, 86) : QColor(66, 74, 104);
        for (int j = 0; j < (across ? out.width() : out.height()); ++j) {
            if (across)
                out.setPixelColor(j, i, c);
            else
                out.setPixelColor(i, j, c);
        }
    }
}

void drawScrollArrow(QPainter &p, const SkinImage &image)
{
    const bool pressed = image.kind == Kind::ScrollArrowPressed;
    const QRectF face(0.5, 0.5, image.width - 1, image.height - 1);
    p.fillRect(QRect(0, 0, image.width, image.height), palette::scrollFill);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pressed ? QColor(70, 78, 110) : QColor(108, 118, 160), 1));
    p.setBrush(pressed ? QColor(40, 46, 70) : QColor(58, 66, 96));
    p.drawRoundedRect(face, 2, 2);
    const double side = std::min(image.width, image.height);
    QRectF box(QPointF(image.width / 2.0 - side / 2, image.height / 2.0 - side / 2), QSizeF(side, side));
    if (pressed)
        box.translate(horizontal(image) ? 0.0 : 0.0, 1.0);
    GlyphStyle style{pressed ? QColor(176, 184, 214) : QColor(226, 230, 244), {}, false};
    drawGlyph(p, image.glyph, box, style);
}

void drawScrollThumb(QPainter &p, const SkinImage &image)
{
    p.fillRect(QRect(0, 0, image.width, image.height), palette::scrollFill);
    const QRectF face(1, 1, image.width - 2, image.height - 2);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill = horizontal(image) ? QLinearGradient(0, 0, 0, image.height)
                                             : QLinearGradient(0, 0, image.width, 0);
    fill.setColorAt(0, QColor(176, 184, 220));
    fill.setColorAt(1, QColor(118, 128, 170));
    p.setPen(QPen(QColor(198, 204, 234), 1));
    p.setBrush(fill);
    p.drawRoundedRect(face.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.setPen(QPen(QColor(78, 86, 122), 1));
    const QPointF c = face.center();
    for (int i = -1; i <= 1; ++i) {
        if (horizontal(image))
            p.drawLine(QPointF(c.x() + i * 3, c.y() - 2.5), QPointF(c.x() + i * 3, c.y() + 2.5));
        else
            p.drawLine(QPointF(c.x() - 2.5, c.y() + i * 3), QPointF(c.x() + 2.5, c.y() + i * 3));
    }
}

void drawIcon(QPainter &p, const SkinImage &image)
{
    const QRectF all(0, 0, image.width, image.height);
    p.setRenderHint(QPainter::Antialiasing);
    switch (image.glyph) {
    case Glyph::Gps: {
        p.setPen(QPen(palette::cellLine, 1));
        p.setBrush(QColor(24, 26, 34));
        p.drawRoundedRect(all.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        drawGlyph(p, Glyph::Gps, QRectF(image.width / 2.0 - 15, 2, 30, 30),
                  {palette::label, palette::accentLight, false});
        drawLabel(p, QRectF(0, image.height - 16, image.width, 14), QStringLiteral("GPS"), palette::caption,
                  12, true, Qt::AlignCenter);
        break;
    }
    case Glyph::MapBadge:
        p.setPen(QPen(palette::groupLine, 1));
        p.setBrush(palette::panelDark);
        p.drawRoundedRect(all.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        drawGlyph(p, image.glyph, all.adjusted(6, 5, -6, -7), {palette::label, palette::accentLight, false});
        break;
    case Glyph::AppIcon:
        drawGlyph(p, image.glyph, all, {palette::glyph, palette::accentLight, false});
        break;
    default:
        drawGlyph(p, image.glyph, all, {palette::label, palette::accentLight, false});
        break;
    }
}

} // namespace

void drawButtonFace(QPainter &p, const QRectF &rect, Kind kind, Glyph glyph, const QString &caption)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF face = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = std::min(4.0, std::min(rect.width(), rect.height()) * 0.2);
    const bool framed = !caption.isEmpty() || rect.width() > 36; // large buttons always show their face

    GlyphStyle style;
    QPointF shift(0, 0);
    switch (kind) {
    case Kind::ButtonHover:
        p.setPen(QPen(palette::accentLight, 1));
        p.setBrush(palette::hoverFill);
        p.drawRoundedRect(face, radius, radius);
        style = {palette::glyphBright, QColor(214, 222, 255), false};
        break;
    case Kind::ButtonPressed:
        p.setPen(QPen(palette::accentDark, 1));
        p.setBrush(palette::pressedFill);
        p.drawRoundedRect(face, radius, radius);
        // A dark line along the top reads as a pressed-in face.
        p.setPen(QPen(QColor(0, 0, 0, 150), 1));
        p.drawLine(face.topLeft() + QPointF(radius, 1), face.topRight() + QPointF(-radius, 1));
        style = {palette::glyphPressed, palette::accent, false};
        shift = QPointF(0, 1);
        break;
    default:
        if (framed) {
            p.setPen(QPen(palette::groupLine, 1));
            p.setBrush(QColor(36, 40, 54));
            p.drawRoundedRect(face, radius, radius);
        }
        style = {palette::glyph, palette::accentLight, false};
        break;
    }

    const QRectF content = rect.translated(shift);
    if (caption.isEmpty()) {
        drawGlyph(p, glyph, glyphBox(content, glyph), style);
    } else if (glyph == Glyph::None) {
        const int pixelSize = std::max(10, int(rect.height() * 0.42));
        drawLabel(p, content, caption, style.colour, pixelSize, true, Qt::AlignCenter);
    } else {
        // Tall captioned button: the glyph on top, the caption underneath.
        const double side = std::min(content.width(), content.height()) * 0.55;
        const QRectF box(content.center().x() - side / 2, content.top() + content.height() * 0.1, side, side);
        drawGlyph(p, glyph, box, style);
        drawLabel(p, QRectF(content.left(), box.bottom() + 2, content.width(), content.bottom() - box.bottom() - 6),
                  caption, style.colour, std::max(10, int(content.height() * 0.14)), true, Qt::AlignCenter);
    }
    p.restore();
}

QImage renderControl(const SkinImage &image)
{
    QImage out = blank(image);
    switch (image.kind) {
    case Kind::HeaderBackground:
    case Kind::HeaderFace:
    case Kind::HeaderEdge:
        drawHeaderPiece(out, image.kind);
        return out;
    case Kind::ScrollTrack:
        drawScrollTrack(out);
        return out;
    default:
        break;
    }

    QPainter p(&out);
    switch (image.kind) {
    case Kind::ButtonNormal:
    case Kind::ButtonHover:
    case Kind::ButtonPressed:
        drawButtonFace(p, QRectF(0, 0, image.width, image.height), image.kind, image.glyph,
                       QString::fromUtf8(image.caption.data(), qsizetype(image.caption.size())));
        break;
    case Kind::ToggleOn:
    case Kind::ToggleOff:
        drawToggle(p, image);
        break;
    case Kind::OptionSelected:
    case Kind::OptionUnselected:
    case Kind::OptionHover:
        drawOption(p, image);
        break;
    case Kind::SliderChannel:
    case Kind::SliderActiveChannel:
        drawSliderChannel(p, image);
        break;
    case Kind::SliderThumb:
    case Kind::SliderActiveThumb:
        drawSliderThumb(p, image);
        break;
    case Kind::ScrollArrow:
    case Kind::ScrollArrowPressed:
        drawScrollArrow(p, image);
        break;
    case Kind::ScrollThumb:
        drawScrollThumb(p, image);
        break;
    case Kind::Icon:
        drawIcon(p, image);
        break;
    case Kind::Background:
    case Kind::HeaderBackground:
    case Kind::HeaderFace:
    case Kind::HeaderEdge:
    case Kind::ScrollTrack:
        break;
    }
    p.end();
    return out;
}

} // namespace korvante::skin
