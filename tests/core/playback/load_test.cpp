// Loading recordings: from the idx1 index or by walking the chunks, the bytes
// a load reads, cancelling, and every kind of file that is not a good
// recording.

#include "playback_fixture.h"

#include "core/playback/demux_reader.h"
#include "core/playback/stream_parse_filter.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

namespace korvante {
namespace {

using testing::sampleCard;

// Counts the bytes every source opened while it lives reads, and can set a
// cancel flag once a number of bytes has been read.
class ReadCounter final {
public:
    explicit ReadCounter(std::int64_t cancelAfter = -1) : m_cancelAfter(cancelAfter)
    {
        setByteSourceWrapper([this](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
            return std::make_unique<Counted>(std::move(inner), *this);
        });
    }
    ~ReadCounter() { setByteSourceWrapper({}); }
    ReadCounter(const ReadCounter &) = delete;
    ReadCounter &operator=(const ReadCounter &) = delete;

    std::int64_t bytes() const { return m_bytes.load(); }
    std::atomic<bool> cancel{false};

private:
    class Counted final : public ByteSource {
    public:
        Counted(std::unique_ptr<ByteSource> inner, ReadCounter &owner) : m_inner(std::move(inner)), m_owner(owner) {}
        std::int64_t size() const override { return m_inner->size(); }
        std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
        {
            const std::int64_t n = m_inner->readAt(offset, buffer, length);
            if (n > 0) {
                const std::int64_t total = m_owner.m_bytes += n;
                if (m_owner.m_cancelAfter >= 0 && total >= m_owner.m_cancelAfter)
                    m_owner.cancel = true;
            }
            return n;
        }

    private:
        std::unique_ptr<ByteSource> m_inner;
        ReadCounter &m_owner;
    };
    std::atomic<std::int64_t> m_bytes{0};
    std::int64_t m_cancelAfter;
};

std::vector<MetadataRecord> allPackets(StreamParseFilter &filter)
{
    std::vector<MetadataRecord> packets;
    for (int guard = 0; guard < 100000; ++guard) {
        std::uint8_t buffer[1024] = {};
        std::int32_t length = 1024, time = 0;
        if (filter.ReadPacket(buffer, &length, &time) != S_OK)
            break;
        packets.push_back({time, std::vector<std::uint8_t>(buffer, buffer + 1024)});
    }
    return packets;
}

// The metadata chunks straight from the bytes, padded as ReadPacket hands them out.
std::vector<MetadataRecord> packetsInFile(const std::string &path)
{
    std::vector<MetadataRecord> packets;
    for (const auto &c : testing::movieChunks(path)) {
        if (c.id.compare(2, 2, "tx") != 0 || c.data.size() < 4)
            continue;
        MetadataRecord r;
        std::memcpy(&r.time, c.data.data(), 4);
        r.bytes.assign(1024, 0);
        std::copy(c.data.begin() + 4, c.data.begin() + std::min<std::ptrdiff_t>(1028, static_cast<std::ptrdiff_t>(c.data.size())),
                  r.bytes.begin());
        packets.push_back(r);
    }
    return packets;
}

RecordingIndex indexOf(const std::string &path, bool useIdx1)
{
    std::string why;
    auto reader = DemuxReader::open(openFileSource(path), &why);
    EXPECT_TRUE(reader) << why;
    RecordingIndex index;
    if (!reader)
        return index;
    IndexOptions options;
    options.useIdx1 = useIdx1;
    EXPECT_EQ(buildRecordingIndex(*reader, index, options, &why), LoadFailure::None) << path << ": " << why;
    return index;
}

// Plays the loaded recording as a decode thread reads it: the video packets
// of the first stream that the index accepts, in file order.
std::int64_t framesAReaderDelivers(const StreamParseFilter &filter)
{
    auto reader = filter.openReader();
    if (!reader)
        return -1;
    const VideoStreamIndex &video = filter.index().video.front();
    reader->keepStreams({video.stream});
    EXPECT_TRUE(reader->seekToFrame(video.stream, 0)); // as a decode thread starts
    AVPacket *packet = av_packet_alloc();
    std::int64_t next = 0;
    while (reader->read(packet) >= 0) {
        const std::int64_t frame = video.frameAtPos(packet->pos - 8);
        if (packet->stream_index == video.stream && packet->pos - 8 < filter.index().endPos && frame >= 0) {
            EXPECT_EQ(frame, next) << "frames out of order";
            next = frame + 1;
        }
    }
    av_packet_free(&packet);
    return next;
}

void putLe32(std::vector<std::uint8_t> &b, std::int64_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[static_cast<size_t>(at + i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t le32At(const std::vector<std::uint8_t> &b, std::int64_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// A long recording made quickly: the movie list of a finished sample file
// `times` over, with an index to match (finished) or with the sizes of an
// unfinished one and no index.
std::string repeatedRecording(const std::string &dir, int times, bool finished)
{
    const std::string source = sampleCard().finished.front().front;
    const auto bytes = testing::readFile(source);
    const auto chunks = testing::movieChunks(source);
    const std::int64_t first = chunks.front().offset;
    const std::int64_t moviId = first - 4;
    const auto &last = chunks.back();
    const std::int64_t bodyEnd = last.offset + 8 + static_cast<std::int64_t>(last.data.size()) + (last.data.size() & 1);
    const std::int64_t span = bodyEnd - first;
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + first);
    for (int k = 0; k < times; ++k)
        out.insert(out.end(), bytes.begin() + first, bytes.begin() + bodyEnd);
    if (finished) {
        putLe32(out, moviId - 4, static_cast<std::uint32_t>(out.size() - moviId));
        const auto idx1 = std::search(bytes.begin() + bodyEnd, bytes.end(), std::begin("idx1"), std::end("idx1") - 1);
        EXPECT_NE(idx1, bytes.end());
        const std::int64_t at = idx1 - bytes.begin();
        const std::uint32_t size = le32At(bytes, at + 4);
        const size_t indexStart = out.size();
        out.insert(out.end(), {'i', 'd', 'x', '1', 0, 0, 0, 0});
        for (int k = 0; k < times; ++k) {
            for (std::uint32_t e = 0; e < size; e += 16) {
                std::vector<std::uint8_t> entry(bytes.begin() + at + 8 + e, bytes.begin() + at + 24 + e);
                putLe32(entry, 8, le32At(entry, 8) + static_cast<std::uint32_t>(k * span));
                out.insert(out.end(), entry.begin(), entry.end());
            }
        }
        putLe32(out, static_cast<std::int64_t>(indexStart) + 4, static_cast<std::uint32_t>(out.size() - indexStart - 8));
        putLe32(out, 4, static_cast<std::uint32_t>(out.size() - 8));
    } else {
        putLe32(out, 4, 0);
        putLe32(out, moviId - 4, 0);
    }
    const std::string path = dir + (finished ? "/long.avi" : "/long-unfinished.avi");
    testing::writeFile(path, out);
    return path;
}

TEST(RecordingLoad, MetadataIsHeldWithinTheRecordingsSizeAndABoundCompactly)
{
    // A track far larger than its recording may hold: what is kept costs no
    // more than the budget, every packet kept reads back as it was stored
    // (at most its first kMaxBytes bytes), and the rest is counted.
    MetadataPackets packets;
    const std::uint64_t budget = 1'000'000;
    packets.setBudget(budget);
    std::vector<std::uint8_t> packet(3000);
    size_t offered = 0;
    for (; offered < 20'000; ++offered) {
        const size_t length = offered % 7 == 0 ? packet.size() : 60 + offered % 50;
        for (size_t b = 0; b < length; ++b)
            packet[b] = static_cast<std::uint8_t>(offered + b);
        packets.add(static_cast<std::int32_t>(offered), packet.data(), length);
    }
    ASSERT_GT(packets.size(), 1000u);
    EXPECT_LE(packets.cost(), budget);
    EXPECT_EQ(packets.size() + packets.dropped(), offered);
    for (size_t i = 0; i < packets.size(); ++i) {
        const MetadataRecord r = packets[i];
        ASSERT_EQ(r.time, static_cast<std::int32_t>(i));
        ASSERT_EQ(r.bytes.size(), std::min<size_t>(i % 7 == 0 ? packet.size() : 60 + i % 50, MetadataPackets::kMaxBytes));
        for (size_t b = 0; b < r.bytes.size(); ++b)
            ASSERT_EQ(r.bytes[b], static_cast<std::uint8_t>(i + b)) << i;
    }
    // Without a budget the count alone bounds it.
    MetadataPackets unbounded;
    for (size_t i = 0; i < MetadataPackets::kMaxPackets + 10; ++i)
        unbounded.add(0, packet.data(), 8);
    EXPECT_EQ(unbounded.size(), MetadataPackets::kMaxPackets);
    EXPECT_EQ(unbounded.dropped(), 10u);
}

TEST(RecordingLoad, IndexAndChunkWalkAgreeOnEveryFinishedRecordingAndWithTheDemuxer)
{
    testing::LogCapture log;
    // Plain front files (AAC), rear files (video only) and a card-partition
    // file with PCM sound and two video streams, copied out of its card.
    std::vector<std::string> files;
    for (const auto &rec : sampleCard().finished) {
        files.push_back(rec.front);
        files.push_back(rec.rear);
    }
    const std::string dir = testing::tempFolder();
    ASSERT_TRUE(testing::runMkcard({"--folder", dir + "/pcm", "--per-kind", "1", "--seconds", "3", "--size",
                                    "160x120", "--audio", "pcm", "--seed", "3"}));
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir + "/pcm"))
        if (e.path().string().ends_with("_F.avi"))
            files.push_back(e.path().string());

    for (const auto &path : files) {
        SCOPED_TRACE(path);
        const RecordingIndex fromIndex = indexOf(path, true);
        const RecordingIndex walked = indexOf(path, false);
        EXPECT_TRUE(fromIndex.fromIdx1);
        EXPECT_FALSE(walked.fromIdx1);
        ASSERT_EQ(fromIndex.video.size(), walked.video.size());
        for (size_t v = 0; v < walked.video.size(); ++v) {
            ASSERT_EQ(fromIndex.video[v].frames.size(), walked.video[v].frames.size());
            for (size_t f = 0; f < walked.video[v].frames.size(); ++f) {
                EXPECT_EQ(fromIndex.video[v].frames[f].pos, walked.video[v].frames[f].pos) << f;
                // The index's key flags against the pictures themselves.
                EXPECT_EQ(fromIndex.video[v].frames[f].key, walked.video[v].frames[f].key) << f;
            }
        }
        ASSERT_EQ(fromIndex.audio.packets.size(), walked.audio.packets.size());
        for (size_t a = 0; a < walked.audio.packets.size(); ++a) {
            EXPECT_EQ(fromIndex.audio.packets[a].pos, walked.audio.packets[a].pos);
            EXPECT_EQ(fromIndex.audio.packets[a].time, walked.audio.packets[a].time);
        }
        ASSERT_EQ(fromIndex.metadata.size(), walked.metadata.size());
        for (size_t m = 0; m < walked.metadata.size(); ++m) {
            EXPECT_EQ(fromIndex.metadata[m].time, walked.metadata[m].time);
            EXPECT_EQ(fromIndex.metadata[m].bytes, walked.metadata[m].bytes);
        }
        EXPECT_EQ(fromIndex.endPos, walked.endPos);
        EXPECT_FALSE(walked.truncated);

        // Sound times are the demuxer's own, packet by packet.
        if (walked.audio.stream >= 0) {
            std::string why;
            auto reader = DemuxReader::open(openFileSource(path), &why);
            ASSERT_TRUE(reader);
            reader->keepStreams({walked.audio.stream});
            AVPacket *packet = av_packet_alloc();
            const AVRational base = reader->context()->streams[walked.audio.stream]->time_base;
            size_t checked = 0;
            while (reader->read(packet) >= 0) {
                const std::int64_t at = fromIndex.audio.timeAtPos(packet->pos - 8);
                if (at < 0)
                    continue; // a later piece of a chunk handed over in parts
                EXPECT_EQ(at, av_rescale_q(packet->pts, base, AVRational{1, 10'000'000}));
                ++checked;
            }
            av_packet_free(&packet);
            EXPECT_EQ(checked, walked.audio.packets.size());
        }
    }
}

TEST(RecordingLoad, FinishedRecordingLoadsFromAFewBytesAndStillServesEveryPacketOnce)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    const std::string front = repeatedRecording(dir, 40, true); // 160 s, about 10 MB
    const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(front));
    const auto expected = packetsInFile(front);
    ASSERT_GT(expected.size(), 20u);

    for (const bool walk : {false, true}) {
        SCOPED_TRACE(walk ? "without the index" : "from the index");
        std::string path = front;
        if (walk) {
            // The same recording with its index renamed: the load walks the chunks.
            auto bytes = testing::readFile(front);
            const auto pos = std::search(bytes.begin(), bytes.end(), std::begin("idx1"), std::end("idx1") - 1);
            ASSERT_NE(pos, bytes.end());
            std::memcpy(&*pos, "JUNK", 4);
            path = dir + "/no-index.avi";
            testing::writeFile(path, bytes);
        }
        ReadCounter counter;
        StreamParseFilter filter("VXStreamParseFilter");
        ASSERT_EQ(filter.Load(path), S_OK);
        if (walk) {
            EXPECT_GE(counter.bytes(), fileSize * 9 / 10);
            EXPECT_LE(counter.bytes(), fileSize + (2 << 20)); // read once, not again and again
        } else {
            EXPECT_LT(counter.bytes(), fileSize / 10) << "of " << fileSize;
        }
        // Twice: a new load serves the track again.
        for (int load = 0; load < 2; ++load) {
            if (load == 1) {
                ASSERT_EQ(filter.Load(path), S_OK);
            }
            const auto got = allPackets(filter);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].time, expected[i].time) << i;
                EXPECT_EQ(got[i].bytes, expected[i].bytes) << i;
            }
        }
        EXPECT_EQ(framesAReaderDelivers(filter), static_cast<std::int64_t>(filter.index().video[0].frames.size()));
        EXPECT_EQ(filter.index().duration(), 40 * 40'000'000LL);
    }
}

TEST(RecordingLoad, UnfinishedRecordingPlaysToItsLastWholeFrame)
{
    testing::LogCapture log;
    ASSERT_FALSE(sampleCard().unfinished.empty());
    for (const auto &rec : sampleCard().unfinished) {
        SCOPED_TRACE(rec.front);
        StreamParseFilter filter("VXStreamParseFilter");
        ASSERT_EQ(filter.Load(rec.front), S_OK);
        EXPECT_FALSE(filter.index().fromIdx1);
        EXPECT_TRUE(filter.index().truncated);
        size_t videoChunks = 0;
        for (const auto &c : testing::movieChunks(rec.front))
            videoChunks += c.id == "00dc";
        const auto frames = static_cast<std::int64_t>(filter.index().video[0].frames.size());
        EXPECT_EQ(frames, static_cast<std::int64_t>(videoChunks));
        EXPECT_EQ(framesAReaderDelivers(filter), frames);
    }
}

TEST(RecordingLoad, CancelEndsTheWalkOfALongUnfinishedRecordingWithinOneRead)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    const std::string front = repeatedRecording(dir, 60, false);
    const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(front));
    ASSERT_GT(fileSize, 6 << 20);

    ReadCounter counter(2 << 20); // the flag is set once 2 MB have been read
    StreamParseFilter filter("VXStreamParseFilter");
    EXPECT_EQ(filter.Load(front, &counter.cancel), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(filter.loadError(), "cancelled");
    EXPECT_FALSE(filter.loaded());
    EXPECT_LT(counter.bytes(), (2 << 20) + (1 << 20) + (256 << 10)); // at most one more read block
    // Without the flag the same file loads.
    counter.cancel = false;
    ASSERT_EQ(filter.Load(front), S_OK);
    EXPECT_TRUE(filter.loadError().empty());
}

// One kind of file that is not what its name promises, and what loading it gives.
struct BadFile {
    std::string name;
    std::string reason;          // empty: it loads and plays what it holds
    std::int64_t frames = -1;    // video frames expected when it loads, -1: any
    std::int64_t metadata = -1;  // metadata packets expected when it loads, -1: any
};

std::int64_t count(const std::vector<testing::RawChunk> &chunks, const char *id)
{
    return std::count_if(chunks.begin(), chunks.end(), [&](const auto &c) { return c.id == id; });
}

TEST(RecordingLoad, EveryKindOfBadFileLoadsWhatItHoldsOrSaysWhyNotAndTheNextGoodOnePlays)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    const std::string goodPath = sampleCard().finished.front().front;
    const std::string cutPath = sampleCard().unfinished.front().front;
    const auto good = testing::readFile(goodPath);
    const auto cut = testing::readFile(cutPath);
    const auto goodChunks = testing::movieChunks(goodPath);
    const auto cutChunks = testing::movieChunks(cutPath);
    const auto goodPackets = packetsInFile(goodPath);
    ASSERT_GE(goodChunks.size(), 10u);
    const std::int64_t firstChunk = goodChunks.front().offset;
    ASSERT_EQ(goodChunks.front().id, "02tx"); // the camera's private records come first
    ASSERT_EQ(cutChunks.front().offset, firstChunk);

    std::vector<BadFile> cases;
    auto add = [&](const std::string &name, const std::vector<std::uint8_t> &bytes, BadFile expect) {
        testing::writeFile(dir + "/" + name, bytes);
        expect.name = name;
        cases.push_back(expect);
    };
    add("empty.avi", {}, {"", "the file is empty"});
    {
        std::vector<std::uint8_t> noise(64 << 10);
        std::uint32_t x = 12345;
        for (auto &b : noise)
            b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
        add("random.avi", noise, {"", "not a recording"});
    }
    {
        auto wave = good;
        std::memcpy(wave.data() + 8, "WAVE", 4);
        add("wave.avi", wave, {"", "not a recording"});
    }
    add("header-cut.avi", {good.begin(), good.begin() + 200}, {"", "damaged header"});
    add("headers-only.avi", {good.begin(), good.begin() + firstChunk}, {"", "no video"});
    {
        // The index no longer matches; the walk steps over the damage to the
        // next run of chunks and loses the first metadata packet only.
        auto huge = good;
        putLe32(huge, firstChunk + 4, 0xFFFFFFF0u);
        add("first-chunk-4gb.avi", huge,
            {"", "", count(goodChunks, "00dc"), static_cast<std::int64_t>(goodPackets.size()) - 1});
        auto hugeCut = cut;
        putLe32(hugeCut, firstChunk + 4, 0xFFFFFFF0u);
        add("first-chunk-4gb-unfinished.avi", hugeCut, {"", "no video"});
    }
    for (const bool finished : {true, false}) {
        // Every fifth chunk's id zeroed: stepped over by its size.
        auto zeroed = finished ? good : cut;
        const auto &chunks = finished ? goodChunks : cutChunks;
        std::int64_t videoLeft = 0;
        for (size_t i = 0; i < chunks.size(); ++i) {
            if (i % 5 == 4)
                std::memset(zeroed.data() + chunks[i].offset, 0, 4);
            else
                videoLeft += chunks[i].id == "00dc";
        }
        add(finished ? "ids-zeroed.avi" : "ids-zeroed-unfinished.avi", zeroed, {"", "", videoLeft, -1});
    }
    {
        // Only the last chunk's id zeroed: the chunk before it still counts.
        auto lastZeroed = good;
        std::memset(lastZeroed.data() + goodChunks.back().offset, 0, 4);
        add("last-id-zeroed.avi", lastZeroed,
            {"", "", count(goodChunks, "00dc") - (goodChunks.back().id == "00dc" ? 1 : 0), -1});
    }
    add("unfinished.avi", cut, {"", "", count(cutChunks, "00dc"), -1});
    {
        // More than 4 GB, of which only the start is a recording (sparse: nothing is written).
        for (const bool finished : {true, false}) {
            const std::string name = finished ? "huge-finished.avi" : "huge-unfinished.avi";
            add(name, finished ? good : cut,
                {"", "", count(finished ? goodChunks : cutChunks, "00dc"), -1});
            ASSERT_EQ(::truncate((dir + "/" + name).c_str(), 5LL << 30), 0);
        }
    }
    ASSERT_EQ(::mkfifo((dir + "/fifo.avi").c_str(), 0600), 0);
    cases.push_back({"fifo.avi", "not a regular file"});
    std::filesystem::create_directory(dir + "/folder.avi");
    cases.push_back({"folder.avi", "not a regular file"});
    cases.push_back({"missing.avi", "cannot be read"});

    StreamParseFilter filter("VXStreamParseFilter");
    for (const BadFile &c : cases) {
        SCOPED_TRACE(c.name);
        const HResult hr = filter.Load(dir + "/" + c.name);
        if (c.reason.empty()) {
            ASSERT_EQ(hr, S_OK) << filter.loadError();
            EXPECT_TRUE(filter.loadError().empty());
            const auto frames = static_cast<std::int64_t>(filter.index().video[0].frames.size());
            if (c.frames >= 0) {
                EXPECT_EQ(frames, c.frames);
            }
            if (c.metadata >= 0) {
                EXPECT_EQ(static_cast<std::int64_t>(allPackets(filter).size()), c.metadata);
            }
            EXPECT_EQ(framesAReaderDelivers(filter), frames);
        } else {
            EXPECT_EQ(hr, VFW_E_INVALID_FILE_FORMAT);
            EXPECT_EQ(filter.loadError(), c.reason);
            EXPECT_FALSE(filter.loaded());
            EXPECT_TRUE(filter.pins().empty());
            EXPECT_TRUE(allPackets(filter).empty());
            EXPECT_EQ(filter.openReader(), nullptr);
        }
        // The good recording after it plays in full.
        ASSERT_EQ(filter.Load(goodPath), S_OK);
        EXPECT_EQ(allPackets(filter).size(), goodPackets.size());
        EXPECT_EQ(framesAReaderDelivers(filter), count(goodChunks, "00dc"));
    }
    EXPECT_EQ(filter.Load(""), VFW_E_INVALID_FILE_FORMAT);
}

} // namespace
} // namespace korvante
