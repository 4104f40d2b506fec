#pragma once
// Sound of the front channel: the audio decoder ("CoreAAC Decoder") decodes
// AAC (or takes PCM) in a thread of its own and resamples it to the output's
// format; the audio renderer ("DirectSound Audio Renderer") queues the sound
// and plays it through a QAudioSink that pulls from it. While sound plays,
// the renderer's position is the playback clock.
//
// Threads: the renderer's sink is created, started and stopped on the
// user-interface thread (it needs that thread's event loop); the sink's pulls
// come on the thread the sink lives in; the decoder thread writes. The queue
// and the position are guarded by one mutex.

#include "core/playback/frame_queue.h"
#include "core/playback/playback_clock.h"
#include "core/playback/result_codes.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QIODevice>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QAudioSink;
struct AVCodecContext;

namespace korvante {

class StreamParseFilter;

class AudioRenderer final : public QIODevice, public AudioClockSource {
public:
    // Null when the machine has no audio output: the graph then plays without sound.
    static std::unique_ptr<AudioRenderer> create(std::string name);
    // A renderer on `device`; a null device makes one whose sink never starts
    // (it still queues and serves sound, for readers that pull it directly).
    AudioRenderer(std::string name, const QAudioDevice &device);
    ~AudioRenderer() override;

    const std::string &name() const { return m_name; }
    QAudioFormat format() const { return m_format; }

    // Decoder side. Blocks while more than the queue's capacity is waiting,
    // unless `abandon` turns true. False when abandoned.
    bool write(std::vector<char> bytes, std::int64_t time, const std::atomic<bool> &abandon);
    void wakeWriter();
    // Drops everything queued; the next bytes belong to `position`.
    void flush(std::int64_t position);

    // User-interface thread.
    void play();
    void halt();
    // Hundredths of a decibel, −10000 (silence) … 0.
    void setVolume(std::int32_t hundredthsOfDb);
    std::int32_t volume() const { return m_volume.load(); }

    bool audioPosition(std::int64_t &position) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }

private:
    struct Chunk {
        std::vector<char> bytes;
        std::size_t used = 0;
        std::int64_t time = 0;
    };
    std::int64_t bytesToTicks(std::int64_t bytes) const;

    const std::string m_name;
    QAudioDevice m_device;
    QAudioFormat m_format;
    QAudioSink *m_sink = nullptr;
    std::atomic<std::int32_t> m_volume{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<Chunk> m_chunks;
    std::int64_t m_queuedBytes = 0;
    std::int64_t m_readTime = -1;       // time of the next byte to be pulled
    std::int64_t m_latency = 0;         // sound in the sink's own buffer, 100 ns
    std::chrono::steady_clock::time_point m_lastPull{};
    bool m_playing = false;
    bool m_starved = false;
};

class AudioDecoder final {
public:
    explicit AudioDecoder(std::string name);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder &) = delete;
    AudioDecoder &operator=(const AudioDecoder &) = delete;

    const std::string &name() const { return m_name; }
    // Creates FFmpeg's decoder for the front file's audio. E_FAIL when there is
    // none or FFmpeg cannot decode it.
    HResult connect(const StreamParseFilter &source, AudioRenderer &renderer);
    void start();
    // Sound from `position` (100 ns) on.
    void seek(std::int64_t position);
    void stop();

private:
    void run();

    const std::string m_name;
    const StreamParseFilter *m_source = nullptr;
    AudioRenderer *m_renderer = nullptr;
    AVCodecContext *m_codec = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_seekPending = false;
    std::int64_t m_seekPosition = 0;
    std::atomic<bool> m_interrupt{false};
    std::thread m_thread;
};

// Hundredths of a decibel for a volume in percent: 1000 × log10(1e-10 + f × (1 − 1e-10)),
// f = percent ÷ 100, truncated; 0 % gives −10000 (silence), 100 % gives 0 (full).
std::int32_t volumeToHundredthsOfDb(std::int32_t percent);

} // namespace korvante
