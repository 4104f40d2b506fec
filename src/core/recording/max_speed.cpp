#include "core/recording/max_speed.h"

#include "core/recording/byte_reader.h"

#include <algorithm>
#include <cstring>

namespace korvante {
namespace {

class WindowReader final {
public:
    WindowReader(std::FILE *file, SpeedWalkStats *stats) : m_file(file), m_stats(stats) {}

    bool seek(uint64_t offset)
    {
        if (offset > static_cast<uint64_t>(INT64_MAX))
            return false;
        return fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
    }

    // Reads the next window at the current position; returns its start.
    uint64_t read()
    {
        const off_t at = ftello(m_file);
        start = at < 0 ? 0 : static_cast<uint64_t>(at);
        length = at < 0 ? 0 : std::fread(bytes, 1, kSpeedWindow, m_file);
        if (m_stats)
            ++m_stats->reads;
        return start;
    }

    // The last position in the window where `tag` begins with its 32-bit size
    // after it, or -1.
    long lastTagWithSize(const char (&tag)[5]) const
    {
        long found = -1;
        for (size_t j = 0; j + 8 <= length; ++j)
            if (recording::hasTag(bytes + j, tag))
                found = static_cast<long>(j);
        return found;
    }

    unsigned char bytes[kSpeedWindow] = {};
    size_t length = 0;
    uint64_t start = 0;

private:
    std::FILE *m_file;
    SpeedWalkStats *m_stats;
};

// Seeks so that the next window starts one byte before the end of the list or
// chunk whose tag begins at `j` of the current window.
bool seekToLastByteOf(WindowReader &reader, long j)
{
    const uint64_t size = recording::le32(reader.bytes + j + 4);
    return reader.seek(reader.start + static_cast<uint64_t>(j) + 8 + size - 1);
}

// A marker that did not fit the window it began in: the bytes seen so far.
struct Pending {
    unsigned char bytes[8] = {};
    size_t have = 0;
};

} // namespace

std::optional<int32_t> findMaxSpeed(std::FILE *file, uint64_t sizeKiB, SpeedWalkStats *stats)
{
    WindowReader reader(file, stats);
    if (!reader.seek(0))
        return std::nullopt;
    reader.read();
    int64_t budget = static_cast<int64_t>(std::min<uint64_t>(sizeKiB, uint64_t{1} << 40) * 1024);
    if (reader.length >= 8 && recording::hasTag(reader.bytes, "RIFF"))
        budget = static_cast<int32_t>(recording::le32(reader.bytes + 4));
    if (budget <= 0)
        return std::nullopt;

    // The header list at offset 12; its last 12 bytes and the movie list's header
    // share the next window.
    if (reader.length < 20 || !recording::hasTag(reader.bytes + 12, "LIST"))
        return std::nullopt;
    if (!reader.seek(uint64_t{recording::le32(reader.bytes + 16)} + 8))
        return std::nullopt;
    reader.read();
    const long movie = reader.lastTagWithSize("LIST");
    if (movie < 0 || !seekToLastByteOf(reader, movie))
        return std::nullopt;
    reader.read();
    const long index = reader.lastTagWithSize("idx1");
    if (index < 0 || !seekToLastByteOf(reader, index))
        return std::nullopt;

    Pending pending;
    for (;;) {
        budget -= static_cast<int64_t>(kSpeedWindow);
        if (budget < 0)
            return std::nullopt;
        reader.read();
        if (reader.length == 0)
            return std::nullopt;
        const unsigned char *w = reader.bytes;
        const size_t n = reader.length;

        if (pending.have > 0) {
            const size_t take = std::min(sizeof pending.bytes - pending.have, n);
            std::memcpy(pending.bytes + pending.have, w, take);
            if (pending.have + take == sizeof pending.bytes && recording::hasTag(pending.bytes, "MSPD"))
                return static_cast<int32_t>(recording::le32(pending.bytes + 4));
            pending.have = 0; // not completed: look at this window on its own
        }

        std::optional<int32_t> value;
        for (size_t j = 0; j + 4 <= n; ++j) {
            if (!recording::hasTag(w + j, "MSPD"))
                continue;
            if (j + 8 <= n) {
                value = static_cast<int32_t>(recording::le32(w + j + 4));
                pending.have = 0;
            } else {
                // The value runs past the window: completed from the next one.
                value.reset();
                pending.have = n - j;
                std::memcpy(pending.bytes, w + j, pending.have);
            }
        }
        // A marker cut by the window's end, right after a "JUNK" chunk header.
        for (size_t j = std::max<size_t>(n, 3) - 3; j < n; ++j) {
            if (j < 8 || !recording::hasTag(w + j - 8, "JUNK"))
                continue;
            const size_t have = n - j;
            if (std::memcmp(w + j, "MSPD", have) == 0) {
                value.reset();
                pending.have = have;
                std::memcpy(pending.bytes, w + j, have);
                break;
            }
        }
        if (value && pending.have == 0)
            return value;
    }
}

} // namespace korvante
