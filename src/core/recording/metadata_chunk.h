#pragma once
// A metadata chunk ("tx") of the camera's movie list: a 32-bit time in
// milliseconds from the start of the recording, then one packet ('M', 'S',
// 'G' or a private record). The camera's private records ("QXMS" camera model
// and serial, "QXDJ" driver and journal data) are a 4-character tag, a 16-bit
// length L, two reserved bytes and L bytes of text: L + 8 in all. Any thread.

#include "core/recording/byte_reader.h"

#include <cstdint>

namespace korvante::recording {

inline constexpr std::uint64_t kMetadataTimeBytes = 4;
inline constexpr std::uint64_t kPrivateRecordHeader = 8;

// The time of a chunk whose data starts at `data` (at least kMetadataTimeBytes), in ms.
inline std::int32_t metadataTime(const unsigned char *data)
{
    return static_cast<std::int32_t>(le32(data));
}

// Whether a private record starts at `p` (4 bytes); `model` says which one.
inline bool isPrivateRecord(const unsigned char *p, bool *model)
{
    *model = hasTag(p, "QXMS");
    return *model || hasTag(p, "QXDJ");
}

// The whole length of the private record at `p` (at least 6 bytes), header included.
inline std::uint64_t privateRecordLength(const unsigned char *p)
{
    return kPrivateRecordHeader + le16(p + 4);
}

} // namespace korvante::recording
