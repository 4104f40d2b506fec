#include "core/clock/card_clock_task.h"

#include "core/clock/card_clock.h"
#include "core/config/viewer_config.h"
#include "core/storage/catalogue_config.h"
#include "core/storage/list_view.h"
#include "core/storage/recording_catalogue.h"

#include <QMetaObject>

namespace korvante::clock {

ClockCheck checkCardClock(const StorageSource &source, std::size_t limit, const std::atomic<bool> *cancel)
{
    RecordingCatalogue catalogue;
    importConfiguration(ViewerConfig::instance(), catalogue);
    catalogue.sortOrder = SortOrder::Descending; // newest first: those are read when capped
    catalogue.setSources({source});
    if (!catalogue.selectSource(0))
        return {};
    NullListView rows;
    catalogue.listAllWithoutRepair(rows);
    std::vector<RecordingFixes> read;
    for (const RecordingRef &ref : recordingsOf(catalogue, limit)) {
        if (cancel && cancel->load())
            return {};
        if (auto fixes = readRecordingFixes(ref, nullptr, cancel))
            read.push_back(std::move(*fixes));
    }
    return checkClock(read);
}

CardClockTask::CardClockTask(QObject *parent) : QObject(parent) {}

CardClockTask::~CardClockTask()
{
    m_cancel->store(true);
    if (m_worker.joinable())
        m_worker.join();
}

void CardClockTask::start(const StorageSource &source, std::size_t limit)
{
    if (m_worker.joinable()) {
        if (!m_result)
            return;
        m_worker.join();
    }
    m_result.reset();
    const auto cancel = m_cancel;
    // The destructor joins the worker before the object goes, so `this` is
    // valid in it; a result posted to a task destroyed meanwhile is dropped
    // with the task's pending events.
    m_worker = std::thread([this, source, limit, cancel] {
        ClockCheck check = checkCardClock(source, limit, cancel.get());
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(
            this, [this, check = std::move(check)]() mutable { deliver(std::move(check)); },
            Qt::QueuedConnection);
    });
}

void CardClockTask::deliver(ClockCheck check)
{
    m_result = check;
    emit finished(*m_result);
}

} // namespace korvante::clock
