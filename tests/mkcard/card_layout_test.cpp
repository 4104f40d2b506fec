// What the tool writes into each plain recording: names, the RIFF layout the
// viewer's own walks rely on, the metadata, and the unfinished variant.

#include "core/recording/max_speed.h"
#include "core/storage/recording_repair.h"
#include "mkcard/card_output.h"
#include "mkcard/drive_model.h"
#include "mkcard_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

namespace {

using namespace mkcard;
using namespace mkcard::test;

class CardLayout : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sampleCards().ok) << sampleCards().failure; }
    static std::string path(const std::string &folder, const std::string &name)
    {
        return sampleCards().folder + "/" + folder + "/" + name;
    }
    static std::vector<RecordingPlan> plans() { return planRecordings(sampleCards().settings); }
};

TEST_F(CardLayout, FoldersHoldFrontAndRearFilesNamedByTheGrammar)
{
    const std::regex front("([NEPM])_(\\d{8})_(\\d{6})_2CH_F\\.avi");
    const std::map<std::string, char> letters{{"NOR", 'N'}, {"EVT", 'E'}, {"MOT", 'P'}, {"MAN", 'M'}};
    for (const auto &[folder, letter] : letters) {
        const auto names = listFiles(sampleCards().folder + "/" + folder);
        ASSERT_EQ(names.size(), 4u) << folder;
        int fronts = 0;
        for (const auto &name : names) {
            std::smatch m;
            if (!std::regex_match(name, m, front))
                continue;
            ++fronts;
            EXPECT_EQ(m[1].str()[0], letter);
            // The rear partner carries its own second, 0 to 3 seconds later.
            int partners = 0;
            for (int offset = 0; offset <= 3; ++offset) {
                const long t = std::atol(m[3].str().c_str());
                const int s = static_cast<int>(t % 100 + offset), mm = static_cast<int>(t / 100 % 100);
                char rear[64];
                std::snprintf(rear, sizeof rear, "%c_%s_%02ld%02d%02d_2CH_R.avi", letter, m[2].str().c_str(),
                              t / 10000 + (mm + s / 60) / 60, (mm + s / 60) % 60, s % 60);
                partners += std::filesystem::exists(path(folder, rear)) ? 1 : 0;
            }
            EXPECT_EQ(partners, 1) << name;
        }
        EXPECT_EQ(fronts, 2) << folder;
    }
    EXPECT_EQ(readFile(sampleCards().folder + "/SETUP/setup.ini").size(), setupIniText().size());
    const Bytes ini = readFile(sampleCards().folder + "/SETUP/setup.ini");
    EXPECT_EQ(std::string(ini.begin(), ini.end()), setupIniText());
    EXPECT_EQ(std::count(ini.begin(), ini.end(), '\n'), 15);
}

TEST_F(CardLayout, CompleteRecordingsHaveTheCameraLayout)
{
    for (const auto &plan : plans()) {
        if (plan.unfinished)
            continue;
        for (char camera : {'F', 'R'}) {
            SCOPED_TRACE(plainName(plan, camera));
            const Bytes file = readFile(path(plan.folder, plainName(plan, camera)));
            AviLayout avi;
            ASSERT_TRUE(parseAvi(file, avi));
            EXPECT_EQ(avi.riffSize, file.size() - 8);
            EXPECT_LT(avi.chunks.front().offset + 8, 512u); // the repair's search window
            EXPECT_TRUE(avi.chunksEndCleanly);
            EXPECT_EQ(avi.totalFrames, 60u);
            ASSERT_EQ(avi.streams.size(), camera == 'F' ? 3u : 1u);
            for (const auto &s : avi.streams)
                EXPECT_EQ(s.scale, 1000u);
            EXPECT_EQ(avi.streams[0].type, "vids");
            EXPECT_EQ(avi.streams[0].handler, "H264");
            EXPECT_EQ(avi.streams[0].rate, 30000u);
            EXPECT_EQ(avi.streams[0].length, 60u);
            if (camera == 'F') {
                EXPECT_EQ(avi.streams[1].type, "auds");
                EXPECT_EQ(avi.streams[1].rate, 15625u); // 16 kHz in 1024-sample frames
                EXPECT_EQ(avi.streams[2].type, "txts");
            }

            // Chunk ids by stream, key frames once a second.
            std::map<std::string, uint32_t> counts;
            uint32_t largestVideo = 0;
            for (const auto &c : avi.chunks) {
                ++counts[c.id];
                if (c.id == "00dc") {
                    largestVideo = std::max(largestVideo, c.size);
                    static const uint8_t idrStart[] = {0, 0, 1, 0x65};
                    const bool idr = std::search(c.data.begin(), c.data.end(), std::begin(idrStart),
                                                 std::end(idrStart)) != c.data.end();
                    const bool p = c.data.size() > 4 && c.data[2] == 0 && c.data[3] == 1 && c.data[4] == 'A';
                    EXPECT_TRUE(idr || p);
                }
            }
            EXPECT_EQ(avi.streams[0].suggestedBuffer, largestVideo);
            EXPECT_EQ(counts["00dc"], 60u);
            if (camera == 'F') {
                EXPECT_EQ(counts["01wb"], 31u);
                EXPECT_EQ(counts["02tx"], 2u + 20u + 2u);
                // Private records first, at time 0: tag, length, reserved, data.
                const Chunk &model = avi.chunks[0], &journal = avi.chunks[1];
                ASSERT_EQ(model.id, "02tx");
                ASSERT_EQ(journal.id, "02tx");
                EXPECT_EQ(readU32(model.data, 0), 0u);
                EXPECT_EQ(std::string(model.data.begin() + 4, model.data.begin() + 8), "QXMS");
                EXPECT_EQ(std::string(journal.data.begin() + 4, journal.data.begin() + 8), "QXDJ");
                for (const Chunk *c : {&model, &journal}) {
                    EXPECT_EQ(readU16(c->data, 8) + 8u + 4u, c->size);
                    EXPECT_EQ(readU16(c->data, 10), 0u);
                }
            }

            // idx1 right after the movie list, one entry per chunk.
            const uint64_t index = avi.afterMovieList;
            ASSERT_EQ(std::string(file.begin() + long(index), file.begin() + long(index) + 4), "idx1");
            const uint32_t indexSize = readU32(file, index + 4);
            ASSERT_EQ(indexSize, avi.chunks.size() * 16);
            for (size_t i = 0; i < avi.chunks.size(); ++i) {
                const uint64_t e = index + 8 + i * 16;
                const Chunk &c = avi.chunks[i];
                EXPECT_EQ(std::string(file.begin() + long(e), file.begin() + long(e) + 4), c.id);
                EXPECT_EQ(readU32(file, e + 8), c.offset - (avi.movieList + 8));
                EXPECT_EQ(readU32(file, e + 12), c.size);
                const bool key = c.id != "00dc" || c.data[4] != 'A';
                EXPECT_EQ(readU32(file, e + 4), key ? 16u : 0u) << i;
            }
            // The trailing speed record closes the file.
            const uint64_t junk = index + 8 + indexSize;
            ASSERT_EQ(file.size(), junk + 16);
            EXPECT_EQ(std::string(file.begin() + long(junk), file.begin() + long(junk) + 4), "JUNK");
            EXPECT_EQ(std::string(file.begin() + long(junk) + 8, file.begin() + long(junk) + 12), "MSPD");
        }
    }
}

TEST_F(CardLayout, StoredMaximumSpeedIsTheFastestGpsSpeed)
{
    int withSpeed = 0;
    for (const auto &plan : plans()) {
        if (plan.unfinished)
            continue;
        const std::string front = path(plan.folder, plainName(plan, 'F'));
        const Bytes file = readFile(front);
        AviLayout avi;
        ASSERT_TRUE(parseAvi(file, avi));
        double fastest = -1;
        for (const auto &p : metadataPackets(avi))
            fastest = std::max(fastest, gpsSpeedKmh(p.bytes));
        const int32_t stored = static_cast<int32_t>(readU32(file, file.size() - 4));
        EXPECT_EQ(stored, static_cast<int32_t>(std::lround(fastest))) << front;
        EXPECT_NEAR(stored, fastest, 0.01);
        withSpeed += stored > 0 ? 1 : 0;
        // The viewer's own speed search finds the same value in both files.
        for (char camera : {'F', 'R'}) {
            std::FILE *f = std::fopen(path(plan.folder, plainName(plan, camera)).c_str(), "rb");
            ASSERT_NE(f, nullptr);
            const auto found = korvante::findMaxSpeed(f, file.size() / 1024);
            std::fclose(f);
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(*found, stored);
        }
    }
    EXPECT_EQ(withSpeed, 3); // every finished recording but the parked car's
}

TEST_F(CardLayout, MetadataCarriesBothSensorFormatsAndTheBrake)
{
    std::map<std::string, int> formats;
    for (const auto &plan : plans()) {
        const Bytes file = readFile(path(plan.folder, plainName(plan, 'F')));
        AviLayout avi;
        ASSERT_TRUE(parseAvi(file, avi));
        // Nothing in the track looks like the sync word of an MPEG audio
        // frame (0xFF, then three set bits), which would make demuxers that
        // probe the track take it for sound.
        Bytes track;
        for (const auto &c : avi.chunks)
            if (c.id == "02tx")
                track.insert(track.end(), c.data.begin(), c.data.end());
        for (size_t i = 0; i + 1 < track.size(); ++i)
            EXPECT_FALSE(track[i] == 0xFF && track[i + 1] >= 0xE0) << i;
        int sensor = 0, gps = 0, strongestX = 0;
        for (const auto &p : metadataPackets(avi)) {
            const char kind = static_cast<char>(p.bytes[0]);
            if (kind == 'M') {
                ++formats["M"];
                strongestX = std::max(strongestX, decode8(p.bytes[1]) * 4); // 32 per g -> 128 per g
            } else if (kind == 'S') {
                ++formats[p.bytes[1] == 0x0A ? "S10" : "S8"];
                const uint16_t w = readU16(p.bytes, 2);
                strongestX = std::max(strongestX, p.bytes[1] == 0x0A ? std::abs(decode10(w))
                                                                     : decode8(static_cast<uint8_t>(w)) * 4);
            }
            sensor += kind == 'M' || kind == 'S';
            if (kind == 'G') {
                ++gps;
                EXPECT_EQ(splitFields(std::string(p.bytes.begin(), p.bytes.end())).size(), 10u);
            }
        }
        if (!plan.unfinished) {
            EXPECT_EQ(sensor, 20);
            EXPECT_EQ(gps, 2);
        }
        // Above 0.5 g only where something happens: the brake, the knock.
        if (plan.kind == DriveKind::Event || plan.kind == DriveKind::Parking)
            EXPECT_GT(strongestX, 64) << plainName(plan, 'F');
        else
            EXPECT_LT(strongestX, 52) << plainName(plan, 'F');
    }
    EXPECT_GT(formats["M"], 0);
    EXPECT_GT(formats["S8"], 0);
    EXPECT_GT(formats["S10"], 0);
}

TEST_F(CardLayout, UnfinishedRecordingsAreCutAfterTheirLastVideoChunk)
{
    int checked = 0;
    for (const auto &plan : plans()) {
        if (!plan.unfinished)
            continue;
        for (char camera : {'F', 'R'}) {
            SCOPED_TRACE(plainName(plan, camera));
            const Bytes cut = readFile(path(plan.folder, plainName(plan, camera)));
            const Bytes whole = readFile(sampleCards().twinFolder + "/" + plan.folder + "/" + plainName(plan, camera));
            AviLayout a, b;
            ASSERT_TRUE(parseAvi(cut, a));
            ASSERT_TRUE(parseAvi(whole, b));
            EXPECT_EQ(a.riffSize, 0u);
            EXPECT_EQ(a.movieListSize, 0u);
            EXPECT_EQ(a.totalFrames, 0u);
            for (const auto &s : a.streams)
                EXPECT_EQ(s.length, 0u);
            EXPECT_EQ(a.headerListSize, b.headerListSize);

            // Same chunks as the finished twin up to the last front-video chunk.
            size_t last = b.chunks.size();
            while (last-- > 0 && b.chunks[last].id != "00dc") {
            }
            const Chunk &lost = b.chunks[last];
            ASSERT_GE(a.chunks.size(), last + 1);
            for (size_t i = 0; i <= last; ++i) {
                EXPECT_EQ(a.chunks[i].id, b.chunks[i].id);
                EXPECT_EQ(a.chunks[i].offset, b.chunks[i].offset);
            }
            const size_t kept = lost.size / 2;
            const long dataStart = long(lost.offset) + 8;
            // Bytes before the cut match, except the header fields left at zero.
            Bytes expected(whole.begin(), whole.begin() + dataStart + long(kept));
            patchU32(expected, 4, 0);
            patchU32(expected, kTotalFramesOffset, 0);
            patchU32(expected, b.movieList + 4, 0);
            for (const auto &s : b.streams)
                patchU32(expected, s.lengthOffset, 0);
            ASSERT_GT(cut.size(), expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), cut.begin()));
            // Old bytes follow; the rest of the chunk was never written.
            EXPECT_FALSE(std::equal(whole.begin() + dataStart + long(kept), whole.begin() + dataStart + long(lost.size),
                                    cut.begin() + dataStart + long(kept)));
            EXPECT_GT(cut.size(), size_t(dataStart) + lost.size);
            // No index and no speed record.
            const std::string tail(cut.end() - 16, cut.end());
            EXPECT_EQ(tail.find("MSPD"), std::string::npos);

            // The viewer's repair finds the cut chunk and clears from there.
            std::FILE *f = std::fopen(path(plan.folder, plainName(plan, camera)).c_str(), "rb");
            ASSERT_NE(f, nullptr);
            const auto repairPlan = korvante::planRepair(f);
            std::fclose(f);
            EXPECT_TRUE(repairPlan.repairable);
            EXPECT_EQ(repairPlan.zeroFillStart, lost.offset);
            EXPECT_EQ(repairPlan.zeroFillLength, cut.size() - lost.offset);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 8);
}

} // namespace
