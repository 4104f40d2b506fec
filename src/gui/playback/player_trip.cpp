// Playing a drive as one: the recording that follows the playing one in its
// trip is prepared in the engine while this one plays and takes over at its
// end; single-picture steps cross into the neighbouring recordings.

#include "player_menu_dlg.h"

#include "core/platform/log.h"
#include "core/platform/registry.h"
#include "core/playback/viewer_state.h"
#include "gui/trip/trip_source.h"
#include "gui/ui/bitmap_slider.h"

#include <algorithm>
#include <limits>

namespace korvante {

namespace {

QString settingsGroup()
{
    return Registry::profileGroup(QStringLiteral("Player"));
}

const QString kContinuousKey = QStringLiteral("PlayTripsContinuously");

} // namespace

bool CPlayerMenuDlg::storedContinuous()
{
    return Registry::value(settingsGroup(), kContinuousKey, true).toBool();
}

void CPlayerMenuDlg::setTripLink(TripLink link)
{
    if (m_trip.trips)
        disconnect(m_trip.trips, nullptr, this, nullptr);
    m_trip = std::move(link);
    if (m_trip.trips) {
        // A trip that cannot be read has no next recording: the end of the
        // recording does what it always did.
        connect(m_trip.trips, &TripSource::tripFailed, this, [this](const QString &name) {
            if (name == m_tripAsked)
                m_prerollDone = name;
        });
    }
}

void CPlayerMenuDlg::setContinuous(bool on)
{
    m_continuous = on;
    Registry::setValue(settingsGroup(), kContinuousKey, on);
    if (on) {
        m_prerollDone.clear();
        m_state.engine.SwitchAtEnd([this] { onSwitchedToNext(); });
    } else {
        m_state.engine.SwitchAtEnd({});
        dropPrepared();
    }
}

void CPlayerMenuDlg::dropPrepared()
{
    ++m_prepareRequest; // whatever a dropped preparation reports is old news
    m_preparedName.clear();
    m_preparedPath.clear();
    m_state.engine.DropPrepared();
}

int CPlayerMenuDlg::listedRowOf(const std::string &name, const std::string &path, bool listAll)
{
    const RecordingCatalogue &catalogue = m_state.catalogue;
    auto find = [&] { return catalogue.shownRowOf(name, path); };
    int row = find();
    if (row < 0 && listAll && m_trip.listAllKinds) {
        // A kind filter or a search leaves it out: every kind is listed, as
        // choosing ALL does.
        m_trip.listAllKinds();
        row = find();
    }
    return row;
}

void CPlayerMenuDlg::maybePreroll()
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (!m_continuous || !m_trip.trips || m_currentName.isEmpty() || (s != StateRunning && s != StatePaused))
        return;
    if (m_prerollDone == m_currentName || engine.IsPreparing() || !engine.LengthKnown())
        return;
    // A few seconds in (half-way into a shorter recording): a user who
    // skips on after a glance costs no preparation, and the next recording
    // is ready long before the end.
    const std::uint64_t after = std::min<std::uint64_t>(kPrerollAfterMs, engine.GetDurationMs() / 2);
    if (engine.GetPositionMs() < after)
        return;
    const std::string name = m_currentName.toStdString();
    const auto trip = m_trip.trips->tripOf(name);
    if (!trip) {
        m_tripAsked = m_currentName; // read on the trip source's worker; asked again next tick
        return;
    }
    m_prerollDone = m_currentName;
    const auto at = trip->indexOf(name);
    const auto next = at ? trip->next(*at) : std::nullopt;
    if (!next)
        return; // the trip ends here
    const trip::TripRecording &following = trip->recordings[next->recording];
    const RecordingEntry *entry = m_state.catalogue.entryOf(following.source.name, following.source.path);
    if (!entry) {
        logInfo("playback: " + following.source.name + " follows in the trip but the source no longer lists it");
        return;
    }
    const OpenArguments args = openArgumentsOf(*entry);
    m_preparedName = QString::fromStdString(args.name);
    m_preparedPath = following.source.path;
    const std::uint64_t request = ++m_prepareRequest;
    engine.PrepareNext(args.front, args.rear, args.device, args.recording,
                       static_cast<std::uint64_t>(std::max<std::int64_t>(next->offsetMs, 0)),
                       [this, request](const MediaEngine::OpenOutcome &outcome) {
                           if (request != m_prepareRequest || outcome.opened == 1)
                               return;
                           // The end of this recording does what it always did.
                           m_preparedName.clear();
                           m_preparedPath.clear();
                       });
}

void CPlayerMenuDlg::onSwitchedToNext()
{
    // The engine plays the prepared recording now: the panels follow.
    MediaEngine &engine = m_state.engine;
    const QString name = m_preparedName;
    const std::string path = m_preparedPath;
    m_preparedName.clear();
    m_preparedPath.clear();
    m_currentName = name;
    m_prerollDone.clear();
    m_tripAsked.clear();
    m_walkMessage = false;
    const int row = listedRowOf(name.toStdString(), path, true);
    if (row >= 0 && m_fileList.moveToRow)
        m_fileList.moveToRow(row);
    m_currentIndex = row;
    m_seek->setRange(0, static_cast<int>(std::min<std::uint64_t>(engine.GetDurationMs(), std::numeric_limits<int>::max())));
    engine.SetRearFlip(m_rearFlip ? 1 : 0);
    startPlaying(); // the sensor strip and picture settings hear of the new recording
    assignScreens();
}

int CPlayerMenuDlg::openTripRecordingAt(const std::string &name, const std::string &path, std::int64_t atTicks,
                                        bool before)
{
    const int row = listedRowOf(name, path, true);
    if (row < 0 || !m_fileList.moveToRow)
        return 0;
    killTimer(kNextFileTimer);
    m_fileList.moveToRow(row);
    if (openFocusedRecording() != 1)
        return 0;
    m_pauseAt = PauseAt{atTicks, before};
    return 1;
}

void CPlayerMenuDlg::pauseWhereStepped()
{
    if (!m_pauseAt)
        return;
    const PauseAt at = *m_pauseAt;
    m_pauseAt.reset();
    MediaEngine &engine = m_state.engine;
    if (!engine.graph || !engine.graph->parseFilter[0])
        return;
    const auto index = engine.graph->parseFilter[0]->snapshot();
    if (index->video.empty() || index->video.front().frames.empty())
        return;
    const VideoStreamIndex &pictures = index->video.front();
    const auto last = static_cast<std::int64_t>(pictures.frames.size()) - 1;
    // The picture shown at the moment, or the one just before it.
    const std::int64_t moment = std::max<std::int64_t>(at.ticks - (at.before ? 1 : 0), 0);
    const std::int64_t frame = std::clamp<std::int64_t>(pictures.frameAt(moment), 0, last);
    pausePlaying();
    const std::int64_t time = (pictures.frameTime(frame) + pictures.frameTime(frame + 1)) / 2;
    engine.SetPosition(time);
    showPausedPosition(static_cast<std::uint64_t>(time / 10000));
}

int CPlayerMenuDlg::stepFrameInTrip(int direction)
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (direction == 0 || (s != StateRunning && s != StatePaused) || !engine.graph || !engine.graph->parseFilter[0])
        return stepFrame(direction);
    const auto index = engine.graph->parseFilter[0]->snapshot();
    if (index->video.empty() || index->video.front().frames.empty() || !engine.LengthKnown())
        return stepFrame(direction);
    const auto last = static_cast<std::int64_t>(index->video.front().frames.size()) - 1;
    std::int64_t current = shownFrame();
    if (current < 0)
        current = index->video.front().frameAt(static_cast<std::int64_t>(engine.GetPositionMs()) * 10000);
    const bool atEdge = direction > 0 ? current >= last : current <= 0;
    if (!atEdge || !m_trip.trips || m_currentName.isEmpty())
        return stepFrame(direction);
    const std::string name = m_currentName.toStdString();
    const auto trip = m_trip.trips->tripOf(name);
    const auto at = trip ? trip->indexOf(name) : std::nullopt;
    if (!at)
        return stepFrame(direction); // the trip is not known (yet): the step stays in this recording
    const auto to = direction > 0 ? trip->next(*at) : trip->previous(*at);
    if (!to)
        return 0; // the trip's first or last picture
    if (s == StateRunning)
        pausePlaying();
    const trip::TripRecording &neighbour = trip->recordings[to->recording];
    // Forward: the picture at the moment this recording ended; back: the
    // one before the moment the previous recording gave way to this one.
    return openTripRecordingAt(neighbour.source.name, neighbour.source.path,
                               std::max<std::int64_t>(to->offsetMs, 0) * 10000, direction < 0);
}

} // namespace korvante
