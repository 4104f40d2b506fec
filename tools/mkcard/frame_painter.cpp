#include "mkcard/frame_painter.h"

#include "mkcard/frame_code.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace mkcard {
namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost pixel.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},                      {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},          {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}}, {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}}, {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}}, {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}}, {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}}, {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}}, {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}}, {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
};

const Glyph *findGlyph(char c)
{
    for (const auto &g : kFont)
        if (g.c == c)
            return &g;
    return nullptr;
}

constexpr uint8_t kWhite = 235; // video-range luma
constexpr uint8_t kBlack = 16;

void fillLuma(const YuvPicture &p, int x0, int y0, int x1, int y1, uint8_t value)
{
    x0 = std::clamp(x0, 0, p.width);
    x1 = std::clamp(x1, 0, p.width);
    y0 = std::clamp(y0, 0, p.height);
    y1 = std::clamp(y1, 0, p.height);
    for (int y = y0; y < y1; ++y)
        std::fill(p.y + static_cast<long>(y) * p.strideY + x0, p.y + static_cast<long>(y) * p.strideY + x1, value);
}

// Chroma rectangle in luma coordinates (rounded outwards to the 2x2 grid).
void fillChroma(const YuvPicture &p, int x0, int y0, int x1, int y1, uint8_t u, uint8_t v)
{
    const int cx0 = std::clamp(x0 / 2, 0, p.width / 2), cx1 = std::clamp((x1 + 1) / 2, 0, p.width / 2);
    const int cy0 = std::clamp(y0 / 2, 0, p.height / 2), cy1 = std::clamp((y1 + 1) / 2, 0, p.height / 2);
    for (int y = cy0; y < cy1; ++y) {
        std::fill(p.u + static_cast<long>(y) * p.strideU + cx0, p.u + static_cast<long>(y) * p.strideU + cx1, u);
        std::fill(p.v + static_cast<long>(y) * p.strideV + cx0, p.v + static_cast<long>(y) * p.strideV + cx1, v);
    }
}

void drawText(const YuvPicture &p, int x, int y, int scale, const std::string &text)
{
    const int advance = 6 * scale;
    // A dark plate behind the text keeps it legible on any background.
    fillLuma(p, x - scale, y - scale, x + static_cast<int>(text.size()) * advance + scale, y + 8 * scale, kBlack);
    fillChroma(p, x - scale, y - scale, x + static_cast<int>(text.size()) * advance + scale, y + 8 * scale, 128, 128);
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph *g = findGlyph(text[i]);
        if (!g)
            continue;
        const int gx = x + static_cast<int>(i) * advance;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[static_cast<size_t>(row)] & (0x10 >> col))
                    fillLuma(p, gx + col * scale, y + row * scale, gx + (col + 1) * scale, y + (row + 1) * scale,
                             kWhite);
    }
}

void paintBackground(const YuvPicture &p, Channel channel, int frame)
{
    // A diagonal ramp drifting to the left, a little faster on the rear
    // channel, so consecutive frames differ everywhere.
    const int drift = frame * (channel == Channel::Front ? 3 : 5);
    const int period = std::max(p.width / 2, 64);
    for (int y = 0; y < p.height; ++y) {
        uint8_t *row = p.y + static_cast<long>(y) * p.strideY;
        for (int x = 0; x < p.width; ++x) {
            int phase = (x + y / 2 + drift) % (2 * period);
            if (phase > period)
                phase = 2 * period - phase; // triangle wave, no hard edge
            row[x] = static_cast<uint8_t>(48 + phase * 120 / period);
        }
    }
    const uint8_t u = channel == Channel::Front ? 150 : 108;
    const uint8_t v = channel == Channel::Front ? 112 : 156;
    fillChroma(p, 0, 0, p.width, p.height, u, v);

    // A box crossing the picture once every four seconds at 30 fps.
    const int box = std::max(p.height / 5, 8);
    const int travel = std::max(p.width - box, 1);
    int bx = (frame * 4 * travel / 120) % (2 * travel);
    if (bx > travel)
        bx = 2 * travel - bx;
    const int by = p.height / 2 - box / 2;
    fillLuma(p, bx, by, bx + box, by + box, 200);
    fillChroma(p, bx, by, bx + box, by + box, channel == Channel::Front ? 90 : 200, channel == Channel::Front ? 200 : 90);
}

void paintFrameCode(const YuvPicture &p, int number)
{
    const int h = korvante::framecode::stripHeight(p.height);
    for (int cell = 0; cell < korvante::framecode::kCells; ++cell) {
        const int x0 = korvante::framecode::cellLeft(cell, p.width);
        const int x1 = korvante::framecode::cellLeft(cell + 1, p.width);
        fillLuma(p, x0, 0, x1, h, korvante::framecode::cellIsWhite(cell, number) ? kWhite : kBlack);
    }
    fillChroma(p, 0, 0, p.width, h, 128, 128);
}

} // namespace

bool fontHasGlyph(char c) { return findGlyph(c) != nullptr; }

void paintFrame(const YuvPicture &p, const FrameCaption &caption)
{
    paintBackground(p, caption.channel, caption.frameNumber);
    paintFrameCode(p, caption.frameNumber);

    const int scale = std::max(1, p.height / 120);
    const int lineHeight = 10 * scale;
    const int x = 2 * scale + 2;
    const int y = p.height - 2 * lineHeight - scale;
    const std::string name = caption.channel == Channel::Front ? "FRONT" : "REAR";
    drawText(p, x, y, scale, name + " " + caption.clock);
    char frame[32];
    std::snprintf(frame, sizeof frame, "#%06d", caption.frameNumber);
    drawText(p, x, y + lineHeight, scale, frame);
}

} // namespace mkcard
