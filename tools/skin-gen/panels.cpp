#include "panels.h"

#include "faces.h"
#include "palette.h"
#include "text.h"

#include <QPainter>
#include <QPainterPath>

namespace korvante::skin {
namespace {

// A 3-pixel frame just inside the image's edge, as the panels draw their own.
void panelFrame(QPainter &p, const QSize &size, const QColor &colour, int width = 3)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const int w = size.width();
    const int h = size.height();
    p.drawRect(0, 0, w, width);
    p.drawRect(0, h - width, w, width);
    p.drawRect(0, 0, width, h);
    p.drawRect(w - width, 0, width, h);
    p.restore();
}

// The dialog body on a magenta key: a rounded shape, filled without
// antialiasing so every pixel is either key or body.
void keyedBody(QImage &out, int radius, const QColor &fill, const QColor &border)
{
    out.fill(palette::magenta);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, false);
    QPainterPath outer;
    outer.addRoundedRect(QRectF(0, 0, out.width(), out.height()), radius, radius);
    p.fillPath(outer, border);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(3, 3, out.width() - 6, out.height() - 6), radius - 3, radius - 3);
    p.fillPath(inner, fill);
}

void groupBox(QPainter &p, const QRectF &box, const QString &title)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette::groupLine, 1));
    p.setBrush(palette::groupFill);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.restore();
    drawLabel(p, QRectF(box.left() + 12, box.top() + 6, box.width() - 24, 20), title, palette::caption, 14, true);
}

// Caption to the right of a 20 x 20 option button whose top-left corner is at.
void optionCaption(QPainter &p, QPointF at, const QString &text)
{
    drawLabel(p, QRectF(at.x() + 26, at.y(), 100, 20), text, palette::label, 13);
}

QImage graphPanel(const SkinImage &image)
{
    QImage out(image.width, image.height, QImage::Format_RGB32);
    out.fill(palette::panelDark);
    QPainter p(&out);
    panelFrame(p, out.size(), palette::frame);
    drawLabel(p, QRectF(10, 6, 190, 18), QStringLiteral("G-Sensor Graph"), palette::caption, 13, true);

    // Legend in the axis colours, left of where the wide layout puts its Close button.
    const struct { const char *name; QColor colour; } axes[] = {
        {"X", palette::axisX}, {"Y", palette::axisY}, {"Z", palette::axisZ}};
    double x = 208;
    for (const auto &axis : axes) {
        p.fillRect(QRectF(x, 14, 14, 2), axis.colour);
        drawLabel(p, QRectF(x + 17, 6, 14, 18), QString::fromLatin1(axis.name), axis.colour, 12, true);
        x += 34;
    }
    drawLabel(p, QRectF(10, 26, 300, 16), QStringLiteral("first minute of the recording"), palette::dimLabel, 10);

    // The plot area that the curves use: left 31, top 55, 301 x 118, centre line at 114.
    const QRect plot(31, 55, 301, 118);
    p.fillRect(plot, QColor(9, 9, 11));
    const QColor grid(36, 38, 47);
    p.setPen(QPen(grid, 1));
    for (int k = 1; k < 6; ++k) {
        const int gx = plot.left() + k * plot.width() / 6;
        p.drawLine(gx, plot.top(), gx, plot.bottom());
    }
    const int centre = plot.top() + plot.height() / 2;
    const int quarter = plot.height() / 4;
    p.drawLine(plot.left(), centre - quarter, plot.right(), centre - quarter);
    p.drawLine(plot.left(), centre + quarter, plot.right(), centre + quarter);
    p.setPen(QPen(QColor(88, 94, 120), 1));
    p.drawLine(plot.left(), centre, plot.right(), centre);
    p.setPen(QPen(palette::groupLine, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot.adjusted(0, 0, -1, -1));

    // Vertical labels in g: the half-height is about 4 g in both sample formats.
    const struct { int y; const char *text; } levels[] = {
        {plot.top(), "+4g"}, {centre - quarter, "+2"}, {centre, "0"}, {centre + quarter, "-2"}, {plot.bottom(), "-4g"}};
    for (const auto &level : levels)
        drawLabel(p, QRectF(0, level.y - 7, 28, 14), QString::fromLatin1(level.text), palette::dimLabel, 9, false,
                  Qt::AlignRight | Qt::AlignVCenter);

    // Time labels every 10 seconds under the plot.
    for (int k = 0; k <= 6; ++k) {
        const int tx = plot.left() + k * plot.width() / 6;
        const QString text = k == 0 ? QStringLiteral("0s") : k == 6 ? QStringLiteral("60s") : QString::number(k * 10);
        QRectF box(tx - 20, plot.bottom() + 3, 40, 14);
        int align = Qt::AlignHCenter | Qt::AlignTop;
        if (k == 0) {
            box = QRectF(tx, plot.bottom() + 3, 40, 14);
            align = Qt::AlignLeft | Qt::AlignTop;
        } else if (k == 6) {
            box = QRectF(tx - 40, plot.bottom() + 3, 40 + (image.width - tx - 3), 14);
            align = Qt::AlignRight | Qt::AlignTop;
        }
        p.setPen(QPen(grid, 1));
        p.drawLine(tx, plot.bottom() + 1, tx, plot.bottom() + 3);
        drawLabel(p, box, text, palette::dimLabel, 9, false, align);
    }
    return out;
}

QImage pictureSettingsPanel(const SkinImage &image)
{
    QImage out(image.width, image.height, QImage::Format_RGB32);
    out.fill(palette::panelBlue);
    QPainter p(&out);
    panelFrame(p, out.size(), palette::groupLine, 2);
    drawLabel(p, QRectF(9, 3, 200, 16), QStringLiteral("Screen Settings"), palette::caption, 12, true);
    p.fillRect(QRectF(9, 20, 236, 1), palette::groupLine);

    // Each slider is 85 x 13; its label sits in the 15 pixels above it.
    const struct { int x; int y; const char *text; } labels[] = {
        {28, 40, "Brightness"}, {152, 40, "Contrast"}, {28, 75, "Saturation"}, {152, 75, "Hue"}};
    for (const auto &l : labels)
        drawLabel(p, QRectF(l.x, l.y - 15, 85, 14), QString::fromLatin1(l.text), palette::label, 10, false,
                  Qt::AlignHCenter | Qt::AlignVCenter);
    return out;
}

QImage reportPanel(const SkinImage &image)
{
    QImage out(image.width, image.height, QImage::Format_RGB32);
    keyedBody(out, 16, palette::panelDark, palette::frame);
    QPainter p(&out);
    drawLabel(p, QRectF(26, 18, 600, 44), QStringLiteral("Accident Report"), palette::caption, 28, true);
    drawLabel(p, QRectF(330, 30, 500, 30), QStringLiteral("Captured picture, map and details for printing"),
              palette::dimLabel, 13);

    // Picture preview (15, 74) 909 x 524 and the details edit (20, 605) 790 x 88:
    // dark wells with a one-pixel border just outside.
    p.fillRect(QRect(14, 73, 911, 526), palette::groupLine);
    p.fillRect(QRect(15, 74, 909, 524), QColor(8, 8, 10));
    p.fillRect(QRect(19, 604, 792, 90), palette::groupLine);
    p.fillRect(QRect(20, 605, 790, 88), QColor(8, 8, 10));
    return out;
}

QImage deviceSettingsPanel(const SkinImage &image)
{
    QImage out(image.width, image.height, QImage::Format_RGB32);
    keyedBody(out, 16, palette::panelDark, palette::frame);
    QPainter p(&out);
    drawLabel(p, QRectF(30, 12, 600, 36), QStringLiteral("Device Settings"), palette::caption, 24, true);
    drawLabel(p, QRectF(32, 44, 700, 18), QStringLiteral("Settings of the camera, saved to SETUP/setup.ini on the card"),
              palette::dimLabel, 12);

    // Option captions, in the order of the groups below.
    const struct { double x, y; const char *text; } options[] = {
        {70, 110, "High"}, {200, 110, "Middle"}, {330, 110, "Low"},
        {498, 110, "High"}, {627, 110, "Middle"}, {757, 110, "Low"},
        {70, 214, "15 %"}, {200, 214, "30 %"}, {330, 214, "50 %"},
        {70, 311, "ON"}, {200, 311, "OFF"},
        {355, 311, "ON"}, {485, 311, "OFF"},
        {645, 311, "ON"}, {775, 311, "OFF"},
        {70, 403, "ON"}, {200, 403, "OFF"},
        {355, 403, "ON"}, {485, 403, "OFF"},
        {70, 507, "11.8V"}, {202, 507, "12.0V"}, {342, 507, "12.2V"}, {484, 507, "12.5V"},
        {70, 552, "23.8V"}, {202, 552, "24.0V"}, {342, 552, "24.2V"}, {484, 552, "24.5V"},
    };
    const struct { QRectF box; const char *title; int optionCount; } groups[] = {
        {{30, 72, 430, 70}, "G-Sensor Sensitivity", 3},
        {{478, 72, 412, 70}, "Audio Volume", 3},
        {{30, 176, 430, 70}, "Parking Storage", 3},
        {{30, 273, 300, 70}, "Voice Guide", 2},
        {{340, 273, 280, 70}, "Voice Recording", 2},
        {{630, 273, 260, 70}, "Parking LED", 2},
        {{30, 365, 300, 70}, "Auto Reset", 2},
        {{340, 365, 280, 70}, "Parking Mode", 2},
        {{30, 469, 590, 121}, "Power Shutdown", 8},
        {{630, 469, 260, 121}, "Wi-Fi", 0},
        {{30, 603, 860, 123}, "Date and Time", 0},
    };
    int next = 0;
    for (const auto &group : groups) {
        groupBox(p, group.box, QString::fromLatin1(group.title));
        for (int i = 0; i < group.optionCount; ++i, ++next)
            optionCaption(p, QPointF(options[next].x, options[next].y), QString::fromLatin1(options[next].text));
    }
    // Battery system of each power-shutdown row.
    drawLabel(p, QRectF(36, 507, 32, 20), QStringLiteral("12V"), palette::dimLabel, 11, true);
    drawLabel(p, QRectF(36, 552, 32, 20), QStringLiteral("24V"), palette::dimLabel, 11, true);

    // Wi-Fi reset check box at (710, 519), 17 x 30.
    drawLabel(p, QRectF(731, 519, 150, 30), QStringLiteral("Reset Wi-Fi"), palette::label, 13);

    // Time zone list at (230, 641) and the clock edits on the row at 682.
    drawLabel(p, QRectF(44, 641, 180, 30), QStringLiteral("Time Zone"), palette::label, 13);
    const struct { int x; const char *text; } units[] = {
        {126, "Year"}, {245, "Month"}, {386, "Day"}, {505, "Hour"}, {630, "Min"}, {747, "Sec"}};
    for (const auto &unit : units)
        drawLabel(p, QRectF(unit.x + 4, 682, 54, 30), QString::fromLatin1(unit.text), palette::label, 12);
    drawLabel(p, QRectF(826, 684, 62, 30), QStringLiteral("Set clock"), palette::label, 11);

    // Faces of the two command buttons, so the dialog reads right even when
    // its buttons carry no skin of their own.
    drawButtonFace(p, QRectF(374, 739, 158, 36), Kind::ButtonNormal, Glyph::None, QStringLiteral("Save"));
    drawButtonFace(p, QRectF(833, 10, 65, 28), Kind::ButtonNormal, Glyph::None, QStringLiteral("Close"));
    return out;
}

} // namespace

QImage renderPanel(const SkinImage &image)
{
    switch (image.glyph) {
    case Glyph::GraphPanel:
        return graphPanel(image);
    case Glyph::PictureSettingsPanel:
        return pictureSettingsPanel(image);
    case Glyph::ReportPanel:
        return reportPanel(image);
    case Glyph::DeviceSettingsPanel:
        return deviceSettingsPanel(image);
    default:
        break;
    }
    // A background without a layout of its own: the plain panel colour.
    QImage out(image.width, image.height, QImage::Format_RGB32);
    out.fill(palette::panelDark);
    return out;
}

} // namespace korvante::skin
