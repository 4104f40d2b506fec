#pragma once
// Panels assembled from the generated images at the places the viewer puts
// them, for the contact sheet only: they show whether pieces, labels and
// backgrounds fit together before any panel code exists.

#include <QImage>

namespace korvante::skin {

QImage renderMockups();

} // namespace korvante::skin
