#pragma once
// Whole panel backgrounds with the static labels their dialogs do not draw
// themselves.

#include "skin_table.h"

#include <QImage>

namespace korvante::skin {

// Renders an image of kind Background at the table's size. Backgrounds that
// are copied with a colour key are keyed with pure magenta and drawn without
// blending at the key's edge, so no pink fringe survives the copy.
QImage renderPanel(const SkinImage &image);

} // namespace korvante::skin
