#include "render.h"

#include "faces.h"
#include "panels.h"

namespace korvante::skin {

QImage renderImage(const SkinImage &image)
{
    return image.kind == Kind::Background ? renderPanel(image) : renderControl(image);
}

} // namespace korvante::skin
