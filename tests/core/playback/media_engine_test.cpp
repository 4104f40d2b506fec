#include "playback_fixture.h"

#include "core/platform/registry.h"
#include "core/playback/audio_output.h"
#include "core/playback/media_engine.h"
#include "support/log_capture.h"
#include "tavo/tavo.h"

#include <QAudioDevice>
#include <QPainter>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace korvante {
namespace {

using testing::RecordingWindow;
using testing::frameNumberOf;
using testing::sampleCard;

constexpr int kFps = 30;

std::int64_t frameAtMs(std::uint64_t ms)
{
    return static_cast<std::int64_t>(ms) * kFps / 1000;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { engine.AttachScreens(&front, &rear); }

    // With the graph paused or stopped, both channels show the frame of the position.
    void expectShownFrameMatchesPosition(bool twoChannels = true)
    {
        const std::uint64_t pos = engine.GetPositionMs();
        const std::int64_t want = std::min<std::int64_t>(frameAtMs(pos), frames - 1);
        QImage a, b;
        ASSERT_EQ(engine.GrabFrame(0, a), 1);
        EXPECT_EQ(a.format(), QImage::Format_RGB32);
        EXPECT_EQ(frameNumberOf(a), want) << "front at " << pos << " ms";
        if (twoChannels) {
            ASSERT_EQ(engine.GrabFrame(1, b), 1);
            EXPECT_EQ(frameNumberOf(b), want) << "rear at " << pos << " ms";
        }
    }

    void expectShownFrameAfterSeek(std::int64_t ms)
    {
        ASSERT_EQ(engine.SetPosition(ms * 10000), S_OK);
        ASSERT_EQ(engine.GetPositionMs(), static_cast<std::uint64_t>(ms));
        expectShownFrameMatchesPosition();
    }

    testing::LogCapture log;
    RecordingWindow front;
    RecordingWindow rear{QSize(160, 120)};
    MediaEngine engine;
    std::int64_t frames = 120;
};

TEST_F(EngineTest, TwoChannelGraphIsBuiltWithTheNamedElementsAndCued)
{
    const auto &rec = sampleCard().finished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear, 0, -1), 1);
    ASSERT_TRUE(engine.graph);
    EXPECT_EQ(engine.GetState(), 2);
    EXPECT_EQ(engine.graph->channelCount, 2);
    EXPECT_TRUE(engine.graph->built);
    EXPECT_EQ(engine.GetDurationMs(), 4000u);
    const FilterGraph &g = *engine.graph->graphBuilder;
    for (const char *name : {"VXStreamParseFilter", "VXStreamParseFilter2", "FFDShow Decoder1", "FFDShow Decoder2",
                             "Color Space Convertor 1", "Color Space Convertor 2", "Mixing Renderer9-1",
                             "Mixing Renderer9-2", "CoreAAC Decoder"})
        EXPECT_TRUE(g.hasFilter(name)) << name;
    EXPECT_FALSE(g.hasFilter("Mixing Renderer9"));
    EXPECT_FALSE(g.hasFilter("FFDShow Decoder3"));
    // Cued: the first frame is shown in both windows, nothing plays.
    expectShownFrameMatchesPosition();
    EXPECT_EQ(engine.GetPositionMs(), 0u);
    EXPECT_GT(front.repaints.load(), 0);
    EXPECT_GT(rear.repaints.load(), 0);
    std::int32_t w = 0, h = 0, aw = 0, ah = 0;
    EXPECT_EQ(engine.GetNativeVideoSize(0, &w, &h, &aw, &ah), S_OK);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    // The renderer draws into its window's client rectangle.
    QImage canvas(320, 240, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    {
        QPainter p(&canvas);
        engine.PaintVideo(&front, p);
    }
    EXPECT_EQ(frameNumberOf(canvas), 0);
}

TEST_F(EngineTest, PlayingAdvancesAtTheClocksPaceAndSeeksShowTheExactFrame)
{
    const auto &rec = sampleCard().finished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(engine.Play(), S_OK);
    EXPECT_EQ(engine.GetState(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const std::uint64_t pos = engine.GetPositionMs();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(pos, static_cast<std::uint64_t>(elapsed) + 20);
    EXPECT_GE(pos + 250, static_cast<std::uint64_t>(elapsed));
    ASSERT_EQ(engine.Pause(), S_OK);
    EXPECT_EQ(engine.GetState(), 1);
    const std::uint64_t paused = engine.GetPositionMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(engine.GetPositionMs(), paused);
    expectShownFrameMatchesPosition();

    EXPECT_EQ(engine.Forward(1.5), 1);
    EXPECT_EQ(engine.GetPositionMs(), paused + 1500);
    expectShownFrameMatchesPosition();
    EXPECT_EQ(engine.Rewind(0.7), 1);
    EXPECT_EQ(engine.GetPositionMs(), paused + 800);
    expectShownFrameMatchesPosition();
    EXPECT_EQ(engine.Rewind(60), 1);
    EXPECT_EQ(engine.GetPositionMs(), 0u);
    expectShownFrameMatchesPosition();
    EXPECT_EQ(engine.Forward(60), 1);
    EXPECT_EQ(engine.GetPositionMs(), 4000u);
    expectShownFrameMatchesPosition();

    std::mt19937 random(5);
    for (int i = 0; i < 8; ++i) {
        const std::int64_t ms = std::uniform_int_distribution<std::int64_t>(0, 3999)(random);
        ASSERT_EQ(engine.SetPosition(ms * 10000), S_OK);
        EXPECT_EQ(engine.GetPositionMs(), static_cast<std::uint64_t>(ms));
        expectShownFrameMatchesPosition();
    }

    // While running, a seek lands on the frame too, and play goes on from there.
    ASSERT_EQ(engine.Play(), S_OK);
    EXPECT_EQ(engine.Forward(0.0), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(engine.Pause(), S_OK);
    expectShownFrameMatchesPosition();
    // Front and rear were shown by one clock.
    QImage a, b;
    engine.GrabFrame(0, a);
    engine.GrabFrame(1, b);
    EXPECT_EQ(frameNumberOf(a), frameNumberOf(b));
}

// Camera footage stores B-frames in decode order, and its front and rear
// differ in size: every seek, forward or back, paused or playing, must still
// land both channels on the frame of the position.
TEST_F(EngineTest, CameraFootageKeepsFrontAndRearOnTheFrameOfEverySeek)
{
    const auto &rec = testing::cameraCard().finished.front();
    frames = 360;
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    ASSERT_EQ(engine.graph->channelCount, 2);
    ASSERT_EQ(engine.Play(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(engine.Pause(), S_OK);
    expectShownFrameMatchesPosition();

    // Forward jumps across key frames (one every 30 frames), then back.
    for (const std::int64_t ms : {4567, 9001, 11950, 11999, 3210, 33, 6000})
        expectShownFrameAfterSeek(ms);
    std::mt19937 random(9);
    for (int i = 0; i < 12; ++i)
        expectShownFrameAfterSeek(std::uniform_int_distribution<std::int64_t>(0, 11999)(random));
    // Steps of one picture forward from a key frame and across the next one.
    for (std::int64_t f = 59; f <= 62; ++f)
        expectShownFrameAfterSeek((f * 1000 + 500) / kFps);

    // Seeks while playing: after a pause both show one frame, that of the position.
    ASSERT_EQ(engine.Play(), S_OK);
    for (const std::int64_t ms : {8000, 2000, 10500}) {
        ASSERT_EQ(engine.SetPosition(ms * 10000), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    ASSERT_EQ(engine.Pause(), S_OK);
    expectShownFrameMatchesPosition();
}

TEST_F(EngineTest, StatesAndResultsOfTheGraphOperations)
{
    // Without a graph.
    MediaEngine bare;
    EXPECT_EQ(bare.GetState(), -1);
    EXPECT_EQ(bare.Play(), -1);
    EXPECT_EQ(bare.Pause(), -1);
    EXPECT_EQ(bare.Stop(), 0);
    EXPECT_EQ(bare.GetPositionMs(), 0u);
    EXPECT_EQ(bare.Open(sampleCard().finished.front().front), 0); // no screens attached
    EXPECT_EQ(bare.CheckComponents(), 0);

    // An empty graph after attaching the screens: created, never built.
    EXPECT_EQ(engine.GetState(), 3);
    EXPECT_EQ(engine.Play(), VFW_E_WRONG_STATE);
    EXPECT_EQ(engine.Stop(), 0);
    EXPECT_EQ(engine.Rewind(1), 0);

    const auto &rec = sampleCard().finished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    EXPECT_EQ(engine.Stop(), 0);        // stopped already
    EXPECT_EQ(engine.Pause(), S_FALSE); // nothing to pause
    EXPECT_EQ(engine.GetState(), 2);
    EXPECT_EQ(engine.Forward(1), 0);    // neither running nor paused
    ASSERT_EQ(engine.Play(), S_OK);
    EXPECT_EQ(engine.Play(), VFW_E_WRONG_STATE);
    EXPECT_EQ(engine.Stop(), 1);
    EXPECT_EQ(engine.GetState(), 2);

    // Play at the very end starts again from 0.
    ASSERT_EQ(engine.Play(), S_OK);
    ASSERT_EQ(engine.Pause(), S_OK);
    ASSERT_EQ(engine.Forward(10), 1);
    EXPECT_EQ(engine.GetPositionMs(), engine.GetDurationMs());
    ASSERT_EQ(engine.Play(), S_OK);
    EXPECT_LT(engine.GetPositionMs(), 500u);

    // Rates outside 0.5 … 2.0 are clamped when play starts; the clock follows.
    ASSERT_EQ(engine.SetRate(0.1f), S_OK);
    EXPECT_FLOAT_EQ(engine.graph->rate, 0.5f);
    ASSERT_EQ(engine.SetRate(3.0f), S_OK);
    EXPECT_FLOAT_EQ(engine.graph->rate, 2.0f);
    ASSERT_EQ(engine.Pause(), S_OK);
    ASSERT_EQ(engine.SetPosition(0), S_OK);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(engine.Play(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(engine.Pause(), S_OK);
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    // Twice the wall time, less what the start and the pause took.
    EXPECT_LE(engine.GetPositionMs(), static_cast<std::uint64_t>(2 * wall) + 20);
    EXPECT_GE(engine.GetPositionMs() + 300, static_cast<std::uint64_t>(2 * wall));
    EXPECT_GE(engine.GetPositionMs(), 800u);
    expectShownFrameMatchesPosition();
    engine.SetRate(1.0f);

    EXPECT_EQ(engine.Close(), 1);
    EXPECT_EQ(engine.GetState(), -1);
    EXPECT_FALSE(engine.graph);
}

TEST_F(EngineTest, ZoomStaysWithinItsBoundsAndPlacesThePicture)
{
    const auto &rec = sampleCard().finished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    EXPECT_EQ(engine.ZoomStep(2, 20, &front), 1); // no renderer in slot 2
    engine.zoom[0] = 940;
    EXPECT_EQ(engine.ZoomStep(0, 20, &front), 0);
    EXPECT_EQ(engine.zoom[0], 960);
    EXPECT_EQ(engine.ZoomStep(0, 20, &front), 1);
    EXPECT_EQ(engine.zoom[0], 960);
    engine.zoom[0] = -940;
    EXPECT_EQ(engine.ZoomStep(0, -20, &front), 0);
    EXPECT_EQ(engine.zoom[0], -960);
    EXPECT_EQ(engine.ZoomStep(0, -20, &front), 1);
    EXPECT_EQ(engine.zoom[0], -960);

    EXPECT_EQ(engine.ZoomReset(0, &front), 1);
    EXPECT_EQ(engine.ZoomStep(0, 20, &front), 0);
    EXPECT_EQ(engine.graph->renderer[0]->destination(), QRect(0, 0, 280, 200));
    EXPECT_EQ(engine.PlacePicture(0, &front, nullptr, 5, 7), 1);
    // d = 2·20 + 320 − 5 = 355 ≥ 320: left 5; e = 40 + 240 − 7 = 273 ≥ 240: top 7.
    EXPECT_EQ(engine.graph->renderer[0]->destination(), QRect(-5, -7, 355, 273));
    EXPECT_EQ(engine.ZoomReset(0, &front), 1);
    EXPECT_EQ(engine.zoom[0], 0);
    EXPECT_EQ(engine.graph->renderer[0]->destination(), QRect(0, 0, 320, 240));

    // Swapping the screens moves each renderer into the other window.
    EXPECT_EQ(engine.SwapScreens(&rear, &front), 1);
    EXPECT_EQ(engine.graph->renderer[0]->window(), &rear);
    EXPECT_EQ(engine.graph->renderer[0]->destination(), QRect(0, 0, 160, 120));
    EXPECT_EQ(engine.graph->renderer[1]->window(), &front);
    const int before = front.repaints.load();
    EXPECT_EQ(engine.Repaint(), 1);
    EXPECT_GT(front.repaints.load(), before);
}

TEST_F(EngineTest, PicturesKeepTheirShapeInScreensOfAnyShape)
{
    // The largest rectangle of the picture's shape, centred: bars at the
    // sides or above and below, never a stretched picture.
    struct Case {
        QRect area;
        QSize picture;
        QRect shown;
    };
    const Case cases[] = {
        {QRect(0, 0, 1575, 1100), QSize(1920, 1080), QRect(0, 107, 1575, 886)},
        {QRect(0, 0, 745, 419), QSize(1920, 1080), QRect(0, 0, 745, 419)},
        {QRect(0, 0, 390, 219), QSize(640, 480), QRect(49, 0, 292, 219)},
        {QRect(-5, -7, 355, 273), QSize(320, 240), QRect(-5, -4, 355, 266)},
        {QRect(10, 10, 0, 0), QSize(320, 240), QRect(10, 10, 0, 0)},
        {QRect(0, 0, 200, 100), QSize(), QRect(0, 0, 200, 100)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(VideoRenderer::fitted(c.area, c.picture), c.shown) << c.area.width() << "x" << c.area.height();

    // In a wide screen the 4:3 test picture is converted and painted at its
    // own shape, and the bars stay the window's.
    RecordingWindow wide(QSize(400, 200));
    const auto &rec = sampleCard().finished.front();
    engine.AttachScreens(&wide, &rear);
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    VideoRenderer &r = *engine.graph->renderer[0];
    EXPECT_EQ(r.pictureRect(), QRect(66, 0, 267, 200));
    EXPECT_EQ(r.outputSize(), QSize(267, 200));
    QImage canvas(400, 200, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    EXPECT_EQ(r.paint(painter), QRect(66, 0, 267, 200));
    painter.end();
    EXPECT_EQ(canvas.pixel(30, 100), qRgb(0, 0, 0));
    EXPECT_EQ(canvas.pixel(370, 100), qRgb(0, 0, 0));
    EXPECT_NE(canvas.pixel(200, 100), qRgb(0, 0, 0));
}

TEST_F(EngineTest, RearThatIsMissingOrUnreadableGivesAFrontOnlyGraph)
{
    const auto &rec = sampleCard().finished.front();
    const std::string junk = testing::tempFolder() + "/junk_R.avi";
    testing::writeFile(junk, std::vector<std::uint8_t>(3000, 'j'));
    for (const std::string &rearPath : {std::string("1CH"), std::string("NULL"), std::string(), junk,
                                        std::string("/no/such/file_R.avi")}) {
        ASSERT_EQ(engine.Open(rec.front, rearPath), 1) << rearPath;
        EXPECT_EQ(engine.graph->channelCount, 1);
        const FilterGraph &g = *engine.graph->graphBuilder;
        EXPECT_TRUE(g.hasFilter("Mixing Renderer9"));
        EXPECT_TRUE(g.hasFilter("COREAAC AUDIO"));
        EXPECT_FALSE(g.hasFilter("Mixing Renderer9-1"));
        EXPECT_FALSE(g.hasFilter("FFDShow Decoder2"));
        QImage image;
        EXPECT_EQ(engine.GrabFrame(1, image), 0);
        ASSERT_EQ(engine.Play(), S_OK);
        ASSERT_EQ(engine.Pause(), S_OK);
        expectShownFrameMatchesPosition(false);
    }
}

TEST_F(EngineTest, FrontThatIsNotARecordingFailsTheOpen)
{
    const std::string junk = testing::tempFolder() + "/junk_F.avi";
    testing::writeFile(junk, std::vector<std::uint8_t>(3000, 'j'));
    const auto &rec = sampleCard().finished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    ASSERT_EQ(engine.Play(), S_OK);
    EXPECT_EQ(engine.Open(junk, rec.rear), 0);
    EXPECT_FALSE(engine.graph);
    EXPECT_EQ(engine.GetState(), -1);
    EXPECT_EQ(engine.Open("/no/such/file_F.avi"), 0);
    EXPECT_EQ(engine.Open(""), 0);
    // A later open works again.
    EXPECT_EQ(engine.Open(rec.front, rec.rear), 1);
    EXPECT_EQ(engine.GetState(), 2);
}

TEST_F(EngineTest, UnfinishedRecordingPlaysToItsCutOffEnd)
{
    ASSERT_FALSE(sampleCard().unfinished.empty());
    const auto &rec = sampleCard().unfinished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    const std::int64_t lastFrame = static_cast<std::int64_t>(engine.graph->parseFilter[0]->index().video[0].frames.size()) - 1;
    EXPECT_LT(lastFrame, 119);
    EXPECT_GT(lastFrame, 60);
    engine.SetRate(2.0f);
    ASSERT_EQ(engine.Play(), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (engine.GetPositionMs() < engine.GetDurationMs() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(engine.GetPositionMs(), engine.GetDurationMs());
    EXPECT_EQ(engine.GetState(), 0);
    ASSERT_EQ(engine.Pause(), S_OK);
    QImage image;
    ASSERT_EQ(engine.GrabFrame(0, image), 1);
    EXPECT_EQ(frameNumberOf(image), lastFrame);
}

TEST_F(EngineTest, PictureParametersAndFlipsChangeThePicture)
{
    const auto &rec = sampleCard().finished.front();
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    QImage plain, flipped, mirrored, dark;
    ASSERT_EQ(engine.GrabFrame(1, plain), 1);
    ASSERT_EQ(engine.SetFlip(1, 1), S_OK);
    std::int32_t value = -1;
    engine.graph->decoder[1]->GetParam(1112, &value);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(engine.GrabFrame(1, flipped), 1);
    EXPECT_EQ(flipped, plain.mirrored(false, true));
    ASSERT_EQ(engine.SetFlip(1, 0), S_OK);
    ASSERT_EQ(engine.SetRearFlip(1), S_OK);
    ASSERT_EQ(engine.GrabFrame(1, mirrored), 1);
    EXPECT_EQ(mirrored, plain.mirrored(true, false));
    ASSERT_EQ(engine.SetRearFlip(0), S_OK);

    // A freshly opened recording with the sliders at rest differs in nothing
    // (each start of playback asks: a difference costs a seek); values the
    // decoder clamps to what it holds do not differ either.
    for (const auto &[id, value] : {std::pair{201, 128}, {202, 0}, {203, 0}, {204, 64}, {202, 0}})
        EXPECT_FALSE(engine.PictureParamDiffers(id, value)) << id;
    EXPECT_TRUE(engine.PictureParamDiffers(201, 129));

    // Luminance gain 0 and offset −256 turn the picture black.
    EXPECT_EQ(engine.SetPictureParam(201, 0), S_OK);
    EXPECT_FALSE(engine.PictureParamDiffers(201, -40)); // clamped to the 0 it holds
    EXPECT_EQ(engine.SetPictureParam(202, -256), S_OK);
    engine.graph->decoder[0]->GetParam(205, &value);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(engine.SetPosition(0), S_OK); // decoded again with the new settings
    ASSERT_EQ(engine.GrabFrame(0, dark), 1);
    EXPECT_LT(qGray(dark.pixel(160, 120)), 40);
    EXPECT_EQ(engine.ResetPicture(0, 0), S_OK);
    engine.graph->decoder[0]->GetParam(202, &value);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(engine.SetFlip(3, 1), E_FAIL);
}

TEST(EngineVolume, HundredthsOfADecibelFromPercent)
{
    EXPECT_EQ(volumeToHundredthsOfDb(0), -10000);
    EXPECT_EQ(volumeToHundredthsOfDb(90), -45);
    EXPECT_EQ(volumeToHundredthsOfDb(50), -301);
    EXPECT_EQ(volumeToHundredthsOfDb(1), -2000);
    // Full volume stays full (0 dB), it does not fall silent.
    EXPECT_EQ(volumeToHundredthsOfDb(100), 0);
}

TEST(EngineComponents, CheckAddsTheProgramToExistingWhitelistsOnly)
{
    testing::LogCapture log;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(testing::tempFolder()));
    const QString vx = QStringLiteral("HKEY_CURRENT_USER/SOFTWARE/VX");
    const QString gnu = QStringLiteral("HKEY_CURRENT_USER/SOFTWARE/GNU");
    const QString ffdshow = QStringLiteral("HKEY_CURRENT_USER/SOFTWARE/GNU/ffdshow");
    const QString key = QStringLiteral("whitelist");
    Registry::setValue(vx, key, QStringLiteral("a.exe;b.exe"));
    Registry::setValue(gnu, QStringLiteral("other"), 1);
    RecordingWindow w;
    MediaEngine engine;
    engine.AttachScreens(&w, &w);
    EXPECT_EQ(engine.CheckComponents(), 1);
    EXPECT_EQ(Registry::value(vx, key).toString(), QStringLiteral("a.exe;b.exe;KORVANTE.exe"));
    EXPECT_EQ(Registry::value(gnu, key).toString(), QStringLiteral(";KORVANTE.exe"));
    EXPECT_FALSE(Registry::contains(ffdshow, key));
    // A second check finds the name and writes nothing more.
    EXPECT_EQ(engine.CheckComponents(), 1);
    EXPECT_EQ(Registry::value(vx, key).toString(), QStringLiteral("a.exe;b.exe;KORVANTE.exe"));
    qputenv("XDG_CONFIG_HOME", old);
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

// The sound path without an audio device: the renderer queues what the
// decoder produced, and a reader pulls it as the sink would.
TEST(EngineSound, DecodedSoundStartsAtTheSeekPositionInTheOutputFormat)
{
    testing::LogCapture log;
    for (const char *audio : {"aac", "pcm"}) {
        const std::string dir = testing::tempFolder();
        ASSERT_TRUE(testing::runMkcard({"--folder", dir, "--per-kind", "1", "--seconds", "3", "--size", "160x120",
                                        "--fps", "10", "--audio", audio, "--channels", "1", "--seed", "4"}));
        std::string front;
        for (const auto &e : std::filesystem::directory_iterator(dir + "/NOR"))
            front = e.path().string();
        StreamParseFilter filter("VXStreamParseFilter");
        ASSERT_EQ(filter.Load(front), S_OK);
        ASSERT_GE(filter.index().audio.stream, 0);
        EXPECT_EQ(filter.pins().back().pcm, std::string(audio) == "pcm");
        AudioRenderer renderer("DirectSound Audio Renderer", QAudioDevice());
        AudioDecoder decoder("COREAAC AUDIO");
        ASSERT_EQ(decoder.connect(filter, renderer), S_OK) << audio;
        const QAudioFormat format = renderer.format();
        const qint64 perSecond = format.bytesForDuration(1'000'000);
        ASSERT_GT(perSecond, 0);
        decoder.start();
        renderer.flush(10'000'000);
        decoder.seek(10'000'000); // from 1 s on
        // Up to the end: 2 s of sound remain, give or take one packet.
        QByteArray sound;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            const QByteArray part = renderer.read(perSecond / 10);
            sound += part;
            if (part.isEmpty()) {
                if (sound.size() >= perSecond * 19 / 10)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        decoder.stop();
        EXPECT_NEAR(static_cast<double>(sound.size()) / static_cast<double>(perSecond), 2.0, 0.1) << audio;
        EXPECT_NE(sound.count('\0'), sound.size()) << audio << ": only silence";
    }
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

int runCommand(std::vector<std::string> argv)
{
    std::vector<char *> raw;
    for (auto &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(raw[0], raw.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Recordings from other cameras: whatever FFmpeg decodes from the stream's
// FourCC plays, and a seek lands on the same picture that ffmpeg itself
// decodes for that frame.
TEST(EngineCodecs, MjpegAndMpeg4RecordingsSeekToTheExactFrame)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    struct Case {
        const char *name;
        std::vector<std::string> codec;
    };
    const std::vector<Case> cases = {{"mjpg.avi", {"-c:v", "mjpeg", "-q:v", "3"}},
                                     {"xvid.avi", {"-c:v", "mpeg4", "-vtag", "XVID", "-g", "7", "-q:v", "3"}}};
    for (const auto &c : cases) {
        const std::string path = dir + "/" + c.name;
        std::vector<std::string> make{"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                      "testsrc2=size=160x120:rate=10", "-t", "3"};
        make.insert(make.end(), c.codec.begin(), c.codec.end());
        make.push_back(path);
        ASSERT_EQ(runCommand(make), 0) << c.name;
        const std::string raw = dir + "/frame17.bgra";
        ASSERT_EQ(runCommand({"ffmpeg", "-v", "error", "-y", "-i", path, "-vf", "select=eq(n\\,17)", "-frames:v", "1",
                              "-f", "rawvideo", "-pix_fmt", "bgra", raw}),
                  0);
        const auto reference = testing::readFile(raw);
        ASSERT_EQ(reference.size(), 160u * 120u * 4u);

        RecordingWindow window;
        MediaEngine engine;
        engine.AttachScreens(&window, &window);
        ASSERT_EQ(engine.Open(path, "1CH"), 1) << c.name;
        EXPECT_EQ(engine.GetDurationMs(), 3000u);
        ASSERT_EQ(engine.Play(), S_OK);
        ASSERT_EQ(engine.Pause(), S_OK);
        ASSERT_EQ(engine.SetPosition(17 * 1'000'000 + 50'000), S_OK); // 1.705 s: frame 17
        QImage grab;
        ASSERT_EQ(engine.GrabFrame(0, grab), 1);
        ASSERT_EQ(grab.size(), QSize(160, 120));
        double difference = 0;
        for (int y = 0; y < 120; ++y) {
            const std::uint8_t *line = grab.constScanLine(y);
            for (int x = 0; x < 160 * 4; ++x) {
                if (x % 4 == 3)
                    continue;
                difference += std::abs(line[x] - reference[static_cast<size_t>(y * 160 * 4 + x)]);
            }
        }
        // The two conversions round chroma a little differently; another
        // frame of the moving test picture differs by far more.
        EXPECT_LT(difference / (160.0 * 120.0 * 3.0), 4.0) << c.name;
    }
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

TEST(EngineCard, CardRecordingOpensThroughTheCardLibraryAndPlays)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    const std::string image = dir + "/card.img";
    ASSERT_TRUE(testing::runMkcard({"--image", image, "--per-kind", "1", "--seconds", "2", "--size", "160x120",
                                    "--fps", "10", "--audio", "aac", "--channels", "2", "--seed", "6"}));
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    ASSERT_EQ(VX_Tavo_Device_Open(image.c_str(), VX_TAVO_OPEN_MODE, device.data()), 0);
    const testing::CardRecord record = testing::firstCardRecord(device.data(), "EVT");
    ASSERT_FALSE(record.name.empty());
    const std::string name = record.name;
    const std::int32_t id = record.id;
    {
        RecordingWindow front, rear;
        MediaEngine engine;
        engine.AttachScreens(&front, &rear);
        engine.metadataMode = 0;
        ASSERT_EQ(engine.Open("/EVT/" + name, {}, reinterpret_cast<std::intptr_t>(device.data()), id), 1);
        // Both pictures of the card file play: the rear one from its second
        // video stream, in step with the front.
        EXPECT_EQ(engine.graph->channelCount, 2);
        EXPECT_EQ(engine.graph->renderer[1]->name(), "Mixing Renderer9-2");
        EXPECT_EQ(engine.graph->parseFilter[0]->mode(), 0);
        EXPECT_EQ(engine.GetDurationMs(), 2000u);
        ASSERT_EQ(engine.Play(), S_OK);
        ASSERT_EQ(engine.Pause(), S_OK);
        ASSERT_EQ(engine.SetPosition(13'000'000), S_OK);
        QImage grab, rearGrab;
        ASSERT_EQ(engine.GrabFrame(0, grab), 1);
        EXPECT_EQ(frameNumberOf(grab), 13);
        ASSERT_EQ(engine.GrabFrame(1, rearGrab), 1);
        EXPECT_EQ(frameNumberOf(rearGrab), 13);
        // The rear picture is the rear camera's, not a second copy of the front.
        EXPECT_NE(grab.pixel(grab.width() / 2, grab.height() / 2), rearGrab.pixel(rearGrab.width() / 2, rearGrab.height() / 2));
        // A recording identifier the card does not have fails the open.
        EXPECT_EQ(engine.Open(name, {}, reinterpret_cast<std::intptr_t>(device.data()), id + 500), 0);
        EXPECT_EQ(engine.GetState(), -1);
    }
    VX_Tavo_Device_Close(device.data());
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

// Damaged recordings: whatever the bytes, a load either fails cleanly or the
// recording plays, seeks and pauses without harm.
TEST(EngineDamage, CorruptedRecordingsAreRefusedOrPlayWithoutHarm)
{
    testing::LogCapture log;
    log.expectError("");
    const auto &rec = sampleCard().finished[3];
    const auto good = testing::readFile(rec.front);
    const auto chunks = testing::movieChunks(rec.front);
    ASSERT_FALSE(chunks.empty());
    const std::string dir = testing::tempFolder();
    std::mt19937 random(99);
    RecordingWindow window;
    MediaEngine engine;
    engine.AttachScreens(&window, &window);
    int opened = 0;
    for (int variant = 0; variant < 24; ++variant) {
        auto bytes = good;
        // Half the variants hit the headers and the first chunks, the rest anywhere.
        const size_t span = variant % 2 ? bytes.size() : static_cast<size_t>(chunks[8].offset);
        for (int i = 0; i < 1 + variant; ++i)
            bytes[std::uniform_int_distribution<size_t>(0, span - 1)(random)] =
                static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(random));
        if (variant % 6 == 5)
            bytes.resize(bytes.size() * static_cast<size_t>(variant) / 30); // cut short as well
        if (variant % 8 == 3) {
            // A chunk header that claims far more, or nothing at all.
            const auto at = static_cast<size_t>(chunks[static_cast<size_t>(variant) % chunks.size()].offset) + 4;
            const std::uint32_t size = variant % 16 == 3 ? 0xFFFFFFF0u : 0u;
            std::memcpy(bytes.data() + at, &size, 4);
        }
        const std::string path = dir + "/damaged" + std::to_string(variant) + "_F.avi";
        testing::writeFile(path, bytes);
        if (engine.Open(path, "1CH") != 1)
            continue;
        ++opened;
        engine.Play();
        engine.Forward(1.3);
        engine.Pause();
        engine.SetPosition(25'000'000);
        QImage image;
        engine.GrabFrame(0, image);
        engine.Stop();
    }
    engine.Close();
    EXPECT_GT(opened, 0); // most single-byte damage leaves a playable recording
    }

} // namespace
} // namespace korvante
