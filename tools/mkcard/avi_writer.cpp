#include "mkcard/avi_writer.h"

#include <algorithm>
#include <stdexcept>

namespace mkcard {
namespace {

constexpr uint32_t kScale = 1000;
constexpr uint32_t kIndexKeyFrame = 0x10;
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint16_t kWaveFormatPcm = 0x0001;
constexpr uint16_t kWaveFormatAac = 0x00FF;

struct StreamTotals {
    uint32_t chunks = 0;
    uint64_t bytes = 0;
    uint32_t largest = 0;
};

// Places where the header list holds values that an unfinished recording
// leaves at zero.
struct HeaderFields {
    size_t totalFrames = 0;
    std::vector<size_t> lengths;
};

uint32_t streamLength(const AviStream &s, const StreamTotals &t)
{
    if (s.kind == StreamKind::Audio && s.audioCodec == AudioCodec::Pcm)
        return static_cast<uint32_t>(t.bytes / 2); // 16-bit mono samples
    return t.chunks;
}

// Rate of a stream in units per 1000 s-scale ticks.
uint32_t streamRate(const AviStream &s)
{
    switch (s.kind) {
    case StreamKind::Video:
        return static_cast<uint32_t>(s.fps) * kScale;
    case StreamKind::Audio:
        if (s.audioCodec == AudioCodec::Pcm)
            return static_cast<uint32_t>(s.sampleRate) * kScale;
        // One AAC frame holds 1024 samples.
        return static_cast<uint32_t>(static_cast<uint64_t>(s.sampleRate) * kScale / 1024);
    case StreamKind::Text:
        return s.textRateMilli;
    }
    return kScale;
}

void putStreamList(Bytes &b, const AviStream &s, const StreamTotals &t, HeaderFields &fields)
{
    const size_t listStart = b.size();
    putTag(b, "LIST");
    putU32(b, 0);
    putTag(b, "strl");

    putTag(b, "strh");
    putU32(b, 56);
    switch (s.kind) {
    case StreamKind::Video: putTag(b, "vids"); putTag(b, "H264"); break;
    case StreamKind::Audio: putTag(b, "auds"); putU32(b, 0); break;
    case StreamKind::Text: putTag(b, "txts"); putU32(b, 0); break;
    }
    putU32(b, 0); // flags
    putU16(b, 0); // priority
    putU16(b, 0); // language
    putU32(b, 0); // initial frames
    putU32(b, kScale);
    putU32(b, streamRate(s));
    putU32(b, 0); // start
    fields.lengths.push_back(b.size());
    putU32(b, streamLength(s, t));
    putU32(b, t.largest); // suggested buffer size
    putU32(b, 0xFFFFFFFFu); // quality: default
    putU32(b, s.kind == StreamKind::Audio && s.audioCodec == AudioCodec::Pcm ? 2u : 0u);
    putU16(b, 0);
    putU16(b, 0);
    putU16(b, static_cast<uint16_t>(s.width));
    putU16(b, static_cast<uint16_t>(s.height));

    putTag(b, "strf");
    switch (s.kind) {
    case StreamKind::Video:
        putU32(b, 40);
        putU32(b, 40); // BITMAPINFOHEADER size
        putI32(b, s.width);
        putI32(b, s.height);
        putU16(b, 1);  // planes
        putU16(b, 24); // bits per pixel
        putTag(b, "H264");
        putU32(b, static_cast<uint32_t>(s.width * s.height * 3));
        putU32(b, 0);
        putU32(b, 0);
        putU32(b, 0);
        putU32(b, 0);
        break;
    case StreamKind::Audio: {
        const bool pcm = s.audioCodec == AudioCodec::Pcm;
        const auto extra = pcm ? 0u : static_cast<uint32_t>(s.audioConfig.size());
        putU32(b, 18 + extra);
        putU16(b, pcm ? kWaveFormatPcm : kWaveFormatAac);
        putU16(b, 1); // mono
        putU32(b, static_cast<uint32_t>(s.sampleRate));
        putU32(b, pcm ? static_cast<uint32_t>(s.sampleRate * 2) : 4000u); // bytes per second
        putU16(b, pcm ? 2 : 1);  // block align
        putU16(b, pcm ? 16 : 0); // bits per sample
        putU16(b, static_cast<uint16_t>(extra));
        if (!pcm)
            putBytes(b, s.audioConfig);
        if ((18 + extra) % 2)
            putU8(b, 0);
        break;
    }
    case StreamKind::Text:
        putU32(b, 0); // the text stream has no format block
        break;
    }
    patchU32(b, listStart + 4, static_cast<uint32_t>(b.size() - listStart - 8));
}

// Old bytes left on the card by an earlier recording: noise that looks like
// compressed data. The byte where the cut chunk claims to end is kept from
// looking like a chunk start, so a repair walk stops there.
Bytes oldBytes(uint64_t seed, size_t count, size_t claimedEnd)
{
    Random random(seed ^ 0x6F6C646279746573ull);
    Bytes b(count);
    for (auto &v : b)
        v = static_cast<uint8_t>(random.next() >> 56);
    for (size_t i = claimedEnd; i < claimedEnd + 2 && i < count; ++i)
        if (b[i] == 0 || b[i] == '0')
            b[i] = 0xA5;
    return b;
}

} // namespace

std::string chunkId(int index, StreamKind kind)
{
    std::string id = "00";
    id[1] = static_cast<char>('0' + index);
    switch (kind) {
    case StreamKind::Video: return id + "dc";
    case StreamKind::Audio: return id + "wb";
    case StreamKind::Text: return id + "tx";
    }
    return id;
}

Bytes buildAvi(const std::vector<AviStream> &streams, const std::vector<AviChunk> &chunks,
               int32_t maxSpeedKmh, const std::optional<UnfinishedLayout> &unfinished)
{
    if (streams.empty() || streams.size() > 4)
        throw std::invalid_argument("a recording has one to four streams");
    std::vector<StreamTotals> totals(streams.size());
    uint32_t videoChunks = 0;
    uint64_t payload = 0;
    for (const auto &c : chunks) {
        if (c.stream < 0 || static_cast<size_t>(c.stream) >= streams.size())
            throw std::invalid_argument("chunk of an unknown stream");
        auto &t = totals[static_cast<size_t>(c.stream)];
        ++t.chunks;
        t.bytes += c.data.size();
        t.largest = std::max(t.largest, static_cast<uint32_t>(c.data.size()));
        payload += c.data.size();
        if (streams[static_cast<size_t>(c.stream)].kind == StreamKind::Video)
            ++videoChunks;
    }

    const AviStream *video = nullptr;
    for (const auto &s : streams)
        if (s.kind == StreamKind::Video && !video)
            video = &s;
    const int fps = video ? video->fps : 30;
    const double seconds = video && fps > 0 ? double(totals[0].chunks) / fps : 1.0;

    Bytes b;
    b.reserve(static_cast<size_t>(payload + chunks.size() * 26 + 4096));
    HeaderFields fields;
    putTag(b, "RIFF");
    putU32(b, 0);
    putTag(b, "AVI ");
    const size_t hdrl = b.size();
    putTag(b, "LIST");
    putU32(b, 0);
    putTag(b, "hdrl");
    putTag(b, "avih");
    putU32(b, 56);
    putU32(b, static_cast<uint32_t>(1000000 / std::max(fps, 1))); // microseconds per frame
    putU32(b, static_cast<uint32_t>(double(payload) / std::max(seconds, 0.001)));
    putU32(b, 0); // padding granularity
    putU32(b, kAvifHasIndex | kAvifIsInterleaved);
    fields.totalFrames = b.size();
    putU32(b, videoChunks);
    putU32(b, 0); // initial frames
    putU32(b, static_cast<uint32_t>(streams.size()));
    uint32_t largest = 0;
    for (const auto &t : totals)
        largest = std::max(largest, t.largest);
    putU32(b, largest + 8);
    putU32(b, video ? static_cast<uint32_t>(video->width) : 0);
    putU32(b, video ? static_cast<uint32_t>(video->height) : 0);
    for (int i = 0; i < 4; ++i)
        putU32(b, 0);
    for (size_t i = 0; i < streams.size(); ++i)
        putStreamList(b, streams[i], totals[i], fields);
    patchU32(b, hdrl + 4, static_cast<uint32_t>(b.size() - hdrl - 8));

    const size_t movi = b.size();
    putTag(b, "LIST");
    putU32(b, 0);
    putTag(b, "movi");
    const size_t moviId = movi + 8;

    std::vector<std::string> ids;
    for (size_t i = 0; i < streams.size(); ++i)
        ids.push_back(chunkId(static_cast<int>(i), streams[i].kind));

    // The chunk where power fails: the last one of the first video stream.
    size_t cut = chunks.size();
    if (unfinished) {
        for (size_t i = chunks.size(); i-- > 0;)
            if (chunks[i].stream == 0) {
                cut = i;
                break;
            }
        if (cut == chunks.size())
            throw std::invalid_argument("an unfinished recording needs a chunk to cut");
    }

    Bytes index;
    index.reserve(chunks.size() * 16 + 8);
    putTag(index, "idx1");
    putU32(index, 0);
    for (size_t i = 0; i < chunks.size(); ++i) {
        const auto &c = chunks[i];
        const auto &id = ids[static_cast<size_t>(c.stream)];
        const bool isVideo = streams[static_cast<size_t>(c.stream)].kind == StreamKind::Video;
        putU32(index, 0);
        std::copy(id.begin(), id.end(), index.end() - 4);
        putU32(index, !isVideo || c.keyFrame ? kIndexKeyFrame : 0);
        putU32(index, static_cast<uint32_t>(b.size() - moviId));
        putU32(index, static_cast<uint32_t>(c.data.size()));

        putText(b, id);
        putU32(b, static_cast<uint32_t>(c.data.size()));
        if (i == cut) {
            // Power fails half-way through this chunk's data.
            const size_t written = c.data.size() / 2;
            b.insert(b.end(), c.data.begin(), c.data.begin() + static_cast<std::ptrdiff_t>(written));
            const size_t claimedEnd = c.data.size() - written;
            const Bytes old = oldBytes(unfinished->seed, claimedEnd + 16384, claimedEnd);
            putBytes(b, old);
            for (size_t f : fields.lengths)
                patchU32(b, f, 0);
            patchU32(b, fields.totalFrames, 0);
            return b; // RIFF and movie list sizes stay 0
        }
        putBytes(b, c.data);
        if (c.data.size() % 2)
            putU8(b, 0);
    }
    patchU32(b, movi + 4, static_cast<uint32_t>(b.size() - movi - 8));
    patchU32(index, 4, static_cast<uint32_t>(index.size() - 8));
    putBytes(b, index);
    putTag(b, "JUNK");
    putU32(b, 8);
    putTag(b, "MSPD");
    putI32(b, maxSpeedKmh);
    patchU32(b, 4, static_cast<uint32_t>(b.size() - 8));
    return b;
}

} // namespace mkcard
