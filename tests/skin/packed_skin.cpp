#include "packed_skin.h"

#include <QResource>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initAppBitmaps() { Q_INIT_RESOURCE(app_bitmaps); }

namespace korvante::skin::packed {

bool registerPackedImages()
{
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        initAppBitmaps();
        registered = QResource::registerResource(QStringLiteral(KORVANTE_BINARY_DIR "/bin/ResourceDll.rcc"));
    });
    return registered;
}

QString resourcePath(ImageSet set, int id)
{
    return QStringLiteral(":/%1/%2.png").arg(set == ImageSet::Skin ? QStringLiteral("skin") : QStringLiteral("app")).arg(id);
}

QImage packedImage(ImageSet set, int id)
{
    registerPackedImages();
    const QImage image(resourcePath(set, id));
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32);
}

bool isUniform(const QImage &image, const QRect &rect)
{
    const QRgb first = image.pixel(rect.topLeft());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

} // namespace korvante::skin::packed
