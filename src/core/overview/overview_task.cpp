#include "core/overview/overview_task.h"

#include <QMetaObject>

#include <chrono>

namespace korvante::overview {

OverviewTask::OverviewTask(QObject *parent) : QObject(parent) {}

OverviewTask::~OverviewTask() { stopWorker(); }

void OverviewTask::stopWorker()
{
    if (m_cancel)
        m_cancel->store(true);
    if (m_worker.joinable())
        m_worker.join();
    m_running = false;
}

void OverviewTask::cancel() { stopWorker(); }

void OverviewTask::start(std::vector<SourceRecording> recordings, std::string cacheDirectory)
{
    stopWorker();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_running = true;
    const auto cancel = m_cancel;
    // The worker posts to `this`; stopWorker() joins it before the task goes
    // or starts anew, and a post whose build was cancelled is dropped.
    m_worker = std::thread([this, cancel, recordings = std::move(recordings),
                            directory = std::move(cacheDirectory)]() mutable {
        OverviewCache cache(directory.empty() ? OverviewCache::defaultDirectory() : directory);
        auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        auto report = [&](std::size_t done, std::size_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (done < total && now - last < std::chrono::milliseconds(100))
                return;
            last = now;
            QMetaObject::invokeMethod(
                this,
                [this, cancel, done, total] {
                    if (!cancel->load())
                        emit this->progress(static_cast<int>(done), static_cast<int>(total));
                },
                Qt::QueuedConnection);
        };
        auto result = std::make_shared<const OverviewResult>(buildOverview(recordings, &cache, report, cancel.get()));
        recordings.clear(); // lets a card's device go with the worker
        QMetaObject::invokeMethod(
            this,
            [this, cancel, result] {
                if (cancel->load())
                    return;
                m_running = false;
                emit finished(result);
            },
            Qt::QueuedConnection);
    });
}

} // namespace korvante::overview
