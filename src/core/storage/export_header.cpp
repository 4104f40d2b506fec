#include "core/storage/export_header.h"

#include "core/recording/header_list.h"

#include <algorithm>
#include <limits>

namespace korvante::export_detail {

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
        patches.emplace_back(at + recording::kStrhLength, length);
        patches.emplace_back(at + recording::kStrhSuggestedBuffer, largest);
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
            patches.emplace_back(s[static_cast<size_t>(header.front)].typeOffset + recording::kStrhRate, fixed->front);
            patches.emplace_back(s[static_cast<size_t>(header.rear)].typeOffset + recording::kStrhRate, fixed->rear);
            patches.emplace_back(s[static_cast<size_t>(header.text)].typeOffset + recording::kStrhRate, fixed->text);
        }
    }
    return patches;
}

} // namespace korvante::export_detail
