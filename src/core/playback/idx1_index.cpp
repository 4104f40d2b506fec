// Building the index from a finished recording's own idx1 chunk.

#include "core/playback/index_builder.h"
#include "core/recording/byte_source.h"
#include "core/recording/idx1.h"
#include "core/recording/riff_chunk.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace korvante {
namespace {

constexpr std::int64_t kMaxIdx1Bytes = 256 << 20;   // 16 million entries
constexpr std::int64_t kMaxMetadataChunk = 1 << 20; // a packet is a few hundred bytes
constexpr size_t kSpotChecks = 32;                  // video and sound chunks checked at load

// 16 bytes: an index of millions of entries is held while it is checked.
struct Entry {
    unsigned char id[4];
    std::uint32_t size;
    std::int64_t pos; // chunk header in the file
};
// The index is read in pieces of this many bytes (a multiple of an entry's).
constexpr std::int64_t kIdx1ReadBytes = 64 * 1024;

// Whether the chunk header at `pos` is `entry`'s. -1 on a read error.
int headerMatches(ByteSource &source, std::int64_t pos, const unsigned char *id, std::int64_t size)
{
    unsigned char head[recording::kChunkHeaderBytes];
    const std::int64_t n = source.readAt(pos, head, sizeof head);
    if (n < 0)
        return -1;
    return n == sizeof head && std::memcmp(head, id, 4) == 0 && recording::le32(head + 4) == size ? 1 : 0;
}

} // namespace

bool indexFromIdx1(ByteSource &source, const RiffLayout &layout, IndexBuilder &builder,
                   RecordingIndex &index, const std::atomic<bool> *cancel,
                   LoadFailure *failure, std::string *why)
{
    auto unusable = [&](const char *text) {
        if (why)
            *why = text;
        return false;
    };
    auto failed = [&](LoadFailure f, const char *text) {
        *failure = f;
        return unusable(text);
    };
    if (layout.idx1Pos < 0 || layout.moviEnd <= 0)
        return unusable("no index");
    constexpr auto entryBytes = static_cast<std::int64_t>(recording::kIdx1EntryBytes);
    const std::int64_t bytes = layout.idx1Size - layout.idx1Size % entryBytes;
    if (bytes == 0 || bytes > kMaxIdx1Bytes)
        return unusable("the index is empty or impossibly large");
    // The entries that name chunks of this recording's streams; "rec " lists
    // and padding may be indexed too and are passed over.
    std::vector<Entry> entries;
    std::vector<bool> keys; // an entry's key-frame flag, beside it
    entries.reserve(static_cast<size_t>(bytes / entryBytes));
    std::vector<unsigned char> raw(static_cast<size_t>(std::min(bytes, kIdx1ReadBytes)));
    for (std::int64_t at = 0; at < bytes; at += kIdx1ReadBytes) {
        const std::int64_t want = std::min(bytes - at, kIdx1ReadBytes);
        const std::int64_t got = source.readAt(layout.idx1Pos + 8 + at, raw.data(), want);
        if (got < 0)
            return failed(LoadFailure::Unreadable, "the index cannot be read");
        if (got != want)
            return unusable("the index is cut off");
        for (std::int64_t off = 0; off < want; off += entryBytes) {
            const recording::Idx1Entry e = recording::readIdx1Entry(raw.data() + off);
            if (builder.classify(e.id, nullptr) != IndexBuilder::Kind::None) {
                Entry entry;
                std::memcpy(entry.id, e.id, 4);
                entry.pos = e.offset;
                entry.size = e.size;
                entries.push_back(entry);
                keys.push_back((e.flags & recording::kIdx1KeyFrame) != 0);
            }
        }
    }
    entries.shrink_to_fit();
    if (entries.empty())
        return unusable("the index names no chunk");
    if (cancelled(cancel))
        return failed(LoadFailure::Cancelled, "cancelled");

    // Offsets count from the "movi" identifier, or from the start of the file
    // in files of some other writers: the first chunk tells which.
    std::int64_t base = layout.moviId;
    int match = headerMatches(source, base + entries.front().pos, entries.front().id, entries.front().size);
    if (match == 0) {
        base = 0;
        match = headerMatches(source, entries.front().pos, entries.front().id, entries.front().size);
    }
    if (match < 0)
        return failed(LoadFailure::Unreadable, "a chunk header cannot be read");
    if (match == 0)
        return unusable("the index does not point at its first chunk");

    std::int64_t end = layout.moviId + 4;
    for (Entry &entry : entries) {
        entry.pos += base;
        const std::int64_t chunkEnd = entry.pos + 8 + entry.size;
        if (entry.pos < end || chunkEnd > layout.moviEnd)
            return unusable("an index entry lies outside the movie list or out of order");
        end = chunkEnd + (entry.size & 1);
    }
    // A spread of the entries is checked against the chunk headers; the
    // metadata chunks are all read below and checked on the way.
    const size_t checks = std::min(kSpotChecks, entries.size());
    for (size_t c = 0; c < checks; ++c) {
        const Entry &entry = entries[checks == 1 ? 0 : c * (entries.size() - 1) / (checks - 1)];
        const int ok = headerMatches(source, entry.pos, entry.id, entry.size);
        if (ok < 0)
            return failed(LoadFailure::Unreadable, "a chunk header cannot be read");
        if (ok == 0)
            return unusable("the index does not match the chunks");
    }

    std::vector<unsigned char> chunk;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        int stream = -1;
        switch (builder.classify(entry.id, &stream)) {
        case IndexBuilder::Kind::Video:
            builder.addVideo(stream, entry.pos, keys[i]);
            break;
        case IndexBuilder::Kind::Audio:
            builder.addAudio(entry.pos, entry.size);
            break;
        case IndexBuilder::Kind::Metadata: {
            if ((i & 63) == 0 && cancelled(cancel))
                return failed(LoadFailure::Cancelled, "cancelled");
            if (entry.size > kMaxMetadataChunk)
                return unusable("a metadata chunk is impossibly large");
            chunk.resize(static_cast<size_t>(8 + entry.size));
            const std::int64_t n = source.readAt(entry.pos, chunk.data(), 8 + entry.size);
            if (n < 0)
                return failed(LoadFailure::Unreadable, "a metadata chunk cannot be read");
            if (n != 8 + entry.size || std::memcmp(chunk.data(), entry.id, 4) != 0
                || recording::le32(chunk.data() + 4) != entry.size)
                return unusable("the index does not match a metadata chunk");
            builder.addMetadata(chunk.data() + 8, entry.size);
            break;
        }
        case IndexBuilder::Kind::None:
            break;
        }
    }
    if (!builder.finish())
        return unusable("the index names no video frame");
    index.endPos = end;
    index.truncated = false;
    return true;
}

} // namespace korvante
