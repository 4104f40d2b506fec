// The accident report's evidence: digests of plain and card recordings that
// equal sha256sum of the original bytes, and the impact summary of a sample
// event recording's hard brake.

#include "playback_fixture.h"

#include "core/playback/evidence.h"
#include "core/playback/impact_summary.h"
#include "core/playback/stream_parse_filter.h"
#include "core/storage/recording_name.h"
#include "tavo/tavo.h"
#include "support/small_card.h"
#include "tavo/tavo_writer.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>

namespace korvante {
namespace {

namespace fs = std::filesystem;

std::string sha256sum(const std::string &path)
{
    QProcess tool;
    tool.start(QStringLiteral("sha256sum"), {QString::fromStdString(path)});
    EXPECT_TRUE(tool.waitForFinished(60000));
    return QString::fromLatin1(tool.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0).toStdString();
}

// A folder card of 10 s event recordings (the brake lies in the middle):
// EVT's first recording has 8-bit G-sensor codes, its second 10-bit words.
struct EventCard {
    std::vector<std::string> fronts; // EVT front files in name order
    std::string folder;
};

const EventCard &eventCard()
{
    static EventCard card = [] {
        EventCard c;
        c.folder = testing::tempFolder() + "/card";
        EXPECT_TRUE(testing::runMkcard({"--folder", c.folder, "--per-kind", "2", "--seconds", "10", "--size",
                                        "160x120", "--fps", "10", "--audio", "none"}));
        for (const auto &e : fs::directory_iterator(c.folder + "/EVT"))
            if (e.path().filename().string().find("_F.avi") != std::string::npos)
                c.fronts.push_back(e.path().string());
        std::sort(c.fronts.begin(), c.fronts.end());
        return c;
    }();
    return card;
}

std::string rearOf(const std::string &front)
{
    const fs::path folder = fs::path(front).parent_path();
    const std::string stem = std::string(fileNameOf(front)).substr(0, 10); // "E_YYYYMMDD"
    for (const auto &e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(stem, 0) == 0 && name.find("_R.avi") != std::string::npos)
            return e.path().string();
    }
    return {};
}

TEST(Evidence, DigestsOfPlainAndCardRecordingsEqualSha256sumOfTheirBytes)
{
    const EventCard &card = eventCard();
    ASSERT_EQ(card.fronts.size(), 2u);
    const std::string front = card.fronts[0];
    const std::string rear = rearOf(front);
    ASSERT_FALSE(rear.empty());

    // Plain files: front and rear, sizes and the camera's date from the name.
    std::vector<EvidenceFile> files = describeEvidence(front, rear, 0, -1, true);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].role, "Front");
    EXPECT_EQ(files[1].role, "Rear");
    const NameDateTime dt = dateTimeOfName(files[0].name);
    EXPECT_EQ(files[0].recorded, formatDate(dt.year, dt.month, dt.day) + " " + formatTime(dt.hour, dt.minute, dt.second));
    std::int64_t total = 0;
    for (const EvidenceFile &f : files) {
        EXPECT_EQ(f.size, static_cast<std::int64_t>(fs::file_size(f.path))) << f.path;
        total += f.size;
    }
    std::int64_t lastDone = 0, reportedTotal = 0;
    const std::vector<DigestResult> digests = hashEvidence(files, [&](std::int64_t done, std::int64_t all) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        reportedTotal = all;
    });
    ASSERT_EQ(digests.size(), 2u);
    EXPECT_EQ(digests[0].sha256, sha256sum(front));
    EXPECT_EQ(digests[1].sha256, sha256sum(rear));
    EXPECT_EQ(lastDone, total);
    EXPECT_EQ(reportedTotal, total);

    // "1CH" and "NULL" name no rear file.
    EXPECT_EQ(describeEvidence(front, "1CH", 0, -1, false).size(), 1u);
    EXPECT_EQ(describeEvidence(front, "NULL", 0, -1, false).size(), 1u);

    // A card recording: the same bytes on a TAVO partition, hashed through
    // the card library.
    const std::vector<std::uint8_t> bytes = testing::readFile(front);
    const tavo::CardLayout layout = korvante::testing::smallCardLayout();
    const std::string image = testing::tempFolder() + "/card.img";
    std::string error;
    auto writer = tavo::CardWriter::createImage(image, layout, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->addDirectory("EVT"));
    const std::string cardName = "E_20120305_142313_2CH_F.tavo";
    const std::uint32_t id = writer->addFile("EVT", cardName, 1330957393, bytes.data(), bytes.size());
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(writer->finish(&error)) << error;
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    ASSERT_EQ(VX_Tavo_Device_Open(image.c_str(), VX_TAVO_OPEN_MODE, device.data()), 0);
    files = describeEvidence("/EVT/" + cardName, "", reinterpret_cast<std::intptr_t>(device.data()),
                             static_cast<std::int32_t>(id), true);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].role, "Front and rear");
    EXPECT_EQ(files[0].recorded, "2012-03-05 14:23:13");
    EXPECT_EQ(files[0].size, static_cast<std::int64_t>(bytes.size()));
    const std::vector<DigestResult> cardDigest = hashEvidence(files, {});
    ASSERT_EQ(cardDigest.size(), 1u);
    EXPECT_EQ(cardDigest[0].sha256, sha256sum(front));

    // Cancelled, and unreadable: no digest, and a reason.
    std::atomic<bool> cancel{true};
    EXPECT_EQ(hashEvidence(files, {}, &cancel)[0].error, "cancelled");
    VX_Tavo_Device_Close(device.data());
    const std::vector<EvidenceFile> gone = describeEvidence(front + ".missing", "", 0, -1, false);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].size, -1);
    const DigestResult missing = hashEvidence(gone, {})[0];
    EXPECT_TRUE(missing.sha256.empty());
    EXPECT_EQ(missing.error, "cannot be read");
}

// The sensor lists of a recording, read as the metadata poller reads them.
CQDRVTextData &recordsOf(const std::string &path, CQDRVTextData &data)
{
    StreamParseFilter filter("VXStreamParseFilter");
    EXPECT_EQ(filter.Load(path), S_OK);
    for (int guard = 0; guard < 100000; ++guard) {
        std::uint8_t buffer[1024] = {};
        std::int32_t length = 1024, time = 0;
        if (filter.ReadPacket(buffer, &length, &time) != S_OK)
            break;
        DispatchPacket(time, data, buffer);
    }
    return data;
}

TEST(ImpactSummary, TheSampleEventBrakeIsThePeakAndReadsAsFromTheFront)
{
    const EventCard &card = eventCard();
    ASSERT_EQ(card.fronts.size(), 2u);
    // 8-bit codes keep no sign: only the axis is known.
    const struct {
        int recording;
        std::int32_t kind;
        ImpactSide side;
    } cases[] = {{0, 1, ImpactSide::FrontOrRear}, {1, 2, ImpactSide::Front}};
    for (const auto &c : cases) {
        SCOPED_TRACE(card.fronts[static_cast<size_t>(c.recording)]);
        CQDRVTextData data;
        recordsOf(card.fronts[static_cast<size_t>(c.recording)], data);
        ASSERT_GT(data.sampleCount(), 90u);
        // The brake as the samples show it: longitudinal readings beyond 0.5 g.
        std::int32_t brakeFrom = -1, brakeTo = -1, kind = -1;
        data.withSamples([&](const std::list<SensorSample> &samples) {
            kind = samples.front().kind;
            for (const SensorSample &s : samples)
                if (std::abs(s.x) * gPerRawUnit(kind) > 0.5) {
                    if (brakeFrom < 0)
                        brakeFrom = s.timestamp;
                    brakeTo = s.timestamp;
                }
        });
        EXPECT_EQ(kind, c.kind);
        ASSERT_GE(brakeFrom, 3000);
        const ImpactSummary summary = summarizeImpact(data, 5000);
        ASSERT_TRUE(summary.hasPeak);
        EXPECT_GE(summary.peakMs, brakeFrom);
        EXPECT_LE(summary.peakMs, brakeTo);
        EXPECT_GT(summary.peakG, 1.2); // 0.8 g braking with 1 g of gravity
        EXPECT_LT(summary.peakG, 1.7);
        EXPECT_NEAR(std::fabs(summary.peakX), 0.8, 0.2);
        EXPECT_EQ(summary.side, c.side);
        // Before the brake the car drives 45 to 70 km/h.
        ASSERT_TRUE(summary.hasSpeed);
        EXPECT_EQ(summary.speedMs % 1000, 0);
        EXPECT_LE(std::abs(summary.speedMs - (summary.peakMs - kSpeedLeadMs)), 500);
        EXPECT_GT(summary.speedKmh, 40.0);
        EXPECT_LT(summary.speedKmh, 75.0);
    }
}

TEST(ImpactSummary, SidesWindowAndSpeedFix)
{
    // 10-bit words, 127 per g: the larger horizontal axis and its sign decide.
    const struct {
        std::int32_t x, y, kind;
        ImpactSide side;
    } sides[] = {
        {-120, 10, 2, ImpactSide::Front}, {120, 0, 2, ImpactSide::Rear},       {10, 90, 2, ImpactSide::Right},
        {10, -90, 2, ImpactSide::Left},   {40, 5, 0, ImpactSide::FrontOrRear}, {3, 40, 1, ImpactSide::LeftOrRight},
    };
    for (const auto &c : sides) {
        const std::vector<SensorSample> samples = {{0, 0, 127, c.kind, 1000}, {c.x, c.y, 127, c.kind, 2000}};
        EXPECT_EQ(summarizeImpact(samples, {}, 2000).side, c.side) << c.x << "," << c.y;
    }

    // A bigger jolt 5.1 s away is outside the window; kind 3 carries nothing.
    std::vector<SensorSample> samples = {
        {0, 0, 127, 2, 10000}, {60, 0, 127, 2, 12000}, {900, 0, 900, 3, 12100}, {500, 0, 127, 2, 17100}};
    CQDRVGPSData fix;
    std::vector<CQDRVGPSData> fixes;
    for (int t : {7000, 8000, 9000, 10000}) {
        fix.timestamp = t;
        fix.valid = t != 9000;
        fix.speed = t / 100.0;
        fixes.push_back(fix);
    }
    const ImpactSummary s = summarizeImpact(samples, fixes, 12000);
    ASSERT_TRUE(s.hasPeak);
    EXPECT_EQ(s.peakMs, 12000);
    EXPECT_NEAR(s.peakG, std::sqrt(60.0 * 60 + 127 * 127) * gPerRawUnit(2), 1e-9);
    // 3 s before the peak is 9000 ms, whose fix is not valid: the nearest valid one.
    ASSERT_TRUE(s.hasSpeed);
    EXPECT_TRUE(s.speedMs == 8000 || s.speedMs == 10000);
    EXPECT_FALSE(summarizeImpact(samples, fixes, 30000).hasPeak);
    EXPECT_FALSE(summarizeImpact(samples, {}, 12000).hasSpeed);
}

} // namespace
} // namespace korvante
