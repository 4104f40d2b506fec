#include "map_picture.h"

#include "gui/display/map_view.h"
#include "gui/display/map_view_dlg.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace korvante {

namespace {

constexpr QSize kMapSize{299, 280};
constexpr int kMarginPx = 20;
// How long the page may take to move its marker after the map step.
constexpr int kMarkerSettleMs = 300;

// NMEA "degrees × 100 + minutes" to decimal degrees, sign kept.
double decimalDegrees(double nmea)
{
    const double v = nmea * 0.01;
    const double d = std::trunc(v);
    return d + (v - d) * 100.0 / 60.0;
}

// A grab that shows one colour only is an unpainted view.
bool isBlank(const QImage &image)
{
    if (image.isNull())
        return true;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const QRgb first = rgb.pixel(0, 0);
    for (int y = 0; y < rgb.height(); y += 3) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); x += 3) {
            if (line[x] != first)
                return false;
        }
    }
    return true;
}

QImage fitted(const QImage &grab)
{
    QImage out(kMapSize, QImage::Format_RGB32);
    out.fill(QColor(28, 31, 40));
    QPainter p(&out);
    p.drawImage(QPoint(0, 0), grab.convertToFormat(QImage::Format_RGB32), QRect(QPoint(0, 0), kMapSize));
    return out;
}

} // namespace

QImage grabMapPicture(QWidget *mapView)
{
    if (!mapView || !mapView->isVisible())
        return {};
    if (auto *panel = qobject_cast<CMapViewDlg *>(mapView)) {
        CMap_view *map = panel->mapView();
        if (!map || !map->isVisible() || map->width() <= 0 || !map->startBrowser())
            return {};
        QWidget *browser = map->browserWidget();
        // Bring the marker to the playback position, and give the page a
        // moment to draw it (user input stays queued meanwhile).
        panel->mapStep();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kMarkerSettleMs)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        return fitted(browser->grab().toImage());
    }
    return fitted(mapView->grab(QRect(QPoint(0, 0), kMapSize)).toImage());
}

QImage drawTrackPicture(const std::vector<CQDRVGPSData> &fixes, std::uint64_t positionMs)
{
    QImage out(kMapSize, QImage::Format_RGB32);
    out.fill(QColor(28, 31, 40));
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(Qt::white);

    std::vector<QPointF> track; // (longitude, latitude) in degrees
    QPointF current;
    bool haveCurrent = false;
    for (const CQDRVGPSData &fix : fixes) {
        if (!fix.valid)
            continue;
        const QPointF at(decimalDegrees(fix.longitude), decimalDegrees(fix.latitude));
        track.push_back(at);
        if (static_cast<std::uint64_t>(std::max(fix.timestamp, 0)) <= positionMs || !haveCurrent) {
            current = at;
            haveCurrent = true;
        }
    }
    if (track.empty()) {
        p.drawText(QRect(QPoint(0, 0), kMapSize), Qt::AlignCenter, QStringLiteral("No GPS position"));
        return out;
    }
    double minX = track[0].x(), maxX = minX, minY = track[0].y(), maxY = minY;
    for (const QPointF &q : track) {
        minX = std::min(minX, q.x());
        maxX = std::max(maxX, q.x());
        minY = std::min(minY, q.y());
        maxY = std::max(maxY, q.y());
    }
    // Equal scales on the ground: a degree of longitude is shorter by the
    // cosine of the latitude.
    const double shrink = std::cos((minY + maxY) / 2.0 * M_PI / 180.0);
    const double spanX = std::max((maxX - minX) * shrink, 1e-5);
    const double spanY = std::max(maxY - minY, 1e-5);
    const double scale = std::min((kMapSize.width() - 2 * kMarginPx) / spanX, (kMapSize.height() - 2 * kMarginPx) / spanY);
    const double cx = (minX + maxX) / 2.0, cy = (minY + maxY) / 2.0;
    auto place = [&](const QPointF &q) {
        return QPointF(kMapSize.width() / 2.0 + (q.x() - cx) * shrink * scale,
                       kMapSize.height() / 2.0 - (q.y() - cy) * scale);
    };
    QPainterPath path(place(track[0]));
    for (size_t i = 1; i < track.size(); ++i)
        path.lineTo(place(track[i]));
    p.setPen(QPen(QColor(64, 160, 255), 3));
    p.drawPath(path);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(255, 64, 64));
    p.drawEllipse(place(current), 6, 6);
    p.setPen(Qt::white);
    p.drawText(QRect(6, kMapSize.height() - 20, kMapSize.width() - 12, 16), Qt::AlignLeft,
               QStringLiteral("GPS track, %1, %2").arg(current.y(), 0, 'f', 6).arg(current.x(), 0, 'f', 6));
    return out;
}

QImage reportMapPicture(QWidget *mapView, const CQDRVTextData &sensorData, std::uint64_t positionMs)
{
    const QImage grabbed = grabMapPicture(mapView);
    if (!isBlank(grabbed))
        return grabbed;
    std::vector<CQDRVGPSData> fixes;
    sensorData.withFixes([&](const std::list<CQDRVGPSData> &list) { fixes.assign(list.begin(), list.end()); });
    return drawTrackPicture(fixes, positionMs);
}

} // namespace korvante
