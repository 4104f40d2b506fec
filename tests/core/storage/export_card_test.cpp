// Export of the recordings of sample card images: every output decodes with
// ffmpeg, finished recordings keep their bytes but for the private records,
// unfinished ones get an index that an independent walk accepts.

#include "avi_check.h"
#include "catalogue_fixture.h"
#include "core/storage/export_entry.h"
#include "mkcard/make_card.h"
#include "support/log_capture.h"
#include "tavo/tavo.h"

#include <gtest/gtest.h>

#include <cmath>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

constexpr int kFps = 30;
constexpr int kSeconds = 2;

// The card library's view of a card file, read independently of the export.
Bytes readCardFile(unsigned char *device, const std::string &path, int id)
{
    Bytes bytes;
    const int handle = VX_Tavo_File_Open(device, path.c_str(), "r", 0, 0, id);
    if (handle < 1)
        return bytes;
    std::vector<unsigned char> block(VX_TAVO_READ_SIZE);
    for (int n; (n = VX_Tavo_File_Read(device, block.data(), VX_TAVO_READ_SIZE, handle)) > 0;)
        bytes.insert(bytes.end(), block.begin(), block.begin() + n);
    VX_Tavo_File_Close(device, handle);
    return bytes;
}

struct CardCase {
    const char *what;
    std::vector<std::string> options; // for korvante-mkcard
    int videoStreams;
};

void PrintTo(const CardCase &c, std::ostream *os) { *os << c.what; }

class ExportCardTest : public ::testing::TestWithParam<CardCase> {
protected:
    void SetUp() override
    {
        const fs::path image = dir.path() / "card.img";
        std::vector<std::string> args = {"--image", image.string(), "--per-kind", "2", "--unfinished", "1",
                                         "--size", "320x240", "--seconds", std::to_string(kSeconds)};
        args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
        ASSERT_EQ(makeCard(args), 0);
        configureCameraFolders(catalogue);
        StorageSource s;
        s.kind = SourceTavo;
        setText64(s.devicePath, image.string());
        catalogue.setSources({s});
        ASSERT_TRUE(catalogue.selectSource(0));
        ASSERT_EQ(catalogue.listAllWithoutRepair(rows), 8);
        fs::create_directories(out);
    }

    TempDir dir;
    LogCapture log;
    RecordingCatalogue catalogue;
    RowsView rows;
    fs::path out = dir.path() / "out";
};

TEST_P(ExportCardTest, EveryRecordingDecodesWithItsFramesAndKeepsItsBytes)
{
    int finished = 0, unfinished = 0;
    for (int row = 0; row < catalogue.shownCount(); ++row) {
        const RecordingEntry &entry = *catalogue.shownEntryAt(row);
        SCOPED_TRACE(entry.name);
        const Bytes original = readCardFile(catalogue.cardDevice(), catalogue.cardPathOf(entry), entry.cardFileId);
        const EntryExportResult r = exportEntry(catalogue, row, out.string());
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_EQ(r.outputPath, (out / (entry.name.substr(0, entry.name.size() - 5) + ".avi")).string());
        const Bytes exported = readAll(r.outputPath);
        const auto records = privateRecords(original);
        ASSERT_EQ(records.size(), 2u); // QXMS and QXDJ
        EXPECT_TRUE(privateRecords(exported).empty());

        const AviLayout avi = walkAvi(exported);
        ASSERT_EQ(avi.problem, "");
        EXPECT_EQ(decodeErrors(r.outputPath), "");
        const bool wasFinished = getLe32(original, 4) != 0;
        if (wasFinished) {
            ++finished;
            EXPECT_EQ(r.result.outcome, ExportOutcome::Copied);
            ASSERT_EQ(exported.size(), original.size());
            EXPECT_EQ(compareExceptBlanked(original, exported, 0, original.size(), records), "");
        } else {
            ++unfinished;
            EXPECT_EQ(r.result.outcome, ExportOutcome::Rebuilt);
            // The power cut takes the last front picture and what follows it.
            EXPECT_EQ(avi.indexCounts.at("00dc"), static_cast<uint32_t>(kFps * kSeconds - 1));
            EXPECT_EQ(compareExceptBlanked(original, exported, avi.moviId + 4, avi.moviEnd, records), "");
        }
        // Header lengths, the index and the decoder agree on every stream.
        uint32_t videoChunks = 0;
        EXPECT_EQ(std::count(avi.types.begin(), avi.types.end(), "vids"), GetParam().videoStreams);
        const auto probed = probeStreams(r.outputPath);
        ASSERT_EQ(probed.size(), avi.types.size());
        for (size_t s = 0; s < avi.types.size(); ++s) {
            SCOPED_TRACE(avi.types[s]);
            const char *suffix = avi.types[s] == "vids" ? "dc" : avi.types[s] == "auds" ? "wb" : "tx";
            const std::string id = "0" + std::to_string(s) + suffix;
            const uint32_t chunks = avi.indexCounts.count(id) ? avi.indexCounts.at(id) : 0;
            if (avi.types[s] == "vids") {
                videoChunks += chunks;
                EXPECT_EQ(avi.lengths[s], chunks);
                EXPECT_EQ(probed[s].frames, static_cast<long>(chunks));
                EXPECT_NEAR(probed[s].duration, chunks * 1000.0 / avi.rates[s], 0.002);
                EXPECT_NEAR(probed[s].duration, kSeconds, 0.1);
            } else if (avi.types[s] == "auds") {
                EXPECT_GT(probed[s].frames, 0);
                // PCM counts 16 kHz samples, which ffprobe gives no duration for.
                const double seconds = probed[s].duration >= 0 ? probed[s].duration : avi.lengths[s] / 16000.0;
                EXPECT_NEAR(seconds, kSeconds, 0.15);
            } else {
                EXPECT_EQ(avi.lengths[s], chunks);
            }
        }
        EXPECT_EQ(avi.totalFrames, videoChunks);
    }
    EXPECT_EQ(finished, 4);
    EXPECT_EQ(unfinished, 4);
}

TEST_P(ExportCardTest, BlockBoundariesDoNotChangeTheOutput)
{
    for (int row : {0, 1}) { // the first kind's finished and unfinished recording
        const RecordingEntry &entry = *catalogue.shownEntryAt(row);
        const Bytes original = readCardFile(catalogue.cardDevice(), catalogue.cardPathOf(entry), entry.cardFileId);
        MemoryExportWriter whole;
        ASSERT_TRUE(exportRecordingBytes(original, whole).ok());
        for (size_t block : {1u, 2u, 3u, 7u, 61u, 4096u}) {
            MemoryExportWriter pieces;
            const ExportResult r = exportRecordingBytes(original, pieces, nullptr, block);
            EXPECT_TRUE(r.ok()) << block;
            EXPECT_EQ(r.blankedRecords, 2u) << block;
            EXPECT_TRUE(pieces.bytes == whole.bytes) << entry.name << " in blocks of " << block;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cards, ExportCardTest,
                         ::testing::Values(CardCase{"TwoChannelsAac", {"--audio", "aac"}, 2},
                                           CardCase{"OneChannelPcm", {"--audio", "pcm", "--channels", "1"}, 1}),
                         [](const auto &info) { return std::string(info.param.what); });

} // namespace
} // namespace korvante
