// The frame number code: painted by the tool, read back from pictures of any
// size, and from real H.264 pictures decoded by FFmpeg.

#include "mkcard/frame_code.h"
#include "mkcard/frame_painter.h"
#include "mkcard/media_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <vector>

namespace {

using korvante::framecode::decodeFrameNumber;
using korvante::framecode::decodeFrameNumberLuma;

struct Picture {
    int width, height;
    std::vector<uint8_t> y, u, v;
    Picture(int w, int h) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {}
    mkcard::YuvPicture view()
    {
        return {y.data(), u.data(), v.data(), width, width / 2, width / 2, width, height};
    }
};

// Scales a luma plane to another size (nearest neighbour) and expands it to
// 32-bit B, G, R, A pixels, as a screen grab would hold it.
std::vector<uint8_t> toBgra(const Picture &p, int w, int h)
{
    std::vector<uint8_t> bgra(size_t(w) * h * 4);
    for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx) {
            const uint8_t l = p.y[size_t(yy * p.height / h) * p.width + size_t(xx * p.width / w)];
            uint8_t *px = &bgra[(size_t(yy) * w + xx) * 4];
            px[0] = px[1] = px[2] = l;
            px[3] = 255;
        }
    return bgra;
}

TEST(FrameCode, PaintedNumbersDecodeAtEverySizeAndStride)
{
    for (int number : {0, 1, 2, 29, 30, 255, 256, 1000, 12345, 40000, 65535}) {
        Picture p(320, 240);
        mkcard::paintFrame(p.view(), {mkcard::Channel::Rear, "2012-03-05 14:22:33", number});
        EXPECT_EQ(decodeFrameNumberLuma(p.y.data(), 320, 240, 320), number);
        for (auto [w, h] : {std::pair{320, 240}, {200, 150}, {1000, 480}, {640, 360}}) {
            const auto bgra = toBgra(p, w, h);
            EXPECT_EQ(decodeFrameNumber(bgra.data(), w, h, w * 4), number) << w << "x" << h;
        }
        // A wider stride (padding after each row) changes nothing.
        std::vector<uint8_t> padded(size_t(400) * 240, 7);
        for (int row = 0; row < 240; ++row)
            std::copy_n(&p.y[size_t(row) * 320], 320, &padded[size_t(row) * 400]);
        EXPECT_EQ(decodeFrameNumberLuma(padded.data(), 320, 240, 400), number);
    }
}

TEST(FrameCode, PicturesWithoutACodeAreRefused)
{
    std::vector<uint8_t> grey(size_t(320) * 240 * 4, 128);
    EXPECT_EQ(decodeFrameNumber(grey.data(), 320, 240, 320 * 4), -1);
    EXPECT_EQ(decodeFrameNumber(nullptr, 320, 240, 320 * 4), -1);
    EXPECT_EQ(decodeFrameNumber(grey.data(), 320, 240, 100), -1); // stride too small
    EXPECT_EQ(decodeFrameNumber(grey.data(), 10, 10, 40), -1);    // too small to hold the strip

    // One flipped bit fails the parity cell.
    Picture p(320, 240);
    mkcard::paintFrame(p.view(), {mkcard::Channel::Front, "2012-03-05 14:22:33", 1234});
    const int x0 = korvante::framecode::cellLeft(10, 320), x1 = korvante::framecode::cellLeft(11, 320);
    const bool white = korvante::framecode::cellIsWhite(10, 1234);
    for (int row = 0; row < korvante::framecode::stripHeight(240); ++row)
        for (int x = x0; x < x1; ++x)
            p.y[size_t(row) * 320 + x] = white ? 16 : 235;
    EXPECT_EQ(decodeFrameNumberLuma(p.y.data(), 320, 240, 320), -1);
}

TEST(FrameCode, EncodedVideoShowsItsFrameNumbers)
{
    mkcard::VideoSettings settings;
    settings.width = 320;
    settings.height = 240;
    settings.fps = 10;
    settings.frames = 25;
    settings.clockText = [](int) { return std::string("2012-03-05 14:22:33"); };
    std::vector<mkcard::EncodedPacket> packets;
    std::string error;
    ASSERT_TRUE(mkcard::encodeVideo(settings, packets, &error)) << error;
    ASSERT_EQ(packets.size(), 25u);

    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    ASSERT_NE(codec, nullptr);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<int> seen;
    std::vector<int> seenScaled;
    std::vector<uint8_t> bgra(size_t(480) * 270 * 4);
    auto collect = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            seen.push_back(decodeFrameNumberLuma(frame->data[0], frame->width, frame->height, frame->linesize[0]));
            // As a screen would show it: converted to 32-bit and stretched.
            SwsContext *sws = sws_getContext(frame->width, frame->height, AV_PIX_FMT_YUV420P, 480, 270,
                                             AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
            uint8_t *dst[4] = {bgra.data(), nullptr, nullptr, nullptr};
            int dstStride[4] = {480 * 4, 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
            sws_freeContext(sws);
            seenScaled.push_back(decodeFrameNumber(bgra.data(), 480, 270, 480 * 4));
        }
    };
    for (const auto &p : packets) {
        pkt->data = const_cast<uint8_t *>(p.data.data());
        pkt->size = static_cast<int>(p.data.size());
        ASSERT_EQ(avcodec_send_packet(ctx, pkt), 0);
        collect();
    }
    avcodec_send_packet(ctx, nullptr);
    collect();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);

    std::vector<int> expected(25);
    for (int i = 0; i < 25; ++i)
        expected[size_t(i)] = i;
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(seenScaled, expected);
    // Key frames once a second, and only then.
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].keyFrame, i % 10 == 0) << i;
}

} // namespace
