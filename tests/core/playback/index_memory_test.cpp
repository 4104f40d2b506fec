// The index of a recording that had to be walked is remembered in the
// overview's cache: the next open of the unchanged file reads what a finished
// recording's open reads and plays the same, and a file that changed, or an
// entry that does not fit the file, is walked again.

#include "playback_fixture.h"

#include "core/playback/index_memory.h"
#include "core/playback/index_memory_cache.h"
#include "core/playback/media_engine.h"
#include "core/playback/stream_parse_filter.h"
#include "core/recording/byte_source.h"
#include "support/log_capture.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using testing::RecordingWindow;
using testing::frameNumberOf;
using testing::unfinishedCameraCard;

// Counts the bytes every source opened while it lives reads.
class ReadCounter final {
public:
    ReadCounter()
    {
        setByteSourceWrapper([this](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
            return std::make_unique<Counted>(std::move(inner), m_bytes);
        });
    }
    ~ReadCounter() { setByteSourceWrapper({}); }
    std::int64_t bytes() const { return m_bytes.load(); }

private:
    class Counted final : public ByteSource {
    public:
        Counted(std::unique_ptr<ByteSource> inner, std::atomic<std::int64_t> &bytes)
            : m_inner(std::move(inner)), m_bytes(bytes)
        {
        }
        std::int64_t size() const override { return m_inner->size(); }
        std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
        {
            const std::int64_t n = m_inner->readAt(offset, buffer, length);
            if (n > 0)
                m_bytes += n;
            return n;
        }

    private:
        std::unique_ptr<ByteSource> m_inner;
        std::atomic<std::int64_t> &m_bytes;
    };
    std::atomic<std::int64_t> m_bytes{0};
};

void expectSameIndex(const RecordingIndex &a, const RecordingIndex &b)
{
    ASSERT_EQ(a.video.size(), b.video.size());
    for (size_t v = 0; v < a.video.size(); ++v) {
        ASSERT_EQ(a.video[v].frames.size(), b.video[v].frames.size());
        for (size_t f = 0; f < a.video[v].frames.size(); ++f) {
            EXPECT_EQ(a.video[v].frames[f].pos, b.video[v].frames[f].pos);
            EXPECT_EQ(a.video[v].frames[f].key, b.video[v].frames[f].key);
        }
    }
    ASSERT_EQ(a.audio.packets.size(), b.audio.packets.size());
    for (size_t p = 0; p < a.audio.packets.size(); ++p) {
        EXPECT_EQ(a.audio.packets[p].pos, b.audio.packets[p].pos);
        EXPECT_EQ(a.audio.packets[p].time, b.audio.packets[p].time);
    }
    ASSERT_EQ(a.metadata.size(), b.metadata.size());
    for (size_t m = 0; m < a.metadata.size(); ++m) {
        EXPECT_EQ(a.metadata[m].time, b.metadata[m].time);
        EXPECT_EQ(a.metadata[m].bytes, b.metadata[m].bytes);
    }
    EXPECT_EQ(a.endPos, b.endPos);
    EXPECT_EQ(a.truncated, b.truncated);
    EXPECT_TRUE(b.complete);
}

struct Loaded {
    std::unique_ptr<StreamParseFilter> filter;
    std::int64_t bytes = 0;
};

Loaded load(const std::string &path, const std::shared_ptr<IndexMemory> &memory)
{
    Loaded l;
    l.filter = std::make_unique<StreamParseFilter>("VXStreamParseFilter");
    l.filter->setIndexMemory(memory);
    ReadCounter counter;
    EXPECT_EQ(l.filter->Load(path), S_OK) << l.filter->loadError();
    l.bytes = counter.bytes();
    return l;
}

TEST(IndexMemory, ASecondOpenReadsWhatAFinishedRecordingReadsUntilTheFileChanges)
{
    testing::LogCapture log;
    ASSERT_FALSE(unfinishedCameraCard().unfinished.empty());
    const testing::SampleRecording &source = unfinishedCameraCard().unfinished.front();
    const fs::path dir = testing::tempFolder();
    const std::string front = (dir / fs::path(source.front).filename()).string();
    const std::string rear = (dir / fs::path(source.rear).filename()).string();
    fs::copy_file(source.front, front);
    fs::copy_file(source.rear, rear);
    const auto before = testing::readFile(front);
    const std::int64_t size = static_cast<std::int64_t>(fs::file_size(front));
    auto memory = std::make_shared<CachedIndexMemory>((dir / "cache").string());

    // The first open walks the whole file and keeps what it learned.
    Loaded walked = load(front, memory);
    EXPECT_FALSE(walked.filter->indexRecalled());
    EXPECT_GT(walked.bytes, size * 9 / 10);
    EXPECT_TRUE(fs::exists(dir / "cache" / "overview.sqlite"));

    // The second reads headers and a few chunk headers, like a finished one.
    Loaded recalled = load(front, memory);
    EXPECT_TRUE(recalled.filter->indexRecalled());
    EXPECT_LT(recalled.bytes, 128 * 1024) << "of " << size; // the demuxer's first buffer, a few chunk headers
    expectSameIndex(walked.filter->index(), recalled.filter->index());
    EXPECT_EQ(testing::readFile(front), before) << "the recording was written";

    // Through the engine both files open at once, with their whole length,
    // and play the same pictures as the walked ones.
    {
        RecordingWindow a, b{QSize(160, 120)};
        MediaEngine engine;
        engine.AttachScreens(&a, &b);
        engine.indexMemory = memory;
        load(rear, memory); // the rear's first walk
        std::optional<MediaEngine::OpenOutcome> outcome;
        ReadCounter counter;
        engine.BeginOpen(front, rear, 0, -1, [&](const MediaEngine::OpenOutcome &o) { outcome = o; });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!outcome && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(outcome && outcome->opened == 1);
        EXPECT_FALSE(engine.IsWalking());
        EXPECT_TRUE(engine.LengthKnown());
        EXPECT_TRUE(engine.graph->parseFilter[0]->indexRecalled());
        EXPECT_TRUE(engine.graph->parseFilter[1]->indexRecalled());
        EXPECT_LT(counter.bytes(), size / 2);
        const auto frames = static_cast<std::int64_t>(walked.filter->index().video[0].frames.size());
        ASSERT_EQ(engine.SetPosition(engine.graph->parseFilter[0]->index().video[0].frameTime(frames - 1) + 1), S_OK);
        QImage shownFront, shownRear;
        ASSERT_EQ(engine.GrabFrame(0, shownFront), 1);
        ASSERT_EQ(engine.GrabFrame(1, shownRear), 1);
        EXPECT_EQ(frameNumberOf(shownFront), frames - 1);
        EXPECT_EQ(frameNumberOf(shownRear), frames - 1);
        engine.Close();
    }

    // A new modification time: the file may hold anything now, so it is walked.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, front.c_str(), times, 0), 0);
    Loaded touched = load(front, memory);
    EXPECT_FALSE(touched.filter->indexRecalled());
    EXPECT_GT(touched.bytes, size * 9 / 10);
    EXPECT_TRUE(load(front, memory).filter->indexRecalled()); // and kept again

    // An entry that does not fit the file under its key (another recording's
    // index, bytes that do not decode) is not used: the file is walked.
    const auto key = indexMemoryKeyOf(front);
    ASSERT_TRUE(key);
    memory->remember(*key, encodeWalkedIndex(load(rear, nullptr).filter->index()));
    Loaded foreign = load(front, memory);
    EXPECT_FALSE(foreign.filter->indexRecalled());
    expectSameIndex(walked.filter->index(), foreign.filter->index());
    const std::string good = encodeWalkedIndex(walked.filter->index());
    for (const std::string &bad : {good.substr(0, good.size() / 2), good + "x", std::string("KVWI\x02", 5) + good.substr(5)}) {
        memory->remember(*key, bad);
        Loaded damaged = load(front, memory);
        EXPECT_FALSE(damaged.filter->indexRecalled());
        expectSameIndex(walked.filter->index(), damaged.filter->index());
    }
    EXPECT_EQ(testing::readFile(front), before) << "the recording was written";
}

} // namespace
} // namespace korvante
