#pragma once
// The sensor strip and the G-sensor graph beside the real media engine: a
// sample card made once by korvante-mkcard (front-only recordings of 40 s at
// a low frame rate), a recording opened and paused at chosen positions, and a
// stand-in player control panel that takes the seek messages and applies
// them to the engine as absolute positions. Offscreen; UI thread.

#include "core/playback/video_window.h"
#include "core/playback/viewer_state.h"
#include "gui/platform/message_window.h"
#include "gui/platform/messages.h"
#include "support/log_capture.h"

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvante::testing {

QApplication &testApp();
void pump();
// Runs the event loop until `done` holds or `ms` pass; returns `done()`.
bool waitFor(const std::function<bool()> &done, int ms = 5000);

// The card's recordings, one per kind (N, E, P, M in that order), each 40 s.
const std::vector<std::string> &sampleRecordings();
inline constexpr std::uint64_t kSampleLengthMs = 40000;

class NullVideoWindow final : public VideoWindow {
public:
    QSize clientSize() const override { return {160, 120}; }
    void requestRepaint() override {}
};

// Records the seek messages (first parameter) and seeks the engine there.
class SeekingPlayer final : public PanelWindow {
    Q_OBJECT
public:
    using PanelWindow::PanelWindow;
    std::vector<quintptr> seeks;

protected:
    qintptr onMessage(int message, quintptr w, qintptr) override;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens recording `index` of the card, lets a poller read its metadata
    // and leaves it paused at the start. True when all of it worked.
    bool openPaused(size_t index);
    // Seeks the paused engine to `ms` and waits until it reports it.
    bool pauseAt(std::uint64_t ms);
    // The sample of the list with this time, if there is one.
    std::optional<SensorSample> sampleAt(std::int32_t timestamp) const;
    // Replaces the sample list with `samples`.
    static void setSamples(const std::vector<SensorSample> &samples);

    ViewerState &state() { return GetViewerState(); }

    LogCapture log;
    NullVideoWindow window;
};

} // namespace korvante::testing
