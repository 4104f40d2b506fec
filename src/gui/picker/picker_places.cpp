#include "picker_places.h"

#include "core/storage/storage_discovery.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <pwd.h>
#include <unistd.h>

namespace korvante {

QString currentUserName()
{
    // The password database first: $USER may be stale after a user switch
    // (setpriv, su without a login).
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

std::vector<PickerPlace> pickerPlaces(const std::string &sysRoot)
{
    std::vector<PickerPlace> places;
    places.push_back({PickerPlace::Kind::Home, QStringLiteral("Home"), QDir::homePath()});
    const QString root = QString::fromStdString(sysRoot);
    const QString user = currentUserName();
    if (!user.isEmpty()) {
        for (const QString &folder : {QStringLiteral("media/"), QStringLiteral("run/media/")}) {
            const QString path = root + folder + user;
            if (QFileInfo(path).isDir())
                places.push_back({PickerPlace::Kind::Media, QStringLiteral("Media (/") + folder + user + QLatin1Char(')'),
                                  path});
        }
    }
    for (const MountedVolume &volume : listRemovableVolumes(sysRoot)) {
        QString point = QString::fromStdString(volume.mountPoint);
        while (point.size() > 1 && point.endsWith(QLatin1Char('/')))
            point.chop(1);
        QString name = point.section(QLatin1Char('/'), -1);
        if (name.isEmpty())
            name = QString::fromStdString(volume.partition);
        places.push_back({PickerPlace::Kind::Drive, name, point});
    }
    return places;
}

namespace {

// The icons are drawn on a 32-unit grid and scaled to each size asked for.
using Draw = void (*)(QPainter &);

QIcon drawnIcon(Draw draw)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void drawFolder(QPainter &p)
{
    // A tabbed folder in the skin's tan, its front a shade lighter.
    QPainterPath back;
    back.moveTo(2, 8);
    back.lineTo(12, 8);
    back.lineTo(15, 11);
    back.lineTo(30, 11);
    back.lineTo(30, 27);
    back.lineTo(2, 27);
    back.closeSubpath();
    p.setPen(QPen(QColor(120, 92, 40), 1));
    p.setBrush(QColor(196, 152, 70));
    p.drawPath(back);
    p.setBrush(QColor(232, 190, 96));
    p.drawRoundedRect(QRectF(2, 14, 28, 13), 1.5, 1.5);
}

void drawRecording(QPainter &p)
{
    // A film frame: a strip with sprocket holes and a play mark.
    p.setPen(QPen(QColor(60, 66, 90), 1));
    p.setBrush(QColor(115, 123, 165));
    p.drawRoundedRect(QRectF(4, 5, 24, 22), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 24));
    for (int y = 7; y < 26; y += 5) {
        p.drawRect(QRectF(5.5, y, 2.5, 2.5));
        p.drawRect(QRectF(24, y, 2.5, 2.5));
    }
    p.setBrush(QColor(240, 240, 240));
    const QPointF play[] = {{13, 11}, {13, 21}, {21, 16}};
    p.drawPolygon(play, 3);
}

void drawDrive(QPainter &p)
{
    // A memory card: a cut corner, contacts along the top edge.
    QPainterPath card;
    card.moveTo(8, 3);
    card.lineTo(26, 3);
    card.lineTo(26, 29);
    card.lineTo(6, 29);
    card.lineTo(6, 9);
    card.closeSubpath();
    p.setPen(QPen(QColor(40, 44, 60), 1));
    p.setBrush(QColor(76, 85, 118));
    p.drawPath(card);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(226, 190, 90));
    for (int x = 10; x < 25; x += 4)
        p.drawRect(QRectF(x, 5, 2.5, 6));
    p.setBrush(QColor(229, 229, 229));
    p.drawRect(QRectF(9, 16, 14, 9));
}

void drawHome(QPainter &p)
{
    p.setPen(QPen(QColor(60, 66, 90), 1));
    p.setBrush(QColor(158, 177, 187));
    const QPointF roof[] = {{3, 16}, {16, 4}, {29, 16}};
    p.drawPolygon(roof, 3);
    p.drawRect(QRectF(7, 15, 18, 13));
    p.setBrush(QColor(196, 152, 70));
    p.drawRect(QRectF(14, 20, 5, 8));
}

} // namespace

PickerIcons::PickerIcons() = default;

QIcon PickerIcons::folder()
{
    static const QIcon icon = drawnIcon(drawFolder);
    return icon;
}

QIcon PickerIcons::recording()
{
    static const QIcon icon = drawnIcon(drawRecording);
    return icon;
}

QIcon PickerIcons::drive()
{
    static const QIcon icon = drawnIcon(drawDrive);
    return icon;
}

QIcon PickerIcons::home()
{
    static const QIcon icon = drawnIcon(drawHome);
    return icon;
}

QIcon PickerIcons::icon(IconType type) const
{
    switch (type) {
    case Computer:
    case Drive:
    case Network: return drive();
    case Folder:
    case Trashcan:
    case Desktop: return folder();
    case File: return recording();
    }
    return folder();
}

QIcon PickerIcons::icon(const QFileInfo &info) const
{
    if (info.isRoot())
        return drive();
    return info.isDir() ? folder() : recording();
}

} // namespace korvante
