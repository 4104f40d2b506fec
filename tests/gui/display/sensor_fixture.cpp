#include "sensor_fixture.h"

#include "core/playback/metadata_poller.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/skin_library.h"
#include "mkcard/make_card.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"
#include "tavo/tavo.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <filesystem>

namespace korvante::testing {

QApplication &testApp()
{
    return guiTestApp("gui_sensor_display_tests");
}

void pump()
{
    pumpEvents();
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    return waitUntil(done, ms);
}

const std::vector<std::string> &sampleRecordings()
{
    static TempDir dir;
    static std::vector<std::string> files;
    if (!files.empty())
        return files;
    namespace fs = std::filesystem;
    const std::string card = dir.file("card");
    if (makeCard({"--folder", card, "--per-kind", "1", "--seconds", "40", "--size", "160x120", "--fps", "10",
                  "--audio", "none", "--channels", "1"}) != 0) {
        ADD_FAILURE() << "korvante-mkcard failed";
        return files;
    }
    for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
        for (const auto &e : fs::directory_iterator(fs::path(card) / folder))
            if (e.path().extension() == ".avi")
                files.push_back(e.path().string());
    return files;
}

qintptr SeekingPlayer::onMessage(int message, quintptr w, qintptr)
{
    if (message == msg::Seek) {
        seeks.push_back(w);
        GetViewerState().engine.SetPosition(static_cast<std::int64_t>(w) * 10000);
    }
    return 0;
}

void EngineTest::SetUp()
{
    testApp();
    ASSERT_EQ(sampleRecordings().size(), 4u);
    state().engine.AttachScreens(&window, nullptr);
    state().layoutMode = 0;
    state().speedUnit = 0;
    state().clearCurrentFix();
}

void EngineTest::TearDown()
{
    ViewerState &s = state();
    s.engine.Close();
    s.engine.AttachScreens(nullptr, nullptr);
    s.engine.waitForPollers();
    s.sensorData.clearSamples();
    s.sensorData.clearFixes();
    s.clearCurrentFix();
    s.layoutMode = 0;
    s.speedUnit = 0;
}

bool EngineTest::openPaused(size_t index)
{
    MediaEngine &engine = state().engine;
    if (engine.Open(sampleRecordings().at(index), "1CH") != 1) {
        ADD_FAILURE() << "could not open " << sampleRecordings().at(index);
        return false;
    }
    state().sensorData.clearSamples();
    state().sensorData.clearFixes();
    engine.Play();
    engine.Pause();
    if (engine.GetState() != StatePaused) {
        ADD_FAILURE() << "not paused: " << engine.GetState();
        return false;
    }
    // One sample every 100 ms: 400 in 40 s.
    StartMetadataPoller(engine, state().sensorData);
    return waitFor([this] { return state().sensorData.sampleCount() == 400; });
}

bool EngineTest::pauseAt(std::uint64_t ms)
{
    MediaEngine &engine = state().engine;
    engine.SetPosition(static_cast<std::int64_t>(ms) * 10000);
    return waitFor([&] { return engine.GetPositionMs() == ms; }, 3000);
}

std::optional<SensorSample> EngineTest::sampleAt(std::int32_t timestamp) const
{
    std::optional<SensorSample> found;
    GetViewerState().sensorData.withSamples([&](const std::list<SensorSample> &samples) {
        for (const SensorSample &s : samples)
            if (s.timestamp == timestamp && !found)
                found = s;
    });
    return found;
}

void EngineTest::setSamples(const std::vector<SensorSample> &samples)
{
    CQDRVTextData &data = GetViewerState().sensorData;
    data.clearSamples();
    for (const SensorSample &s : samples)
        data.appendSample(s);
}

} // namespace korvante::testing
