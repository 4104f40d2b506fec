#pragma once
// Encodes the simulated camera's pictures (H.264 through libavcodec's libx264)
// and sound (libavcodec's native AAC encoder, or plain 16-bit PCM). Settings
// are fixed and single-threaded so the same input gives the same bytes.

#include "mkcard/avi_writer.h"
#include "mkcard/byte_buffer.h"
#include "mkcard/frame_painter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mkcard {

struct EncodedPacket {
    Bytes data;
    bool keyFrame = false;
    int64_t timeUs = 0; // decode time from the start of the recording (the layout order)
};

struct VideoSettings {
    int width = 1280;
    int height = 720;
    int fps = 30;
    int frames = 300;
    Channel channel = Channel::Front;
    bool cameraEncoding = false; // see CardSettings::cameraEncoding
    // Clock text of frame i, "YYYY-MM-DD HH:MM:SS".
    std::function<std::string(int frame)> clockText;
};

// H.264 Annex B access units, one per frame, an IDR picture every second.
// Returns false with `error` set when the encoder is missing or fails.
bool encodeVideo(const VideoSettings &settings, std::vector<EncodedPacket> &packets, std::string *error);

struct AudioTrack {
    AudioCodec codec = AudioCodec::None;
    int sampleRate = 16000;
    Bytes config;                      // AudioSpecificConfig for AAC
    std::vector<EncodedPacket> packets; // AAC frames or PCM blocks of 100 ms
};

// Encodes mono 16-bit samples. AAC keeps the whole frames that fit in the
// samples' time, so the stream ends with the pictures (within one frame).
bool encodeAudio(AudioCodec codec, int sampleRate, const std::vector<int16_t> &samples, AudioTrack &track,
                 std::string *error);

} // namespace mkcard
