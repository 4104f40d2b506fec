#include "core/clip/overlay.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

extern "C" {
#include <libavutil/frame.h>
}

namespace korvante::clip {
namespace {

constexpr int kGlyphWidth = 5, kGlyphHeight = 7;
constexpr int kAdvance = kGlyphWidth + 1; // one column between characters
constexpr int kLineGap = 3;               // rows above, between and below the lines, times the scale

struct Glyph {
    char c;
    std::array<std::uint8_t, kGlyphHeight> rows; // five columns, the leftmost in bit 4
};

// The characters the band ever shows.
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}}, {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'p', {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}},
    {'g', {0x00, 0x00, 0x0F, 0x11, 0x0F, 0x01, 0x0E}},
};

const Glyph *glyphOf(char c)
{
    for (const Glyph &g : kGlyphs)
        if (g.c == c)
            return &g;
    return nullptr; // a space, or a character the band never needs
}

constexpr const char *kSeparator = "   ";

// The widest text each part can have, to lay the band out once for every frame.
constexpr const char *kWidestFirstLine = "0000-00-00 00:00:00   000 km/h   00.00 g";
constexpr const char *kWidestPosition = "-00.000000, -000.000000";

int textWidth(const std::string &text, int scale) { return static_cast<int>(text.size()) * kAdvance * scale; }

std::string fixedText(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

std::string speedText(std::optional<float> kmh, int speedUnit)
{
    static constexpr const char *kUnits[] = {"km/h", "mph", "kn"};
    static constexpr double kPerKmh[] = {1.0, 1.0 / 1.609344, 1.0 / 1.852};
    const int unit = speedUnit >= 0 && speedUnit <= 2 ? speedUnit : 0;
    if (!kmh || !std::isfinite(*kmh) || *kmh < 0)
        return std::string("-- ") + kUnits[unit];
    return std::to_string(std::lround(*kmh * kPerKmh[unit])) + " " + kUnits[unit];
}

OverlayPainter::OverlayPainter(int width, int height, int speedUnit)
    : m_width(width), m_height(height), m_speedUnit(speedUnit)
{
    const std::string oneLine = std::string(kWidestFirstLine) + kSeparator + kWidestPosition;
    const int margin = 2 * kAdvance; // either side, times the scale
    // 4 at 1080 lines, 2 at 720, 1 up to 539.
    const int wanted = std::max(1, height / 270);
    for (m_scale = wanted; m_scale >= 1; --m_scale) {
        if (textWidth(oneLine, m_scale) + 2 * margin * m_scale <= width) {
            m_twoLines = false;
            break;
        }
        if (textWidth(kWidestFirstLine, m_scale) + 2 * margin * m_scale <= width) {
            m_twoLines = true;
            break;
        }
    }
    if (m_scale < 1) {
        m_scale = 1;
        m_twoLines = true;
    }
    const int lineCount = m_twoLines ? 2 : 1;
    m_bandHeight = (lineCount * kGlyphHeight + (lineCount + 1) * kLineGap) * m_scale;
    m_bandHeight = std::min(height, (m_bandHeight + 1) & ~1);
}

std::vector<std::string> OverlayPainter::lines(const OverlayValues &v) const
{
    std::string first = overview::cameraTimeText(std::chrono::floor<std::chrono::seconds>(v.time));
    first += kSeparator + speedText(v.speedKmh, m_speedUnit);
    first += kSeparator + (v.totalG && std::isfinite(*v.totalG) ? fixedText(*v.totalG, 2) : std::string("--")) + " g";
    const std::string position = v.latitude && v.longitude
                                     ? fixedText(*v.latitude, 6) + ", " + fixedText(*v.longitude, 6)
                                     : std::string("--, --");
    if (m_twoLines)
        return {first, position};
    return {first + kSeparator + position};
}

void OverlayPainter::paint(AVFrame *frame, const OverlayValues &values) const
{
    const int top = m_height - m_bandHeight;
    // The band: the picture at 30 % of its brightness, its colour faded alike.
    for (int y = top; y < m_height; ++y) {
        std::uint8_t *row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < m_width; ++x)
            row[x] = static_cast<std::uint8_t>(16 + (row[x] - 16) * 3 / 10);
    }
    for (int plane = 1; plane <= 2; ++plane)
        for (int y = top / 2; y < m_height / 2; ++y) {
            std::uint8_t *row = frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
            for (int x = 0; x < m_width / 2; ++x)
                row[x] = static_cast<std::uint8_t>(128 + (row[x] - 128) * 3 / 10);
        }
    const int s = m_scale;
    const std::vector<std::string> text = lines(values);
    for (std::size_t line = 0; line < text.size(); ++line) {
        const int y0 = top + (kLineGap + static_cast<int>(line) * (kGlyphHeight + kLineGap)) * s;
        int x0 = 2 * kAdvance * s;
        for (char c : text[line]) {
            if (const Glyph *g = glyphOf(c)) {
                for (int gy = 0; gy < kGlyphHeight; ++gy)
                    for (int gx = 0; gx < kGlyphWidth; ++gx) {
                        if (!(g->rows[static_cast<std::size_t>(gy)] & (0x10 >> gx)))
                            continue;
                        for (int dy = 0; dy < s; ++dy) {
                            const int y = y0 + gy * s + dy;
                            if (y >= m_height)
                                continue;
                            std::uint8_t *row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
                            for (int dx = 0; dx < s; ++dx) {
                                const int x = x0 + gx * s + dx;
                                if (x < m_width)
                                    row[x] = 235;
                            }
                        }
                    }
            }
            x0 += kAdvance * s;
        }
    }
}

} // namespace korvante::clip
