#pragma once
// The idx1 index of an AVI 1.0 file: after the movie list, one 16-byte entry
// per chunk in movie-list order. The camera and the export count an entry's
// offset from the "movi" identifier (the first chunk is at 4); some other
// writers count from the start of the file. Any thread.

#include "core/recording/byte_reader.h"

#include <cstdint>
#include <cstring>

namespace korvante::recording {

inline constexpr std::uint64_t kIdx1EntryBytes = 16;
// The entry's flag for a chunk that decoding can start from: an IDR picture,
// and every sound and metadata chunk.
inline constexpr std::uint32_t kIdx1KeyFrame = 0x10;

struct Idx1Entry {
    unsigned char id[4];
    std::uint32_t flags;
    std::uint32_t offset; // of the chunk header, from "movi" (or the file's start)
    std::uint32_t size;   // of the chunk's data
};

// The entry whose 16 bytes are at `p`.
inline Idx1Entry readIdx1Entry(const unsigned char *p)
{
    Idx1Entry e;
    std::memcpy(e.id, p, 4);
    e.flags = le32(p + 4);
    e.offset = le32(p + 8);
    e.size = le32(p + 12);
    return e;
}

// Writes an entry's 16 bytes at `p`.
inline void writeIdx1Entry(unsigned char *p, const unsigned char *id, std::uint32_t flags, std::uint32_t offset,
                           std::uint32_t size)
{
    std::memcpy(p, id, 4);
    putLe32(p + 4, flags);
    putLe32(p + 8, offset);
    putLe32(p + 12, size);
}

} // namespace korvante::recording
