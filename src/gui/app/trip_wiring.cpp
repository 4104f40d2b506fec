// The trips of the listed source: what the file list lists is what the trips
// are read from (every kind, whatever the list shows), so the player can go
// on through a drive and the trip bar can show it whole. The bar and the map
// follow the trip of the recording the player has open; a seek on the bar or
// an incident key plays the moment asked for, in whichever recording holds
// it. UI thread only.
#include "trail_player_dlg.h"

#include "core/overview/source_overview.h"
#include "core/platform/log.h"
#include "core/playback/viewer_state.h"
#include "gui/display/map_view_dlg.h"
#include "gui/overview/overview_dlg.h"
#include "gui/platform/messages.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/trip/trip_bar.h"
#include "gui/trip/trip_panel.h"
#include "gui/trip/trip_source.h"
#include "gui/ui/bitmap_slider.h"

#include <QCheckBox>

namespace korvante {

namespace {

// An incident key looks past the moment played now by this much: a jump
// lands on the incident's frame, whose time may lie a little either side of
// the peak, and the next press must not find the same incident again.
// Incidents are merged within 5 s, so no other one lies this close.
constexpr std::chrono::milliseconds kIncidentSlack{250};

} // namespace

void CVX_TrailPlayerDlg::wireTrips()
{
    m_trips = new TripSource(this);
    m_trips->setRules(overview::kDefaultTripGap, m_overview->threshold());
    // The player goes on through a drive by its trip.
    m_player->setTripLink({m_trips, [this] { m_fileManager->listAllKinds(); }});
    m_tripPanel = new TripPanel(this, QSize(kWidth, kHeight));
    // The trips read so far are gone with a new listing, or with another
    // incident threshold in the overview: the playing one is asked anew.
    const auto askAgain = [this] {
        m_tripName.clear();
        showTrip(nullptr);
        followTrip(static_cast<quint32>(GetViewerState().engine.GetPositionMs()));
    };
    connect(m_fileManager, &CFileManagerDlg::listed, m_trips, [this, askAgain] {
        m_trips->setRecordings(overview::recordingsOf(GetViewerState().catalogue));
        askAgain();
    });
    // The bar's incidents and the incident keys use the overview's "At least".
    connect(m_overview, &COverviewDlg::incidentsChanged, m_trips, [this, askAgain] {
        if (m_trips->setRules(overview::kDefaultTripGap, m_overview->threshold()))
            askAgain();
    });
    // Every tick and seek of the player: another recording shows up here first.
    connect(m_player, &CPlayerMenuDlg::graphCursorMoved, this, &CVX_TrailPlayerDlg::followTrip);
    connect(m_trips, &TripSource::tripReady, this, [this](std::shared_ptr<const trip::TripTimeline> trip) {
        if (trip && trip->indexOf(m_player->currentName().toStdString()))
            showTrip(trip);
    });
    connect(m_trips, &TripSource::tripFailed, this, [this](const QString &name) {
        if (name == m_player->currentName() && !m_tripPanel->bar()->trip())
            m_tripPanel->bar()->setMessage(QStringLiteral("No trip is known for %1.").arg(name));
    });
    // The player keeps the setting (across runs too); the box shows and changes it.
    QCheckBox *continuous = m_tripPanel->bar()->continuousBox();
    continuous->setChecked(m_player->continuous());
    connect(continuous, &QCheckBox::toggled, m_player, &CPlayerMenuDlg::setContinuous);
    connect(m_tripPanel->bar(), &TripBar::seekRequested, this,
            [this](overview::CameraTime at, bool final) { playTripAt(at, final); });
}

TripBar *CVX_TrailPlayerDlg::tripBar() const { return m_tripPanel ? m_tripPanel->bar() : nullptr; }

void CVX_TrailPlayerDlg::showTrip(std::shared_ptr<const trip::TripTimeline> trip)
{
    TripBar *bar = m_tripPanel->bar();
    const std::string name = m_player->currentName().toStdString();
    if (trip && !trip->indexOf(name))
        trip.reset(); // never another recording's trip
    bar->setTrip(trip);
    bar->setMessage(trip || name.empty() ? QString()
                                         : QStringLiteral("Reading the trip of %1\u2026").arg(m_player->currentName()));
    if (trip) {
        const overview::CameraTime start = trip->recordings[trip->indexOf(name).value_or(0)].start;
        m_mapView->setTrip(trip, start);
        bar->setPosition(start + std::chrono::milliseconds{GetViewerState().engine.GetPositionMs()});
    } else {
        m_mapView->setTrip(nullptr, {});
    }
}

void CVX_TrailPlayerDlg::followTrip(quint32 milliseconds)
{
    const QString name = m_player->currentName();
    if (name != m_tripName) {
        m_tripName = name;
        showTrip(name.isEmpty() ? nullptr : m_trips->tripOf(name.toStdString()));
    }
    const auto &trip = m_tripPanel->bar()->trip();
    if (!trip)
        return;
    if (const auto playing = trip->indexOf(name.toStdString()))
        m_tripPanel->bar()->setPosition(trip->recordings[*playing].start + std::chrono::milliseconds{milliseconds});
}

bool CVX_TrailPlayerDlg::playTripAt(overview::CameraTime at, bool final)
{
    const std::shared_ptr<const trip::TripTimeline> trip = m_tripPanel->bar()->trip();
    if (!trip)
        return false;
    const std::string name = m_player->currentName().toStdString();
    const int state = GetViewerState().engine.GetState();
    const bool open = !m_player->isOpening() && (state == StateRunning || state == StatePaused);
    const std::optional<std::size_t> playing = open ? trip->indexOf(name) : std::nullopt;
    const std::optional<trip::Position> where = trip->locate(at, playing);
    if (!where)
        return false;
    const trip::TripRecording &recording = trip->recordings[where->recording];
    if (playing && *playing == where->recording) {
        // The player's own seek path; a seek message of 0 would mean "where
        // the slider is", so the slider is put at the start first.
        if (where->offsetMs <= 0)
            m_player->seekSlider()->setPos(0);
        sendMessage(m_player, msg::Seek, static_cast<quintptr>(std::max<std::int64_t>(0, where->offsetMs)));
        return true;
    }
    if (!final)
        return false; // a drag opens another recording where it ends, not on its way
    // A paused recording gives way to the other one paused on the picture asked for.
    if (state == StatePaused && open) {
        if (m_player->openTripRecordingAt(recording.source.name, recording.source.path,
                                          std::max<std::int64_t>(0, where->offsetMs) * 10000, false) == 1)
            return true;
    }
    const QString problem = playFromOverview({recording.source.name, recording.source.path, where->offsetMs});
    m_tripPanel->bar()->setMessage(problem);
    if (!problem.isEmpty()) {
        logWarning(problem.toStdString());
        return false;
    }
    return true;
}

bool CVX_TrailPlayerDlg::jumpToIncident(bool forward)
{
    const std::shared_ptr<const trip::TripTimeline> trip = m_tripPanel->bar()->trip();
    if (!trip)
        return false;
    const std::optional<std::size_t> playing = trip->indexOf(m_player->currentName().toStdString());
    if (!playing)
        return false;
    const overview::CameraTime now =
        trip->recordings[*playing].start + std::chrono::milliseconds{GetViewerState().engine.GetPositionMs()};
    const std::optional<trip::TripIncident> incident =
        forward ? trip->incidentAfter(now + kIncidentSlack) : trip->incidentBefore(now - kIncidentSlack);
    // The peak itself: the graph's cursor lands on its mark, and the
    // moments before it are a Left key away.
    return incident && playTripAt(incident->at, true);
}

} // namespace korvante
