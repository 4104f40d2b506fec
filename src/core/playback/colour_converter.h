#pragma once
// The colour converter of one video slot: turns a decoded picture into a
// 32-bit image, applying the decoder's picture adjustments on the YUV planes
// and its flips on the way. It converts straight to the size the picture is
// shown at when that is smaller than the picture, so a 1080p frame shown in a
// 741 x 415 screen costs a 741 x 415 conversion and a plain copy when painted.
// One converter is used by one thread at a time (the slot's decode thread, or
// the renderer's own converter on the user-interface thread).

#include "core/playback/decoder_params.h"

#include <QImage>

#include <memory>
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
    // `size` is the wanted size in pixels: used when it is valid and no larger
    // than the picture in either direction, else the picture's own size.
    QImage convert(const AVFrame &frame, const PictureSettings &settings, QSize size = QSize());
    // The size convert() gives for a picture of `native` pixels asked for `wanted`.
    static QSize outputSize(QSize native, QSize wanted);

    // Picture memory comes back here when the last image using it is gone
    // (on whichever thread drops it), so that a full-size picture is not
    // allocated and faulted in afresh for every frame.
    class BufferPool;

private:
    bool adjustPlanes(AVFrame &frame, const PictureSettings &settings);
    // `frame` averaged over 2 x 2 pixels into m_half; null when it cannot be.
    const AVFrame *halve(const AVFrame &frame);
    QImage newImage(int width, int height);

    const std::string m_name;
    std::shared_ptr<BufferPool> m_pool;
    SwsContext *m_sws = nullptr;
    AVFrame *m_half = nullptr; // reused for every halved picture
    bool m_reported = false;
};

} // namespace korvante
