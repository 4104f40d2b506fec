#include "core/overview/metadata_scan.h"

#include "core/clock/clock_check.h"

#include "core/playback/sensor_records.h"
#include "core/recording/byte_source.h"
#include "core/recording/idx1.h"
#include "core/recording/metadata_chunk.h"
#include "core/recording/riff_chunk.h"
#include "core/recording/riff_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace korvante::overview {
namespace {

using recording::fourcc;

// A metadata packet is read into a zeroed buffer of this size, as the
// decoders expect.
constexpr std::size_t kPacketBuffer = 1024;
// The walk reads this much at each chunk header: the header, and the whole of
// most metadata chunks.
constexpr std::int64_t kWalkWindow = 1024;
constexpr std::int64_t kMaxIdx1Bytes = 64 << 20;
// Metadata chunks at most this far apart are read with one request, up to
// kMaxGroup bytes in all.
constexpr std::int64_t kMergeGap = 16 << 10;
constexpr std::int64_t kMaxGroup = 1 << 20;
constexpr std::size_t kMaxSamples = 500'000; // 12 hours at ten a second

// Counts what the scan reads.
class CountingReader final : public ByteSource {
public:
    CountingReader(ByteSource &source, ScanStats &stats) : m_source(source), m_stats(stats) {}
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        const std::int64_t got = m_source.readAt(offset, buffer, length);
        ++m_stats.reads;
        if (got > 0)
            m_stats.bytesRead += got;
        return got;
    }
    std::int64_t size() const override { return m_source.size(); }

private:
    ByteSource &m_source;
    ScanStats &m_stats;
};

enum class ChunkKind { Other, Video, Metadata };

// Which chunks of the recording are the first video stream's frames and
// which are metadata, by their stream numbers.
class Streams {
public:
    explicit Streams(const RiffLayout &layout)
    {
        for (std::size_t i = 0; i < layout.streams.size(); ++i) {
            const StreamHeader &s = layout.streams[i];
            if (s.type == fourcc("vids") && m_video < 0) {
                m_video = static_cast<int>(i);
                m_scale = s.scale;
                m_rate = s.rate;
            }
        }
    }
    ChunkKind classify(const unsigned char *id) const
    {
        if (!recording::isStreamChunkId(id))
            return ChunkKind::Other;
        if (id[2] == 't' && id[3] == 'x')
            return ChunkKind::Metadata;
        if (id[2] == 'd' && (id[3] == 'c' || id[3] == 'b') && recording::chunkStream(id) == m_video)
            return ChunkKind::Video;
        return ChunkKind::Other;
    }
    bool hasVideo() const { return m_video >= 0 && m_scale > 0 && m_rate > 0; }
    std::int64_t lengthMs(std::int64_t frames) const
    {
        return static_cast<std::int64_t>(static_cast<long double>(frames) * m_scale * 1000 / m_rate);
    }

private:
    int m_video = -1;
    std::uint32_t m_scale = 0, m_rate = 0;
};

// Decodes metadata packets into samples and fixes.
class PacketSink {
public:
    explicit PacketSink(RecordingMetadata &out) : m_out(out) {}

    void take(const unsigned char *data, std::int64_t size)
    {
        if (size < static_cast<std::int64_t>(recording::kMetadataTimeBytes))
            return;
        const std::int32_t time = recording::metadataTime(data);
        std::uint8_t buffer[kPacketBuffer] = {};
        const auto length = static_cast<std::size_t>(
            std::min<std::int64_t>(size - recording::kMetadataTimeBytes, kPacketBuffer));
        std::memcpy(buffer, data + recording::kMetadataTimeBytes, length);
        if (const auto sample = DecodeSamplePacket(time, buffer, sizeof buffer)) {
            if (!m_firstKind)
                m_firstKind = sample->kind;
            if (sample->kind != 3 && m_raw.size() < kMaxSamples)
                m_raw.push_back(*sample);
        } else if (const auto fix = DecodeFixPacket(time, buffer, sizeof buffer)) {
            if (fix->valid && std::isfinite(fix->latitude) && std::isfinite(fix->longitude)
                && m_out.fixes.size() < kMaxSamples) {
                Fix f;
                f.offsetMs = fix->timestamp;
                f.latitude = nmeaToDecimal(fix->latitude);
                f.longitude = nmeaToDecimal(fix->longitude);
                f.speedKmh = std::isfinite(fix->speed) ? static_cast<float>(fix->speed) : 0.0f;
                if (const auto utc = clock::utcOfFix(*fix))
                    f.utcSeconds = utc->time_since_epoch().count();
                if (std::fabs(f.latitude) <= 90 && std::fabs(f.longitude) <= 180)
                    m_out.fixes.push_back(f);
            }
        }
    }

    // Converts the samples to g: the first sample's coding decides the scale
    // of all, as the sensor panel shows them.
    void finish()
    {
        const double k = m_firstKind.value_or(0) == 2 ? 0.1103515625 : 0.44140625;
        auto g = [k](std::int32_t raw) { return raw * k / 7.0 * 0.5; };
        m_out.samples.reserve(m_raw.size());
        for (const SensorSample &s : m_raw) {
            const double x = g(s.x), y = g(s.y), z = g(s.z);
            m_out.samples.push_back({s.timestamp, static_cast<float>(std::sqrt(x * x + y * y + z * z))});
        }
        auto byTime = [](const auto &a, const auto &b) { return a.offsetMs < b.offsetMs; };
        std::stable_sort(m_out.samples.begin(), m_out.samples.end(), byTime);
        std::stable_sort(m_out.fixes.begin(), m_out.fixes.end(), byTime);
    }

private:
    RecordingMetadata &m_out;
    std::optional<std::int32_t> m_firstKind;
    std::vector<SensorSample> m_raw;
};

bool cancelled(const std::atomic<bool> *cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

enum class Outcome { Done, Unusable, Unreadable, Cancelled };

// Reads the metadata chunks the idx1 index names. Unusable when the index
// does not fit the file, so that the walk takes over.
Outcome fromIdx1(CountingReader &reader, const RiffLayout &layout, const Streams &streams, RecordingMetadata &out,
                 const std::atomic<bool> *cancel)
{
    if (layout.idx1Pos < 0 || layout.moviEnd <= 0)
        return Outcome::Unusable;
    const auto entryBytes = static_cast<std::int64_t>(recording::kIdx1EntryBytes);
    const std::int64_t bytes = layout.idx1Size - layout.idx1Size % entryBytes;
    if (bytes == 0 || bytes > kMaxIdx1Bytes)
        return Outcome::Unusable;
    std::vector<unsigned char> raw(static_cast<std::size_t>(bytes));
    const std::int64_t got = reader.readAt(layout.idx1Pos + 8, raw.data(), bytes);
    if (got < 0)
        return Outcome::Unreadable;
    if (got != bytes)
        return Outcome::Unusable;

    std::int64_t frames = 0;
    std::vector<recording::Idx1Entry> metadata;
    std::optional<recording::Idx1Entry> first;
    for (std::int64_t off = 0; off < bytes; off += entryBytes) {
        const recording::Idx1Entry e = recording::readIdx1Entry(raw.data() + off);
        const ChunkKind kind = streams.classify(e.id);
        if (kind == ChunkKind::Other)
            continue;
        if (!first)
            first = e;
        if (kind == ChunkKind::Video)
            ++frames;
        else
            metadata.push_back(e);
    }
    if (!first || frames == 0)
        return Outcome::Unusable;

    // Offsets count from the "movi" identifier, or from the file's start with
    // some other writers: the first chunk's header tells which.
    auto headerAt = [&](std::int64_t pos, const recording::Idx1Entry &e) -> int {
        unsigned char h[8];
        const std::int64_t n = reader.readAt(pos, h, 8);
        if (n < 0)
            return -1;
        return n == 8 && std::memcmp(h, e.id, 4) == 0 && recording::le32(h + 4) == e.size;
    };
    std::int64_t base = layout.moviId;
    int match = headerAt(base + first->offset, *first);
    if (match == 0) {
        base = 0;
        match = headerAt(first->offset, *first);
    }
    if (match < 0)
        return Outcome::Unreadable;
    if (match == 0)
        return Outcome::Unusable;

    // Metadata chunks close to each other are read together: on a card
    // reader a request costs about what reading kMergeGap bytes more does.
    PacketSink sink(out);
    std::vector<unsigned char> group;
    for (std::size_t first = 0; first < metadata.size();) {
        if (cancelled(cancel))
            return Outcome::Cancelled;
        const std::int64_t start = base + metadata[first].offset;
        std::int64_t end = start;
        std::size_t last = first;
        for (; last < metadata.size(); ++last) {
            const std::int64_t pos = base + metadata[last].offset;
            const std::int64_t chunkEnd = pos + 8 + static_cast<std::int64_t>(metadata[last].size);
            if (pos < layout.moviId + 4 || chunkEnd > layout.moviEnd || pos < end)
                return Outcome::Unusable; // outside the movie list, or out of order
            if (last > first && (pos - end > kMergeGap || chunkEnd - start > kMaxGroup))
                break;
            end = chunkEnd;
        }
        group.resize(static_cast<std::size_t>(end - start));
        const std::int64_t n = reader.readAt(start, group.data(), end - start);
        if (n < 0)
            return Outcome::Unreadable;
        if (n != end - start)
            return Outcome::Unusable;
        for (std::size_t k = first; k < last; ++k) {
            const recording::Idx1Entry &e = metadata[k];
            const unsigned char *chunk = group.data() + (base + e.offset - start);
            if (std::memcmp(chunk, e.id, 4) != 0 || recording::le32(chunk + 4) != e.size)
                return Outcome::Unusable;
            sink.take(chunk + 8, e.size);
        }
        first = last;
    }
    sink.finish();
    out.lengthMs = streams.lengthMs(frames);
    return Outcome::Done;
}

// Walks the movie list chunk header by chunk header, reading a small window at
// each and skipping the data of everything but metadata. Stops at the first
// header that is no chunk of a movie list (an unfinished recording's tail).
Outcome walk(CountingReader &reader, const RiffLayout &layout, const Streams &streams, RecordingMetadata &out,
             const std::atomic<bool> *cancel)
{
    const std::int64_t fileSize = reader.size();
    std::int64_t end = layout.moviEnd > 0 ? std::min(layout.moviEnd, fileSize) : fileSize;
    std::vector<unsigned char> window(static_cast<std::size_t>(kWalkWindow));
    std::int64_t windowAt = -1, windowLength = 0;
    std::vector<unsigned char> chunk;
    PacketSink sink(out);
    std::int64_t frames = 0;
    std::int64_t pos = layout.moviId + 4;
    for (std::int64_t visited = 0; pos + 8 <= end; ++visited) {
        if ((visited & 63) == 0 && cancelled(cancel))
            return Outcome::Cancelled;
        if (windowAt < 0 || pos < windowAt || pos + 8 > windowAt + windowLength) {
            windowLength = reader.readAt(pos, window.data(), kWalkWindow);
            if (windowLength < 0)
                return Outcome::Unreadable;
            windowAt = pos;
            if (windowLength < 8)
                break;
        }
        const unsigned char *h = window.data() + (pos - windowAt);
        if (!recording::isMovieChunkId(h))
            break;
        const std::uint32_t size = recording::le32(h + 4);
        if (recording::hasTag(h, "LIST")) {
            pos += static_cast<std::int64_t>(recording::kListHeaderBytes); // into a "rec " group
            continue;
        }
        const std::int64_t dataEnd = pos + 8 + static_cast<std::int64_t>(size);
        if (dataEnd > end)
            break; // cut off by the power cut
        switch (streams.classify(h)) {
        case ChunkKind::Video:
            ++frames;
            break;
        case ChunkKind::Metadata:
            if (dataEnd <= windowAt + windowLength) {
                sink.take(h + 8, size);
            } else {
                chunk.resize(size);
                const std::int64_t n = reader.readAt(pos + 8, chunk.data(), size);
                if (n < 0)
                    return Outcome::Unreadable;
                if (n == size)
                    sink.take(chunk.data(), size);
            }
            break;
        case ChunkKind::Other:
            break;
        }
        pos = static_cast<std::int64_t>(recording::nextChunk(static_cast<std::uint64_t>(pos), size));
    }
    if (frames == 0)
        return Outcome::Unusable;
    sink.finish();
    out.lengthMs = streams.lengthMs(frames);
    return Outcome::Done;
}

} // namespace

std::optional<RecordingMetadata> scanMetadata(ByteSource &source, std::string *why, const std::atomic<bool> *cancel,
                                              ScanStats *stats)
{
    ScanStats local;
    ScanStats &counts = stats ? *stats : local;
    counts = {};
    auto fail = [&](const char *text) -> std::optional<RecordingMetadata> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (source.size() == 0)
        return fail("the file is empty");
    CountingReader reader(source, counts);
    RiffLayout layout;
    std::string detail;
    switch (readRiffLayout(reader, layout, &detail)) {
    case LayoutResult::Ok:
        break;
    case LayoutResult::NotRecording:
        return fail("not a recording");
    case LayoutResult::DamagedHeader:
        return fail("damaged header");
    case LayoutResult::Unreadable:
        return fail("cannot be read");
    }
    const Streams streams(layout);
    if (!streams.hasVideo())
        return fail("no video");

    RecordingMetadata metadata;
    Outcome outcome = fromIdx1(reader, layout, streams, metadata, cancel);
    if (outcome == Outcome::Unusable) {
        metadata = {};
        counts.walked = true;
        outcome = walk(reader, layout, streams, metadata, cancel);
    }
    switch (outcome) {
    case Outcome::Done:
        return metadata;
    case Outcome::Unusable:
        return fail("no video");
    case Outcome::Unreadable:
        return fail("cannot be read");
    case Outcome::Cancelled:
        return fail("cancelled");
    }
    return fail("cannot be read");
}

} // namespace korvante::overview
