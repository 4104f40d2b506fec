// Building the index by walking the movie list chunk by chunk: recordings
// without a usable idx1 index (unfinished ones, damaged ones).

#include "core/playback/index_builder.h"
#include "core/recording/byte_source.h"
#include "core/recording/riff_chunk.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace korvante {
namespace {

constexpr std::int64_t kBlock = 1 << 20;          // one read of the walk: ~30 ms at 30 MB/s
constexpr std::int64_t kResyncWindow = 8 << 20;   // how far past damage the walk looks
constexpr int kResyncChain = 3;                   // chunk headers in a row that end a search

// Sequential reads of the file in large blocks, so that the walk costs about
// what reading the file costs even though it asks for a few bytes at a time.
class BlockReader {
public:
    explicit BlockReader(ByteSource &source) : m_source(source), m_size(source.size()), m_buffer(kBlock) {}

    // The bytes [pos, pos + length) (length at most kBlock), `*got` of them
    // (fewer at the end of the file). Null on a read error.
    const unsigned char *at(std::int64_t pos, std::int64_t length, std::int64_t *got)
    {
        const std::int64_t bufferEnd = m_start + m_length;
        const bool inside = pos >= m_start && pos + length <= bufferEnd;
        const bool toTheEnd = pos >= m_start && pos <= bufferEnd && bufferEnd >= m_size;
        if (!inside && !toTheEnd) {
            const std::int64_t want = std::clamp<std::int64_t>(m_size - pos, 0, kBlock);
            const std::int64_t n = want > 0 ? m_source.readAt(pos, m_buffer.data(), want) : 0;
            if (n < 0)
                return nullptr;
            m_start = pos;
            m_length = n;
        }
        *got = std::clamp<std::int64_t>(m_start + m_length - pos, 0, length);
        return m_buffer.data() + (pos - m_start);
    }

private:
    ByteSource &m_source;
    std::int64_t m_size;
    std::vector<unsigned char> m_buffer;
    std::int64_t m_start = 0;
    std::int64_t m_length = 0;
};

struct Header {
    unsigned char id[4];
    std::int64_t size = 0;
};

} // namespace

// The walk's state between two calls of advance().
struct ChunkWalk::State {
    State(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder, RecordingIndex &index)
        : in(source), layout(layout), builder(builder), index(index),
          extentKnown(layout.moviEnd > 0), regionEnd(extentKnown ? layout.moviEnd : layout.fileSize),
          pos(layout.moviId + 4)
    {
    }

    // The chunk held back until the header after it proves it was not cut off.
    struct Pending {
        IndexBuilder::Kind kind = IndexBuilder::Kind::None;
        int stream = -1;
        std::int64_t pos = 0, end = 0, size = 0;
        bool key = false;
        std::vector<unsigned char> meta;
    };

    BlockReader in;
    const RiffLayout &layout;
    IndexBuilder &builder;
    RecordingIndex &index;
    // Inside a movie list of known size damage can be stepped over; without
    // one the end of the file bounds the walk.
    const bool extentKnown;
    const std::int64_t regionEnd;
    std::int64_t pos;
    bool readError = false;
    bool ended = false; // the loop is over (the end, damage that ends it, a read error)
    bool done = false;  // and the end has been settled
    Pending pending;

    // 1: a chunk header at `at`; 0: none (or fewer than 8 bytes); -1 read error.
    int headerAt(std::int64_t at, Header &h)
    {
        std::int64_t got = 0;
        const unsigned char *p = in.at(at, 8, &got);
        if (!p) {
            readError = true;
            return -1;
        }
        if (got < 8)
            return 0;
        std::memcpy(h.id, p, 4);
        h.size = recording::le32(p + 4);
        return 1;
    }

    // Whether a chunk of one of the recording's streams starts at `at` and
    // `chain` - 1 more follow it, each inside the region (or the region ends).
    bool streamChunksAt(std::int64_t at, int chain)
    {
        for (int i = 0; i < chain; ++i) {
            if (at == regionEnd)
                return true;
            Header h;
            if (headerAt(at, h) != 1 || builder.classify(h.id, nullptr) == IndexBuilder::Kind::None)
                return false;
            const std::int64_t end = at + 8 + h.size;
            if (end > regionEnd)
                return false;
            at = end + (h.size & 1);
        }
        return true;
    }

    void commit()
    {
        switch (pending.kind) {
        case IndexBuilder::Kind::Video: builder.addVideo(pending.stream, pending.pos, pending.key); break;
        case IndexBuilder::Kind::Audio: builder.addAudio(pending.pos, pending.size); break;
        case IndexBuilder::Kind::Metadata:
            builder.addMetadata(pending.meta.data(), static_cast<std::int64_t>(pending.meta.size()));
            break;
        case IndexBuilder::Kind::None: return;
        }
        index.endPos = pending.end;
        pending.kind = IndexBuilder::Kind::None;
    }

    // One chunk (or one damaged stretch). Cancelled when the cancel flag was
    // seen inside a resync search; otherwise None, with `ended` set when the
    // loop is over.
    LoadFailure step(const std::atomic<bool> *cancel)
    {
        Header h;
        if (headerAt(pos, h) < 0) {
            ended = true;
            return LoadFailure::None;
        }
        const std::int64_t end = pos + 8 + h.size;
        const bool shaped = recording::isMovieChunkId(h.id);
        if (shaped && recording::hasTag(h.id, "LIST") && h.size >= 4 && end <= regionEnd) {
            pos += recording::kListHeaderBytes; // descend: "rec " groups
            return LoadFailure::None;
        }
        if (shaped && end <= regionEnd) {
            commit();
            int stream = -1;
            const IndexBuilder::Kind kind = builder.classify(h.id, &stream);
            if (kind != IndexBuilder::Kind::None) {
                pending.kind = kind;
                pending.stream = stream;
                pending.pos = pos;
                pending.size = h.size;
                pending.end = end + (h.size & 1);
                std::int64_t got = 0;
                if (kind == IndexBuilder::Kind::Video) {
                    const unsigned char *data = in.at(pos + 8, std::min(h.size, kKeyProbeBytes), &got);
                    if (!data) {
                        readError = true;
                        ended = true;
                        return LoadFailure::None;
                    }
                    pending.key = isKeyFrame(builder.codecOf(stream), data, got);
                } else if (kind == IndexBuilder::Kind::Metadata) {
                    const unsigned char *data = h.size <= kBlock ? in.at(pos + 8, h.size, &got) : nullptr;
                    if (h.size <= kBlock && !data) {
                        readError = true;
                        ended = true;
                        return LoadFailure::None;
                    }
                    pending.meta.clear();
                    if (data) // a chunk larger than a read block is no packet
                        pending.meta.assign(data, data + got);
                }
            }
            pos = end + (h.size & 1);
            return LoadFailure::None;
        }
        // A chunk whose id is damaged but whose size leads on to a chunk: step over it.
        if (!shaped && end <= regionEnd && streamChunksAt(end + (h.size & 1), 1)) {
            commit();
            ++index.resyncs;
            pos = end + (h.size & 1);
            return LoadFailure::None;
        }
        if (readError) {
            ended = true;
            return LoadFailure::None;
        }
        // Damage. A well-formed id means that the chunk before ended where it
        // said (this one's size is what is wrong); anything else may as well
        // be the inside of a chunk that was cut.
        if (shaped)
            commit();
        pending.kind = IndexBuilder::Kind::None;
        if (!extentKnown) {
            index.truncated = true; // the camera stopped writing here
            ended = true;
            return LoadFailure::None;
        }
        const std::int64_t limit = std::min(regionEnd, pos + kResyncWindow);
        std::int64_t found = -1;
        for (std::int64_t q = pos + 1; q + 8 <= limit; ++q) {
            if ((q & 0xFFFF) == 0 && cancelled(cancel))
                return LoadFailure::Cancelled;
            std::int64_t got = 0;
            const unsigned char *p = in.at(q, 8, &got);
            if (!p) {
                readError = true;
                break;
            }
            if (got == 8 && builder.classify(p, nullptr) != IndexBuilder::Kind::None
                && streamChunksAt(q, kResyncChain)) {
                found = q;
                break;
            }
        }
        if (found < 0) {
            if (!readError)
                index.truncated = true;
            ended = true;
            return LoadFailure::None;
        }
        ++index.resyncs;
        pos = found;
        return LoadFailure::None;
    }
};

ChunkWalk::ChunkWalk(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder, RecordingIndex &index)
    : m(std::make_unique<State>(source, layout, builder, index))
{
}

ChunkWalk::~ChunkWalk() = default;

bool ChunkWalk::done() const
{
    return m->done;
}

std::int64_t ChunkWalk::position() const
{
    return m->pos;
}

std::int64_t ChunkWalk::regionStart() const
{
    return m->layout.moviId + 4;
}

std::int64_t ChunkWalk::regionEnd() const
{
    return m->regionEnd;
}

LoadFailure ChunkWalk::advance(std::int64_t until, const std::atomic<bool> *cancel, std::string *why)
{
    auto fail = [&](LoadFailure failure, const char *text) {
        if (why)
            *why = text;
        m->done = true;
        return failure;
    };
    if (m->done)
        return LoadFailure::None;
    State &s = *m;
    while (!s.ended && s.pos + 8 <= s.regionEnd && s.pos < until) {
        if (cancelled(cancel))
            return fail(LoadFailure::Cancelled, "cancelled");
        if (s.step(cancel) == LoadFailure::Cancelled)
            return fail(LoadFailure::Cancelled, "cancelled");
    }
    if (!s.ended && s.pos + 8 <= s.regionEnd)
        return LoadFailure::None; // more to walk
    s.done = true;
    if (s.readError)
        return fail(LoadFailure::Unreadable, "a read failed");
    // The last chunk stands when the region ends after it (a stray pad byte at
    // most); a few bytes that are not a chunk mean that it was cut.
    if (s.pending.kind != IndexBuilder::Kind::None) {
        if (s.regionEnd - s.pos <= 1)
            s.commit();
        else
            s.index.truncated = true;
    }
    if (!s.builder.finish())
        return fail(LoadFailure::NoVideo, "the recording has no whole video frame");
    return LoadFailure::None;
}

LoadFailure scanChunks(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder,
                       RecordingIndex &index, const std::atomic<bool> *cancel, std::string *why)
{
    ChunkWalk walk(source, layout, builder, index);
    return walk.advance(INT64_MAX, cancel, why);
}

} // namespace korvante
