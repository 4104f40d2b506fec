#pragma once
// Export of one camera recording into a standard AVI file: the bytes are copied
// block by block with the camera's private records blanked, and a recording the
// camera did not finish (power cut) gets an idx1 index and corrected headers.
//
// This is the byte-level part, with no files, card library or catalogue: it
// reads from an ExportReader and writes only through the ExportWriter it is
// given (never anywhere else). exportEntry (export_entry.h) puts it on a card
// file and a temporary output file.
//
// What the export does with a recording:
// - Every input block is walked once and handed to the writer once, in order.
//   Chunk headers, sizes and private records that straddle two blocks are
//   carried over; the result does not depend on the block size.
// - Private records ("QXMS" camera model and serial, "QXDJ" driver and
//   journal) inside metadata chunks ("tx") are overwritten with "M" and "D"
//   bytes respectively: the tag, its 16-bit length L, two reserved bytes and L
//   data bytes, never past the end of their chunk. Other chunks (video, sound)
//   are never touched, even where their data happens to hold those letters.
// - A finished recording (its RIFF size covers exactly the bytes read, or its
//   movie list is followed by an idx1 index) is copied unchanged otherwise.
// - An unfinished recording is walked chunk by chunk from the start of the
//   movie list; chunks must follow each other directly. Where the walk meets
//   bytes that are not a chunk (old data on the card after a power cut), the
//   chunk that led there was being written when power failed and is dropped
//   with everything after it; so is a last chunk that runs past the end. The
//   output then ends with an idx1 index of the remaining chunks (every chunk,
//   however many), and the RIFF size, movie list size, total frames, stream
//   lengths and suggested buffer sizes are set from them. With two video
//   streams and a metadata stream the rates are corrected so that each stream's
//   count over its rate matches the recording's length; rate fields of 0 or
//   below 1000 leave the rates as they are.
//
// Input that is not a RIFF AVI with a movie list, an unfinished recording too
// large for a 32-bit AVI 1.0 index, a read or write failure and a cancel all
// end with a result other than Copied or Rebuilt; the writer may then hold
// part of the output, which the caller discards.
//
// Threads: the functions keep no state between calls and may run on any
// thread; `cancel` may be set from another thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace korvante {

// The block size the card library reads in: 5 MiB.
inline constexpr size_t kExportBlockSize = 5242880;

// Reads up to `size` bytes into `buffer`: the number read, 0 at the end, a
// negative value on failure.
using ExportReader = std::function<int64_t(unsigned char *buffer, size_t size)>;

// The output of one export. The export appends every block with append() and
// patches header fields with writeAt() (only inside bytes already appended);
// an unfinished recording's tail is cut with truncate() before its index is
// appended. Each call returns false on failure.
class ExportWriter {
public:
    virtual ~ExportWriter() = default;
    virtual bool append(const unsigned char *data, size_t size) = 0;
    virtual bool writeAt(uint64_t offset, const unsigned char *data, size_t size) = 0;
    virtual bool truncate(uint64_t length) = 0;
    // The errno of the last failed call, 0 when unknown.
    virtual int error() const { return 0; }
};

// An ExportWriter into memory (tests, fuzzing).
class MemoryExportWriter final : public ExportWriter {
public:
    bool append(const unsigned char *data, size_t size) override;
    bool writeAt(uint64_t offset, const unsigned char *data, size_t size) override;
    bool truncate(uint64_t length) override;
    std::vector<unsigned char> bytes;
};

// An ExportWriter on an open file descriptor (not closed; the caller syncs
// and closes it). Appends go to the end of what it wrote so far. With
// `directFd`, a second descriptor of the same file opened with O_DIRECT (or
// -1), whole aligned blocks are appended through it; patches, the tail and
// truncation use `fd`.
class FileExportWriter final : public ExportWriter {
public:
    explicit FileExportWriter(int fd, int directFd = -1) : m_fd(fd), m_directFd(directFd) {}
    bool append(const unsigned char *data, size_t size) override;
    bool writeAt(uint64_t offset, const unsigned char *data, size_t size) override;
    bool truncate(uint64_t length) override;
    int error() const override { return m_error; }

private:
    int m_fd;
    int m_directFd;
    int m_error = 0;
    uint64_t m_end = 0;
};

// Alignment of direct writes: offsets, lengths and buffer addresses.
inline constexpr size_t kDirectAlignment = 4096;

enum class ExportOutcome {
    Copied,      // finished recording: copied, private records blanked
    Rebuilt,     // unfinished recording: index and headers rebuilt
    NotAvi,      // not a RIFF AVI with a movie list (or its header list is damaged)
    TooLarge,    // unfinished, and its chunks lie beyond a 32-bit index offset
    ReadFailed,
    WriteFailed,
    Cancelled,
};

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::NotAvi;
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;   // length of the output
    uint32_t indexEntries = 0;   // entries of the idx1 written (Rebuilt only)
    uint32_t blankedRecords = 0; // private records overwritten
    std::string message;         // why it failed, for the user; empty on success

    bool ok() const { return outcome == ExportOutcome::Copied || outcome == ExportOutcome::Rebuilt; }
};

// Called after each block: bytes read so far.
using ExportProgress = std::function<void(uint64_t bytesRead)>;

// Exports the recording that `read` delivers into `out`. `cancel` (may be
// null) is checked before each block. `blockSize` is the read size (tests use
// small ones; at least 1).
ExportResult exportRecording(const ExportReader &read, ExportWriter &out,
                             const std::atomic<bool> *cancel = nullptr,
                             size_t blockSize = kExportBlockSize,
                             const ExportProgress &progress = {});

// The same for a recording held in memory.
ExportResult exportRecordingBytes(std::span<const unsigned char> input, ExportWriter &out,
                                  const std::atomic<bool> *cancel = nullptr,
                                  size_t blockSize = kExportBlockSize);

} // namespace korvante
