#include "core/recording/riff_layout.h"

#include "core/recording/byte_source.h"
#include "core/recording/header_list.h"
#include "core/recording/riff_chunk.h"


namespace korvante {
namespace {

constexpr std::int64_t kMaxHeaderList = 4 << 20; // far above any camera's (a few KB)
constexpr int kMaxTopLevelChunks = 64;

// Walks the stream lists of the header list's bytes ("hdrl" first).
void readStreamHeaders(const std::vector<unsigned char> &list, RiffLayout &layout)
{
    const recording::ByteView bytes(list.data(), list.size());
    recording::walkChunks(bytes, 4, list.size(), recording::ChunkFit::Header, [&](const recording::Chunk &c) {
        if (c.is("LIST") && bytes.tagAt(c.pos + 8, "strl")) {
            StreamHeader stream;
            // The stream header is the first chunk of its list.
            const std::uint64_t strh = c.pos + recording::kListHeaderBytes;
            if (const unsigned char *h = bytes.at(strh + 8, recording::kStrhMinimum);
                h && bytes.tagAt(strh, "strh")) {
                stream.type = recording::le32(h + recording::kStrhType);
                stream.scale = recording::le32(h + recording::kStrhScale);
                stream.rate = recording::le32(h + recording::kStrhRate);
                stream.sampleSize = recording::le32(h + recording::kStrhSampleSize);
                // The format chunk follows; for sound it starts with a WAVEFORMATEX.
                const std::uint64_t strf = recording::nextChunk(strh, recording::le32(bytes.data() + strh + 4));
                if (const unsigned char *f = bytes.at(strf + 8, 14); f && bytes.tagAt(strf, "strf"))
                    stream.blockAlign = recording::le16(f + recording::kWaveBlockAlign);
            }
            layout.streams.push_back(stream);
        }
        return true;
    });
}

} // namespace

LayoutResult readRiffLayout(ByteSource &source, RiffLayout &layout, std::string *why)
{
    auto fail = [&](LayoutResult result, const char *text) {
        if (why)
            *why = text;
        return result;
    };
    layout = RiffLayout{};
    layout.fileSize = source.size();
    unsigned char head[12];
    const std::int64_t got = source.readAt(0, head, 12);
    if (got < 0)
        return fail(LayoutResult::Unreadable, "the first bytes cannot be read");
    if (got < 12 || !recording::isRiffAvi(head))
        return fail(LayoutResult::NotRecording, "not a RIFF AVI file");

    bool haveHeader = false;
    std::int64_t pos = 12;
    for (int n = 0; n < kMaxTopLevelChunks && pos + 8 <= layout.fileSize; ++n) {
        const std::int64_t read = source.readAt(pos, head, 12);
        if (read < 0)
            return fail(LayoutResult::Unreadable, "a chunk header cannot be read");
        if (read < 8)
            break;
        const std::int64_t size = recording::le32(head + 4);
        const std::int64_t end = pos + 8 + size;
        const bool list = recording::hasTag(head, "LIST") && read == 12;
        if (list && recording::hasTag(head + 8, "hdrl")) {
            if (size < 4 || size > kMaxHeaderList || end > layout.fileSize)
                return fail(LayoutResult::DamagedHeader, "the header list's size is impossible");
            std::vector<unsigned char> bytes(static_cast<size_t>(size));
            if (source.readAt(pos + 8, bytes.data(), size) != size)
                return fail(LayoutResult::Unreadable, "the header list cannot be read");
            readStreamHeaders(bytes, layout);
            haveHeader = true;
        } else if (list && recording::hasTag(head + 8, "movi")) {
            layout.moviId = pos + 8;
            // An unfinished recording leaves the size 0; a size past the end
            // of the file is no better: the chunks themselves tell where it ends.
            if (size < 4 || end > layout.fileSize)
                break;
            layout.moviEnd = end;
        } else if (recording::hasTag(head, "idx1") && layout.moviId > 0) {
            if (end <= layout.fileSize) {
                layout.idx1Pos = pos;
                layout.idx1Size = static_cast<std::uint32_t>(size);
            }
            break;
        }
        if (end > layout.fileSize)
            break;
        pos = end + (size & 1);
    }
    if (!haveHeader || layout.streams.empty())
        return fail(LayoutResult::DamagedHeader, "no header list with streams");
    if (layout.moviId == 0)
        return fail(LayoutResult::DamagedHeader, "no movie list");
    return LayoutResult::Ok;
}

} // namespace korvante
