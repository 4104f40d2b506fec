#include "core/playback/filter_graph.h"

#include "core/platform/log.h"
#include "core/playback/audio_output.h"
#include "core/playback/video_decoder.h"
#include "core/playback/video_renderer.h"

#include <algorithm>
#include <chrono>

namespace korvante {
namespace {
constexpr int kSettleMs = 3000; // longest wait for a seek's first frames
}

FilterGraph::~FilterGraph()
{
    shutdown();
}

void FilterGraph::addFilter(const std::string &name)
{
    m_names.push_back(name);
}

void FilterGraph::removeFilter(const std::string &name)
{
    m_names.erase(std::remove(m_names.begin(), m_names.end(), name), m_names.end());
}

bool FilterGraph::hasFilter(const std::string &name) const
{
    return std::find(m_names.begin(), m_names.end(), name) != m_names.end();
}

void FilterGraph::addVideoPath(VideoDecoder &decoder, VideoRenderer &renderer)
{
    m_paths.emplace_back(&decoder, &renderer);
    // Pictures are converted at the size they are shown.
    decoder.setOutputSize([r = &renderer] { return r->outputSize(); });
    decoder.queue().setPushNotifier([this] { wakePresenter(); });
}

void FilterGraph::wakePresenter()
{
    {
        std::lock_guard lock(m_presentMutex);
        m_kick = true;
    }
    m_presentWake.notify_all();
}

void FilterGraph::setAudioPath(AudioDecoder *decoder, AudioRenderer *renderer)
{
    m_audioDecoder = decoder;
    m_audioRenderer = renderer;
}

HResult FilterGraph::cue(std::int64_t start, bool wait)
{
    if (m_paths.empty())
        return E_FAIL;
    if (!m_started) {
        for (auto &[decoder, renderer] : m_paths)
            decoder->start();
        if (m_audioDecoder)
            m_audioDecoder->start();
        m_quit = false;
        m_presenter = std::thread([this] { present(); });
        m_started = true;
    }
    m_clock.hold();
    m_running = false;
    if (wait)
        return setPosition(start);
    start = std::clamp<std::int64_t>(start, 0, m_duration);
    m_clock.setAudioSource(nullptr);
    m_clock.setPosition(start);
    m_seekWaiting = false;
    m_waitPosition = start;
    seekPaths(start);
    return S_OK;
}

HResult FilterGraph::run()
{
    if (!m_started)
        return VFW_E_WRONG_STATE;
    m_running = true;
    if (m_seekWaiting)
        return S_OK; // service() runs the clock once the seek's pictures are there
    updateAudio();
    m_clock.run();
    wakePresenter();
    return S_OK;
}

HResult FilterGraph::pause()
{
    if (!m_started)
        return VFW_E_WRONG_STATE;
    m_clock.hold();
    m_running = false;
    updateAudio();
    // The picture shown has to be the one of the position where the clock
    // stopped (a seek still waiting for the walk shows it when it can).
    if (!m_seekWaiting)
        waitShown(position(), kSettleMs);
    return S_OK;
}

HResult FilterGraph::stop()
{
    logCounts();
    return pause();
}

void FilterGraph::logCounts() const
{
    std::uint64_t unpainted = 0;
    for (const auto &[decoder, renderer] : m_paths)
        unpainted += renderer->unpaintedCount();
    logDebug("playback: frames shown " + std::to_string(m_shown.load()) + ", skipped as late " +
             std::to_string(m_dropped.load()) + ", replaced before a paint " + std::to_string(unpainted));
}

std::int64_t FilterGraph::position() const
{
    if (m_freeRun) {
        // Without the clock the position is the last frame shown.
        std::int64_t best = 0;
        if (!m_paths.empty()) {
            const auto &[decoder, renderer] = m_paths.front();
            const std::int64_t frame = renderer->currentFrame();
            best = frame < 0 ? 0 : decoder->frameTime(frame);
        }
        return std::min(best, m_duration);
    }
    if (!m_durationKnown)
        return std::max<std::int64_t>(m_clock.position(), 0);
    return std::clamp<std::int64_t>(m_clock.position(), 0, m_duration);
}

void FilterGraph::seekPaths(std::int64_t position)
{
    const std::uint64_t generation = ++m_generation;
    for (auto &[decoder, renderer] : m_paths) {
        decoder->queue().clear();
        decoder->seek(decoder->frameAt(position), generation);
    }
    wakePresenter();
}

HResult FilterGraph::setPosition(std::int64_t position)
{
    if (!m_started)
        return VFW_E_WRONG_STATE;
    position = std::clamp<std::int64_t>(position, 0, m_duration);
    const bool wasRunning = m_running;
    m_clock.hold();
    if (m_soundOn && m_audioRenderer)
        m_audioRenderer->halt();
    m_soundOn = false;
    m_clock.setAudioSource(nullptr);
    m_clock.setPosition(position);
    seekPaths(position);
    // Every path's frame walked: the pictures come in a moment. Otherwise
    // they come when the walk gets there, which this thread does not wait for.
    bool walked = true;
    for (const auto &[decoder, renderer] : m_paths) {
        bool all = false;
        if (decoder->frameAt(position) >= decoder->knownFrames(&all) && !all)
            walked = false;
    }
    m_seekWaiting = !walked;
    m_waitPosition = position;
    if (m_seekWaiting)
        return S_OK;
    if (!waitShown(position, kSettleMs))
        logWarning("playback: the pictures of a seek came late");
    if (wasRunning) {
        updateAudio();
        m_clock.run();
    }
    return S_OK;
}

bool FilterGraph::service()
{
    if (!m_seekWaiting || !m_started)
        return false;
    if (!waitShown(m_waitPosition, 0))
        return true;
    m_seekWaiting = false;
    if (m_running) {
        updateAudio();
        m_clock.run();
        wakePresenter();
    }
    return false;
}

void FilterGraph::setRate(double rate)
{
    m_clock.setRate(rate);
    updateAudio();
}

void FilterGraph::refresh()
{
    if (m_started && !m_running)
        setPosition(position());
}

// Sound plays only while running at rate 1.0: away from it the sound is
// muted rather than played out of step with the pictures.
void FilterGraph::updateAudio()
{
    if (!m_audioDecoder || !m_audioRenderer)
        return;
    const bool want = m_running && !m_seekWaiting && m_clock.rate() == 1.0 && !m_freeRun;
    if (want == m_soundOn)
        return;
    if (want) {
        const std::int64_t from = m_clock.position();
        m_audioRenderer->flush(from);
        m_audioDecoder->seek(from);
        m_audioRenderer->play();
        m_clock.setAudioSource(m_audioRenderer);
    } else {
        m_clock.setAudioSource(nullptr);
        m_audioRenderer->halt();
    }
    m_soundOn = want;
}

bool FilterGraph::waitShown(std::int64_t position, int timeoutMs) const
{
    const std::uint64_t generation = m_generation.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool all = true;
        for (const auto &[decoder, renderer] : m_paths) {
            const std::int64_t want = decoder->frameAt(position);
            const bool shown = renderer->currentGeneration() == generation && renderer->currentFrame() >= want;
            const bool ended = decoder->endedGeneration() == generation && decoder->queue().size() == 0
                               && !m_presenting.load();
            if (!shown && !ended)
                all = false;
        }
        if (all)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool FilterGraph::atEnd() const
{
    for (const auto &[decoder, renderer] : m_paths) {
        bool all = false;
        const std::int64_t last = decoder->knownFrames(&all) - 1;
        if (!all || renderer->currentFrame() < last)
            return false;
    }
    return true;
}

void FilterGraph::present()
{
    using namespace std::chrono;
    std::unique_lock lock(m_presentMutex);
    while (!m_quit) {
        const std::uint64_t generation = m_generation.load();
        const bool freeRun = m_freeRun.load();
        const std::int64_t now = m_clock.position();
        std::int64_t nextDue = -1;
        bool anyShown = false;
        lock.unlock();
        m_presenting.store(true);
        for (auto &[decoder, renderer] : m_paths) {
            std::optional<DecodedFrame> show;
            std::uint64_t skipped = 0;
            for (;;) {
                // 0 nothing to take, 1 stale (drop), 2 due (take), 3 not yet due.
                int verdict = 0;
                std::int64_t time = 0;
                decoder->queue().peek([&](const DecodedFrame *f) {
                    if (!f)
                        return 0;
                    time = f->time;
                    verdict = f->generation != generation ? 1 : (freeRun || f->time <= now) ? 2 : 3;
                    return 0;
                });
                if (verdict == 0)
                    break;
                if (verdict == 3) {
                    nextDue = nextDue < 0 ? time : std::min(nextDue, time);
                    break;
                }
                auto frame = decoder->queue().pop();
                if (!frame || verdict == 1)
                    continue;
                if (show)
                    ++skipped;
                show = std::move(frame);
                if (freeRun)
                    break; // show every frame in measurement mode
            }
            if (show) {
                renderer->present(std::move(*show));
                ++m_shown;
                m_dropped += skipped;
                anyShown = true;
            }
        }
        m_presenting.store(false);
        lock.lock();
        if (m_quit)
            break;
        if (freeRun) {
            if (anyShown)
                continue; // take the next frame at once
            m_presentWake.wait_for(lock, milliseconds(1));
            continue;
        }
        if (anyShown || m_kick) {
            // Something changed while this pass ran: look again at once.
            m_kick = false;
            continue;
        }
        if (nextDue >= 0 && m_clock.running()) {
            // Sleep until the next frame is due, or until a push, seek or run.
            const double rate = std::max(m_clock.rate(), 0.1);
            const auto ticks = static_cast<std::int64_t>(static_cast<double>(nextDue - now) / rate);
            const auto wait = std::clamp(duration_cast<milliseconds>(nanoseconds(ticks * 100)), milliseconds(1),
                                         milliseconds(20));
            m_presentWake.wait_for(lock, wait, [this] { return m_quit || m_kick; });
        } else {
            // Paused, or nothing queued: nothing can become due before a push,
            // a seek or a run wakes this thread. The bound only guards against
            // a clock that moves on its own (sound that is still draining).
            m_presentWake.wait_for(lock, milliseconds(m_clock.running() ? 20 : 1000),
                                   [this] { return m_quit || m_kick; });
        }
        m_kick = false;
    }
}

void FilterGraph::shutdown()
{
    if (m_started)
        logCounts();
    {
        std::lock_guard lock(m_presentMutex);
        m_quit = true;
    }
    m_presentWake.notify_all();
    if (m_presenter.joinable())
        m_presenter.join();
    m_clock.setAudioSource(nullptr);
    if (m_audioRenderer)
        m_audioRenderer->halt();
    for (auto &[decoder, renderer] : m_paths)
        decoder->stop();
    if (m_audioDecoder)
        m_audioDecoder->stop();
    // The elements may be released now: forget them.
    m_paths.clear();
    m_audioDecoder = nullptr;
    m_audioRenderer = nullptr;
    m_started = false;
    m_running = false;
}

} // namespace korvante
