#pragma once
// The running part of a playback graph: the named elements, the video paths
// (decoder → colour converter → renderer), the sound path, the clock, and the
// presentation thread that shows every path's frames by the one clock.
//
// Threads: every member function runs on the user-interface thread; the
// presentation thread and the decode threads are internal. Elements are owned
// by the PlaybackGraph and must outlive this object's stop().

#include "core/playback/playback_clock.h"
#include "core/playback/result_codes.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvante {

class AudioDecoder;
class AudioRenderer;
class VideoDecoder;
class VideoRenderer;

class FilterGraph final {
public:
    FilterGraph() = default;
    ~FilterGraph();
    FilterGraph(const FilterGraph &) = delete;
    FilterGraph &operator=(const FilterGraph &) = delete;

    // Names of the elements in the graph, in the order they were added.
    void addFilter(const std::string &name);
    void removeFilter(const std::string &name);
    const std::vector<std::string> &filterNames() const { return m_names; }
    bool hasFilter(const std::string &name) const;

    void addVideoPath(VideoDecoder &decoder, VideoRenderer &renderer);
    void setAudioPath(AudioDecoder *decoder, AudioRenderer *renderer);
    // The length, 100 ns; `known` false while it is an estimate (the
    // recording is still being walked): positions are then not held below it.
    void setDuration(std::int64_t duration, bool known = true)
    {
        m_duration = duration;
        m_durationKnown = known;
    }
    std::int64_t duration() const { return m_duration; }
    bool durationKnown() const { return m_durationKnown; }

    // Starts the threads and shows the first frame of every path without
    // running ("stop when ready"), at `start` (100 ns). Without `wait` the
    // decode threads find those frames on their own while this returns at
    // once (a graph made ready beside the one that plays); settle() then
    // waits for them.
    HResult cue(std::int64_t start = 0, bool wait = true);
    // Waits up to `timeoutMs` until every path shows the frame of the
    // current position (or has nothing more to show). True when it does.
    bool settle(int timeoutMs) const { return waitShown(position(), timeoutMs); }
    HResult run();
    HResult pause();
    HResult stop();
    // Absolute position in 100 ns units, clamped into 0 … duration. Returns
    // when every path shows the frame of that position (or after a bound).
    // A position the walk of a recording has not reached yet does not wait:
    // the clock holds there (seekWaiting() is true) until service() finds
    // its frames shown, and runs on then if the graph runs.
    HResult setPosition(std::int64_t position);
    bool seekWaiting() const { return m_seekWaiting; }
    // Ends a seek that waited once its frames are shown. Called now and then
    // while one waits. True while it still waits.
    bool service();
    // Current position, clamped at the duration.
    std::int64_t position() const;
    void setRate(double rate);
    double rate() const { return m_clock.rate(); }
    // Decodes the current position again (after a picture setting changed).
    void refresh();

    // Measurement mode: frames are shown as soon as they are decoded,
    // without waiting for the clock.
    void setFreeRunning(bool on) { m_freeRun = on; }
    // Frames presented in all and frames dropped because they came too late.
    std::uint64_t framesShown() const { return m_shown.load(); }
    std::uint64_t framesDropped() const { return m_dropped.load(); }
    // True when every path has shown its last frame.
    bool atEnd() const;

    // Stops and joins every thread; the elements may then be released.
    void shutdown();

private:
    void present();
    void wakePresenter();
    void logCounts() const;
    void seekPaths(std::int64_t position);
    bool waitShown(std::int64_t position, int timeoutMs) const;
    void updateAudio();

    std::vector<std::string> m_names;
    std::vector<std::pair<VideoDecoder *, VideoRenderer *>> m_paths;
    AudioDecoder *m_audioDecoder = nullptr;
    AudioRenderer *m_audioRenderer = nullptr;
    std::int64_t m_duration = 0;
    bool m_durationKnown = true;
    bool m_running = false;
    bool m_seekWaiting = false;
    std::int64_t m_waitPosition = 0;
    bool m_started = false;
    bool m_soundOn = false;

    PlaybackClock m_clock;
    std::atomic<std::uint64_t> m_generation{0};
    // Set by the presenter from before it takes frames off the queues until
    // it has handed them to the renderers: a frame in its hands is neither
    // queued nor shown, and a seek's wait must not take that for the end.
    std::atomic<bool> m_presenting{false};
    std::atomic<bool> m_freeRun{false};
    std::atomic<std::uint64_t> m_shown{0};
    std::atomic<std::uint64_t> m_dropped{0};

    std::mutex m_presentMutex;
    std::condition_variable m_presentWake;
    bool m_quit = false;
    bool m_kick = false; // a push, seek or run since the presenter last looked
    std::thread m_presenter;
};

} // namespace korvante
