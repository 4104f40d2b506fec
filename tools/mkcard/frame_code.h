#pragma once
// The machine-readable frame number that korvante-mkcard paints along the top
// edge of every video frame, and its decoder for tests that look at a screen
// or a grab. Header-only and free of dependencies.
//
// Geometry, proportional to the picture so a scaled picture still decodes:
// the strip is the top height/15 rows, split into 20 equal cells across the
// whole width. Cell 0 is white and cell 1 black (the two references), cells
// 2..17 hold the 16-bit frame number, most significant bit first (white = 1),
// cell 18 holds the even parity of those 16 bits and cell 19 is white.

#include <cstdint>

namespace korvante::framecode {

inline constexpr int kCells = 20;
inline constexpr int kDataBits = 16;
inline constexpr int kStripDivisor = 15;
inline constexpr int kMaxFrameNumber = (1 << kDataBits) - 1;

inline int stripHeight(int height) { return height / kStripDivisor; }
inline int cellLeft(int cell, int width) { return cell * width / kCells; }

// Whether cell `cell` is white for frame `number`.
inline bool cellIsWhite(int cell, int number)
{
    if (cell == 0 || cell == kCells - 1)
        return true;
    if (cell == 1)
        return false;
    if (cell >= 2 && cell < 2 + kDataBits)
        return (number >> (kDataBits - 1 - (cell - 2))) & 1;
    int parity = 0;
    for (int i = 0; i < kDataBits; ++i)
        parity ^= (number >> i) & 1;
    return parity != 0;
}

namespace detail {

// Mean of the middle half of one cell, in both directions. `luma(x, y)` gives
// the brightness 0..255 of one pixel.
template <typename Luma>
int cellMean(const Luma &luma, int cell, int width, int height)
{
    const int x0 = cellLeft(cell, width), x1 = cellLeft(cell + 1, width);
    const int h = stripHeight(height);
    const int cw = x1 - x0;
    const int xa = x0 + cw / 4, xb = x1 - cw / 4;
    const int ya = h / 4, yb = h - h / 4;
    long sum = 0, count = 0;
    for (int y = ya; y < yb; ++y)
        for (int x = xa; x < xb; ++x) {
            sum += luma(x, y);
            ++count;
        }
    return count ? static_cast<int>(sum / count) : -1;
}

template <typename Luma>
int decode(const Luma &luma, int width, int height)
{
    if (width < 2 * kCells || stripHeight(height) < 2)
        return -1;
    const int white = cellMean(luma, 0, width, height);
    const int black = cellMean(luma, 1, width, height);
    if (white - black < 64)
        return -1;
    const int threshold = (white + black) / 2;
    auto bit = [&](int cell) { return cellMean(luma, cell, width, height) > threshold; };
    if (!bit(kCells - 1))
        return -1;
    int number = 0, parity = 0;
    for (int i = 0; i < kDataBits; ++i) {
        const bool b = bit(2 + i);
        number = number << 1 | (b ? 1 : 0);
        parity ^= b ? 1 : 0;
    }
    if (bit(2 + kDataBits) != (parity != 0))
        return -1;
    return number;
}

} // namespace detail

// Frame number shown by a 32-bit picture in B, G, R, A byte order (QImage
// Format_RGB32 / ARGB32 on little-endian machines); `stride` in bytes.
// Returns -1 when the picture carries no readable number.
inline int decodeFrameNumber(const uint8_t *bgra, int w, int h, int stride)
{
    if (!bgra || w <= 0 || h <= 0 || stride < w * 4)
        return -1;
    auto luma = [&](int x, int y) {
        const uint8_t *p = bgra + static_cast<long>(y) * stride + static_cast<long>(x) * 4;
        return (p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8;
    };
    return detail::decode(luma, w, h);
}

// The same for an 8-bit luma plane (for example a decoded YUV picture).
inline int decodeFrameNumberLuma(const uint8_t *y, int w, int h, int stride)
{
    if (!y || w <= 0 || h <= 0 || stride < w)
        return -1;
    auto luma = [&](int x, int row) { return static_cast<int>(y[static_cast<long>(row) * stride + x]); };
    return detail::decode(luma, w, h);
}

} // namespace korvante::framecode
