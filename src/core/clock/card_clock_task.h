#pragma once
// Checks the clock of a card's camera on a worker thread: scans the card
// (its configured recording folders, or its TAVO partition) with a catalogue
// of its own, reads the GPS fixes of its newest recordings and reports the
// result with finished(), on the thread that owns the task.
//
// Only the newest `limit` recordings are read: each costs its headers, index
// and metadata chunks (an unfinished recording, the whole file), and the
// camera's clock as it runs now is what matters.
//
// Ownership: a QObject of its creator's thread. Destroying it cancels the
// read and waits for the worker (which then stops within one file's read).

#include "core/clock/clock_check.h"
#include "core/storage/recording_entry.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace korvante::clock {

class CardClockTask final : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultLimit = 60;

    explicit CardClockTask(QObject *parent = nullptr);
    ~CardClockTask() override;
    CardClockTask(const CardClockTask &) = delete;
    CardClockTask &operator=(const CardClockTask &) = delete;

    // Starts the check of `source` (a removable drive or a TAVO card as the
    // storage list offers them). The folders and extensions come from the
    // viewer's configuration. A second start is ignored while one runs.
    void start(const StorageSource &source, std::size_t limit = kDefaultLimit);
    bool running() const { return m_worker.joinable() && !m_result; }
    // The last result, once finished() was emitted.
    const std::optional<ClockCheck> &result() const { return m_result; }

signals:
    // Emitted once per start, on the task's thread.
    void finished(const korvante::clock::ClockCheck &check);

private:
    void deliver(ClockCheck check);

    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::optional<ClockCheck> m_result;
};

// The check of the card of `source`, read on the calling thread (the
// worker's body, and the command line's).
ClockCheck checkCardClock(const StorageSource &source, std::size_t limit, const std::atomic<bool> *cancel);

} // namespace korvante::clock
