#pragma once
// What the generator writes: the images, the two resource collections that
// rcc packs, a contact sheet for looking at the whole skin, and the
// reference list of ids.

#include <QString>

namespace korvante::skin {

// Draws every image into <folder>/skin/<id>.png and <folder>/app/<id>.png
// and writes <folder>/skin.qrc (prefix /skin) and <folder>/app.qrc (prefix
// /app). Returns false with a message in error on any failure.
bool writeImagesAndCollections(const QString &folder, QString &error);

// One PNG showing every image with its id, enlarged where small.
bool writeContactSheet(const QString &path, QString &error);

// The list of ids, sizes and roles in Markdown.
bool writeReference(const QString &path, QString &error);

// The application icon (app image 128) drawn at `size` x `size` pixels, for
// the desktop's menus.
bool writeAppIcon(const QString &path, int size, QString &error);

} // namespace korvante::skin
