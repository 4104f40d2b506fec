// Opening a recording without waiting for its files: the files are loaded
// on a worker thread and the graph is finished on the user-interface thread.

#include "core/playback/media_engine.h"

#include "core/playback/card_device.h"
#include "core/playback/media_engine_job.h"

#include "core/platform/log.h"

#include <QObject>
#include <QTimer>

#include <utility>

#include <mutex>
#include <thread>

namespace korvante {

namespace {

std::mutex &handOverMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

MediaEngine::MediaEngine() = default;

MediaEngine::~MediaEngine()
{
    if (m_pending)
        m_pending->done = nullptr; // nobody is left to tell
    CancelOpen();
    DropPrepared();
    reapJobs(true);
    waitForPollers();
}

std::unique_ptr<MediaEngine::OpenJob> MediaEngine::makeJob(const std::string &front, const std::string &rear,
                                                          std::intptr_t device, std::int32_t recording,
                                                          OpenDone done, VideoWindow *const windows[4])
{
    if (!m_loopContext)
        m_loopContext = std::make_unique<QObject>(); // lives on this (the UI) thread
    auto job = std::make_unique<OpenJob>();
    job->serial = ++m_openSerial;
    job->graph = std::make_unique<PlaybackGraph>(windowCount, windows, metadataMode);
    job->graph->ready = true;
    job->graph->state = StateCreated;
    job->graph->rate = 1.0f;
    job->graph->indexMemory = indexMemory;
    job->front = front;
    job->rear = rear;
    job->device = device;
    job->deviceHold = findSharedCardDevice(reinterpret_cast<const unsigned char *>(device));
    job->recording = recording;
    job->done = std::move(done);
    return job;
}

void MediaEngine::startLoad(OpenJob &job, void (MediaEngine::*finish)(std::uint64_t), bool holdWalk)
{
    OpenJob *raw = &job;
    // The graph outlives the worker's use of it: it is freed by Close (which
    // ends the walk first) or with the job once the worker has ended.
    PlaybackGraph *graph = job.graph.get();
    QObject *context = m_loopContext.get();
    const std::uint64_t serial = job.serial;
    raw->worker = std::thread([this, raw, graph, context, serial, finish, holdWalk] {
        // Dropped unread when the engine (and so the context) is gone. The
        // call is made and taken under handOverMutex(): Qt's event queue
        // orders the two threads too, but inside a library that thread
        // checkers cannot see into.
        auto handOver = [this, context, serial, finish] {
            std::lock_guard lock(handOverMutex());
            QMetaObject::invokeMethod(
                context,
                [this, serial, finish] {
                    handOverMutex().lock();
                    handOverMutex().unlock();
                    (this->*finish)(serial);
                },
                Qt::QueuedConnection);
        };
        bool handed = false;
        const HResult loaded = graph->LoadSources(raw->front, raw->rear, raw->device, raw->recording, &raw->cancel,
                                                  [&] {
                                                      // Playable: the rest is walked while it plays.
                                                      raw->loaded = S_OK;
                                                      handed = true;
                                                      handOver();
                                                  },
                                                  holdWalk ? &raw->shown : nullptr);
        if (!handed)
            raw->loaded = loaded;
        raw->finished = true;
        if (!handed)
            handOver();
    });
}

void MediaEngine::BeginOpen(const std::string &front, const std::string &rear, std::intptr_t device,
                            std::int32_t recording, OpenDone done)
{
    CancelOpen();
    reapJobs(false);
    if (!videoWindow[0] || front.empty()) {
        if (done)
            done(OpenOutcome{0, false, "no file"});
        return;
    }
    stopAndClose();
    m_pending = makeJob(front, rear, device, recording, std::move(done), videoWindow);
    startLoad(*m_pending, &MediaEngine::finishOpen, true);
}

bool MediaEngine::CancelOpen()
{
    if (!m_pending)
        return false;
    m_pending->cancel = true;
    OpenDone done = std::move(m_pending->done);
    m_retired.push_back(std::move(m_pending));
    if (done && m_loopContext) {
        // Told on the event loop, never from inside the caller's own call.
        QMetaObject::invokeMethod(
            m_loopContext.get(), [done] { done(OpenOutcome{0, true, "cancelled"}); }, Qt::QueuedConnection);
    }
    return true;
}

int MediaEngine::loadWorkersRunning() const
{
    int running = m_pending && !m_pending->finished ? 1 : 0;
    running += m_walk && !m_walk->finished ? 1 : 0;
    running += m_prepared && !m_prepared->finished ? 1 : 0;
    for (const auto &job : m_retired)
        running += job->finished ? 0 : 1;
    return running;
}

void MediaEngine::reapJobs(bool all)
{
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (all || (*it)->finished) {
            if ((*it)->worker.joinable())
                (*it)->worker.join();
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

void MediaEngine::finishOpen(std::uint64_t serial)
{
    reapJobs(false);
    if (!m_pending || m_pending->serial != serial)
        return; // cancelled meanwhile; reaped above or later
    std::unique_ptr<OpenJob> job = std::move(m_pending);
    OpenDone done = std::move(job->done);
    const bool walking = !job->finished;
    if (!walking)
        job->worker.join();
    OpenOutcome outcome;
    if (job->loaded != S_OK) {
        outcome.reason = job->graph->loadError();
        outcome.cancelled = outcome.reason == "cancelled";
        logWarning("playback: " + job->front + " cannot be opened: " + outcome.reason);
    } else {
        const HResult hr = job->graph->Connect(); // cued: the first pictures are decoded
        if (hr != S_OK)
            logWarning("playback: the graph for " + job->front + " was built only in part");
        if (job->graph->audioRenderer && m_volume)
            job->graph->audioRenderer->setVolume(*m_volume);
        {
            std::lock_guard lock(m_pollerMutex);
            graph = std::move(job->graph);
        }
        outcome.opened = 1;
        if (walking) {
            // The worker walks on into the graph; Close ends it before the graph goes.
            m_walk = std::move(job);
            startWalkTimer();
            // Once the pictures the screens were asked to paint are painted
            // (the events queued before this one), the walk takes the reader.
            QMetaObject::invokeMethod(
                m_loopContext.get(),
                [this, serial] {
                    if (m_walk && m_walk->serial == serial)
                        m_walk->shown = true;
                },
                Qt::QueuedConnection);
        }
    }
    if (done)
        done(outcome);
}

bool MediaEngine::IsWalking() const
{
    return m_walk && graph && graph->walking();
}

std::uint64_t MediaEngine::WalkedMs() const
{
    if (!graph || !graph->parseFilter[0])
        return 0;
    return static_cast<std::uint64_t>(graph->parseFilter[0]->snapshot()->duration()) / 10000u;
}

void MediaEngine::endWalk()
{
    if (!m_walk)
        return;
    m_walk->cancel = true;
    if (m_walk->worker.joinable())
        m_walk->worker.join();
    m_walk.reset();
}

void MediaEngine::startWalkTimer()
{
    if (!m_walkTimer) {
        m_walkTimer = new QTimer(m_loopContext.get());
        m_walkTimer->setInterval(kWalkServiceMs);
        QObject::connect(m_walkTimer, &QTimer::timeout, m_loopContext.get(), [this] { serviceWalk(); });
    }
    m_walkTimer->start();
}

void MediaEngine::serviceWalk()
{
    bool waiting = false;
    if (graph && graph->built) {
        graph->refreshLength();
        if (graph->graphBuilder)
            waiting = graph->graphBuilder->service();
    }
    if (m_walk && m_walk->finished) {
        m_walk->worker.join();
        m_walk.reset();
    }
    if (!m_walk && !waiting && m_walkTimer)
        m_walkTimer->stop();
}

} // namespace korvante
