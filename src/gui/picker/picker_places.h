#pragma once
// What the folder picker shows besides the folder list: the places where
// people keep cards and footage, and the icons of folders, recordings and
// drives (drawn here, so that they show on any desktop, with or without an
// icon theme).
//
// UI thread only (the icons are pixmaps).

#include <QAbstractFileIconProvider>
#include <QIcon>
#include <QString>

#include <vector>

namespace korvante {

struct PickerPlace {
    enum class Kind { Home, Media, Drive };
    Kind kind = Kind::Home;
    QString label; // what the list shows: "Home", "Media", a drive's volume name
    QString path;  // the folder it opens
};

// The places, in this order: the user's home folder; the desktop's media
// folders of this user that exist (<root>media/<user>, <root>run/media/<user>);
// each mounted removable drive this user can read, by its volume name (the
// last part of its mount point), below the system root `sysRoot`.
std::vector<PickerPlace> pickerPlaces(const std::string &sysRoot);

// The login name of the user running the viewer.
QString currentUserName();

// Folder, recording, drive and home icons in the viewer's colours.
class PickerIcons final : public QAbstractFileIconProvider {
public:
    PickerIcons();
    QIcon icon(IconType type) const override;
    QIcon icon(const QFileInfo &info) const override;

    static QIcon folder();
    static QIcon recording();
    static QIcon drive();
    static QIcon home();
};

} // namespace korvante
