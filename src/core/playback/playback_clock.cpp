#include "core/playback/playback_clock.h"

namespace korvante {

std::int64_t PlaybackClock::monotonicLocked(Steady::time_point now) const
{
    if (!m_running)
        return m_base;
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_baseTime).count();
    return m_base + static_cast<std::int64_t>(static_cast<double>(elapsed) / 100.0 * m_rate);
}

std::int64_t PlaybackClock::position() const
{
    std::lock_guard lock(m_mutex);
    const auto now = Steady::now();
    if (m_running && m_audio) {
        std::int64_t audio = 0;
        if (m_audio->audioPosition(audio)) {
            m_base = audio;
            m_baseTime = now;
            return audio;
        }
    }
    return monotonicLocked(now);
}

bool PlaybackClock::running() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

double PlaybackClock::rate() const
{
    std::lock_guard lock(m_mutex);
    return m_rate;
}

void PlaybackClock::run()
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return;
    m_running = true;
    m_baseTime = Steady::now();
}

void PlaybackClock::hold()
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    m_base = monotonicLocked(Steady::now());
    m_running = false;
}

void PlaybackClock::setPosition(std::int64_t position)
{
    std::lock_guard lock(m_mutex);
    m_base = position < 0 ? 0 : position;
    m_baseTime = Steady::now();
}

void PlaybackClock::setRate(double rate)
{
    std::lock_guard lock(m_mutex);
    const auto now = Steady::now();
    m_base = monotonicLocked(now);
    m_baseTime = now;
    m_rate = rate;
}

void PlaybackClock::setAudioSource(AudioClockSource *source)
{
    std::lock_guard lock(m_mutex);
    m_base = monotonicLocked(Steady::now());
    m_baseTime = Steady::now();
    m_audio = source;
}

} // namespace korvante
