#pragma once
// Little-endian helpers for the byte-level walks over recordings.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvante::riff {

inline uint32_t readLe32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
           | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void writeLe32(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline bool hasTag(const unsigned char *p, const char (&tag)[5])
{
    return std::memcmp(p, tag, 4) == 0;
}

// A stream digit "0" to "3" of a movie chunk id.
inline bool isStreamDigit(unsigned char c) { return c >= '0' && c <= '3'; }

// The two letters that end a movie chunk id: "dc", "wb" or "tx".
inline bool isChunkType(unsigned char a, unsigned char b)
{
    return (a == 'd' && b == 'c') || (a == 'w' && b == 'b') || (a == 't' && b == 'x');
}

} // namespace korvante::riff
