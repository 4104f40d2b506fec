// The tool's output checked with independent programs (ffprobe, ffmpeg,
// fsck.vfat, mtools) and through the card library, and its determinism.

#include "core/storage/recording_repair.h"
#include "mkcard/card_output.h"
#include "mkcard/recording.h"
#include "mkcard_test_support.h"
#include "tavo/tavo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

using namespace mkcard;
using namespace mkcard::test;
namespace fs = std::filesystem;

struct Probe {
    int streams = 0;
    std::vector<std::string> codecs;
    std::vector<long> frames;       // frames read per stream (-1 when not counted)
    std::vector<double> durations;  // per stream, -1 when not known
    std::vector<long> lengths;      // per stream, from the stream header
    double duration = -1;           // of the file
};

// ffprobe with counted frames, in a fixed "key=value" form.
Probe probe(const std::string &file)
{
    const auto r = runCommand("ffprobe -v error -count_frames -show_entries "
                              "stream=codec_name,nb_read_frames,nb_frames,duration:format=duration,nb_streams "
                              "-of default=nw=1 " +
                              quote(file));
    Probe p;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name") {
            p.codecs.push_back(value);
        } else if (key == "nb_read_frames") {
            p.frames.push_back(value == "N/A" ? -1 : std::atol(value.c_str()));
        } else if (key == "nb_frames") {
            p.lengths.push_back(value == "N/A" ? -1 : std::atol(value.c_str()));
        } else if (key == "duration") {
            if (p.durations.size() < p.codecs.size())
                p.durations.push_back(value == "N/A" ? -1 : std::atof(value.c_str()));
            else
                p.duration = std::atof(value.c_str());
        } else if (key == "nb_streams") {
            p.streams = std::atoi(value.c_str());
        }
    }
    return p;
}

std::string decodeErrors(const std::string &file)
{
    const auto r = runCommand("ffmpeg -nostdin -v error -i " + quote(file) + " -f null -");
    return r.exitCode == 0 ? r.errors : "exit " + std::to_string(r.exitCode) + ": " + r.errors;
}

void expectCleanRecording(const std::string &file, const std::vector<std::string> &codecs, long frames,
                          double seconds)
{
    SCOPED_TRACE(file);
    const Probe p = probe(file);
    EXPECT_EQ(p.streams, static_cast<int>(codecs.size()));
    EXPECT_EQ(p.codecs, codecs);
    for (size_t i = 0; i < codecs.size(); ++i) {
        if (codecs[i] == "h264") {
            EXPECT_EQ(p.frames[i], frames);
            EXPECT_DOUBLE_EQ(p.durations[i], seconds);
        } else if (codecs[i] == "pcm_s16le") {
            EXPECT_EQ(p.lengths[i], std::lround(seconds * 16000)); // samples; no duration is reported
        } else if (codecs[i] != "unknown") {
            EXPECT_NEAR(p.durations[i], seconds, 0.065); // whole AAC frames
            EXPECT_LE(p.durations[i], seconds);
        }
    }
    EXPECT_DOUBLE_EQ(p.duration, seconds);
    EXPECT_EQ(decodeErrors(file), "");
}

// Every file of every recording directory of a card image, read through the
// card library.
std::map<std::string, Bytes> readCard(const std::string &image, std::map<std::string, int64_t> *times = nullptr)
{
    std::map<std::string, Bytes> files;
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    if (VX_Tavo_Device_Open(image.c_str(), VX_TAVO_OPEN_MODE, device.data()) != 0) {
        ADD_FAILURE() << "card image does not open";
        return files;
    }
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE);
    for (const char *dir : kRecordingFolders) {
        uint32_t cursor = 1;
        for (;;) {
            std::fill(list.begin(), list.end(), 0);
            list[0] = VX_TAVO_LIST_CAPACITY;
            const int n = VX_Tavo_Get_FileList(device.data(), dir, &cursor, list.data(), 0);
            if (n <= 0)
                break;
            for (int i = 0; i < n; ++i) {
                const unsigned char *record = &list[VX_TAVO_LIST_HEADER_SIZE + size_t(i) * VX_TAVO_LIST_RECORD_SIZE];
                const std::string name(reinterpret_cast<const char *>(record));
                const int id = static_cast<int>(readU32({record, VX_TAVO_LIST_RECORD_SIZE}, VX_TAVO_RECORD_ID_OFFSET));
                const std::string cardPath = std::string("/") + dir + "/" + name;
                const int handle = VX_Tavo_File_Open(device.data(), cardPath.c_str(), "r", 0, 0, id);
                EXPECT_GT(handle, 0) << cardPath;
                Bytes data;
                std::vector<unsigned char> block(1 << 20);
                for (int got; (got = VX_Tavo_File_Read(device.data(), block.data(), int(block.size()), handle)) > 0;)
                    data.insert(data.end(), block.begin(), block.begin() + got);
                VX_Tavo_File_Close(device.data(), handle);
                files[std::string(dir) + "/" + name] = std::move(data);
                if (times)
                    (*times)[std::string(dir) + "/" + name] = static_cast<int32_t>(
                        readU32({record, VX_TAVO_LIST_RECORD_SIZE}, VX_TAVO_RECORD_TIME_OFFSET));
            }
        }
    }
    VX_Tavo_Device_Close(device.data());
    return files;
}

class CardTools : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sampleCards().ok) << sampleCards().failure; }
};

TEST_F(CardTools, FfprobeAndFfmpegReadEveryFinishedPlainRecording)
{
    for (const auto &plan : planRecordings(sampleCards().settings)) {
        if (plan.unfinished)
            continue;
        const std::string dir = sampleCards().folder + "/" + plan.folder + "/";
        expectCleanRecording(dir + plainName(plan, 'F'), {"h264", "aac", "unknown"}, 60, 2.0);
        expectCleanRecording(dir + plainName(plan, 'R'), {"h264"}, 60, 2.0);
    }
}

// Power cut: the viewer's repair turns the file back into one that plays, one
// picture short.
TEST_F(CardTools, RepairedUnfinishedRecordingsPlayCleanly)
{
    int repaired = 0;
    for (const auto &plan : planRecordings(sampleCards().settings)) {
        if (!plan.unfinished)
            continue;
        const std::string copy = sampleCards().root + "/repair-" + plainName(plan, 'F');
        fs::copy_file(sampleCards().folder + "/" + plan.folder + "/" + plainName(plan, 'F'), copy,
                      fs::copy_options::overwrite_existing);
        EXPECT_NE(decodeErrors(copy), ""); // the cut picture and the old bytes do not decode
        std::FILE *f = std::fopen(copy.c_str(), "rb+");
        ASSERT_NE(f, nullptr);
        bool writeFailed = false;
        EXPECT_TRUE(korvante::repair(f, &writeFailed).repairable);
        std::fclose(f);
        EXPECT_FALSE(writeFailed);
        const Probe p = probe(copy);
        ASSERT_EQ(p.frames.size(), 3u);
        EXPECT_EQ(p.frames[0], 59);
        EXPECT_EQ(decodeErrors(copy), "");
        fs::remove(copy);
        ++repaired;
    }
    EXPECT_EQ(repaired, 4);
}

TEST_F(CardTools, CardImageReadsBackThroughTheLibraryByteForByte)
{
    std::map<std::string, int64_t> times;
    const auto files = readCard(sampleCards().image, &times);
    const auto plans = planRecordings(sampleCards().settings);
    ASSERT_EQ(files.size(), plans.size());
    // Inside the cards' folder, which goes when the test program ends.
    const std::string dir = sampleCards().root + "/export";
    fs::create_directories(dir);
    for (const auto &plan : plans) {
        const std::string key = plan.folder + "/" + cardName(plan);
        SCOPED_TRACE(key);
        ASSERT_TRUE(files.count(key));
        EXPECT_EQ(times[key], unixTimeOf(plan.startLocal));
        // The same recording built again through the tool's library.
        RecordingMedia media;
        std::string error;
        ASSERT_TRUE(produceMedia(plan, sampleCards().settings, media, &error)) << error;
        const Bytes expected = buildCardFile(plan, sampleCards().settings, media);
        const Bytes &read = files.at(key);
        ASSERT_EQ(read.size(), expected.size());
        EXPECT_TRUE(read == expected);
        // It is the same recording as the plain front and rear files.

        AviLayout card, front, rear;
        const Bytes frontFile = readFile(sampleCards().folder + "/" + plan.folder + "/" + plainName(plan, 'F'));
        const Bytes rearFile = readFile(sampleCards().folder + "/" + plan.folder + "/" + plainName(plan, 'R'));
        ASSERT_TRUE(parseAvi(read, card));
        ASSERT_TRUE(parseAvi(frontFile, front));
        ASSERT_TRUE(parseAvi(rearFile, rear));
        auto payloads = [](const AviLayout &a, const std::string &id) {
            std::vector<Bytes> out;
            for (const auto &c : a.chunks)
                if (c.id == id)
                    out.emplace_back(c.data.begin(), c.data.end());
            return out;
        };
        EXPECT_TRUE(buildFrontFile(plan, sampleCards().settings, media) == frontFile);
        EXPECT_TRUE(buildRearFile(plan, sampleCards().settings, media) == rearFile);
        ASSERT_EQ(card.streams.size(), 4u);
        if (plan.unfinished) {
            // Cut at its own last front-video chunk, like the plain files.
            EXPECT_EQ(card.riffSize, 0u);
            EXPECT_EQ(card.chunks[card.chunks.size() - 1].id, "00dc");
            continue;
        }
        EXPECT_EQ(card.streams[1].type, "vids");
        EXPECT_TRUE(payloads(card, "00dc") == payloads(front, "00dc"));
        EXPECT_TRUE(payloads(card, "01dc") == payloads(rear, "00dc"));
        EXPECT_TRUE(payloads(card, "02wb") == payloads(front, "01wb"));
        EXPECT_TRUE(payloads(card, "03tx") == payloads(front, "02tx"));
        EXPECT_EQ(card.totalFrames, 120u); // both video streams
        // Copied out of the card, the file plays with both channels.
        const std::string copy = dir + "/" + cardName(plan) + ".avi";
        std::FILE *f = std::fopen(copy.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(read.data(), 1, read.size(), f);
        std::fclose(f);
        expectCleanRecording(copy, {"h264", "h264", "aac", "unknown"}, 60, 2.0);
    }
    fs::remove_all(dir);
}

TEST_F(CardTools, FatPartitionPassesFsckAndHoldsTheSettingsFile)
{
    const Bytes image = readFile(sampleCards().image);
    ASSERT_GE(image.size(), 512u);
    // MBR: FAT32 (0x0C) first, the card partition (0x7A) second.
    EXPECT_EQ(image[510], 0x55);
    EXPECT_EQ(image[511], 0xAA);
    EXPECT_EQ(image[446 + 4], 0x0C);
    EXPECT_EQ(image[462 + 4], 0x7A);
    const uint64_t fatStart = uint64_t{readU32(image, 446 + 8)} * 512;
    const uint64_t fatBytes = uint64_t{readU32(image, 446 + 12)} * 512;
    ASSERT_LE(fatStart + fatBytes, image.size());

    const std::string part = sampleCards().root + "/fat.part";
    std::FILE *f = std::fopen(part.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(image.data() + fatStart, 1, fatBytes, f);
    std::fclose(f);
    const auto fsck = runCommand(quote(findProgram("fsck.vfat")) + " -n " + quote(part));
    EXPECT_EQ(fsck.exitCode, 0) << fsck.output << fsck.errors;
    // The boot sector records where the partition starts.
    EXPECT_EQ(readU32(image, fatStart + 28), fatStart / 512);

    const auto type = runCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + quote(part) + " ::/SETUP/setup.ini");
    EXPECT_EQ(type.exitCode, 0) << type.errors;
    EXPECT_EQ(type.output, setupIniText());
    const auto dir = runCommand("MTOOLS_SKIP_CHECK=1 TZ=UTC mdir -i " + quote(part) + " ::/SETUP");
    EXPECT_NE(dir.output.find("2012-03-05  14:22"), std::string::npos) << dir.output;
    fs::remove(part);
}

// The same options give the same bytes, whatever the machine's time zone.
TEST_F(CardTools, SameOptionsSameBytes)
{
    const std::string root = sampleCards().root + "/again";
    const auto r = runCommand("TZ=America/New_York " + quote(toolPath()) + " --folder " + quote(root + "/card") +
                              " --image " + quote(root + "/card.img") +
                              " --unfinished 1 --size 320x240 --seconds 2 --per-kind 2 --seed 7");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_TRUE(readFile(root + "/card.img") == readFile(sampleCards().image));
    size_t compared = 0;
    for (const auto &entry : fs::recursive_directory_iterator(sampleCards().folder)) {
        if (!entry.is_regular_file())
            continue;
        const auto relative = fs::relative(entry.path(), sampleCards().folder);
        EXPECT_TRUE(readFile(entry.path().string()) == readFile((fs::path(root) / "card" / relative).string()))
            << relative;
        ++compared;
    }
    EXPECT_EQ(compared, 8u * 2 + 1);
    // Another seed gives another drive.
    const auto other = runCommand(quote(toolPath()) + " --folder " + quote(root + "/other") +
                                  " --size 320x240 --seconds 2 --per-kind 1 --seed 8");
    ASSERT_EQ(other.exitCode, 0) << other.errors;
    const auto plan = planRecordings(sampleCards().settings).front();
    EXPECT_FALSE(readFile(root + "/other/NOR/" + plainName(plan, 'F')) ==
                 readFile(sampleCards().folder + "/NOR/" + plainName(plan, 'F')));
    fs::remove_all(root);
}

// One channel, PCM sound or none: the stream layout follows.
TEST_F(CardTools, ChannelAndSoundVariants)
{
    const std::string root = sampleCards().root + "/variants";
    const std::string common = " --size 320x240 --seconds 1.5 --fps 20 --per-kind 1";
    ASSERT_EQ(runCommand(quote(toolPath()) + " --folder " + quote(root + "/pcm") + " --channels 1 --audio pcm" +
                         common).exitCode,
              0);
    ASSERT_EQ(runCommand(quote(toolPath()) + " --folder " + quote(root + "/mute") + " --image " +
                         quote(root + "/mute.img") + " --audio none" + common).exitCode,
              0);
    const auto pcmNames = listFiles(root + "/pcm/NOR");
    ASSERT_EQ(pcmNames.size(), 1u);
    EXPECT_NE(pcmNames[0].find("_1CH_F.avi"), std::string::npos);
    expectCleanRecording(root + "/pcm/NOR/" + pcmNames[0], {"h264", "pcm_s16le", "unknown"}, 30, 1.5);

    const auto muteNames = listFiles(root + "/mute/EVT");
    ASSERT_EQ(muteNames.size(), 2u);
    expectCleanRecording(root + "/mute/EVT/" + muteNames[0], {"h264", "unknown"}, 30, 1.5);
    AviLayout avi;
    ASSERT_TRUE(parseAvi(readFile(root + "/mute/EVT/" + muteNames[0]), avi));
    EXPECT_EQ(avi.chunks.front().id, "01tx");
    const auto card = readCard(root + "/mute.img");
    ASSERT_EQ(card.size(), 4u);
    ASSERT_TRUE(parseAvi(card.begin()->second, avi));
    EXPECT_EQ(avi.chunks.front().id, "02tx");
    fs::remove_all(root);
}

} // namespace
