#pragma once
// The stream-parse filter: opens one recording (a plain file, or a recording
// on a card's TAVO partition) and serves its video, audio and metadata.
//
// Ownership and threads: a PlaybackGraph owns its filters. SetMode, SetSource
// and Load run on one thread at a time before playback starts (Load may run on
// a worker: it touches nothing but the filter and its byte sources); after a
// successful Load the index is read-only, so decode threads may read it and
// open readers. ReadPacket may be called from any thread (the metadata poller);
// it hands out each metadata packet once per Load, in file order.
//
// Loading a finished recording reads its headers, its idx1 index and the
// metadata chunks the index points at, not the video: a 90 MB file opens
// after reading well under a megabyte. A recording without a usable index
// (unfinished, or an index that does not match the chunks) is walked chunk by
// chunk instead, which reads the whole file once.

#include "core/recording/byte_source.h"
#include "core/playback/recording_index.h"
#include "core/playback/result_codes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace korvante {

class DemuxReader;

// The metadata interface of the filter.
class IStreamParseMetadata {
public:
    // Stored; handed over by each graph before the source is set.
    virtual HResult SetMode(std::uint8_t mode) = 0;
    // `device` is 0 and `recording` -1 for a plain file; for a card recording,
    // the card library's open device block and the recording's file identifier.
    // (The device is pointer-sized: a 32-bit value cannot hold an address here.)
    virtual HResult SetSource(std::intptr_t device, std::int32_t recording) = 0;
    // Copies the next metadata packet (without its time prefix) into `buffer`,
    // at most *length bytes (the caller zero-fills 1024), and its time in ms
    // into *time. S_OK for a packet; S_FALSE when no packet is left or nothing
    // is loaded. Never blocks: the whole track is read at Load.
    virtual HResult ReadPacket(std::uint8_t *buffer, std::int32_t *length, std::int32_t *time) = 0;

protected:
    ~IStreamParseMetadata() = default;
};

// An output of the filter, named as the graph's connection logic expects.
struct OutputPin {
    enum class Kind { Video, Audio };
    std::string name;   // "Video", "Video 2" … and "Audio"
    Kind kind = Kind::Video;
    int stream = -1;    // demuxer stream number
    bool pcm = false;   // audio whose first media type has the PCM subtype
};

class StreamParseFilter final : public IStreamParseMetadata {
public:
    explicit StreamParseFilter(std::string name);
    ~StreamParseFilter();
    StreamParseFilter(const StreamParseFilter &) = delete;
    StreamParseFilter &operator=(const StreamParseFilter &) = delete;

    const std::string &name() const { return m_name; }

    // Loads a recording: `path` is a file path for a plain source, or the
    // recording's card path "/DIR/NAME" (its scanned folder and name) after
    // SetSource named a card. S_OK, or VFW_E_INVALID_FILE_FORMAT for anything
    // that is not a readable recording, with the reason in loadError() and the
    // detail in the log. `cancel`, when given, is polled while the file is
    // read; once it is set Load ends soon with the reason "cancelled".
    HResult Load(const std::string &path, const std::atomic<bool> *cancel = nullptr);
    bool loaded() const { return m_loaded; }
    // Why the last Load failed, in a few lower-case words without the file
    // name ("the file is empty", "not a recording", "damaged header",
    // "no video", "cannot be read", "not a regular file", "cancelled");
    // empty after a successful Load.
    const std::string &loadError() const { return m_loadError; }

    HResult SetMode(std::uint8_t mode) override;
    HResult SetSource(std::intptr_t device, std::int32_t recording) override;
    HResult ReadPacket(std::uint8_t *buffer, std::int32_t *length, std::int32_t *time) override;
    // Hands the metadata packets out again from the first (a reader that
    // makes two passes, instead of keeping what it decoded).
    void RewindPackets();

    // The metadata interface, or null when nothing is loaded.
    IStreamParseMetadata *queryMetadata() { return this; }

    std::uint8_t mode() const { return m_mode; }
    const RecordingIndex &index() const { return m_index; }
    std::vector<OutputPin> pins() const;

    // A new demuxer on the loaded recording, able to seek; null on failure.
    // Each decode thread owns its own.
    std::unique_ptr<DemuxReader> openReader() const;

private:
    std::unique_ptr<ByteSource> openSource(SourceFailure *why = nullptr) const;
    HResult fail(const std::string &reason, const std::string &detail);

    std::string m_name;
    std::string m_path;
    std::uint8_t m_mode = 0;
    std::intptr_t m_device = 0;
    // The card device's shared owner, found when SetSource names a shared
    // block: held so the device outlives every reader of this filter.
    std::shared_ptr<unsigned char> m_deviceHold;
    std::int32_t m_recording = -1;
    bool m_loaded = false;
    std::string m_loadError;
    RecordingIndex m_index;

    std::mutex m_packetMutex; // guards m_nextPacket
    size_t m_nextPacket = 0;
};

} // namespace korvante
