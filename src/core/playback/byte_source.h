#pragma once
// Random-access bytes of one recording: a plain file, or a file of a card's
// TAVO partition read through the card library. Each demuxer of the playback
// engine opens its own source, so no read position is shared between threads.

#include <cstdint>
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

// Opens a plain file read-only; null when it cannot be opened or is not a
// regular file.
std::unique_ptr<ByteSource> openFileSource(const std::string &path);

// Opens a recording of the card whose device block (the card library's opened
// device) is `device`, with file identifier `fileId`. `path` is "/DIR/NAME" or
// the bare file name (the usual recording directories are tried). Null on
// failure, or when the program was built without the card library. The
// device block must stay open while the source lives.
std::unique_ptr<ByteSource> openCardSource(unsigned char *device, std::int32_t fileId,
                                           const std::string &path);

} // namespace korvante
