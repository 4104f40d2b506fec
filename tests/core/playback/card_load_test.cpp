// Card recordings opened through the catalogue: any folder name, and a device
// that stays valid while a graph reads from it across a new scan.

#include "playback_fixture.h"

#include "core/playback/card_device.h"
#include "core/playback/demux_reader.h"
#include "core/playback/stream_parse_filter.h"
#include "core/storage/recording_catalogue.h"
#include "support/log_capture.h"
#include "support/small_card.h"
#include "tavo/tavo.h"
#include "tavo/tavo_writer.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace korvante {
namespace {

// A card image whose only recording folder is called `folder`, holding one
// two-channel card-partition recording made by the sample tool.
struct RenamedCard {
    std::string image;
    std::string name;
    std::int64_t videoChunks = 0;
};

RenamedCard makeRenamedCard(const std::string &folder)
{
    RenamedCard card;
    const std::string dir = testing::tempFolder();
    const std::string made = dir + "/made.img";
    EXPECT_TRUE(testing::runMkcard({"--image", made, "--per-kind", "1", "--seconds", "3", "--size", "160x120",
                                    "--fps", "10", "--audio", "pcm", "--seed", "21"}));
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    EXPECT_EQ(VX_Tavo_Device_Open(made.c_str(), VX_TAVO_OPEN_MODE, device.data()), 0);
    const testing::CardRecord record = testing::firstCardRecord(device.data(), "NOR");
    card.name = record.name;
    std::vector<unsigned char> bytes;
    const int handle = VX_Tavo_File_Open(device.data(), ("/NOR/" + record.name).c_str(), "r", 0, 0, record.id);
    EXPECT_GE(handle, 1);
    std::vector<unsigned char> block(VX_TAVO_READ_SIZE);
    for (int n; (n = VX_Tavo_File_Read(device.data(), block.data(), VX_TAVO_READ_SIZE, handle)) > 0;)
        bytes.insert(bytes.end(), block.begin(), block.begin() + n);
    VX_Tavo_File_Close(device.data(), handle);
    VX_Tavo_Device_Close(device.data());
    testing::writeFile(dir + "/copy.avi", bytes);
    for (const auto &c : testing::movieChunks(dir + "/copy.avi"))
        card.videoChunks += c.id == "00dc";

    tavo::CardLayout layout = testing::smallCardLayout();
    layout.totalBytes = 32u << 20;
    card.image = dir + "/renamed.img";
    std::string error;
    auto writer = tavo::CardWriter::createImage(card.image, layout, &error);
    EXPECT_TRUE(writer) << error;
    EXPECT_TRUE(writer->addDirectory(folder));
    EXPECT_NE(writer->addFile(folder, card.name, 1330957353, bytes.data(), bytes.size()), 0u);
    EXPECT_TRUE(writer->finish(&error)) << error;
    return card;
}

bool selectCard(RecordingCatalogue &c, const std::string &image)
{
    StorageSource s;
    s.kind = SourceTavo;
    s.label = "/media/card/ (TAVO)";
    setText64(s.devicePath, image);
    std::vector<StorageSource> sources = c.sources();
    if (sources.empty() || sources.back().kind != SourceTavo)
        sources.push_back(s);
    c.setSources(sources);
    return c.selectSource(static_cast<int>(sources.size()) - 1);
}

// Reads every packet of the first video stream through `reader` and counts
// the frames the index accepts; -1 when a read fails.
std::int64_t framesRead(DemuxReader &reader, const StreamParseFilter &filter)
{
    const VideoStreamIndex &video = filter.index().video.front();
    reader.keepStreams({video.stream});
    if (!reader.seekToFrame(video.stream, 0)) // as a decode thread starts
        return -1;
    AVPacket *packet = av_packet_alloc();
    std::int64_t frames = 0;
    int rc = 0;
    while ((rc = reader.read(packet)) >= 0)
        frames += packet->stream_index == video.stream && video.frameAtPos(packet->pos - 8) >= 0;
    av_packet_free(&packet);
    return rc == AVERROR_EOF ? frames : -1;
}

TEST(CardLoad, RecordingInAFolderOfAnyNamePlaysAndOutlivesANewScanOfTheCard)
{
    testing::LogCapture log;
    const RenamedCard card = makeRenamedCard("DRIVE");
    ASSERT_FALSE(card.name.empty());
    ASSERT_GT(card.videoChunks, 10);

    RecordingCatalogue catalogue;
    ASSERT_TRUE(catalogue.addFolder("DRIVE"));
    ASSERT_TRUE(selectCard(catalogue, card.image));
    ASSERT_EQ(catalogue.entries().size(), 1u);
    const RecordingEntry entry = catalogue.entries().front();
    EXPECT_EQ(catalogue.cardPathOf(entry), "/DRIVE/" + card.name);

    unsigned char *const firstDevice = catalogue.cardDevice();
    auto filter = std::make_unique<StreamParseFilter>("VXStreamParseFilter");
    filter->SetSource(reinterpret_cast<std::intptr_t>(firstDevice), entry.cardFileId);
    ASSERT_EQ(filter->Load(catalogue.cardPathOf(entry)), S_OK) << filter->loadError();
    EXPECT_TRUE(filter->index().fromIdx1);
    ASSERT_EQ(static_cast<std::int64_t>(filter->index().video[0].frames.size()), card.videoChunks);
    auto reader = filter->openReader();
    ASSERT_TRUE(reader);

    // Sorting and searching scan the source again: the catalogue lets its
    // device go and opens a new one, while the playing graph still reads.
    for (int again = 0; again < 3; ++again)
        ASSERT_TRUE(selectCard(catalogue, card.image));
    EXPECT_NE(catalogue.cardDevice(), firstDevice); // the first block is still in use
    EXPECT_EQ(framesRead(*reader, *filter), card.videoChunks);
    auto later = filter->openReader(); // a seek or a restart opens another reader
    ASSERT_TRUE(later);
    EXPECT_EQ(framesRead(*later, *filter), card.videoChunks);

    // When the last reader goes, so does the device.
    EXPECT_EQ(findSharedCardDevice(firstDevice).get(), firstDevice);
    reader.reset();
    later.reset();
    filter.reset();
    EXPECT_EQ(findSharedCardDevice(firstDevice), nullptr);
    EXPECT_NE(findSharedCardDevice(catalogue.cardDevice()), nullptr);
}

} // namespace
} // namespace korvante
