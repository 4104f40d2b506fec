#pragma once
// The clock that front and rear pictures are shown by, in 100 ns units from
// the start of the recording. While sound plays, the audio output's position
// is the clock; otherwise a monotonic clock times the rate.
//
// Threads: the user-interface thread starts, holds and moves it; the
// presentation thread reads it. All members are guarded by one mutex.

#include <chrono>
#include <cstdint>
#include <mutex>

namespace korvante {

// A position that the sound output vouches for. Thread-safe.
class AudioClockSource {
public:
    virtual ~AudioClockSource() = default;
    // The position of the sample being heard now; false while no sound is
    // playing (not started, starved, muted).
    virtual bool audioPosition(std::int64_t &position) = 0;
};

class PlaybackClock final {
public:
    std::int64_t position() const;
    bool running() const;
    double rate() const;

    void run();
    void hold();
    void setPosition(std::int64_t position);
    void setRate(double rate);
    void setAudioSource(AudioClockSource *source);

private:
    using Steady = std::chrono::steady_clock;
    std::int64_t monotonicLocked(Steady::time_point now) const;

    mutable std::mutex m_mutex;
    bool m_running = false;
    double m_rate = 1.0;
    // Reading the sound's position rebases the monotonic clock on it, so that
    // the clock continues without a jump when the sound stops answering.
    mutable std::int64_t m_base = 0;
    mutable Steady::time_point m_baseTime{};
    AudioClockSource *m_audio = nullptr;
};

} // namespace korvante
