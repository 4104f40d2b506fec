// A recording without an index opened through BeginOpen plays while its
// chunks are walked: behind a slow reader, the open reports before the walk
// is over, the pictures come in order in both screens, a seek past the walked
// part waits for the walk and lands on its frame, the metadata arrives as the
// walk passes it, and closing the recording ends the walk.

#include "playback_fixture.h"

#include "core/playback/media_engine.h"
#include "core/playback/metadata_poller.h"
#include "core/playback/sensor_records.h"
#include "core/recording/byte_source.h"
#include "support/log_capture.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace korvante {
namespace {

using namespace std::chrono;
using testing::RecordingWindow;
using testing::unfinishedCameraCard;
using testing::frameNumberOf;

// Every read of every source opened while it lives costs what a reader of
// `bytesPerSecond` takes (each read on its own, as a card reader's queue
// serves several readers).
class SlowReader final {
public:
    explicit SlowReader(double bytesPerSecond)
    {
        setByteSourceWrapper([bytesPerSecond](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
            return std::make_unique<Paced>(std::move(inner), bytesPerSecond);
        });
    }
    ~SlowReader() { setByteSourceWrapper({}); }
    SlowReader(const SlowReader &) = delete;
    SlowReader &operator=(const SlowReader &) = delete;

private:
    class Paced final : public ByteSource {
    public:
        Paced(std::unique_ptr<ByteSource> inner, double rate) : m_inner(std::move(inner)), m_rate(rate) {}
        std::int64_t size() const override { return m_inner->size(); }
        std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
        {
            std::this_thread::sleep_for(duration<double>(static_cast<double>(length) / m_rate));
            return m_inner->readAt(offset, buffer, length);
        }

    private:
        std::unique_ptr<ByteSource> m_inner;
        double m_rate;
    };
};

bool pumpUntil(const std::function<bool()> &done, milliseconds limit = seconds(30))
{
    const auto deadline = steady_clock::now() + limit;
    while (!done()) {
        if (steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

struct FullLoad {
    std::int64_t frames = 0;     // front pictures
    std::uint64_t durationMs = 0;
    std::size_t samples = 0;     // G-sensor samples the poller delivers
    std::size_t fixes = 0;
};

// What a load that walks the whole recording first (Open) gives.
FullLoad fullLoad(const testing::SampleRecording &rec)
{
    FullLoad result;
    RecordingWindow front, rear{QSize(160, 120)};
    MediaEngine engine;
    engine.AttachScreens(&front, &rear);
    if (engine.Open(rec.front, rec.rear) != 1)
        return result;
    result.frames = static_cast<std::int64_t>(engine.graph->parseFilter[0]->index().video[0].frames.size());
    result.durationMs = engine.GetDurationMs();
    CQDRVTextData data;
    engine.Pause();
    engine.Play();
    engine.Pause();
    RunMetadataPoller(engine, data);
    result.samples = data.sampleCount();
    result.fixes = data.fixCount();
    return result;
}

class ProgressiveOpen : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(unfinishedCameraCard().unfinished.empty());
        rec = unfinishedCameraCard().unfinished.front();
        full = fullLoad(rec);
        ASSERT_GT(full.frames, 150);
        RecordProperty("frames", static_cast<int>(full.frames));
        engine.AttachScreens(&front, &rear);
    }

    // Opens `rec` and waits for the open to report.
    MediaEngine::OpenOutcome open()
    {
        std::optional<MediaEngine::OpenOutcome> outcome;
        engine.BeginOpen(rec.front, rec.rear, 0, -1, [&](const MediaEngine::OpenOutcome &o) { outcome = o; });
        EXPECT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(MediaEngine::OpenOutcome{});
    }

    // Both screens show this frame.
    void expectBothShow(std::int64_t frame, const char *when)
    {
        QImage a, b;
        ASSERT_EQ(engine.GrabFrame(0, a), 1) << when;
        ASSERT_EQ(engine.GrabFrame(1, b), 1) << when;
        EXPECT_EQ(frameNumberOf(a), frame) << "front " << when;
        EXPECT_EQ(frameNumberOf(b), frame) << "rear " << when;
    }

    std::int64_t frameAtMs(std::uint64_t ms) const
    {
        return std::min<std::int64_t>(static_cast<std::int64_t>(ms) * 30 / 1000, full.frames - 1);
    }

    testing::LogCapture log;
    testing::SampleRecording rec;
    FullLoad full;
    RecordingWindow front;
    RecordingWindow rear{QSize(160, 120)};
    MediaEngine engine;
};

TEST_F(ProgressiveOpen, PlaysInOrderWhileWalkedAndASeekPastTheWalkLandsOnItsFrameInBothScreens)
{
    // A thirtieth of a card reader's pace: the walk of both files (a walk
    // reads 1 MB at a time) takes seconds, the first pictures a part of that.
    SlowReader slow(1.0e6);
    const auto started = steady_clock::now();
    const MediaEngine::OpenOutcome outcome = open();
    ASSERT_EQ(outcome.opened, 1) << outcome.reason;
    const auto opened = steady_clock::now() - started;
    ASSERT_TRUE(engine.IsWalking()) << "the open waited for the whole walk";
    EXPECT_FALSE(engine.LengthKnown());
    EXPECT_GT(engine.GetDurationMs(), 0u);
    EXPECT_EQ(engine.graph->channelCount, 2);
    expectBothShow(0, "after the open");

    // Played while walked: the pictures only go forwards, both channels on
    // the same clock, and the metadata comes in as the walk passes it.
    CQDRVTextData data;
    ASSERT_EQ(engine.Play(), S_OK);
    StartMetadataPoller(engine, data);
    std::int64_t last = -1;
    const auto playUntil = steady_clock::now() + milliseconds(1000);
    while (steady_clock::now() < playUntil) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QImage a;
        if (engine.GrabFrame(0, a) == 1) {
            const int shown = frameNumberOf(a);
            EXPECT_GE(shown, last);
            last = std::max<std::int64_t>(last, shown);
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_GT(last, 20) << "playing did not move on while the file was walked";
    ASSERT_TRUE(engine.IsWalking());
    const std::size_t samplesWhileWalked = data.sampleCount();
    EXPECT_GT(samplesWhileWalked, 0u);
    EXPECT_LT(samplesWhileWalked, full.samples);
    ASSERT_EQ(engine.Pause(), S_OK);
    expectBothShow(frameAtMs(engine.GetPositionMs()), "paused while walked");

    // A seek well past the walked part: the position is the new one at
    // once, the pictures follow when the walk gets there, exact in both.
    const std::uint64_t walked = engine.WalkedMs();
    const std::uint64_t target = std::min<std::uint64_t>(walked + 3000, full.durationMs - 500);
    ASSERT_GT(target, walked + 1000) << "the walk was too fast to seek past";
    ASSERT_EQ(engine.SetPosition(static_cast<std::int64_t>(target) * 10000), S_OK);
    EXPECT_TRUE(engine.SeekWaiting());
    EXPECT_EQ(engine.GetPositionMs(), target);
    ASSERT_TRUE(pumpUntil([&] { return !engine.SeekWaiting(); }));
    EXPECT_GE(engine.WalkedMs(), target);
    expectBothShow(frameAtMs(target), "after a seek past the walk");

    // A seek while playing past the walked part plays on from there.
    if (engine.IsWalking()) {
        ASSERT_EQ(engine.Play(), S_OK);
        const std::uint64_t ahead = std::min<std::uint64_t>(engine.WalkedMs() + 2000, full.durationMs - 300);
        engine.SetPosition(static_cast<std::int64_t>(ahead) * 10000);
        ASSERT_TRUE(pumpUntil([&] { return !engine.SeekWaiting(); }));
        ASSERT_TRUE(pumpUntil([&] { return engine.GetPositionMs() > ahead + 100; }, seconds(5)));
        ASSERT_EQ(engine.Pause(), S_OK);
        expectBothShow(frameAtMs(engine.GetPositionMs()), "paused after playing on from a seek past the walk");
    }

    // The walk's end: the length is the recording's own, and every packet
    // of the metadata was handed out once.
    ASSERT_TRUE(pumpUntil([&] { return !engine.IsWalking(); }));
    ASSERT_TRUE(pumpUntil([&] { return engine.LengthKnown(); }, seconds(2)));
    EXPECT_EQ(engine.GetDurationMs(), full.durationMs);
    EXPECT_EQ(engine.loadWorkersRunning(), 0);
    ASSERT_EQ(engine.Play(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return data.sampleCount() == full.samples && data.fixCount() == full.fixes; },
                          seconds(5)));
    engine.Pause();
    expectBothShow(frameAtMs(engine.GetPositionMs()), "after the walk");
    engine.SetPosition(static_cast<std::int64_t>(full.durationMs) * 10000);
    expectBothShow(full.frames - 1, "at the end");
    engine.Close();
    engine.waitForPollers();
    EXPECT_LT(opened, (full.durationMs * 1ms) / 3) << "the first pictures took a large part of the walk";
}

TEST_F(ProgressiveOpen, ClosingOrOpeningAnotherRecordingEndsTheWalkWithinOneRead)
{
    // One read of the walk (1 MB) takes a second here.
    SlowReader slow(1.0e6);
    ASSERT_EQ(open().opened, 1);
    ASSERT_TRUE(engine.IsWalking());
    ASSERT_EQ(engine.Play(), S_OK);
    std::this_thread::sleep_for(milliseconds(200));

    // Another open closes this recording: its walk ends within one read.
    auto started = steady_clock::now();
    std::optional<MediaEngine::OpenOutcome> second;
    engine.BeginOpen(rec.front, rec.rear, 0, -1, [&](const MediaEngine::OpenOutcome &o) { second = o; });
    EXPECT_LT(steady_clock::now() - started, milliseconds(1500));
    ASSERT_TRUE(pumpUntil([&] { return second.has_value(); }));
    ASSERT_EQ(second->opened, 1);
    ASSERT_TRUE(engine.IsWalking());

    started = steady_clock::now();
    engine.Close();
    EXPECT_LT(steady_clock::now() - started, milliseconds(1500));
    EXPECT_FALSE(engine.IsWalking());
    EXPECT_EQ(engine.loadWorkersRunning(), 0);
    EXPECT_EQ(engine.GetState(), -1);
}

} // namespace
} // namespace korvante
