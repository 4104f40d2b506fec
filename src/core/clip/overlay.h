#pragma once
// The clip's overlay: a dark band along the bottom of the picture with the
// camera date and time, the speed, the total G and the position, drawn into
// the 8-bit YUV 4:2:0 picture itself with a built-in pixel font, so that it
// needs no font files and reads the same on every machine. The font is scaled
// in whole steps with the picture: 4 × 7 pixel rows a character at 1080 lines,
// one at 240, where the text takes two lines.
//
// Threads: any; one painter per thread.

#include "core/overview/card_overview.h"

#include <optional>
#include <string>
#include <vector>

extern "C" {
struct AVFrame;
}

namespace korvante::clip {

// What the band shows at one moment; a value the recording does not give
// there is shown as "--".
struct OverlayValues {
    overview::CameraTime time;
    std::optional<float> speedKmh;
    std::optional<float> totalG;
    std::optional<double> latitude, longitude; // decimal degrees, negative south and west
};

// 0 km/h, 1 mph, 2 knots (the viewer's speed unit).
std::string speedText(std::optional<float> kmh, int speedUnit);

class OverlayPainter {
public:
    // For pictures of `width` × `height` (even numbers).
    OverlayPainter(int width, int height, int speedUnit);

    // Rows the band takes at the bottom of the picture.
    int bandHeight() const { return m_bandHeight; }
    int scale() const { return m_scale; }
    // The band's text lines for `values`.
    std::vector<std::string> lines(const OverlayValues &values) const;
    // Darkens the band of a YUV 4:2:0 picture of the painter's size and writes the text into it.
    void paint(AVFrame *frame, const OverlayValues &values) const;

private:
    int m_width, m_height, m_speedUnit;
    int m_scale = 1;
    bool m_twoLines = false;
    int m_bandHeight = 0;
};

} // namespace korvante::clip
