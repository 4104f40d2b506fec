// Continuous playback: the next recording is loaded and cued beside the one
// that plays, and replaces it at its end without a pause.

#include "core/playback/media_engine.h"

#include "core/playback/media_engine_job.h"
#include "core/playback/sensor_records.h"
#include "core/playback/video_window.h"

#include "core/platform/log.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace korvante {

namespace {

constexpr int kSettleMs = 3000; // longest wait for the prepared graph's first pictures

bool samePicture(const PictureSettings &a, const PictureSettings &b)
{
    return a.adjust == b.adjust && a.gain == b.gain && a.offset == b.offset && a.hue == b.hue
           && a.saturation == b.saturation && a.flipVertical == b.flipVertical
           && a.mirrorHorizontal == b.mirrorHorizontal;
}

} // namespace

void MediaEngine::PrepareNext(const std::string &front, const std::string &rear, std::intptr_t device,
                              std::int32_t recording, std::uint64_t startMs, OpenDone done)
{
    DropPrepared();
    reapJobs(false);
    if (!videoWindow[0] || front.empty()) {
        if (done)
            done(OpenOutcome{0, false, "no file"});
        return;
    }
    // The screens the current graph draws into (they follow SwapScreens);
    // the prepared renderers take them over again at the switch.
    VideoWindow *const *windows = graph ? graph->window : videoWindow;
    m_prepared = makeJob(front, rear, device, recording, std::move(done), windows);
    m_prepared->startMs = startMs;
    // No hold after the first pictures: nothing is painted from this graph
    // before the switch, so its walk need not wait for a paint.
    startLoad(*m_prepared, &MediaEngine::finishPrepare, false);
}

void MediaEngine::finishPrepare(std::uint64_t serial)
{
    reapJobs(false);
    if (!m_prepared || m_prepared->serial != serial)
        return; // dropped meanwhile
    OpenJob &job = *m_prepared;
    OpenDone done = std::move(job.done);
    OpenOutcome outcome;
    if (job.loaded != S_OK) {
        job.worker.join(); // a failed load hands over only once it has ended
        outcome.reason = job.graph->loadError();
        outcome.cancelled = outcome.reason == "cancelled";
        logWarning("playback: the next recording " + job.front + " cannot be prepared: " + outcome.reason);
        m_prepared.reset();
    } else {
        if (job.finished)
            job.worker.join();
        // Cued without waiting: the decode threads find the first pictures
        // while the current graph goes on playing.
        const HResult hr = job.graph->Connect(static_cast<std::int64_t>(job.startMs) * 10000, false);
        if (hr != S_OK)
            logWarning("playback: the graph for " + job.front + " was built only in part");
        job.connected = true;
        outcome.opened = 1;
    }
    if (done)
        done(outcome);
    serviceEnd();
}

bool MediaEngine::HasPrepared() const
{
    return m_prepared && m_prepared->connected;
}

std::string MediaEngine::PreparedFront() const
{
    return m_prepared ? m_prepared->front : std::string();
}

bool MediaEngine::DropPrepared()
{
    if (!m_prepared)
        return false;
    std::unique_ptr<OpenJob> job = std::move(m_prepared);
    job->cancel = true;
    job->done = nullptr;
    if (job->connected) {
        // Its threads run and its worker may still walk the files: the walk
        // notices the cancel within one read, then the graph goes here.
        if (job->worker.joinable())
            job->worker.join();
        job.reset();
    } else {
        // Still reading headers: let the worker end on its own (a slow card
        // must not hold up this thread); the graph has no threads yet.
        m_retired.push_back(std::move(job));
    }
    if (m_endTimer)
        m_endTimer->stop();
    return true;
}

int MediaEngine::SwitchToPrepared()
{
    if (!HasPrepared())
        return 0;
    std::unique_ptr<OpenJob> job = std::move(m_prepared);
    if (m_endTimer)
        m_endTimer->stop();
    PlaybackGraph &next = *job->graph;
    FilterGraph *nextGraph = next.graphBuilder.get();
    const std::int32_t oldState = graph ? graph->state.load() : StateStopped;
    const float rate = graph ? graph->rate : 1.0f;

    // The user's screens, zoom, flips and picture settings go on with the
    // next recording. A picture setting changed since the cue means the
    // cued pictures are converted again.
    bool convertAgain = false;
    if (graph) {
        for (int s = 0; s < 4; ++s) {
            next.window[s] = graph->window[s];
            if (next.decoder[s] && graph->decoder[s]) {
                const PictureSettings before = next.decoder[s]->params().snapshot();
                next.decoder[s]->params().assign(graph->decoder[s]->params());
                if (!samePicture(before, next.decoder[s]->params().snapshot()))
                    convertAgain = true;
            }
            if (next.renderer[s] && graph->renderer[s]) {
                next.renderer[s]->setWindow(graph->renderer[s]->window());
                next.renderer[s]->setDestination(graph->renderer[s]->destination());
            }
        }
    }
    if (nextGraph) {
        if (convertAgain)
            nextGraph->setPosition(nextGraph->position());
        else if (!nextGraph->settle(kSettleMs))
            logWarning("playback: the first pictures of " + job->front + " came late");
    }
    if (next.audioRenderer && m_volume)
        next.audioRenderer->setVolume(*m_volume);

    endWalk(); // the old graph's walk, if it still went on
    std::unique_ptr<PlaybackGraph> old;
    {
        // Pollers read the current graph under this lock: from its release
        // on they read the new one, and the lists they fill start over.
        std::lock_guard lock(m_pollerMutex);
        old = std::move(graph);
        graph = std::move(job->graph);
        if (sensorLists) {
            sensorLists->clearSamples();
            sensorLists->clearFixes();
        }
    }
    graph->rate = rate;
    if (oldState == StateRunning) {
        Play();
    } else if (oldState == StatePaused) {
        if (nextGraph)
            nextGraph->setRate(rate);
        graph->state = StatePaused;
    }
    for (const auto &r : graph->renderer)
        if (r && r->window())
            r->window()->requestRepaint();

    if (!job->finished) {
        // The new recording is still walked: its worker goes on as an open's.
        job->shown = true;
        m_walk = std::move(job);
        startWalkTimer();
    } else if (job->worker.joinable()) {
        job->worker.join();
    }
    old.reset(); // after the new graph runs: its threads end, its sound stops
    return 1;
}

void MediaEngine::SwitchAtEnd(std::function<void()> switched)
{
    m_onEndSwitch = std::move(switched);
    serviceEnd();
}

void MediaEngine::serviceEnd()
{
    const bool armed = m_onEndSwitch && HasPrepared() && graph && graph->graphBuilder;
    if (!armed) {
        if (m_endTimer)
            m_endTimer->stop();
        return;
    }
    if (!m_endTimer) {
        m_endTimer = new QTimer(m_loopContext.get());
        m_endTimer->setSingleShot(true);
        m_endTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_endTimer, &QTimer::timeout, m_loopContext.get(), [this] { serviceEnd(); });
    }
    FilterGraph *g = graph->graphBuilder.get();
    if (graph->state != StateRunning || !g->durationKnown() || g->duration() <= 0 || g->seekWaiting()) {
        m_endTimer->start(kEndPollMs); // paused, walked or seeking: look again later
        return;
    }
    const std::int64_t left = g->duration() - g->position(); // 100 ns of recording time
    if (left > 0) {
        const double ms = static_cast<double>(left) / 10000.0 / std::max(g->rate(), 0.1);
        m_endTimer->start(std::clamp(static_cast<int>(std::ceil(ms)), 0, kEndPollMs));
        return;
    }
    const std::function<void()> switched = m_onEndSwitch;
    if (SwitchToPrepared() && switched)
        switched();
}

} // namespace korvante
