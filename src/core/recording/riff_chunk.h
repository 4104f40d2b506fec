#pragma once
// Chunks of the camera's RIFF AVI files: the 8-byte chunk header, the chunk
// ids of the movie list, and the walk over the chunks of a list held in
// memory. Reads only what it is given; any thread.

#include "core/recording/byte_reader.h"

#include <cstdint>

namespace korvante::recording {

// Bytes of a chunk header: the four-character id and the 32-bit data size.
inline constexpr std::uint64_t kChunkHeaderBytes = 8;
// Bytes of a list header: a chunk header and the list's type ("hdrl", "movi").
inline constexpr std::uint64_t kListHeaderBytes = 12;
// Bytes that open every recording: "RIFF", the RIFF size, "AVI ".
inline constexpr std::uint64_t kRiffHeaderBytes = 12;

// Whether a file's first kRiffHeaderBytes bytes are those of a RIFF AVI file.
inline bool isRiffAvi(const unsigned char *head)
{
    return hasTag(head, "RIFF") && hasTag(head + 8, "AVI ");
}

// Where the next chunk starts after the one at `pos` with `size` bytes of data:
// data is padded to an even length.
inline constexpr std::uint64_t nextChunk(std::uint64_t pos, std::uint32_t size)
{
    return pos + kChunkHeaderBytes + size + (size & 1u);
}

// The stream digit of the camera's chunk ids: "0" to "3".
inline bool isStreamDigit(unsigned char c) { return c >= '0' && c <= '3'; }

// The two letters that end the camera's chunk ids: "dc", "wb" or "tx".
inline bool isChunkType(unsigned char a, unsigned char b)
{
    return (a == 'd' && b == 'c') || (a == 'w' && b == 'b') || (a == 't' && b == 'x');
}

// A chunk id the camera writes into a movie list: "0", a stream digit and a
// type ("00dc", "01wb", "03tx" ...).
inline bool isCameraChunkId(const unsigned char *id)
{
    return id[0] == '0' && isStreamDigit(id[1]) && isChunkType(id[2], id[3]);
}

// A stream chunk id of any AVI writer: two decimal digits (the stream number)
// and two lower-case letters.
inline bool isStreamChunkId(const unsigned char *id)
{
    auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    auto lower = [](unsigned char c) { return c >= 'a' && c <= 'z'; };
    return digit(id[0]) && digit(id[1]) && lower(id[2]) && lower(id[3]);
}

// The stream number of a stream chunk id (isStreamChunkId).
inline int chunkStream(const unsigned char *id) { return (id[0] - '0') * 10 + (id[1] - '0'); }

// Any chunk id that may stand between the packets of a movie list: stream
// chunks, "LIST" groups, padding, the index and per-stream index chunks.
inline bool isMovieChunkId(const unsigned char *id)
{
    if (hasTag(id, "LIST") || hasTag(id, "JUNK") || hasTag(id, "idx1"))
        return true;
    if (id[0] == 'i' && id[1] == 'x' && id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9')
        return true;
    return isStreamChunkId(id);
}

// A chunk whose header lies in memory at `pos` (an offset in the caller's bytes).
struct Chunk {
    std::uint64_t pos = 0;
    const unsigned char *id = nullptr; // 4 bytes
    std::uint32_t size = 0;            // of the data, without the pad byte

    std::uint64_t data() const { return pos + kChunkHeaderBytes; }
    std::uint64_t end() const { return data() + size; } // the declared end, without the pad byte
    bool is(const char (&tag)[5]) const { return hasTag(id, tag); }
};

// How a walk treats a chunk whose declared data runs past the end of the bytes.
enum class ChunkFit {
    Whole,  // the walk stops before it (a reader that takes whole chunks only)
    Header, // it is visited (its header is there); the walk ends after it
};

// Visits the chunks that follow each other in `bytes` from `begin` up to
// `end` (an offset within the view), in order, while `visit(const Chunk &)`
// returns true. A chunk is visited when its 8-byte header lies before `end`;
// see ChunkFit for one whose data does not.
template <typename Visit>
void walkChunks(ByteView bytes, std::uint64_t begin, std::uint64_t end, ChunkFit fit, Visit &&visit)
{
    if (end > bytes.size())
        end = bytes.size();
    for (std::uint64_t pos = begin; pos + kChunkHeaderBytes <= end;) {
        const Chunk chunk{pos, bytes.data() + pos, le32(bytes.data() + pos + 4)};
        if (fit == ChunkFit::Whole && chunk.end() > end)
            return;
        if (!visit(chunk))
            return;
        pos = nextChunk(pos, chunk.size);
    }
}

} // namespace korvante::recording
