#pragma once
// The trips of the listed source, for the player and the trip bar: which
// trip a recording belongs to, read on a worker thread (from the overview's
// cache when it knows the recordings, so a card seen before costs no read)
// and kept until the listing changes.
//
// Ownership and threads: a QObject of the user-interface thread. The worker
// owns its own cache connection; destroying the source or giving it new
// recordings cancels a read and waits for the worker (within one recording).
#include "core/trip/trip_timeline.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace korvante {

class TripSource final : public QObject {
    Q_OBJECT
public:
    // `cacheDirectory` empty: the overview cache's default folder.
    explicit TripSource(QObject *parent = nullptr, std::string cacheDirectory = {});
    ~TripSource() override;
    TripSource(const TripSource &) = delete;
    TripSource &operator=(const TripSource &) = delete;

    // Every recording of the listed source in camera-time order
    // (overview::recordingsOf); forgets the trips read so far.
    void setRecordings(std::vector<overview::SourceRecording> recordings);
    const std::vector<overview::SourceRecording> &recordings() const { return m_recordings; }
    // The gap that ends a trip and the force that makes an incident; the
    // trips read so far are forgotten when either changes (true then).
    bool setRules(std::chrono::seconds gap, double thresholdG);

    // The trip that holds the recording `name` when it is known; otherwise
    // null, and the trip is read (tripReady follows, unless the name is not
    // one of the source's or cannot be read: then tripFailed).
    std::shared_ptr<const trip::TripTimeline> tripOf(const std::string &name);
    // The trip found last (the playing recording's, as the player asks).
    std::shared_ptr<const trip::TripTimeline> current() const { return m_current; }
    bool reading() const { return m_worker.joinable() && !m_done; }

signals:
    void tripReady(std::shared_ptr<const korvante::trip::TripTimeline> trip);
    void tripFailed(QString name);

private:
    void stopWorker();
    void startReading(std::size_t at);

    std::string m_cacheDirectory;
    std::vector<overview::SourceRecording> m_recordings;
    std::chrono::seconds m_gap = overview::kDefaultTripGap;
    double m_thresholdG = overview::kDefaultIncidentG;
    std::vector<std::shared_ptr<const trip::TripTimeline>> m_known;
    std::shared_ptr<const trip::TripTimeline> m_current;
    std::string m_readingName;
    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_done = true;
};

} // namespace korvante
