#pragma once
// One clip being written: writeClip runs on a worker thread of its own while
// the viewer goes on; the job reports the share done and the outcome on the
// UI thread. A cancel stops the writer at its next picture, and the core
// removes its temporary files, so a cancelled job leaves nothing behind.
//
// Threads: made, started, cancelled and destroyed on the UI thread. The
// worker shares with it only the cancel flag and the last share reported;
// everything else it owns (the plan and options are copies). The destructor
// cancels and waits for the worker.

#include "core/clip/clip_writer.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace korvante {

class ClipJob final : public QObject {
    Q_OBJECT
public:
    // The writer the worker runs; writeClip unless a test gives another.
    using Writer = std::function<clip::ClipOutcome(const clip::ClipPlan &, const clip::ClipOptions &,
                                                   const std::string &, const clip::ClipProgress &,
                                                   const std::atomic<bool> *)>;

    ClipJob(clip::ClipPlan plan, clip::ClipOptions options, std::string outputPath, QObject *parent = nullptr,
            Writer writer = {});
    ~ClipJob() override;
    ClipJob(const ClipJob &) = delete;
    ClipJob &operator=(const ClipJob &) = delete;

    void start();
    // Asks the worker to stop; `finished` still comes, with Cancelled
    // (or the outcome it had reached already).
    void cancel();
    bool isRunning() const { return m_running; }
    const std::string &outputPath() const { return m_path; }

signals:
    // The share done, 0 to 1, at most once per thousandth.
    void progressed(double fraction);
    // Once, on the UI thread, after the worker has ended.
    void finished(const korvante::clip::ClipOutcome &outcome);

private:
    void run();

    clip::ClipPlan m_plan;
    clip::ClipOptions m_options;
    std::string m_path;
    Writer m_writer;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_reported{-1}; // the last share posted, in thousandths
    bool m_running = false;          // UI thread only
    std::thread m_worker;
};

} // namespace korvante
