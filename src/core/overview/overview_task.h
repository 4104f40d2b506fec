#pragma once
// Builds a source's overview on a worker thread for the viewer, and reports
// progress and the result on the thread that owns the task.
//
// Ownership: a QObject of its creator's (the user-interface) thread.
// Destroying it, or starting anew, cancels the running build and waits for
// the worker, which stops within one recording's read.

#include "core/overview/source_overview.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>

namespace korvante::overview {

class OverviewTask final : public QObject {
    Q_OBJECT
public:
    explicit OverviewTask(QObject *parent = nullptr);
    ~OverviewTask() override;
    OverviewTask(const OverviewTask &) = delete;
    OverviewTask &operator=(const OverviewTask &) = delete;

    // Starts reading `recordings` (from recordingsOf on this thread), with
    // the cache in `cacheDirectory` (empty: the default one).
    void start(std::vector<SourceRecording> recordings, std::string cacheDirectory = {});
    void cancel();
    bool running() const { return m_running; }

signals:
    // Each on the task's thread; progress at most ten times a second.
    void progress(int done, int total);
    void finished(std::shared_ptr<const korvante::overview::OverviewResult> result);

private:
    void stopWorker();

    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false;
};

} // namespace korvante::overview
