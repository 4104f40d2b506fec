#include "gui/trip/trip_source.h"

#include "core/overview/overview_cache.h"

#include <QMetaObject>

namespace korvante {

TripSource::TripSource(QObject *parent, std::string cacheDirectory)
    : QObject(parent), m_cacheDirectory(std::move(cacheDirectory))
{
}

TripSource::~TripSource() { stopWorker(); }

void TripSource::stopWorker()
{
    if (m_cancel)
        m_cancel->store(true);
    if (m_worker.joinable())
        m_worker.join();
    m_done = true;
    m_readingName.clear();
}

void TripSource::setRecordings(std::vector<overview::SourceRecording> recordings)
{
    stopWorker();
    m_recordings = std::move(recordings);
    m_known.clear();
    m_current.reset();
}

bool TripSource::setRules(std::chrono::seconds gap, double thresholdG)
{
    if (gap == m_gap && thresholdG == m_thresholdG)
        return false;
    stopWorker();
    m_gap = gap;
    m_thresholdG = thresholdG;
    m_known.clear();
    m_current.reset();
    return true;
}

std::shared_ptr<const trip::TripTimeline> TripSource::tripOf(const std::string &name)
{
    for (const auto &known : m_known)
        if (known->indexOf(name)) {
            m_current = known;
            return known;
        }
    if (name == m_readingName && !m_done)
        return nullptr; // on its way
    for (std::size_t i = 0; i < m_recordings.size(); ++i)
        if (m_recordings[i].name == name) {
            startReading(i);
            return nullptr;
        }
    // Not a recording of the listed source: said after the caller returns,
    // as a read's outcome would be.
    QMetaObject::invokeMethod(
        this, [this, shown = QString::fromStdString(name)] { emit tripFailed(shown); }, Qt::QueuedConnection);
    return nullptr;
}

void TripSource::startReading(std::size_t at)
{
    stopWorker();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_done = false;
    m_readingName = m_recordings[at].name;
    const auto cancel = m_cancel;
    // The worker reads a copy (a new listing may replace m_recordings) and
    // posts to `this`; stopWorker() joins it before the source goes, and a
    // post whose read was cancelled is dropped.
    m_worker = std::thread([this, cancel, at, recordings = m_recordings, gap = m_gap, threshold = m_thresholdG,
                            directory = m_cacheDirectory]() mutable {
        overview::OverviewCache cache(directory.empty() ? overview::OverviewCache::defaultDirectory() : directory);
        std::optional<trip::TripTimeline> found = trip::readTrip(recordings, at, &cache, gap, threshold, cancel.get());
        const QString name = QString::fromStdString(recordings[at].name);
        recordings.clear(); // lets a card's device go with the worker
        std::shared_ptr<const trip::TripTimeline> result =
            found ? std::make_shared<const trip::TripTimeline>(std::move(*found)) : nullptr;
        QMetaObject::invokeMethod(
            this,
            [this, cancel, result, name] {
                if (cancel->load())
                    return;
                m_done = true;
                m_readingName.clear();
                if (!result) {
                    emit tripFailed(name);
                    return;
                }
                m_known.push_back(result);
                m_current = result;
                emit tripReady(result);
            },
            Qt::QueuedConnection);
    });
}

} // namespace korvante
