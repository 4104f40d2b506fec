#include "core/storage/export_walk.h"

#include "core/storage/export_header.h"
#include "core/recording/header_list.h"
#include "core/recording/idx1.h"
#include "core/recording/metadata_chunk.h"
#include "core/recording/riff_chunk.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include <unistd.h>

namespace korvante {

bool MemoryExportWriter::append(const unsigned char *data, size_t size)
{
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

bool MemoryExportWriter::writeAt(uint64_t offset, const unsigned char *data, size_t size)
{
    if (offset > bytes.size() || size > bytes.size() - offset)
        return false;
    std::memcpy(bytes.data() + offset, data, size);
    return true;
}

bool MemoryExportWriter::truncate(uint64_t length)
{
    if (length > bytes.size())
        return false;
    bytes.resize(static_cast<size_t>(length));
    return true;
}

namespace {

bool writeAllAt(int fd, uint64_t offset, const unsigned char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace

bool FileExportWriter::append(const unsigned char *data, size_t size)
{
    // Whole aligned blocks go past the page cache when a direct descriptor is
    // at hand: buffered writes of a large file are charged to the page cache
    // and held back by its writeback, while the sync at the end must wait for
    // the disk anyway. The tail, and anything unaligned, is written buffered.
    const bool aligned = m_end % kDirectAlignment == 0 && size % kDirectAlignment == 0
                         && reinterpret_cast<uintptr_t>(data) % kDirectAlignment == 0;
    if (m_directFd >= 0 && aligned) {
        if (writeAllAt(m_directFd, m_end, data, size)) {
            m_end += size;
            return true;
        }
        if (errno != EINVAL) {
            m_error = errno;
            return false;
        }
        m_directFd = -1; // the file system refuses direct writes after all
    }
    if (!writeAllAt(m_fd, m_end, data, size)) {
        m_error = errno;
        return false;
    }
    m_end += size;
    return true;
}

bool FileExportWriter::writeAt(uint64_t offset, const unsigned char *data, size_t size)
{
    if (offset > m_end || size > m_end - offset)
        return false;
    if (writeAllAt(m_fd, offset, data, size))
        return true;
    m_error = errno;
    return false;
}

bool FileExportWriter::truncate(uint64_t length)
{
    if (length > m_end)
        return false;
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0) {
        m_error = errno;
        return false;
    }
    m_end = length;
    return true;
}

namespace {

using recording::AviHeader;
using recording::ChunkClass;
using recording::HeaderParse;

// A chunk's size above this counts as no chunk (the camera never writes one).
constexpr uint32_t kMaxChunkSize = 100663296;
// Bytes of a chunk's data looked at: the picture start code of a video chunk
// is searched in the first 48 positions, a private record's tag and length in
// a metadata chunk's first bytes.
constexpr size_t kLookBytes = 52;
// Header bytes gathered at most while looking for the movie list.
constexpr size_t kMaxHeaderBytes = 16u << 20;
constexpr uint32_t kKeyFrameFlag = recording::kIdx1KeyFrame;

struct IndexEntry {
    std::array<char, 4> id{};
    uint32_t flags = 0;
    uint64_t position = 0; // of the chunk header in the file
    uint32_t size = 0;
    ChunkClass cls = ChunkClass::Other;
};

struct Blank {
    uint64_t begin = 0;
    uint64_t end = 0;
    unsigned char fill = 0;
};

class Walk final {
public:
    Walk(ExportWriter &out, ExportResult &result) : m_out(out), m_result(result) {}

    // Walks one block at file offset `base`, blanks it (and bytes already
    // written before it) and appends it. False when the export must stop.
    bool block(unsigned char *data, size_t n, uint64_t base);
    // After the last block: the finished or rebuilt output.
    void finish(uint64_t total);

private:
    enum class End { Open, Index, NotChunk };

    bool parseHeader(const unsigned char *data, size_t n, uint64_t base);
    void walk(const unsigned char *p, uint64_t base, size_t n);
    void chunk(const unsigned char *win, uint32_t size, size_t look);
    void blankRecords(const unsigned char *data, size_t look, uint64_t dataPos, uint64_t dataEnd);
    bool applyBlanks(unsigned char *data, size_t n, uint64_t base);
    bool rebuild(uint64_t total);
    bool fail(ExportOutcome outcome, std::string message);
    // A write failure, with the writer's reason (a full disk, an I/O error).
    bool writeFailed(const std::string &what);

    ExportWriter &m_out;
    ExportResult &m_result;
    std::vector<unsigned char> m_head; // bytes from offset 0 while the header is incomplete
    std::optional<AviHeader> m_header;
    uint64_t m_next = 0; // next chunk header
    std::array<unsigned char, 8 + kLookBytes> m_win{};
    size_t m_have = 0;   // bytes of m_win filled from m_next
    End m_end = End::Open;
    std::vector<IndexEntry> m_entries;
    uint64_t m_lastUnit = 0; // start of the last chunk walked over
    bool m_lastIsEntry = false;
    bool m_anyUnit = false;
    std::vector<Blank> m_blanks;
};

bool Walk::fail(ExportOutcome outcome, std::string message)
{
    m_result.outcome = outcome;
    m_result.message = std::move(message);
    return false;
}

bool Walk::writeFailed(const std::string &what)
{
    const int error = m_out.error();
    return fail(ExportOutcome::WriteFailed, error != 0 ? what + ": " + std::strerror(error) : what);
}

bool Walk::parseHeader(const unsigned char *data, size_t n, uint64_t base)
{
    const unsigned char *view = data;
    size_t viewSize = n;
    if (!m_head.empty() || base != 0) {
        m_head.insert(m_head.end(), data, data + n);
        view = m_head.data();
        viewSize = m_head.size();
    }
    AviHeader header;
    switch (recording::parseAviHeader(view, viewSize, header)) {
    case HeaderParse::Bad:
        return fail(ExportOutcome::NotAvi, "not an AVI recording (no RIFF AVI header with a movie list)");
    case HeaderParse::Need:
        if (viewSize >= kMaxHeaderBytes)
            return fail(ExportOutcome::NotAvi, "the recording's header is too large");
        if (m_head.empty())
            m_head.assign(data, data + n);
        return true;
    case HeaderParse::Done:
        break;
    }
    m_header = header;
    m_next = header.moviId + 4;
    walk(view, 0, viewSize);
    m_head = {};
    return true;
}

void Walk::walk(const unsigned char *p, uint64_t base, size_t n)
{
    const uint64_t end = base + n;
    while (m_end == End::Open) {
        const uint64_t pos = m_next + m_have;
        if (pos >= end || pos < base)
            return;
        size_t need = 8;
        auto fill = [&] {
            const uint64_t at = m_next + m_have;
            if (m_have >= need || at >= end)
                return;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(need - m_have, end - at));
            std::memcpy(m_win.data() + m_have, p + (at - base), take);
            m_have += take;
        };
        fill();
        if (m_have < 8)
            return;
        const uint32_t size = recording::le32(m_win.data() + 4);
        if (recording::hasTag(m_win.data(), "idx1")) {
            m_end = End::Index;
            return;
        }
        const bool junk = recording::hasTag(m_win.data(), "JUNK");
        const ChunkClass cls = junk ? ChunkClass::Other : m_header->classify(m_win.data());
        if ((!junk && cls == ChunkClass::Other) || size > kMaxChunkSize) {
            m_end = End::NotChunk;
            return;
        }
        const size_t look = junk ? 0 : std::min<size_t>(size, kLookBytes);
        need = 8 + look;
        fill();
        if (m_have < need)
            return;
        m_lastUnit = m_next;
        m_anyUnit = true;
        m_lastIsEntry = !junk;
        if (!junk)
            chunk(m_win.data(), size, look);
        m_next = recording::nextChunk(m_next, size);
        m_have = 0;
    }
}

void Walk::chunk(const unsigned char *win, uint32_t size, size_t look)
{
    IndexEntry e;
    std::memcpy(e.id.data(), win, 4);
    e.position = m_next;
    e.size = size;
    e.cls = m_header->classify(win);
    e.flags = kKeyFrameFlag;
    const unsigned char *data = win + 8;
    if (e.cls == ChunkClass::Front || e.cls == ChunkClass::Rear) {
        // A picture is a key frame unless its first slice is a non-IDR one;
        // without a start code in sight it counts as one.
        for (size_t i = 0; i < 48 && i + 3 < look; ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1
                && (data[i + 3] == 'A' || data[i + 3] == 'e')) {
                e.flags = data[i + 3] == 'e' ? kKeyFrameFlag : 0;
                break;
            }
        }
    } else if (e.cls == ChunkClass::Text) {
        blankRecords(data, look, m_next + 8, m_next + 8 + size);
    }
    m_entries.push_back(e);
}

void Walk::blankRecords(const unsigned char *data, size_t look, uint64_t dataPos, uint64_t dataEnd)
{
    for (size_t i = 0; i + 6 <= look;) {
        bool model = false;
        if (!recording::isPrivateRecord(data + i, &model)) {
            ++i;
            continue;
        }
        const uint64_t length = recording::privateRecordLength(data + i);
        const uint64_t begin = dataPos + i;
        m_blanks.push_back({begin, std::min(begin + length, dataEnd), static_cast<unsigned char>(model ? 'M' : 'D')});
        ++m_result.blankedRecords;
        i += static_cast<size_t>(std::min<uint64_t>(length, look - i));
    }
}

bool Walk::applyBlanks(unsigned char *data, size_t n, uint64_t base)
{
    const uint64_t end = base + n;
    std::vector<Blank> later;
    for (const Blank &b : m_blanks) {
        if (b.begin < base) {
            // A record whose start lay in a block already written.
            const uint64_t stop = std::min(b.end, base);
            const std::vector<unsigned char> fill(static_cast<size_t>(stop - b.begin), b.fill);
            if (!m_out.writeAt(b.begin, fill.data(), fill.size()))
                return writeFailed("the output could not be written");
        }
        const uint64_t from = std::max(b.begin, base);
        const uint64_t to = std::min(b.end, end);
        if (from < to)
            std::memset(data + (from - base), b.fill, static_cast<size_t>(to - from));
        if (b.end > end)
            later.push_back({std::max(b.begin, end), b.end, b.fill});
    }
    m_blanks = std::move(later);
    return true;
}

bool Walk::block(unsigned char *data, size_t n, uint64_t base)
{
    if (!m_header) {
        if (!parseHeader(data, n, base))
            return false;
    } else {
        walk(data, base, n);
    }
    if (!applyBlanks(data, n, base))
        return false;
    if (!m_out.append(data, n))
        return writeFailed("the output could not be written");
    m_result.bytesWritten = base + n;
    return true;
}

bool Walk::rebuild(uint64_t total)
{
    const AviHeader &h = *m_header;
    // Where the kept recording ends: after the last chunk that is followed by
    // another chunk or by the end of the bytes read.
    uint64_t kept = m_next;
    const bool lastRunsPast = m_end == End::Open && m_have == 0 && m_next > total;
    if (m_end == End::NotChunk || lastRunsPast) {
        kept = m_anyUnit ? m_lastUnit : h.moviId + 4;
        if (m_anyUnit && m_lastIsEntry && !m_entries.empty())
            m_entries.pop_back();
    }
    kept = std::min(kept, total);
    const uint64_t indexLength = 8 + recording::kIdx1EntryBytes * static_cast<uint64_t>(m_entries.size());
    if (kept + indexLength - 8 > std::numeric_limits<uint32_t>::max())
        return fail(ExportOutcome::TooLarge, "the recording is too large for an AVI index");

    std::vector<unsigned char> index(static_cast<size_t>(indexLength));
    std::memcpy(index.data(), "idx1", 4);
    recording::putLe32(index.data() + 4, static_cast<uint32_t>(indexLength - 8));
    export_detail::StreamTotals totals;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const IndexEntry &e = m_entries[i];
        recording::writeIdx1Entry(index.data() + 8 + recording::kIdx1EntryBytes * i,
                                  reinterpret_cast<const unsigned char *>(e.id.data()), e.flags,
                                  static_cast<uint32_t>(e.position - h.moviId), e.size);
        totals.add(e.cls, e.size);
    }
    if (kept < m_result.bytesWritten && !m_out.truncate(kept))
        return writeFailed("the output could not be cut to its last whole chunk");
    if (!m_out.append(index.data(), index.size()))
        return writeFailed("the output could not be written");

    for (const auto &[offset, value] : export_detail::headerPatches(h, totals, kept, indexLength)) {
        unsigned char bytes[4];
        recording::putLe32(bytes, value);
        if (!m_out.writeAt(offset, bytes, 4))
            return writeFailed("the output's header could not be written");
    }
    m_result.bytesWritten = kept + indexLength;
    m_result.indexEntries = static_cast<uint32_t>(m_entries.size());
    m_result.outcome = ExportOutcome::Rebuilt;
    return true;
}

void Walk::finish(uint64_t total)
{
    if (!m_header) {
        fail(ExportOutcome::NotAvi, "not an AVI recording (no RIFF AVI header with a movie list)");
        return;
    }
    if (m_header->declaredLength == total || m_end == End::Index) {
        m_result.outcome = ExportOutcome::Copied;
        return;
    }
    rebuild(total);
}

} // namespace

ExportResult exportRecording(const ExportReader &read, ExportWriter &out, const std::atomic<bool> *cancel,
                             size_t blockSize, const ExportProgress &progress)
{
    ExportResult result;
    blockSize = std::clamp<size_t>(blockSize, 1, kExportBlockSize);
    // Aligned for direct writes (FileExportWriter).
    const size_t allocation = (blockSize + kDirectAlignment - 1) / kDirectAlignment * kDirectAlignment;
    const std::unique_ptr<unsigned char, decltype(&std::free)> memory(
        static_cast<unsigned char *>(std::aligned_alloc(kDirectAlignment, allocation)), &std::free);
    if (!memory) {
        result.outcome = ExportOutcome::ReadFailed;
        result.message = "no memory for the read buffer";
        return result;
    }
    unsigned char *const buffer = memory.get();
    Walk walk(out, result);
    uint64_t total = 0;
    for (;;) {
        if (cancel && cancel->load()) {
            result.outcome = ExportOutcome::Cancelled;
            result.message = "cancelled";
            return result;
        }
        const int64_t n = read(buffer, blockSize);
        if (n < 0 || static_cast<uint64_t>(n) > blockSize) {
            result.outcome = ExportOutcome::ReadFailed;
            result.message = "the recording could not be read";
            return result;
        }
        if (n == 0)
            break;
        if (!walk.block(buffer, static_cast<size_t>(n), total))
            return result;
        total += static_cast<uint64_t>(n);
        result.bytesRead = total;
        if (progress)
            progress(total);
    }
    walk.finish(total);
    return result;
}

ExportResult exportRecordingBytes(std::span<const unsigned char> input, ExportWriter &out,
                                  const std::atomic<bool> *cancel, size_t blockSize)
{
    size_t at = 0;
    const ExportReader reader = [&](unsigned char *buffer, size_t size) -> int64_t {
        const size_t n = std::min(size, input.size() - at);
        if (n > 0)
            std::memcpy(buffer, input.data() + at, n);
        at += n;
        return static_cast<int64_t>(n);
    };
    return exportRecording(reader, out, cancel, blockSize);
}

} // namespace korvante
