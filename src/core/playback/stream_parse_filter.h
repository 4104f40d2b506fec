#pragma once
// The stream-parse filter: opens one recording (a plain file, or a recording
// on a card's TAVO partition) and serves its video, audio and metadata.
//
// Ownership and threads: a PlaybackGraph owns its filters. SetMode, SetSource,
// Load, BeginLoad and ContinueLoad run on one thread at a time (the loading
// thread: a worker of the engine, which touches nothing but the filter and
// its byte sources). The index is handed out as read-only copies (snapshot()):
// decode threads read them and open readers while the loading thread goes on.
// ReadPacket may be called from any thread (the metadata poller); it hands out
// each metadata packet once per load, in file order.
//
// Loading a finished recording reads its headers, its idx1 index and the
// metadata chunks the index points at, not the video: a 90 MB file opens
// after reading well under a megabyte. A recording without a usable index
// (unfinished, or an index that does not match the chunks) is walked chunk by
// chunk instead, which reads the whole file once. That walk can be driven a
// step at a time (BeginLoad, ContinueLoad): once it has passed the first
// pictures the recording can be played, while the walk goes on; a reader of
// the recording then waits at the end of the walked part until the walk is
// further, and a copy of the index shows how far it has come.

#include "core/recording/byte_source.h"
#include "core/playback/recording_index.h"
#include "core/playback/result_codes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace korvante {

class DemuxReader;
class IndexLoad;
class IndexMemory;
struct IndexMemoryKey;

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
    // is loaded, or none has been walked yet (see StreamParseFilter::walking).
    // Never blocks.
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
    // The first half of Load: the headers and the idx1 index. S_OK or the
    // failure as Load gives it. When the chunks have to be walked, walking()
    // is true afterwards and ContinueLoad walks on.
    HResult BeginLoad(const std::string &path, const std::atomic<bool> *cancel = nullptr);
    // Walks about `bytes` further and hands out what was walked (each step
    // while the first seconds are walked, then at most every
    // kPublishIntervalMs, and at the end). A failure before the recording is
    // playable fails the load as Load would; a failure after it ends the walk
    // where it is, and what was walked is what plays. S_OK otherwise.
    HResult ContinueLoad(std::int64_t bytes, const std::atomic<bool> *cancel = nullptr);
    // The chunks are still being walked. Any thread.
    bool walking() const { return m_walking.load(); }
    // Length of the first video stream walked so far, 100 ns (loading thread).
    std::int64_t walkedDuration() const { return m_building.duration(); }
    // Playable: the index holds a video frame (after a load: it succeeded).
    bool loaded() const { return m_loaded.load(); }
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
    // The newest copy of the index. Any thread; an empty index before a load.
    std::shared_ptr<const RecordingIndex> snapshot() const;
    // The same, by reference: for the loading thread, and for others once the
    // load is complete (a copy handed out later replaces it).
    const RecordingIndex &index() const;
    std::vector<OutputPin> pins() const;

    // Waits until `ready` holds for the newest copy of the index, the walk
    // has ended, or `interrupt` (when given) is set. Returns the newest copy.
    std::shared_ptr<const RecordingIndex> waitForIndex(
        const std::function<bool(const RecordingIndex &)> &ready, const std::atomic<bool> *interrupt) const;

    // A new demuxer on the loaded recording, able to seek; null on failure.
    // Each decode thread owns its own. While the walk goes on, the reader's
    // reads wait at the end of the walked part until the walk is further
    // (or `interrupt` is set: the read then ends as at the end of the file);
    // the key frames of the copy it was opened with are registered, and the
    // counts of frames registered go to `registered` (see registerKeyFrames).
    std::unique_ptr<DemuxReader> openReader(const std::atomic<bool> *interrupt = nullptr,
                                            std::vector<std::size_t> *registered = nullptr) const;

    // Where walked indexes are remembered between opens (plain files only);
    // null: every open walks. Set before a load.
    void setIndexMemory(std::shared_ptr<IndexMemory> memory) { m_memory = std::move(memory); }
    // The last load took its index from the memory instead of walking.
    bool indexRecalled() const { return m_recalled; }

    // How often a walk hands out what it has walked, once playable.
    static constexpr int kPublishIntervalMs = 100;

private:
    std::unique_ptr<ByteSource> openSource(SourceFailure *why = nullptr) const;
    HResult fail(const std::string &reason, const std::string &detail);
    HResult failLoad(LoadFailure failure, const std::string &why);
    // Hands out a copy of m_building (complete or not).
    void publish(bool complete);
    HResult finishLoad();
    // The index of an earlier walk of this unchanged file, checked against
    // its chunks, taken into m_building. The loading thread.
    bool recallWalkedIndex();
    void rememberWalkedIndex();

    std::string m_name;
    std::string m_path;
    std::uint8_t m_mode = 0;
    std::intptr_t m_device = 0;
    // The card device's shared owner, found when SetSource names a shared
    // block: held so the device outlives every reader of this filter.
    std::shared_ptr<unsigned char> m_deviceHold;
    std::int32_t m_recording = -1;
    std::atomic<bool> m_loaded{false};
    std::string m_loadError;
    // The loading thread's index while it is built, and what it needs to go on.
    RecordingIndex m_building;
    std::unique_ptr<DemuxReader> m_loadReader;
    std::unique_ptr<IndexLoad> m_load;
    std::atomic<bool> m_walking{false};
    std::shared_ptr<IndexMemory> m_memory;
    std::unique_ptr<IndexMemoryKey> m_memoryKey; // of the file being walked
    bool m_recalled = false;
    std::chrono::steady_clock::time_point m_lastPublish{};

    mutable std::mutex m_publishMutex; // guards m_published
    mutable std::condition_variable m_publishedWake;
    std::shared_ptr<const RecordingIndex> m_published;

    std::mutex m_packetMutex; // guards m_nextPacket
    size_t m_nextPacket = 0;
};

} // namespace korvante
