#pragma once
// One image of the table, drawn at its stated size.

#include "skin_table.h"

#include <QImage>

namespace korvante::skin {

QImage renderImage(const SkinImage &image);

} // namespace korvante::skin
