#include "core/playback/index_memory.h"

#include "core/recording/byte_source.h"
#include "core/recording/byte_reader.h"
#include "core/recording/riff_chunk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace korvante {
namespace {

// "KVWI", then the version of the layout below. A new layout gets a new
// version; an old entry then simply does not decode and the file is walked.
constexpr char kMagic[4] = {'K', 'V', 'W', 'I'};
constexpr std::uint8_t kVersion = 1;

// Unsigned LEB128, and signed values zigzagged into it. Positions are kept
// as the distance from the entry before (a few bytes each), the key flag in
// the lowest bit of a frame's distance.
class Writer {
public:
    void raw(const void *data, std::size_t size) { m_out.append(static_cast<const char *>(data), size); }
    void unsignedValue(std::uint64_t v)
    {
        while (v >= 0x80) {
            m_out.push_back(static_cast<char>((v & 0x7F) | 0x80));
            v >>= 7;
        }
        m_out.push_back(static_cast<char>(v));
    }
    void signedValue(std::int64_t v)
    {
        unsignedValue((static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63));
    }
    std::string take() { return std::move(m_out); }

private:
    std::string m_out;
};

class Reader {
public:
    explicit Reader(const std::string &bytes) : m_bytes(bytes) {}
    bool raw(void *out, std::size_t size)
    {
        if (m_bytes.size() - m_at < size)
            return fail();
        std::memcpy(out, m_bytes.data() + m_at, size);
        m_at += size;
        return true;
    }
    std::uint64_t unsignedValue()
    {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_at >= m_bytes.size()) {
                fail();
                return 0;
            }
            const auto byte = static_cast<unsigned char>(m_bytes[m_at++]);
            v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return v;
        }
        fail();
        return 0;
    }
    std::int64_t signedValue()
    {
        const std::uint64_t v = unsignedValue();
        return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
    }
    // A count of entries of at least `minBytes` each: never more than the
    // bytes left could hold (a damaged count allocates nothing large).
    std::size_t count(std::size_t minBytes)
    {
        const std::uint64_t n = unsignedValue();
        if (n > (m_bytes.size() - m_at) / std::max<std::size_t>(minBytes, 1)) {
            fail();
            return 0;
        }
        return static_cast<std::size_t>(n);
    }
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_bytes.size(); }

private:
    bool fail()
    {
        m_ok = false;
        m_at = m_bytes.size();
        return false;
    }
    const std::string &m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

} // namespace

std::optional<IndexMemoryKey> indexMemoryKeyOf(const std::string &path)
{
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    IndexMemoryKey key;
    key.identity = path;
    key.size = static_cast<std::int64_t>(info.st_size);
    key.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    return key;
}

std::string encodeWalkedIndex(const RecordingIndex &index)
{
    Writer out;
    out.raw(kMagic, sizeof kMagic);
    out.raw(&kVersion, 1);
    out.unsignedValue(index.video.size());
    for (const auto &v : index.video) {
        out.signedValue(v.stream);
        out.unsignedValue(v.frames.size());
        std::int64_t previous = 0;
        for (const auto &f : v.frames) {
            out.unsignedValue((static_cast<std::uint64_t>(f.pos - previous) << 1) | (f.key ? 1u : 0u));
            previous = f.pos;
        }
    }
    out.signedValue(index.audio.stream);
    out.unsignedValue(index.audio.packets.size());
    std::int64_t previousPos = 0, previousTime = 0;
    for (const auto &p : index.audio.packets) {
        out.unsignedValue(static_cast<std::uint64_t>(p.pos - previousPos));
        out.signedValue(p.time - previousTime);
        previousPos = p.pos;
        previousTime = p.time;
    }
    out.signedValue(index.metadataStream);
    out.unsignedValue(index.metadata.size());
    std::int32_t previousMs = 0;
    for (std::size_t i = 0; i < index.metadata.size(); ++i) {
        out.signedValue(static_cast<std::int64_t>(index.metadata.timeAt(i)) - previousMs);
        previousMs = index.metadata.timeAt(i);
        out.unsignedValue(index.metadata.lengthAt(i));
        if (const std::uint8_t *bytes = index.metadata.bytesAt(i))
            out.raw(bytes, index.metadata.lengthAt(i));
    }
    out.unsignedValue(static_cast<std::uint64_t>(index.endPos));
    out.unsignedValue(index.truncated ? 1 : 0);
    out.unsignedValue(static_cast<std::uint64_t>(std::max(index.resyncs, 0)));
    return out.take();
}

bool decodeWalkedIndex(const std::string &bytes, RecordingIndex &index)
{
    Reader in(bytes);
    char magic[4] = {};
    std::uint8_t version = 0;
    if (!in.raw(magic, 4) || std::memcmp(magic, kMagic, 4) != 0 || !in.raw(&version, 1) || version != kVersion)
        return false;
    RecordingIndex decoded = index; // the stream table and the metadata's budget
    if (in.count(1) != decoded.video.size() || !in.ok())
        return false;
    for (auto &v : decoded.video) {
        if (in.signedValue() != v.stream)
            return false;
        const std::size_t frames = in.count(1);
        v.frames.clear();
        v.frames.reserve(frames);
        std::int64_t pos = 0;
        for (std::size_t f = 0; f < frames && in.ok(); ++f) {
            const std::uint64_t step = in.unsignedValue();
            pos += static_cast<std::int64_t>(step >> 1);
            v.frames.push_back({pos, (step & 1) != 0});
        }
    }
    if (in.signedValue() != decoded.audio.stream)
        return false;
    const std::size_t packets = in.count(2);
    decoded.audio.packets.clear();
    decoded.audio.packets.reserve(packets);
    std::int64_t pos = 0, time = 0;
    for (std::size_t p = 0; p < packets && in.ok(); ++p) {
        pos += static_cast<std::int64_t>(in.unsignedValue());
        time += in.signedValue();
        decoded.audio.packets.push_back({pos, time});
    }
    if (in.signedValue() != decoded.metadataStream)
        return false;
    const std::size_t records = in.count(2);
    std::int64_t ms = 0;
    std::vector<std::uint8_t> packet;
    for (std::size_t r = 0; r < records && in.ok(); ++r) {
        ms += in.signedValue();
        const std::uint64_t length = in.unsignedValue();
        if (length > MetadataPackets::kMaxBytes)
            return false;
        packet.resize(static_cast<std::size_t>(length));
        if (length > 0 && !in.raw(packet.data(), packet.size()))
            return false;
        decoded.metadata.add(static_cast<std::int32_t>(ms), packet.data(), packet.size());
    }
    decoded.endPos = static_cast<std::int64_t>(in.unsignedValue());
    decoded.truncated = in.unsignedValue() != 0;
    decoded.resyncs = static_cast<int>(std::min<std::uint64_t>(in.unsignedValue(), 1u << 30));
    if (!in.ok() || !in.atEnd() || decoded.video.empty() || decoded.video.front().frames.empty())
        return false;
    decoded.complete = true;
    decoded.walkedTo = decoded.regionEnd;
    index = std::move(decoded);
    return true;
}

bool walkedIndexMatches(const RecordingIndex &index, ByteSource &source)
{
    // A chunk of stream `stream` whose kind is `a`/`b` (or `alt`) starts at
    // `pos` and ends by the end of the last whole chunk.
    auto chunkAt = [&](std::int64_t pos, int stream, const char *kinds) {
        unsigned char head[recording::kChunkHeaderBytes];
        if (pos < 0 || source.readAt(pos, head, sizeof head) != static_cast<std::int64_t>(sizeof head))
            return false;
        if (!recording::isStreamChunkId(head) || recording::chunkStream(head) != stream)
            return false;
        bool kind = false;
        for (const char *k = kinds; k[0] && k[1]; k += 2)
            kind = kind || (head[2] == static_cast<unsigned char>(k[0]) && head[3] == static_cast<unsigned char>(k[1]));
        return kind && pos + 8 + static_cast<std::int64_t>(recording::le32(head + 4)) <= index.endPos;
    };
    if (index.endPos > source.size())
        return false;
    for (const auto &v : index.video) {
        const std::size_t n = v.frames.size();
        for (std::size_t f : {std::size_t{0}, n / 3, 2 * n / 3, n - 1})
            if (n > 0 && !chunkAt(v.frames[f].pos, v.stream, "dcdb"))
                return false;
    }
    if (!index.audio.packets.empty() && !chunkAt(index.audio.packets.back().pos, index.audio.stream, "wb"))
        return false;
    return true;
}

} // namespace korvante
