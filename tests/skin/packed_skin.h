#pragma once
// Access to the images as the viewer gets them: ResourceDll.rcc from the
// build's bin folder and the compiled-in executable bitmaps.

#include "skin_table.h"

#include <QImage>
#include <QString>

namespace korvante::skin::packed {

// Registers ResourceDll.rcc and the compiled-in set once per process;
// false when the packed file cannot be registered.
bool registerPackedImages();

QString resourcePath(ImageSet set, int id);

// The packed image as 32-bit ARGB, or a null image when it is missing.
QImage packedImage(ImageSet set, int id);

// True when every pixel of rect has the same value.
bool isUniform(const QImage &image, const QRect &rect);

} // namespace korvante::skin::packed
