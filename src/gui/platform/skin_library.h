#pragma once
// Skin images by numeric id. The skin library is ResourceDll.rcc beside the
// executable (":/skin/<id>.png"); the executable's own bitmaps are compiled in
// (":/app/<id>.png"). A failed lookup gives a null pixmap and the caller draws
// nothing in its place. UI thread only (pixmaps).

#include <QPixmap>
#include <QString>

namespace korvante {

class SkinLibrary final {
public:
    // Registers the resource file; false when it is missing or unreadable.
    // Kept registered for the whole run.
    static bool load(const QString &rccPath);
    static bool isLoaded();
    // The conventional location: ResourceDll.rcc beside the executable, or
    // in the installed data folder (core/platform/resource_path.h).
    static QString defaultPath();

    // Image `id` from the skin library; null when absent.
    static QPixmap bitmap(int id);
    // Image `id` from the executable's own bitmaps; null when absent.
    static QPixmap appBitmap(int id);
};

} // namespace korvante
