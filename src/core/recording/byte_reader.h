#pragma once
// The one reader of the little-endian numbers and four-character tags that the
// camera's files are made of: RIFF chunks, stream headers, the idx1 index, the
// metadata chunks, and the card library's list records.
//
// Two levels:
// - the plain functions read at a pointer; the caller has made sure that the
//   bytes are there (hot loops that check a whole window once);
// - ByteView carries its length and checks every read against it: a read past
//   the end gives nothing (std::nullopt / false), never bytes beyond the view.
// All inline: the walks call these for every chunk, and cost what a hand-written
// shift and compare costs. No state; any thread.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace korvante::recording {

inline std::uint16_t le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t le64(const unsigned char *p)
{
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}

inline void putLe32(unsigned char *p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Whether the four bytes at `p` are `tag` ("RIFF", "movi", "00dc" ...).
inline bool hasTag(const unsigned char *p, const char (&tag)[5])
{
    return std::memcmp(p, tag, 4) == 0;
}

// A tag as the 32-bit number it reads as (the form stream headers keep types in).
constexpr std::uint32_t fourcc(const char (&tag)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(tag[0]))
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(tag[1])) << 8)
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(tag[2])) << 16)
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(tag[3])) << 24);
}

// Bytes held elsewhere (the caller's buffer outlives the view), read with
// bounds checks. Offsets are from the start of the view.
class ByteView {
public:
    ByteView(const unsigned char *data, std::size_t size) : m_data(data), m_size(size) {}

    const unsigned char *data() const { return m_data; }
    std::size_t size() const { return m_size; }

    // Whether [offset, offset + length) lies inside the view.
    bool has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }
    // The bytes at `offset` when `length` of them are there, else null.
    const unsigned char *at(std::uint64_t offset, std::uint64_t length) const
    {
        return has(offset, length) ? m_data + offset : nullptr;
    }
    std::optional<std::uint16_t> le16At(std::uint64_t offset) const
    {
        if (!has(offset, 2))
            return std::nullopt;
        return le16(m_data + offset);
    }
    std::optional<std::uint32_t> le32At(std::uint64_t offset) const
    {
        if (!has(offset, 4))
            return std::nullopt;
        return le32(m_data + offset);
    }
    // False as well when the four bytes are not all there.
    bool tagAt(std::uint64_t offset, const char (&tag)[5]) const
    {
        return has(offset, 4) && hasTag(m_data + offset, tag);
    }

private:
    const unsigned char *m_data;
    std::size_t m_size;
};

} // namespace korvante::recording
