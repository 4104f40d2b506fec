#pragma once
// Little-endian byte assembly for the container writer and the packet builders.

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace mkcard {

using Bytes = std::vector<uint8_t>;

inline void putU8(Bytes &b, uint8_t v) { b.push_back(v); }

inline void putU16(Bytes &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline void putU32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void putI32(Bytes &b, int32_t v) { putU32(b, static_cast<uint32_t>(v)); }

// Four characters, or fewer padded with zero bytes.
inline void putTag(Bytes &b, std::string_view tag)
{
    for (size_t i = 0; i < 4; ++i)
        b.push_back(i < tag.size() ? static_cast<uint8_t>(tag[i]) : 0);
}

inline void putBytes(Bytes &b, std::span<const uint8_t> data) { b.insert(b.end(), data.begin(), data.end()); }

inline void putText(Bytes &b, std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }

inline void patchU32(Bytes &b, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t readU32(std::span<const uint8_t> b, size_t offset)
{
    return static_cast<uint32_t>(b[offset]) | static_cast<uint32_t>(b[offset + 1]) << 8 |
           static_cast<uint32_t>(b[offset + 2]) << 16 | static_cast<uint32_t>(b[offset + 3]) << 24;
}

inline uint16_t readU16(std::span<const uint8_t> b, size_t offset)
{
    return static_cast<uint16_t>(b[offset] | b[offset + 1] << 8);
}

// A small deterministic generator (splitmix64): the same seed gives the same
// sequence on every platform, unlike the standard distributions.
class Random final {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform in [-1, 1).
    double symmetric() { return unit() * 2.0 - 1.0; }

private:
    uint64_t m_state;
};

} // namespace mkcard
