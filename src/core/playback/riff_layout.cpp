#include "core/playback/riff_layout.h"

#include "core/playback/byte_source.h"

#include <cstring>

namespace korvante {
namespace {

constexpr std::int64_t kMaxHeaderList = 4 << 20; // far above any camera's (a few KB)
constexpr int kMaxTopLevelChunks = 64;

std::uint32_t le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Walks the stream lists of the header list's bytes.
void readStreamHeaders(const std::vector<unsigned char> &list, RiffLayout &layout)
{
    size_t pos = 4; // after "hdrl"
    while (pos + 8 <= list.size()) {
        const unsigned char *head = list.data() + pos;
        const std::uint32_t size = le32(head + 4);
        if (std::memcmp(head, "LIST", 4) == 0 && pos + 12 <= list.size()
            && std::memcmp(head + 8, "strl", 4) == 0) {
            StreamHeader stream;
            // The stream header is the first chunk of its list.
            const size_t strh = pos + 12;
            if (strh + 8 + 48 <= list.size() && std::memcmp(list.data() + strh, "strh", 4) == 0) {
                const unsigned char *h = list.data() + strh + 8;
                stream.type = le32(h);
                stream.scale = le32(h + 20);
                stream.rate = le32(h + 24);
                stream.sampleSize = le32(h + 44);
                // The format chunk follows; for sound it starts with a WAVEFORMATEX.
                const std::uint32_t strhSize = le32(list.data() + strh + 4);
                const size_t strf = strh + 8 + strhSize + (strhSize & 1);
                if (strf + 8 + 14 <= list.size() && std::memcmp(list.data() + strf, "strf", 4) == 0) {
                    const unsigned char *f = list.data() + strf + 8;
                    stream.blockAlign = static_cast<std::uint32_t>(f[12] | (f[13] << 8));
                }
            }
            layout.streams.push_back(stream);
        }
        if (size > list.size())
            break;
        pos += 8 + size + (size & 1);
    }
}

} // namespace

std::uint32_t fourcc(const char (&text)[5])
{
    return le32(reinterpret_cast<const unsigned char *>(text));
}

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
    if (got < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0)
        return fail(LayoutResult::NotRecording, "not a RIFF AVI file");

    bool haveHeader = false;
    std::int64_t pos = 12;
    for (int n = 0; n < kMaxTopLevelChunks && pos + 8 <= layout.fileSize; ++n) {
        const std::int64_t read = source.readAt(pos, head, 12);
        if (read < 0)
            return fail(LayoutResult::Unreadable, "a chunk header cannot be read");
        if (read < 8)
            break;
        const std::int64_t size = le32(head + 4);
        const std::int64_t end = pos + 8 + size;
        const bool list = std::memcmp(head, "LIST", 4) == 0 && read == 12;
        if (list && std::memcmp(head + 8, "hdrl", 4) == 0) {
            if (size < 4 || size > kMaxHeaderList || end > layout.fileSize)
                return fail(LayoutResult::DamagedHeader, "the header list's size is impossible");
            std::vector<unsigned char> bytes(static_cast<size_t>(size));
            if (source.readAt(pos + 8, bytes.data(), size) != size)
                return fail(LayoutResult::Unreadable, "the header list cannot be read");
            readStreamHeaders(bytes, layout);
            haveHeader = true;
        } else if (list && std::memcmp(head + 8, "movi", 4) == 0) {
            layout.moviId = pos + 8;
            // An unfinished recording leaves the size 0; a size past the end
            // of the file is no better: the chunks themselves tell where it ends.
            if (size < 4 || end > layout.fileSize)
                break;
            layout.moviEnd = end;
        } else if (std::memcmp(head, "idx1", 4) == 0 && layout.moviId > 0) {
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
