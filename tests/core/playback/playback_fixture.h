#pragma once
// Sample recordings made by korvante-mkcard once per test run, a window that
// records what the engine asks of it, and an independent walk over the chunks
// of an AVI file to compare the filter's output with.

#include "core/playback/video_window.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace korvante::testing {

struct SampleRecording {
    std::string front;
    std::string rear;
};

struct SampleCard {
    std::string folder;
    std::vector<SampleRecording> finished;   // one per kind
    std::vector<SampleRecording> unfinished; // one per kind, cut off by a power loss
};

// A two-channel card, 4 s per recording, 320x240 at 30 fps, AAC sound.
const SampleCard &sampleCard();

// A two-channel card encoded as a camera does: B-frames in decode order,
// a camera's bitrate, a front of 640x360 and a rear of 480x270 at 30 fps,
// 12 s per recording.
const SampleCard &cameraCard();

// The same footage, 20 s per recording, with one recording of each kind cut
// off by a power loss (no index; the sizes in its headers are 0).
const SampleCard &unfinishedCameraCard();

// Runs korvante-mkcard with `args`; true when it succeeded.
bool runMkcard(const std::vector<std::string> &args);

// A fresh temporary folder for one test (removed at process exit).
std::string tempFolder();

struct RawChunk {
    std::string id;
    std::int64_t offset = 0; // of the header
    std::vector<std::uint8_t> data;
};

// The chunks of the movie list, read straight from the bytes. For a cut-off
// recording the walk stops before the chunk that old bytes follow, or that
// runs past the end of the file.
std::vector<RawChunk> movieChunks(const std::string &path);

// The frame number painted into a grabbed picture, -1 when unreadable.
int frameNumberOf(const QImage &image);

class RecordingWindow final : public VideoWindow {
public:
    explicit RecordingWindow(QSize size = QSize(320, 240)) : m_size(size) {}
    QSize clientSize() const override { return m_size; }
    void requestRepaint() override { ++repaints; }
    std::atomic<int> repaints{0};

private:
    QSize m_size;
};

// The first recording listed in `directory` of the card whose device block
// `device` is open; an empty name when the directory lists none.
struct CardRecord {
    std::string name;
    std::int32_t id = 0;
};
CardRecord firstCardRecord(unsigned char *device, const char *directory);

std::vector<std::uint8_t> readFile(const std::string &path);
void writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes);

} // namespace korvante::testing
