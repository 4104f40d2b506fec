#include "mockups.h"

#include "palette.h"
#include "render.h"
#include "text.h"

#include <QPainter>

#include <cmath>
#include <vector>

namespace korvante::skin {
namespace {

QImage image(int id, ImageSet set = ImageSet::Skin)
{
    const SkinImage *entry = findImage(set, id);
    return entry ? renderImage(*entry) : QImage();
}

// A horizontal slider as the viewer paints it: the channel after the thumb
// centre, the active channel up to 6 pixels before it, the thumb centred.
void slider(QPainter &p, QPoint at, int channelId, int activeId, int thumbId, double fraction)
{
    const QImage channel = image(channelId);
    const QImage active = image(activeId);
    const QImage thumb = image(thumbId);
    const int w = channel.width();
    const int t = thumb.width();
    const int centre = int((w - t) * fraction) + t / 2;
    p.drawImage(at + QPoint(centre, 0), channel, QRect(centre, 0, w - centre, channel.height()));
    p.drawImage(at, active, QRect(0, 0, std::max(0, centre - 6), active.height()));
    p.drawImage(at + QPoint(centre - t / 2, (channel.height() - thumb.height()) / 2), thumb);
}

QImage titleBar()
{
    QImage out(780, 28, QImage::Format_RGB32);
    out.fill(palette::panelDark);
    QPainter p(&out);
    drawLabel(p, QRectF(15, 6, 305, 15), QStringLiteral("KORVANTE VIEWER    version 1.5.0"), QColor(220, 220, 220), 12);
    p.drawImage(750, 4, image(218));
    p.drawImage(725, 4, image(206)); // shown under the mouse
    p.drawImage(700, 4, image(203));
    p.drawImage(675, 4, image(207));
    return out;
}

QImage playerPanel()
{
    QImage out(730, 50, QImage::Format_RGB32);
    out.fill(palette::panelDark);
    QPainter p(&out);
    const QColor timeColour(92, 102, 127);
    drawLabel(p, QRectF(0, 0, 40, 20), QStringLiteral("01:24"), timeColour, 12);
    drawLabel(p, QRectF(565, 0, 40, 20), QStringLiteral("03:00"), timeColour, 12);
    slider(p, QPoint(40, 0), 105, 106, 104, 0.45);
    p.drawImage(616, 0, image(112));
    slider(p, QPoint(635, 1), 117, 118, 103, 0.7); // the volume thumb as while dragged
    const struct { int id, x, y; } buttons[] = {
        {216, 40, 23}, {227, 80, 24}, {213, 120, 23}, {222, 160, 23}, {229, 200, 24}, {208, 240, 23},
        {237, 350, 25}, {231, 390, 25}, {268, 430, 25}, {235, 480, 25}, {233, 520, 25}, {245, 600, 25},
        {201, 625, 25}, {247, 650, 25}, {259, 675, 25}, {220, 700, 25}};
    for (const auto &b : buttons)
        p.drawImage(b.x, b.y, image(b.id));
    return out;
}

QImage sensorPanel()
{
    QImage out(750, 55, QImage::Format_RGB32);
    out.fill(palette::panelDark);
    QPainter p(&out);
    const struct { int left; const char *caption; const char *value; QColor colour; } cells[] = {
        {60, "Latitude", "N37.300000", palette::caption},   {170, "Longitude", "E127.012000", palette::caption},
        {280, "Speed", "062 [km/h]", palette::caption},      {410, "Horizental (X axis)", "0.125", palette::axisX},
        {520, "Vertical (Y axis)", "-0.031", palette::axisY}, {630, "Depth (Z axis)", "0.984", palette::axisZ}};
    p.setPen(QPen(palette::cellLine, 1));
    for (const auto &c : cells) {
        const QRect caption(c.left, 12, 111, 20);
        p.drawRect(caption.translated(0, -4).adjusted(0, 0, -1, -1));
        p.drawRect(caption.translated(0, 16).adjusted(0, 0, -1, -1));
    }
    for (const auto &c : cells) {
        drawLabel(p, QRectF(c.left, 12, 111, 20), QString::fromLatin1(c.caption), c.colour, 11, false, Qt::AlignCenter);
        drawLabel(p, QRectF(c.left, 32, 111, 20), QString::fromLatin1(c.value), c.colour, 11, false, Qt::AlignCenter);
    }
    p.drawImage(75, 11, image(239));
    p.drawImage(179, 11, image(240));
    p.drawImage(300, 11, image(241));
    p.drawImage(0, 5, image(254));
    return out;
}

QImage screenSettings()
{
    QImage out = image(249).convertToFormat(QImage::Format_RGB32);
    QPainter p(&out);
    slider(p, QPoint(152, 40), 117, 118, 116, 0.5);
    slider(p, QPoint(28, 40), 117, 118, 116, 0.5);
    slider(p, QPoint(152, 75), 117, 118, 116, 0.5);
    slider(p, QPoint(28, 75), 117, 118, 116, 0.3);
    p.drawImage(255, 0, image(218));
    p.drawImage(242, 80, image(251));
    return out;
}

QImage mapView()
{
    QImage out(315, 310, QImage::Format_RGB32);
    out.fill(palette::panelDark);
    QPainter p(&out);
    p.setPen(QPen(palette::frame, 3));
    p.drawRect(QRectF(1, 1, 312, 307));
    drawLabel(p, QRectF(10, 5, 90, 15), QStringLiteral("Map Viewer"), palette::caption, 11);
    p.fillRect(QRect(8, 24, 299, 280), palette::panelBlue);
    const QImage badge = image(261);
    p.drawImage(8 + 299 - badge.width(), 24, badge);
    p.drawImage(285, 2, image(218));
    p.drawImage(265, 3, image(244));
    return out;
}

QImage wideGraph()
{
    QImage out = image(242).scaled(550, 290).convertToFormat(QImage::Format_RGB32);
    QPainter p(&out);
    p.drawImage(520, 10, image(218));
    // Curves the way the panel draws them: 1-pixel lines over the wide plot area.
    const int left = 54, width = 488, top = 80, height = 168;
    const int centre = top + height / 2;
    const QColor colours[] = {palette::axisX, palette::axisY, palette::axisZ};
    for (int axis = 0; axis < 3; ++axis) {
        p.setPen(QPen(colours[axis], 1));
        QPoint last(left, centre);
        for (int t = 0; t <= 40000; t += 500) {
            const double g = axis == 2 ? 1.0 + 0.2 * std::sin(t / 2300.0)
                                       : 0.6 * std::sin(t / (1500.0 + axis * 900)) * (t > 20000 && t < 22000 ? 4 : 1);
            const QPoint next(left + t * width / 60000, centre - int(g / 4.04 * height / 2));
            p.drawLine(last, next);
            last = next;
        }
    }
    p.setPen(QPen(QColor(255, 138, 72), 1));
    const int cursor = left + 26000 * 480 / 60000;
    p.drawLine(cursor, top, cursor, top + height);
    return out;
}

QImage listPieces()
{
    QImage out(307, 120, QImage::Format_RGB32);
    out.fill(Qt::black);
    QPainter p(&out);
    const QImage background = image(140, ImageSet::App);
    const QImage face = image(141, ImageSet::App);
    const QImage edge = image(142, ImageSet::App);
    p.drawImage(QRect(0, 0, 307, 20), background);
    const struct { int width; const char *text; } columns[] = {{35, "NO."}, {88, "DATA"}, {72, "TIME"}, {50, "TYPE"}, {45, "CH"}};
    int x = 0;
    for (const auto &c : columns) {
        p.drawImage(QRect(x, 0, c.width - 2, 20), face);
        p.drawImage(x + c.width - 2, 0, edge);
        drawLabel(p, QRectF(x + 2, 0, c.width - 4, 20), QString::fromLatin1(c.text), palette::caption, 11, false,
                  Qt::AlignCenter);
        x += c.width;
    }
    for (int row = 0; row < 4; ++row) {
        const bool selected = row == 1;
        if (selected)
            p.fillRect(QRect(0, 20 + row * 18, 295, 18), palette::accent);
        drawLabel(p, QRectF(4, 20 + row * 18, 290, 18),
                  QStringLiteral("%1      20120301   14253%1   NOR   2CH").arg(row + 1),
                  selected ? QColor(229, 229, 229) : QColor(158, 177, 187), 11);
    }
    // Vertical bar at the right edge (12 wide), horizontal bar at the bottom (12 high).
    const int barTop = 20, barHeight = 88;
    p.fillRect(QRect(295, barTop, 12, barHeight), palette::scrollFill);
    p.drawImage(QRect(295, barTop, 12, barHeight), image(149, ImageSet::App));
    p.drawImage(295, barTop, image(147, ImageSet::App));
    p.drawImage(295, barTop + barHeight - 26, image(152, ImageSet::App));
    p.drawImage(295, barTop + 30, image(150, ImageSet::App));
    p.fillRect(QRect(0, 108, 295, 12), palette::scrollFill);
    p.drawImage(QRect(0, 108, 295, 12), image(145, ImageSet::App));
    p.drawImage(0, 108, image(143, ImageSet::App));
    p.drawImage(295 - 26, 108, image(144, ImageSet::App));
    p.drawImage(120, 108, image(146, ImageSet::App));
    return out;
}

} // namespace

QImage renderMockups()
{
    const std::vector<QImage> rows[] = {
        {titleBar()},
        {playerPanel()},
        {sensorPanel()},
        {screenSettings(), mapView(), listPieces()},
        {wideGraph()},
    };
    const int gap = 10;
    int width = 0, height = 0;
    for (const auto &row : rows) {
        int w = 0, h = 0;
        for (const QImage &i : row) {
            w += i.width() + gap;
            h = std::max(h, i.height());
        }
        width = std::max(width, w);
        height += h + gap;
    }
    QImage out(width + gap, height + gap, QImage::Format_RGB32);
    out.fill(QColor(30, 30, 34));
    QPainter p(&out);
    int y = gap;
    for (const auto &row : rows) {
        int x = gap, h = 0;
        for (const QImage &i : row) {
            p.drawImage(x, y, i);
            x += i.width() + gap;
            h = std::max(h, i.height());
        }
        y += h + gap;
    }
    return out;
}

} // namespace korvante::skin
