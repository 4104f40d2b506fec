#pragma once
// Draws the moving test picture of one camera channel into a YUV 4:2:0
// picture: a drifting background, a box crossing the picture, the frame
// number code along the top edge, and the channel name, clock and frame
// number in a small built-in font.

#include <cstdint>
#include <string>

namespace mkcard {

struct YuvPicture {
    uint8_t *y = nullptr;
    uint8_t *u = nullptr;
    uint8_t *v = nullptr;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int width = 0;  // even
    int height = 0; // even
};

enum class Channel { Front, Rear };

struct FrameCaption {
    Channel channel = Channel::Front;
    std::string clock; // "YYYY-MM-DD HH:MM:SS"
    int frameNumber = 0;
};

void paintFrame(const YuvPicture &picture, const FrameCaption &caption);

// Characters the built-in font can draw: digits, space, "-", ":", "#", ".",
// and the capital letters A to Z.
bool fontHasGlyph(char c);

} // namespace mkcard
