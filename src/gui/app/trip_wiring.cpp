// The trips of the listed source: what the file list lists is what the trips
// are read from (every kind, whatever the list shows), so the player can go
// on through a drive and the trip bar can show it whole.
#include "trail_player_dlg.h"

#include "core/overview/source_overview.h"
#include "core/playback/viewer_state.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/trip/trip_source.h"

namespace korvante {

void CVX_TrailPlayerDlg::wireTrips()
{
    m_trips = new TripSource(this);
    connect(m_fileManager, &CFileManagerDlg::listed, m_trips,
            [this] { m_trips->setRecordings(overview::recordingsOf(GetViewerState().catalogue)); });
}

} // namespace korvante
