#pragma once
// The colour converter of one video slot: turns a decoded picture into a
// 32-bit image of the size it is shown at, applying the decoder's picture
// adjustments and flips on the way, so that painting is a plain copy.
//
// The work is done where it is cheapest: the picture is scaled in YUV
// (halved by 2 x 2 averages while it stays twice the shown size, then
// swscale's vectorised planar scaler, bilinear both ways), the adjustments
// touch only the shown pixels, and the colour conversion is swscale's fast
// unscaled YUV to RGB path at the shown size. A 1080p frame in a 741 x 415
// screen thus costs one read of the frame, a 960 x 540 planar scale and a
// 741 x 416 colour conversion; a 720p rear in full screen is enlarged with
// interpolation, never by repeating pixels.
// One converter is used by one thread at a time (the slot's decode thread, or
// the renderer's own converter on the user-interface thread).

#include "core/playback/decoder_params.h"

#include <QImage>

#include <array>
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
    // `size` is the wanted size in pixels (smaller or larger than the
    // picture); an invalid or empty one means the picture's own size.
    QImage convert(const AVFrame &frame, const PictureSettings &settings, QSize size = QSize());
    // The size convert() gives for a picture of `native` pixels asked for `wanted`.
    static QSize outputSize(QSize native, QSize wanted);

    // Picture memory comes back here when the last image using it is gone
    // (on whichever thread drops it), so that a full-size picture is not
    // allocated and faulted in afresh for every frame.
    class BufferPool;

private:
    bool adjustPlanes(AVFrame &frame, const PictureSettings &settings);
    // `frame` averaged over 2 x 2 pixels into m_half[slot]; null when it cannot be.
    const AVFrame *halve(const AVFrame &frame, int slot);
    // The planar picture of `out` pixels (height rounded up to even) with the
    // adjustments applied: `source` itself when it already is that, else
    // m_shown. Null on failure (logged once).
    const AVFrame *shownPicture(const AVFrame &source, QSize out, const PictureSettings &settings);
    QImage convertOther(const AVFrame &frame, const PictureSettings &settings, QSize out);
    // A pooled image of width x height whose memory holds `rows` rows.
    QImage newImage(int width, int height, int rows);
    void reportOnce(const char *what);

    const std::string m_name;
    std::shared_ptr<BufferPool> m_pool;
    // Contexts and pictures are kept from frame to frame (swscale's cached
    // contexts are rebuilt only when a size or format changes).
    SwsContext *m_scaler = nullptr;  // YUV to YUV at the shown size
    SwsContext *m_toRgb = nullptr;   // YUV to RGB, unscaled
    SwsContext *m_generic = nullptr; // other formats, one pass
    std::array<AVFrame *, 2> m_half{}; // the halved pictures, by halving step
    AVFrame *m_shown = nullptr;        // the planar picture at the shown size
    bool m_reported = false;
};

} // namespace korvante
