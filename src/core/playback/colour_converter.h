#pragma once
// The colour converter of one video slot: turns a decoded picture into a
// 32-bit image, applying the decoder's picture adjustments on the YUV planes
// and its flips on the way. Used by the slot's decode thread only.

#include "core/playback/decoder_params.h"

#include <QImage>

#include <string>

struct AVFrame;
struct SwsContext;

namespace korvante {

class ColourConverter final {
public:
    explicit ColourConverter(std::string name) : m_name(std::move(name)) {}
    ~ColourConverter();
    ColourConverter(const ColourConverter &) = delete;
    ColourConverter &operator=(const ColourConverter &) = delete;

    const std::string &name() const { return m_name; }

    // A QImage::Format_RGB32 image of `frame`; null on failure (logged once).
    QImage convert(const AVFrame &frame, const PictureSettings &settings);

private:
    bool adjustPlanes(AVFrame &frame, const PictureSettings &settings);

    const std::string m_name;
    SwsContext *m_sws = nullptr;
    bool m_reported = false;
};

} // namespace korvante
