#include "skin_library.h"

#include "core/platform/resource_path.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPixmapCache>
#include <QResource>

namespace korvante {

namespace {
bool g_loaded = false;

QPixmap cachedPixmap(const QString &path)
{
    QPixmap pixmap;
    if (QPixmapCache::find(path, &pixmap))
        return pixmap;
    if (pixmap.load(path))
        QPixmapCache::insert(path, pixmap);
    return pixmap;
}
} // namespace

bool SkinLibrary::load(const QString &rccPath)
{
    if (g_loaded)
        return true;
    if (!QFileInfo(rccPath).isFile())
        return false;
    g_loaded = QResource::registerResource(rccPath);
    return g_loaded;
}

bool SkinLibrary::isLoaded()
{
    return g_loaded;
}

QString SkinLibrary::defaultPath()
{
    return QString::fromStdString(resourcePath("ResourceDll.rcc"));
}

QPixmap SkinLibrary::bitmap(int id)
{
    return cachedPixmap(QStringLiteral(":/skin/%1.png").arg(id));
}

QPixmap SkinLibrary::appBitmap(int id)
{
    return cachedPixmap(QStringLiteral(":/app/%1.png").arg(id));
}

} // namespace korvante
