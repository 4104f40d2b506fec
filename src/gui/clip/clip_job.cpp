#include "clip_job.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace korvante {

ClipJob::ClipJob(clip::ClipPlan plan, clip::ClipOptions options, std::string outputPath, QObject *parent,
                 Writer writer)
    : QObject(parent), m_plan(std::move(plan)), m_options(std::move(options)), m_path(std::move(outputPath)),
      m_writer(writer ? std::move(writer) : Writer(&clip::writeClip))
{
}

ClipJob::~ClipJob()
{
    m_cancel.store(true);
    if (m_worker.joinable())
        m_worker.join();
    // Calls the worker queued to this object go with it, unanswered.
}

void ClipJob::start()
{
    if (m_running || m_worker.joinable())
        return;
    m_running = true;
    m_worker = std::thread([this] { run(); });
}

void ClipJob::cancel()
{
    m_cancel.store(true);
}

void ClipJob::run()
{
    const auto progress = [this](double fraction) {
        const int thousandths = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 1000));
        if (m_reported.exchange(thousandths) == thousandths)
            return;
        QMetaObject::invokeMethod(this, [this, thousandths] { emit progressed(thousandths / 1000.0); },
                                  Qt::QueuedConnection);
    };
    clip::ClipOutcome outcome = m_writer(m_plan, m_options, m_path, progress, &m_cancel);
    QMetaObject::invokeMethod(
        this,
        [this, outcome = std::move(outcome)] {
            if (m_worker.joinable())
                m_worker.join(); // it has ended: this call was its last act
            m_running = false;
            emit finished(outcome);
        },
        Qt::QueuedConnection);
}

} // namespace korvante
