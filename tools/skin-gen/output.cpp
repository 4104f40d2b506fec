#include "output.h"

#include "mockups.h"
#include "render.h"
#include "skin_table.h"
#include "text.h"

#include <QDir>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace korvante::skin {
namespace {

QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

QString setFolder(ImageSet set) { return toQString(setName(set)); }

// Writes data under path so that an interrupted run never leaves a
// half-written file under the final name.
bool saveBytes(const QString &path, const QByteArray &data, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool savePng(const QString &path, const QImage &image, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray collection(ImageSet set)
{
    const QString folder = setFolder(set);
    QString text = QStringLiteral("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/%1\">\n").arg(folder);
    for (const SkinImage &image : allImages()) {
        if (image.set != set)
            continue;
        text += QStringLiteral("  <file alias=\"%1.png\">%2/%1.png</file>\n").arg(image.id).arg(folder);
    }
    text += QStringLiteral("</qresource>\n</RCC>\n");
    return text.toUtf8();
}

// Thin slices are shown as they are used: stretched along their thin side.
QImage asShown(const SkinImage &entry, const QImage &image)
{
    if (entry.width == 1)
        return image.scaled(40, image.height());
    if (entry.height == 1)
        return image.scaled(image.width(), 40);
    return image;
}

QImage sheetCell(const SkinImage &entry)
{
    QImage picture = asShown(entry, renderImage(entry));
    const int longest = std::max(picture.width(), picture.height());
    if (longest <= 40)
        picture = picture.scaled(picture.size() * 3);
    else if (longest <= 100)
        picture = picture.scaled(picture.size() * 2);
    else if (picture.width() > 460)
        picture = picture.scaledToWidth(460, Qt::SmoothTransformation);

    const int labelHeight = 16;
    QImage cell(std::max(picture.width(), 70) + 12, picture.height() + labelHeight + 12,
                QImage::Format_ARGB32_Premultiplied);
    cell.fill(QColor(44, 44, 48));
    QPainter p(&cell);
    // A checker under the picture shows which pixels are transparent.
    const QRect area((cell.width() - picture.width()) / 2, 6, picture.width(), picture.height());
    for (int y = area.top(); y < area.bottom() + 1; y += 6)
        for (int x = area.left(); x < area.right() + 1; x += 6)
            p.fillRect(QRect(x, y, 6, 6).intersected(area),
                       ((x - area.left()) / 6 + (y - area.top()) / 6) % 2 ? QColor(70, 70, 76) : QColor(58, 58, 64));
    p.drawImage(area.topLeft(), picture);
    const QString label = QStringLiteral("%1 %2  %3x%4")
                              .arg(entry.id)
                              .arg(entry.set == ImageSet::App ? QStringLiteral("app") : QString())
                              .arg(entry.width)
                              .arg(entry.height);
    drawLabel(p, QRectF(0, area.bottom() + 3, cell.width(), labelHeight), label.simplified(), QColor(230, 230, 230),
              11, false, Qt::AlignCenter);
    return cell;
}

} // namespace

bool writeImagesAndCollections(const QString &folder, QString &error)
{
    const QDir root(folder);
    for (ImageSet set : {ImageSet::Skin, ImageSet::App}) {
        if (!root.mkpath(setFolder(set))) {
            error = QStringLiteral("cannot create %1").arg(root.filePath(setFolder(set)));
            return false;
        }
    }
    for (const SkinImage &entry : allImages()) {
        const QImage image = renderImage(entry);
        if (image.width() != entry.width || image.height() != entry.height) {
            error = QStringLiteral("image %1 drawn at %2x%3 instead of %4x%5")
                        .arg(entry.id)
                        .arg(image.width())
                        .arg(image.height())
                        .arg(entry.width)
                        .arg(entry.height);
            return false;
        }
        const QString path = root.filePath(QStringLiteral("%1/%2.png").arg(setFolder(entry.set)).arg(entry.id));
        if (!savePng(path, image, error))
            return false;
    }
    return saveBytes(root.filePath(QStringLiteral("skin.qrc")), collection(ImageSet::Skin), error)
        && saveBytes(root.filePath(QStringLiteral("app.qrc")), collection(ImageSet::App), error);
}

bool writeContactSheet(const QString &path, QString &error)
{
    const int sheetWidth = 1500;
    std::vector<QImage> cells;
    for (const SkinImage &entry : allImages())
        cells.push_back(sheetCell(entry));

    // Lay the cells out in rows, left to right, in table order.
    std::vector<QPoint> places;
    int x = 0, y = 0, rowHeight = 0;
    for (const QImage &cell : cells) {
        if (x > 0 && x + cell.width() > sheetWidth) {
            x = 0;
            y += rowHeight;
            rowHeight = 0;
        }
        places.emplace_back(x, y);
        x += cell.width();
        rowHeight = std::max(rowHeight, cell.height());
    }
    // Panels assembled from the images go underneath.
    const QImage mockups = renderMockups();
    const int cellsHeight = y + rowHeight;
    QImage sheet(std::max(sheetWidth, mockups.width()), cellsHeight + mockups.height(), QImage::Format_RGB32);
    sheet.fill(QColor(30, 30, 34));
    QPainter p(&sheet);
    p.drawImage(0, cellsHeight, mockups);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        p.drawImage(places[i], cells[i]);
        p.setPen(QColor(20, 20, 22));
        p.drawRect(QRect(places[i], cells[i].size()).adjusted(0, 0, -1, -1));
    }
    p.end();
    return savePng(path, sheet, error);
}

bool writeReference(const QString &path, QString &error)
{
    QString text = QStringLiteral(
        "# Skin images\n\n"
        "Generated by `skin-gen --reference`; edit `tools/skin-gen/skin_table.cpp`, not this file.\n\n"
        "Every image is drawn at build time by `tools/skin-gen` (QPainter) and packed with rcc; "
        "no image file is kept in the repository.\n\n"
        "- The skin set lies in `ResourceDll.rcc` beside the executable, as `:/skin/<id>.png`, once the "
        "file is registered with `QResource::registerResource`.\n"
        "- The executable's own set is compiled in (library `korvante_app_bitmaps`; call "
        "`Q_INIT_RESOURCE(app_bitmaps)` once) as `:/app/<id>.png`. Its ids 149 to 152 are other "
        "pictures than the skin images with the same numbers.\n\n"
        "Conventions:\n\n"
        "- A button given two images has them as (hover and pressed, normal): the first id is the "
        "face under the mouse and while held down, the second the resting face.\n"
        "- Slider pieces are drawn on transparent pixels: the groove is centred across the channel "
        "image, the active channel is the filled part from the start up to the thumb, thumbs are round.\n"
        "- Buttons, icons and option images have transparent pixels outside their shape; panel "
        "backgrounds are opaque. Backgrounds 149 and 157 use pure magenta (255, 0, 255) outside "
        "their rounded corners, to be keyed out when copied.\n"
        "- Background 242 is stretched over the G-sensor panel; its plot area is (31, 55)-(332, 173) "
        "at the image's own size, with grid lines every 10 s and every 2 g.\n\n");

    for (ImageSet set : {ImageSet::Skin, ImageSet::App}) {
        text += set == ImageSet::Skin ? QStringLiteral("## Skin set (`:/skin/<id>.png`)\n\n")
                                      : QStringLiteral("\n## Executable set (`:/app/<id>.png`)\n\n");
        text += QStringLiteral("| Id | Size | Kind | Role |\n|---|---|---|---|\n");
        for (const SkinImage &entry : allImages()) {
            if (entry.set != set)
                continue;
            text += QStringLiteral("| %1 | %2 x %3 | %4 | %5 |\n")
                        .arg(entry.id)
                        .arg(entry.width)
                        .arg(entry.height)
                        .arg(toQString(kindName(entry.kind)), toQString(entry.role));
        }
    }
    return saveBytes(path, text.toUtf8(), error);
}

bool writeAppIcon(const QString &path, int size, QString &error)
{
    const SkinImage *icon = findImage(ImageSet::App, 128);
    if (!icon) {
        error = QStringLiteral("the application icon is not in the table");
        return false;
    }
    // The icon is vector drawing: drawn at the size asked, not scaled up.
    SkinImage large = *icon;
    large.width = size;
    large.height = size;
    return savePng(path, renderImage(large), error);
}

} // namespace korvante::skin
