#pragma once
// One file written for the user into the folder they chose: created
// exclusively under a temporary name (".NAME.PID-N.part") in that folder's
// descriptor, written through FFmpeg I/O contexts over the descriptor (the
// MP4 muxer reads its own output back to move the index to the front), synced
// and moved to its name only when complete. Destroyed before that, it removes
// the temporary file (if that name still is the file it made).
//
// Threads: one thread at a time.

#include <cstdint>
#include <string>

extern "C" {
struct AVFormatContext;
struct AVIOContext;
}

namespace korvante::clip {

class OutputFile {
public:
    // Opens the folder of `finalPath`; check `error()`.
    explicit OutputFile(const std::string &finalPath);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the temporary file; false with error().
    bool create();
    int fd() const { return m_fd; }
    const std::string &error() const { return m_error; }

    // A write context for the muxer, and the muxer's way to read the file
    // back (its faststart pass): installs io_open / io_close2 on `format`.
    AVIOContext *writeContext();
    void attachReader(AVFormatContext *format);

    // Plain writes for small files (the evidence).
    bool writeAll(const std::string &bytes);
    // Syncs and gives the file its final name; false with error().
    bool sync();
    bool commit(bool overwrite);

private:
    static int writeCallback(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t seekCallback(void *opaque, std::int64_t offset, int whence);
    static int readCallback(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t readSeekCallback(void *opaque, std::int64_t offset, int whence);
    static int openForFormat(AVFormatContext *s, AVIOContext **pb, const char *url, int flags, void **options);
    static int closeForFormat(AVFormatContext *s, AVIOContext *pb);

    std::string m_folder, m_name, m_temporary, m_error;
    int m_dirFd = -1;
    int m_fd = -1;
    bool m_committed = false;
    std::int64_t m_readPosition = 0;
    std::uint64_t m_dev = 0, m_ino = 0;
    AVIOContext *m_write = nullptr;
};

} // namespace korvante::clip
