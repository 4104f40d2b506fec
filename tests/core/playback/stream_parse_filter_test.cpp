#include "playback_fixture.h"

#include "core/playback/stream_parse_filter.h"
#include "tavo/tavo.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace korvante {
namespace {

using testing::movieChunks;
using testing::sampleCard;

struct Packet {
    std::int32_t time;
    std::vector<std::uint8_t> bytes;
};

// Every packet the filter hands out, until it says there is none left.
std::vector<Packet> readAllPackets(StreamParseFilter &filter)
{
    std::vector<Packet> packets;
    for (int guard = 0; guard < 100000; ++guard) {
        std::uint8_t buffer[1024] = {};
        std::int32_t length = 1024;
        std::int32_t time = -1;
        if (filter.queryMetadata()->ReadPacket(buffer, &length, &time) != S_OK)
            break;
        packets.push_back({time, std::vector<std::uint8_t>(buffer, buffer + 1024)});
    }
    return packets;
}

// The metadata chunks of a file as the bytes say: time prefix, then the packet.
std::vector<Packet> expectedPackets(const std::vector<testing::RawChunk> &chunks, const std::string &suffix)
{
    std::vector<Packet> packets;
    for (const auto &c : chunks) {
        if (c.id.compare(2, 2, suffix) != 0 || c.data.size() < 4)
            continue;
        Packet p;
        p.time = static_cast<std::int32_t>(c.data[0] | (c.data[1] << 8) | (c.data[2] << 16)
                                           | (static_cast<std::uint32_t>(c.data[3]) << 24));
        p.bytes.assign(1024, 0);
        std::copy(c.data.begin() + 4, c.data.begin() + 4 + std::min<std::ptrdiff_t>(1024, static_cast<std::ptrdiff_t>(c.data.size()) - 4),
                  p.bytes.begin());
        packets.push_back(p);
    }
    return packets;
}

size_t countChunks(const std::vector<testing::RawChunk> &chunks, const std::string &id)
{
    return static_cast<size_t>(std::count_if(chunks.begin(), chunks.end(), [&](const auto &c) { return c.id == id; }));
}

TEST(StreamParseFilter, ServesEveryMetadataPacketOnceInFileOrderWithItsOwnTime)
{
    testing::LogCapture log;
    ASSERT_FALSE(sampleCard().finished.empty());
    for (const auto &rec : sampleCard().finished) {
        StreamParseFilter filter("VXStreamParseFilter");
        EXPECT_EQ(filter.SetMode(0), S_OK);
        EXPECT_EQ(filter.SetSource(0, -1), S_OK);
        ASSERT_EQ(filter.Load(rec.front), S_OK) << rec.front;
        const auto chunks = movieChunks(rec.front);
        const auto expected = expectedPackets(chunks, "tx");
        ASSERT_GT(expected.size(), 40u);
        const auto got = readAllPackets(filter);
        ASSERT_EQ(got.size(), expected.size()) << rec.front;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].time, expected[i].time) << i;
            EXPECT_EQ(got[i].bytes, expected[i].bytes) << i;
        }
        // The camera's private records come first, with time 0.
        EXPECT_EQ(std::memcmp(got[0].bytes.data(), "QXMS", 4), 0);
        // Exhausted: no packet is handed out twice.
        std::uint8_t buffer[1024] = {};
        std::int32_t length = 1024, time = 0;
        EXPECT_NE(filter.ReadPacket(buffer, &length, &time), S_OK);
        // A new load starts the track again.
        ASSERT_EQ(filter.Load(rec.front), S_OK);
        EXPECT_EQ(readAllPackets(filter).size(), expected.size());

        // The index: one frame per video chunk, a key frame first, and the
        // recording's length from the frame count.
        const RecordingIndex &index = filter.index();
        ASSERT_EQ(index.video.size(), 1u);
        EXPECT_EQ(index.video[0].frames.size(), countChunks(chunks, "00dc"));
        EXPECT_EQ(index.audio.packets.size(), countChunks(chunks, "01wb"));
        EXPECT_TRUE(index.video[0].frames[0].key);
        EXPECT_EQ(index.duration(), 40'000'000);
        EXPECT_FALSE(index.truncated);
    }
}

TEST(StreamParseFilter, PinsNameVideoAndAudioAndTheRearFileHasNoMetadata)
{
    testing::LogCapture log;
    const auto &rec = sampleCard().finished.front();
    StreamParseFilter front("VXStreamParseFilter");
    ASSERT_EQ(front.Load(rec.front), S_OK);
    const auto pins = front.pins();
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(pins[0].name, "Video");
    EXPECT_EQ(pins[1].name, "Audio");
    EXPECT_FALSE(pins[1].pcm);

    StreamParseFilter rear("VXStreamParseFilter2");
    ASSERT_EQ(rear.Load(rec.rear), S_OK);
    EXPECT_EQ(rear.pins().size(), 1u);
    std::uint8_t buffer[1024] = {};
    std::int32_t length = 1024, time = 0;
    EXPECT_NE(rear.ReadPacket(buffer, &length, &time), S_OK);
}

TEST(StreamParseFilter, UnfinishedRecordingDropsTheCutOffChunkAndIgnoresWhatFollows)
{
    testing::LogCapture log;
    ASSERT_FALSE(sampleCard().unfinished.empty());
    for (const auto &rec : sampleCard().unfinished) {
        for (const auto &path : {rec.front, rec.rear}) {
            StreamParseFilter filter("VXStreamParseFilter");
            ASSERT_EQ(filter.Load(path), S_OK) << path;
            const auto chunks = movieChunks(path);
            EXPECT_TRUE(filter.index().truncated);
            EXPECT_EQ(filter.index().video[0].frames.size(), countChunks(chunks, "00dc")) << path;
            const auto expected = expectedPackets(chunks, "tx");
            const auto got = readAllPackets(filter);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i)
                EXPECT_EQ(got[i].bytes, expected[i].bytes);
        }
    }
}

TEST(StreamParseFilter, CardRecordingIsReadThroughTheCardLibrary)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    const std::string image = dir + "/card.img";
    ASSERT_TRUE(testing::runMkcard({"--image", image, "--per-kind", "1", "--seconds", "2", "--size", "160x120",
                                    "--fps", "10", "--audio", "pcm", "--channels", "2", "--seed", "5"}));
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    ASSERT_EQ(VX_Tavo_Device_Open(image.c_str(), VX_TAVO_OPEN_MODE, device.data()), 0);
    const testing::CardRecord record = testing::firstCardRecord(device.data(), "NOR");
    ASSERT_FALSE(record.name.empty());
    const std::string name = record.name;
    const std::int32_t id = record.id;

    // The same recording's bytes, read sequentially through the library.
    const int handle = VX_Tavo_File_Open(device.data(), ("/NOR/" + name).c_str(), "r", 0, 0, id);
    ASSERT_GE(handle, 1);
    std::vector<std::uint8_t> bytes;
    std::vector<unsigned char> block(VX_TAVO_READ_SIZE);
    for (int n; (n = VX_Tavo_File_Read(device.data(), block.data(), VX_TAVO_READ_SIZE, handle)) > 0;)
        bytes.insert(bytes.end(), block.begin(), block.begin() + n);
    VX_Tavo_File_Close(device.data(), handle);
    testing::writeFile(dir + "/copy.avi", bytes);
    const auto chunks = movieChunks(dir + "/copy.avi");

    {
        const std::string path = "/NOR/" + name;
        StreamParseFilter filter("VXStreamParseFilter");
        filter.SetMode(0);
        filter.SetSource(reinterpret_cast<std::intptr_t>(device.data()), id);
        ASSERT_EQ(filter.Load(path), S_OK) << path;
        // Front and rear video, sound, metadata in one file.
        ASSERT_EQ(filter.index().video.size(), 2u);
        EXPECT_EQ(filter.index().video[0].frames.size(), countChunks(chunks, "00dc"));
        EXPECT_EQ(filter.index().video[1].frames.size(), countChunks(chunks, "01dc"));
        EXPECT_TRUE(filter.pins().back().pcm);
        const auto expected = expectedPackets(chunks, "tx");
        const auto got = readAllPackets(filter);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].bytes, expected[i].bytes);
    }
    // A wrong identifier, or a bare name without its folder, is not a
    // readable recording: the folder is never guessed.
    StreamParseFilter wrong("VXStreamParseFilter");
    wrong.SetSource(reinterpret_cast<std::intptr_t>(device.data()), id + 1000);
    EXPECT_EQ(wrong.Load("/NOR/" + name), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(wrong.loadError(), "cannot be read");
    wrong.SetSource(reinterpret_cast<std::intptr_t>(device.data()), id);
    EXPECT_EQ(wrong.Load(name), VFW_E_INVALID_FILE_FORMAT);
    VX_Tavo_Device_Close(device.data());
}

} // namespace
} // namespace korvante
