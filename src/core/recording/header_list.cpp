#include "core/recording/header_list.h"

#include "core/recording/riff_chunk.h"

#include <cstring>

namespace korvante::recording {

namespace {

// How far a header list without its size is searched for the movie list.
constexpr std::size_t kMaxUnsizedHeader = 1u << 20;

// The offset of the first "LIST" <size> "movi" at or after `from`, or 0.
std::uint64_t findMovieList(const unsigned char *bytes, std::size_t size, std::uint64_t from)
{
    for (std::uint64_t q = from; q + kListHeaderBytes <= size; ++q)
        if (hasTag(bytes + q, "LIST") && hasTag(bytes + q + 8, "movi"))
            return q;
    return 0;
}

void parseStreamList(ByteView bytes, std::uint64_t begin, std::uint64_t end, AviHeader &header)
{
    AviStream stream;
    walkChunks(bytes, begin, end, ChunkFit::Whole, [&](const Chunk &c) {
        if (c.is("strh") && c.size >= kStrhMinimum) {
            const unsigned char *data = bytes.data() + c.data();
            std::memcpy(stream.type, data + kStrhType, 4);
            stream.typeOffset = c.data();
            stream.rate = le32(data + kStrhRate);
            stream.sampleSize = le32(data + kStrhSampleSize);
        }
        return true;
    });
    const int position = static_cast<int>(header.streams.size());
    if (std::memcmp(stream.type, "vids", 4) == 0) {
        ++header.videoStreams;
        if (header.front < 0)
            header.front = position;
        else if (header.rear < 0)
            header.rear = position;
    } else if (std::memcmp(stream.type, "auds", 4) == 0 && header.audio < 0) {
        header.audio = position;
    } else if (std::memcmp(stream.type, "txts", 4) == 0 && header.text < 0) {
        header.text = position;
    }
    header.streams.push_back(stream);
}

void parseHeaderList(ByteView bytes, std::uint64_t begin, std::uint64_t end, AviHeader &header)
{
    // A later header list replaces what an earlier one said: the stream
    // positions and counts pointed into the table it replaces.
    header.streams.clear();
    header.videoStreams = 0;
    header.front = header.rear = header.audio = header.text = -1;
    // A damaged header list: keep what was found before the chunk that runs past it.
    walkChunks(bytes, begin, end, ChunkFit::Whole, [&](const Chunk &c) {
        if (c.is("avih") && c.size >= 20)
            header.totalFrames = c.data() + kAvihTotalFrames;
        else if (c.is("LIST") && c.size >= 4 && hasTag(bytes.data() + c.data(), "strl"))
            parseStreamList(bytes, c.data() + 4, c.end(), header);
        return true;
    });
}

} // namespace

ChunkClass AviHeader::classify(const unsigned char *id) const
{
    if (!isCameraChunkId(id))
        return ChunkClass::Other;
    const int digit = id[1] - '0';
    if ((videoStreams < 2 && digit > 2) || (!streams.empty() && digit >= static_cast<int>(streams.size())))
        return ChunkClass::Other;
    if (id[2] == 'd')
        return videoStreams >= 2 && digit != 0 ? ChunkClass::Rear : ChunkClass::Front;
    return id[2] == 'w' ? ChunkClass::Audio : ChunkClass::Text;
}

HeaderParse parseAviHeader(const unsigned char *bytes, std::size_t size, AviHeader &header)
{
    header = AviHeader{};
    if (size < kListHeaderBytes)
        return HeaderParse::Need;
    if (!hasTag(bytes, "RIFF") || !hasTag(bytes + 8, "AVI "))
        return HeaderParse::Bad;
    const ByteView view(bytes, size);
    header.declaredLength = static_cast<std::uint64_t>(le32(bytes + 4)) + 8;
    for (std::uint64_t p = 12;;) {
        if (p + kListHeaderBytes > size)
            return HeaderParse::Need;
        const std::uint32_t chunkSize = le32(bytes + p + 4);
        if (hasTag(bytes + p, "LIST") && hasTag(bytes + p + 8, "movi")) {
            header.moviList = p;
            header.moviId = p + 8;
            return HeaderParse::Done;
        }
        if (hasTag(bytes + p, "LIST") && hasTag(bytes + p + 8, "hdrl")) {
            if (chunkSize < 4) {
                // A header list whose size was never written: it ends where
                // the movie list begins.
                const std::uint64_t movi = findMovieList(bytes, size, p + kListHeaderBytes);
                if (movi == 0)
                    return size >= kMaxUnsizedHeader ? HeaderParse::Bad : HeaderParse::Need;
                header.streams.clear();
                parseHeaderList(view, p + kListHeaderBytes, movi, header);
                header.unsizedHeaderList = p;
                header.moviList = movi;
                header.moviId = movi + 8;
                return HeaderParse::Done;
            }
            if (p + 8 + chunkSize > size)
                return HeaderParse::Need;
            header.streams.clear();
            parseHeaderList(view, p + kListHeaderBytes, p + 8 + chunkSize, header);
        }
        p = nextChunk(p, chunkSize);
    }
}

double firstVideoSeconds(const unsigned char *b, std::size_t size)
{
    if (size < 32 || !hasTag(b, "RIFF") || !hasTag(b + 12, "LIST") || std::memcmp(b + 20, "hdrlavih", 8) != 0)
        return 0;
    const std::uint64_t list = 32 + std::uint64_t(le32(b + 28) + 1) / 2 * 2; // the first stream's "LIST strl"
    const std::uint64_t data = list + 20;                                     // its "strh" data
    if (data + 36 > size || !hasTag(b + list, "LIST") || std::memcmp(b + list + 8, "strlstrh", 8) != 0
        || !hasTag(b + data, "vids"))
        return 0;
    const std::uint32_t scale = le32(b + data + kStrhScale);
    const std::uint32_t rate = le32(b + data + kStrhRate);
    const std::uint32_t length = le32(b + data + kStrhLength);
    if (rate == 0 || scale == 0)
        return 0;
    return double(length) * scale / rate;
}

} // namespace korvante::recording
