// Recordings of a trip played one after the other: the next recording is
// prepared beside the one that plays and takes over at its end. Every
// picture of every recording is shown (front and rear, none skipped as
// late), the next one starts on its first picture, a paused switch shows the
// cued position, the sensor lists start over with the new recording, and a
// prepared recording is dropped by a failure, a drop, Close and a new open.

#include "playback_fixture.h"

#include "core/playback/media_engine.h"
#include "core/playback/metadata_poller.h"
#include "core/playback/sensor_records.h"
#include "support/log_capture.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <regex>
#include <thread>

namespace korvante {
namespace {

using namespace std::chrono;
using testing::RecordingWindow;
using testing::frameNumberOf;

// Four two-channel recordings as a camera encodes them (B-frames), 3 s each.
const testing::SampleCard &tripCard()
{
    static const testing::SampleCard card = [] {
        testing::SampleCard c;
        c.folder = testing::tempFolder() + "/card";
        EXPECT_TRUE(testing::runMkcard({"--folder", c.folder, "--per-kind", "1", "--seconds", "3", "--size",
                                        "320x240", "--rear-size", "320x240", "--fps", "30", "--audio", "aac",
                                        "--channels", "2", "--encoding", "camera", "--seed", "21"}));
        for (const char *dir : {"EVT", "MOT", "MAN", "NOR"}) {
            const QDir folder(QString::fromStdString(c.folder + "/" + dir));
            const QStringList fronts = folder.entryList({QStringLiteral("*_F.avi")}, QDir::Files, QDir::Name);
            const QStringList rears = folder.entryList({QStringLiteral("*_R.avi")}, QDir::Files, QDir::Name);
            for (int i = 0; i < fronts.size(); ++i)
                c.finished.push_back({folder.filePath(fronts[i]).toStdString(),
                                      i < rears.size() ? folder.filePath(rears[i]).toStdString() : std::string()});
        }
        return c;
    }();
    return card;
}

bool pumpUntil(const std::function<bool()> &done, milliseconds limit = seconds(30))
{
    const auto deadline = steady_clock::now() + limit;
    while (!done()) {
        if (steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

class ContinuousPlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        recs = tripCard().finished;
        ASSERT_EQ(recs.size(), 4u);
        engine.AttachScreens(&front, &rear);
    }

    MediaEngine::OpenOutcome open(const testing::SampleRecording &r)
    {
        std::optional<MediaEngine::OpenOutcome> outcome;
        engine.BeginOpen(r.front, r.rear, 0, -1, [&](const MediaEngine::OpenOutcome &o) { outcome = o; });
        EXPECT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(MediaEngine::OpenOutcome{});
    }

    MediaEngine::OpenOutcome prepare(const testing::SampleRecording &r, std::uint64_t startMs = 0)
    {
        std::optional<MediaEngine::OpenOutcome> outcome;
        engine.PrepareNext(r.front, r.rear, 0, -1, startMs,
                           [&](const MediaEngine::OpenOutcome &o) { outcome = o; });
        EXPECT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(MediaEngine::OpenOutcome{});
    }

    std::int64_t framesOf(int slot) const
    {
        const auto index = engine.graph->parseFilter[slot]->snapshot();
        return static_cast<std::int64_t>(index->video.at(0).frames.size());
    }

    // Both screens show `frame` (by the frame code painted into the picture).
    void expectBothShow(int frame, const std::string &when)
    {
        QImage a, b;
        ASSERT_EQ(engine.GrabFrame(0, a), 1) << when;
        ASSERT_EQ(engine.GrabFrame(1, b), 1) << when;
        EXPECT_EQ(frameNumberOf(a), frame) << "front, " << when;
        EXPECT_EQ(frameNumberOf(b), frame) << "rear, " << when;
    }

    testing::LogCapture log;
    std::vector<testing::SampleRecording> recs;
    RecordingWindow front;
    RecordingWindow rear;
    MediaEngine engine;
};

TEST_F(ContinuousPlay, EveryPictureOfEveryRecordingIsShownAcrossTheBoundaries)
{
    ASSERT_EQ(open(recs[0]).opened, 1);
    CQDRVTextData data;
    engine.sensorLists = &data;
    std::vector<std::int64_t> expectedShown{framesOf(0) + framesOf(1)};
    std::size_t switches = 0;
    std::optional<MediaEngine::OpenOutcome> prepared;
    auto prepareAfter = [&](std::size_t i) {
        prepared.reset();
        engine.PrepareNext(recs[i].front, recs[i].rear, 0, -1, 0,
                           [&](const MediaEngine::OpenOutcome &o) { prepared = o; });
    };
    engine.SwitchAtEnd([&] {
        ++switches;
        // The new recording starts on its first picture, in both screens.
        expectBothShow(0, "at boundary " + std::to_string(switches));
        EXPECT_EQ(engine.GetState(), StateRunning);
        EXPECT_LT(engine.GetPositionMs(), 100u);
        expectedShown.push_back(framesOf(0) + framesOf(1));
        if (switches + 1 < recs.size())
            prepareAfter(switches + 1);
    });
    ASSERT_EQ(engine.Play(), S_OK);
    StartMetadataPoller(engine, data);
    prepareAfter(1);
    // In step while they play: the two screens never more than a picture apart.
    int worstApart = 0;
    ASSERT_TRUE(pumpUntil(
        [&] {
            if (engine.graph && engine.graph->renderer[0] && engine.graph->renderer[1]) {
                const auto a = engine.graph->renderer[0]->currentFrame();
                const auto b = engine.graph->renderer[1]->currentFrame();
                if (a >= 0 && b >= 0)
                    worstApart = std::max(worstApart, static_cast<int>(std::abs(a - b)));
            }
            return switches == recs.size() - 1 && engine.GetPositionMs() >= engine.GetDurationMs();
        },
        seconds(60)));
    EXPECT_TRUE(prepared && prepared->opened == 1);
    EXPECT_LE(worstApart, 1);
    engine.Close();

    // Each graph says at its close how many pictures it showed and how many
    // it skipped as late: all of them, none.
    std::vector<std::int64_t> shown;
    const std::regex counts("frames shown ([0-9]+), skipped as late ([0-9]+)");
    for (const std::string &line : log.lines()) {
        std::smatch m;
        if (std::regex_search(line, m, counts)) {
            shown.push_back(std::stoll(m[1]));
            EXPECT_EQ(m[2], "0") << line;
        }
    }
    EXPECT_EQ(shown, expectedShown);
    engine.sensorLists = nullptr;
    engine.waitForPollers();
}

TEST_F(ContinuousPlay, APausedSwitchShowsTheCuedPictureAndTheSensorListsStartOver)
{
    // What the second recording's metadata alone gives.
    std::size_t samplesOfSecond = 0;
    {
        MediaEngine alone;
        RecordingWindow w;
        alone.AttachScreens(&w, nullptr);
        ASSERT_EQ(alone.Open(recs[1].front, recs[1].rear), 1);
        alone.Play();
        alone.Pause();
        CQDRVTextData all;
        RunMetadataPoller(alone, all);
        samplesOfSecond = all.sampleCount();
    }
    ASSERT_GT(samplesOfSecond, 0u);

    ASSERT_EQ(open(recs[0]).opened, 1);
    CQDRVTextData data;
    engine.sensorLists = &data;
    ASSERT_EQ(engine.Play(), S_OK);
    ASSERT_EQ(engine.Pause(), S_OK);
    RunMetadataPoller(engine, data);
    ASSERT_GT(data.sampleCount(), 0u);

    EXPECT_EQ(engine.SwitchToPrepared(), 0) << "nothing was prepared";
    const MediaEngine::OpenOutcome outcome = prepare(recs[1], 1000);
    ASSERT_EQ(outcome.opened, 1) << outcome.reason;
    ASSERT_TRUE(engine.HasPrepared());
    EXPECT_EQ(engine.PreparedFront(), recs[1].front);
    EXPECT_EQ(engine.graph->frontPath, recs[0].front) << "preparing changed the current recording";

    ASSERT_EQ(engine.SwitchToPrepared(), 1);
    EXPECT_FALSE(engine.HasPrepared());
    EXPECT_EQ(engine.graph->frontPath, recs[1].front);
    EXPECT_EQ(engine.GetState(), StatePaused);
    EXPECT_EQ(engine.GetPositionMs(), 1000u);
    expectBothShow(30, "paused switch to 1 s");
    EXPECT_EQ(data.sampleCount(), 0u) << "the old recording's samples stayed";
    RunMetadataPoller(engine, data);
    EXPECT_EQ(data.sampleCount(), samplesOfSecond);

    // A file that is no recording: said so, and the current one is untouched.
    const std::string bogus = testing::tempFolder() + "/bogus_F.avi";
    testing::writeFile(bogus, std::vector<std::uint8_t>(4096, 0x41));
    const MediaEngine::OpenOutcome bad = prepare({bogus, {}});
    EXPECT_EQ(bad.opened, 0);
    EXPECT_FALSE(bad.reason.empty());
    EXPECT_FALSE(engine.HasPrepared());
    EXPECT_EQ(engine.GetState(), StatePaused);
    EXPECT_EQ(engine.graph->frontPath, recs[1].front);

    // Dropped by a drop, by Close and by a new open.
    ASSERT_EQ(prepare(recs[2]).opened, 1);
    EXPECT_TRUE(engine.DropPrepared());
    EXPECT_FALSE(engine.HasPrepared());
    EXPECT_FALSE(engine.DropPrepared());
    ASSERT_EQ(prepare(recs[2]).opened, 1);
    engine.Close();
    EXPECT_FALSE(engine.IsPreparing());
    ASSERT_EQ(open(recs[0]).opened, 1);
    ASSERT_EQ(prepare(recs[3]).opened, 1);
    ASSERT_EQ(open(recs[2]).opened, 1);
    EXPECT_FALSE(engine.IsPreparing());
    EXPECT_EQ(engine.graph->frontPath, recs[2].front);
    engine.sensorLists = nullptr;
}

} // namespace
} // namespace korvante
