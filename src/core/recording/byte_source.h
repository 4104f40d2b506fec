#pragma once
// Random-access bytes of one recording: a plain file, or a file of a card's
// TAVO partition read through the card library. Each demuxer of the playback
// engine opens its own source, so no read position is shared between threads.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korvante {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Length in bytes.
    virtual std::int64_t size() const = 0;
    // Reads up to `length` bytes at `offset`; returns the count read, 0 at the
    // end, negative on failure. Thread: the owner's only.
    virtual std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) = 0;
};

// Why a source could not be opened.
enum class SourceFailure { None, CannotRead, NotRegular };

// Opens a plain file read-only. Null when it cannot be opened or is not a
// regular file: a FIFO, a device or a folder is refused before it is opened
// for reading (opening a FIFO would wait for a writer).
std::unique_ptr<ByteSource> openFileSource(const std::string &path, SourceFailure *why = nullptr);

// Opens a recording of the card whose device block (the card library's opened
// device) is `device`, with file identifier `fileId`, at `path` "/DIR/NAME"
// (the folder the recording was listed in). `keepAlive` is the shared owner of
// the block when it has one (see core/playback/card_device.h); the source
// holds it, so the block outlives the source. Without it the caller keeps the
// block open while the source lives. Null on failure.
std::unique_ptr<ByteSource> openCardSource(unsigned char *device, std::int32_t fileId,
                                           const std::string &path,
                                           std::shared_ptr<unsigned char> keepAlive = nullptr);

// A process-wide hook that wraps every source opened afterwards (by any
// thread), e.g. to count or pace reads; empty removes it. For benchmarks and
// tests; the viewer sets none.
using ByteSourceWrapper = std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>)>;
void setByteSourceWrapper(ByteSourceWrapper wrapper);

} // namespace korvante
