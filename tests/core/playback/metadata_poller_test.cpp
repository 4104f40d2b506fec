#include "playback_fixture.h"

#include "core/playback/media_engine.h"
#include "core/playback/metadata_poller.h"
#include "core/playback/sensor_records.h"
#include "mkcard/drive_model.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>

namespace korvante {
namespace {

using testing::RecordingWindow;
using testing::sampleCard;

// What the poller must deliver for a recording, decoded with the sample
// tool's own decoders from the chunks as the bytes say.
struct Expected {
    std::vector<SensorSample> samples;
    std::vector<std::pair<std::int32_t, std::string>> sentences;
};

Expected expectedRecords(const std::string &path)
{
    Expected e;
    for (const auto &c : testing::movieChunks(path)) {
        if (c.id.compare(2, 2, "tx") != 0 || c.data.size() < 5)
            continue;
        const std::int32_t time = static_cast<std::int32_t>(c.data[0] | (c.data[1] << 8) | (c.data[2] << 16)
                                                            | (static_cast<std::uint32_t>(c.data[3]) << 24));
        const std::uint8_t *p = c.data.data() + 4;
        auto w = [&](int at) { return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8)); };
        if (p[0] == 'M') {
            e.samples.push_back({mkcard::decode8(p[1]), mkcard::decode8(p[2]), mkcard::decode8(p[3]), 0, time});
        } else if (p[0] == 'S' && p[1] == 0x08) {
            e.samples.push_back({mkcard::decode8(static_cast<std::uint8_t>(w(2))), mkcard::decode8(static_cast<std::uint8_t>(w(4))),
                                 mkcard::decode8(static_cast<std::uint8_t>(w(6))), 1, time});
        } else if (p[0] == 'S' && p[1] == 0x0A) {
            e.samples.push_back({mkcard::decode10(w(2)), mkcard::decode10(w(4)), mkcard::decode10(w(6)), 2, time});
        } else if (p[0] == 'G') {
            e.sentences.emplace_back(time, std::string(reinterpret_cast<const char *>(p), c.data.size() - 4).c_str());
        }
    }
    return e;
}

void expectDelivered(const CQDRVTextData &data, const Expected &e)
{
    std::vector<SensorSample> samples;
    std::vector<CQDRVGPSData> fixes;
    data.withSamples([&](const auto &l) { samples.assign(l.begin(), l.end()); });
    data.withFixes([&](const auto &l) { fixes.assign(l.begin(), l.end()); });
    ASSERT_EQ(samples.size(), e.samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].x, e.samples[i].x) << i;
        EXPECT_EQ(samples[i].y, e.samples[i].y) << i;
        EXPECT_EQ(samples[i].z, e.samples[i].z) << i;
        EXPECT_EQ(samples[i].kind, e.samples[i].kind) << i;
        EXPECT_EQ(samples[i].timestamp, e.samples[i].timestamp) << i;
    }
    ASSERT_EQ(fixes.size(), e.sentences.size());
    for (size_t i = 0; i < fixes.size(); ++i) {
        EXPECT_EQ(fixes[i].timestamp, e.sentences[i].first);
        // The sample drive runs through Seoul: about 37.5° N, 127° E.
        EXPECT_EQ(fixes[i].valid, 1);
        EXPECT_NEAR(fixes[i].latitude, 3730, 100);
        EXPECT_NEAR(fixes[i].longitude, 12700, 100);
        const std::string &text = e.sentences[i].second;
        EXPECT_EQ(fixes[i].hour, std::stoi(text.substr(6, 2)) + 9) << text;
    }
}

class PollerTest : public ::testing::Test {
protected:
    void SetUp() override { engine.AttachScreens(&front, &rear); }
    void TearDown() override { engine.waitForPollers(); }
    testing::LogCapture log;
    RecordingWindow front, rear;
    CQDRVTextData data;
    MediaEngine engine;
};

TEST_F(PollerTest, DeliversEveryPacketOnceInOrderWithTheSampleToolsValues)
{
    // The four kinds cover 'M' packets and both 'S' sub-types.
    std::set<std::int32_t> kinds;
    for (const auto &rec : sampleCard().finished) {
        const Expected e = expectedRecords(rec.front);
        ASSERT_GT(e.samples.size(), 30u);
        ASSERT_GE(e.sentences.size(), 3u);
        ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
        data.clearSamples();
        data.clearFixes();
        ASSERT_EQ(engine.Play(), S_OK);
        EXPECT_EQ(RunMetadataPoller(engine, data), 0);
        expectDelivered(data, e);
        for (const auto &s : e.samples)
            kinds.insert(s.kind);
    }
    EXPECT_EQ(kinds, (std::set<std::int32_t>{0, 1, 2}));
}

TEST_F(PollerTest, StopSeekAndReopenNeitherRepeatNorLoseRecords)
{
    const auto &rec = sampleCard().finished[1];
    const Expected e = expectedRecords(rec.front);
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    // A stopped graph: the poller ends at once and takes no packet.
    RunMetadataPoller(engine, data);
    EXPECT_EQ(data.sampleCount(), 0u);
    ASSERT_EQ(engine.Play(), S_OK);
    ASSERT_EQ(engine.Pause(), S_OK);
    ASSERT_EQ(engine.Forward(2), 1);
    // A poller of a paused graph keeps reading; several at once share the reads.
    for (int i = 0; i < 4; ++i)
        StartMetadataPoller(engine, data);
    RunMetadataPoller(engine, data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (data.sampleCount() + data.fixCount() < e.samples.size() + e.sentences.size()
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    expectDelivered(data, e);
    // Resuming after a stop starts no second delivery.
    ASSERT_EQ(engine.Stop(), 1);
    ASSERT_EQ(engine.Play(), S_OK);
    RunMetadataPoller(engine, data);
    expectDelivered(data, e);
    // Reopening the recording delivers the track again, once.
    ASSERT_EQ(engine.Open(rec.front, rec.rear), 1);
    data.clearSamples();
    data.clearFixes();
    ASSERT_EQ(engine.Play(), S_OK);
    RunMetadataPoller(engine, data);
    expectDelivered(data, e);
}

TEST_F(PollerTest, CloseAndOpenWaitForPollersBeforeFreeingTheGraph)
{
    const auto &rec = sampleCard().finished[2];
    for (int round = 0; round < 6; ++round) {
        ASSERT_EQ(engine.Open(rec.front, round % 2 ? std::string("1CH") : rec.rear), 1);
        ASSERT_EQ(engine.Play(), S_OK);
        for (int i = 0; i < 3; ++i)
            StartMetadataPoller(engine, data);
        if (round % 3 == 2)
            engine.Close();
    }
    engine.waitForPollers();
    EXPECT_FALSE(engine.graph);
    // Every record that arrived is whole: no torn or foreign entries.
    data.withSamples([](const auto &list) {
        for (const auto &s : list)
            EXPECT_TRUE(s.kind >= 0 && s.kind <= 2);
    });
}

} // namespace
} // namespace korvante
