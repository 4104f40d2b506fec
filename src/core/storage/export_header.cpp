#include "core/storage/export_header.h"

#include "core/storage/riff_bytes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace korvante::export_detail {

namespace {

using riff::hasTag;
using riff::readLe32;

constexpr size_t kStrhMinimum = 48; // through the sample size field
// How far a header list without its size is searched for the movie list.
constexpr size_t kMaxUnsizedHeader = 1u << 20;

// The offset of the first "LIST" <size> "movi" at or after `from`, or 0.
uint64_t findMovieList(const unsigned char *bytes, size_t size, uint64_t from)
{
    for (uint64_t q = from; q + 12 <= size; ++q)
        if (hasTag(bytes + q, "LIST") && hasTag(bytes + q + 8, "movi"))
            return q;
    return 0;
}

void parseStreamList(const unsigned char *bytes, uint64_t begin, uint64_t end, AviHeader &header)
{
    StreamHeader stream;
    for (uint64_t q = begin; q + 8 <= end;) {
        const uint32_t size = readLe32(bytes + q + 4);
        if (q + 8 + size > end)
            break;
        if (hasTag(bytes + q, "strh") && size >= kStrhMinimum) {
            const unsigned char *type = bytes + q + 8;
            std::memcpy(stream.type, type, 4);
            stream.typeOffset = q + 8;
            stream.rate = readLe32(type + 24);
            stream.sampleSize = readLe32(type + 44);
        }
        q += 8 + static_cast<uint64_t>(size) + (size & 1u);
    }
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

void parseHeaderList(const unsigned char *bytes, uint64_t begin, uint64_t end, AviHeader &header)
{
    // A later header list replaces what an earlier one said: the stream
    // positions and counts pointed into the table it replaces.
    header.streams.clear();
    header.videoStreams = 0;
    header.front = header.rear = header.audio = header.text = -1;
    for (uint64_t q = begin; q + 8 <= end;) {
        const uint32_t size = readLe32(bytes + q + 4);
        if (q + 8 + size > end)
            break; // a damaged header list: keep what was found
        if (hasTag(bytes + q, "avih") && size >= 20)
            header.totalFrames = q + 8 + 16;
        else if (hasTag(bytes + q, "LIST") && size >= 4 && hasTag(bytes + q + 8, "strl"))
            parseStreamList(bytes, q + 12, q + 8 + size, header);
        q += 8 + static_cast<uint64_t>(size) + (size & 1u);
    }
}

} // namespace

ChunkClass AviHeader::classify(const unsigned char *id) const
{
    if (id[0] != '0' || !riff::isStreamDigit(id[1]) || !riff::isChunkType(id[2], id[3]))
        return ChunkClass::Other;
    const int digit = id[1] - '0';
    if ((videoStreams < 2 && digit > 2) || (!streams.empty() && digit >= static_cast<int>(streams.size())))
        return ChunkClass::Other;
    if (id[2] == 'd')
        return videoStreams >= 2 && digit != 0 ? ChunkClass::Rear : ChunkClass::Front;
    return id[2] == 'w' ? ChunkClass::Audio : ChunkClass::Text;
}

HeaderParse parseAviHeader(const unsigned char *bytes, size_t size, AviHeader &header)
{
    header = AviHeader{};
    if (size < 12)
        return HeaderParse::Need;
    if (!hasTag(bytes, "RIFF") || !hasTag(bytes + 8, "AVI "))
        return HeaderParse::Bad;
    header.declaredLength = static_cast<uint64_t>(readLe32(bytes + 4)) + 8;
    for (uint64_t p = 12;;) {
        if (p + 12 > size)
            return HeaderParse::Need;
        const uint32_t chunkSize = readLe32(bytes + p + 4);
        if (hasTag(bytes + p, "LIST") && hasTag(bytes + p + 8, "movi")) {
            header.moviList = p;
            header.moviId = p + 8;
            return HeaderParse::Done;
        }
        if (hasTag(bytes + p, "LIST") && hasTag(bytes + p + 8, "hdrl")) {
            if (chunkSize < 4) {
                // A header list whose size was never written: it ends where
                // the movie list begins.
                const uint64_t movi = findMovieList(bytes, size, p + 12);
                if (movi == 0)
                    return size >= kMaxUnsizedHeader ? HeaderParse::Bad : HeaderParse::Need;
                header.streams.clear();
                parseHeaderList(bytes, p + 12, movi, header);
                header.unsizedHeaderList = p;
                header.moviList = movi;
                header.moviId = movi + 8;
                return HeaderParse::Done;
            }
            if (p + 8 + chunkSize > size)
                return HeaderParse::Need;
            header.streams.clear();
            parseHeaderList(bytes, p + 12, p + 8 + chunkSize, header);
        }
        p += 8 + static_cast<uint64_t>(chunkSize) + (chunkSize & 1u);
    }
}

void StreamTotals::add(ChunkClass cls, uint32_t size)
{
    StreamTotal *t = nullptr;
    switch (cls) {
    case ChunkClass::Front: t = &front; break;
    case ChunkClass::Rear: t = &rear; break;
    case ChunkClass::Audio: t = &audio; break;
    case ChunkClass::Text: t = &text; break;
    case ChunkClass::Other: return;
    }
    ++t->chunks;
    t->bytes += size;
    t->largest = std::max(t->largest, size);
}

std::optional<Rates> correctRates(const Rates &rates, uint32_t frontChunks, uint32_t rearChunks,
                                  uint32_t textChunks)
{
    const int64_t F = rates.front, R = rates.rear, T = rates.text;
    if (F < 1000 || R < 1000 || T < 1000)
        return std::nullopt;
    const int64_t f = frontChunks, r = rearChunks, t = textChunks, k = f + r;
    const int64_t seconds = k / ((R + F) / 1000);
    int64_t expectedRear = (R / 1000) * seconds;
    int64_t expectedFront = seconds * (F / 1000);
    if (expectedFront + expectedRear < k) {
        const int64_t d = (k - expectedRear - expectedFront) / 2;
        expectedRear += d;
        expectedFront += d;
    }
    const int64_t expectedText = expectedFront * T / F;
    const int64_t text = T + (1000000 / T) * (t - expectedText);
    const int64_t front = F - (1000000 / F) * (expectedFront - f);
    const int64_t rear = R - (1000000 / R) * (expectedRear - r);
    constexpr int64_t top = std::numeric_limits<uint32_t>::max();
    for (int64_t v : {text, front, rear})
        if (v <= 0 || v > top)
            return std::nullopt;
    return Rates{static_cast<uint32_t>(front), static_cast<uint32_t>(rear), static_cast<uint32_t>(text)};
}

std::vector<std::pair<uint64_t, uint32_t>> headerPatches(const AviHeader &header, const StreamTotals &totals,
                                                         uint64_t kept, uint64_t indexLength)
{
    std::vector<std::pair<uint64_t, uint32_t>> patches;
    patches.emplace_back(4, static_cast<uint32_t>(kept + indexLength - 8));
    patches.emplace_back(header.moviList + 4, static_cast<uint32_t>(kept - (header.moviList + 8)));
    if (header.unsizedHeaderList)
        patches.emplace_back(*header.unsizedHeaderList + 4,
                             static_cast<uint32_t>(header.moviList - (*header.unsizedHeaderList + 8)));
    if (header.totalFrames)
        patches.emplace_back(*header.totalFrames, totals.front.chunks + totals.rear.chunks);
    auto stream = [&](int position, uint32_t length, uint32_t largest) {
        if (position < 0)
            return;
        const uint64_t at = header.streams[static_cast<size_t>(position)].typeOffset;
        patches.emplace_back(at + 32, length);
        patches.emplace_back(at + 36, largest);
    };
    stream(header.front, totals.front.chunks, totals.front.largest);
    if (header.videoStreams >= 2)
        stream(header.rear, totals.rear.chunks, totals.rear.largest);
    if (header.audio >= 0) {
        // A stream with a sample size counts samples of that many bytes (PCM);
        // otherwise each chunk is one unit (an AAC frame).
        const uint32_t sampleSize = header.streams[static_cast<size_t>(header.audio)].sampleSize;
        const uint64_t length = sampleSize > 0 ? totals.audio.bytes / sampleSize : totals.audio.chunks;
        stream(header.audio, static_cast<uint32_t>(length), totals.audio.largest);
    }
    stream(header.text, totals.text.chunks, totals.text.largest);
    if (header.videoStreams >= 2 && header.text >= 0) {
        const auto &s = header.streams;
        const Rates rates{s[static_cast<size_t>(header.front)].rate, s[static_cast<size_t>(header.rear)].rate,
                          s[static_cast<size_t>(header.text)].rate};
        if (const auto fixed = correctRates(rates, totals.front.chunks, totals.rear.chunks, totals.text.chunks)) {
            patches.emplace_back(s[static_cast<size_t>(header.front)].typeOffset + 24, fixed->front);
            patches.emplace_back(s[static_cast<size_t>(header.rear)].typeOffset + 24, fixed->rear);
            patches.emplace_back(s[static_cast<size_t>(header.text)].typeOffset + 24, fixed->text);
        }
    }
    return patches;
}

} // namespace korvante::export_detail
