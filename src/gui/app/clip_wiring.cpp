// Making a clip, wired where the main window is assembled: the In / Out /
// Clear / "Save clip…" buttons sit in the player panel's free room beside its
// own buttons, the span's status line in the title bar, the marks on the seek
// slider. The span follows the player's position and the listed source; the
// plan reads the catalogue on this thread. UI thread only.

#include "trail_player_dlg.h"

#include "gui/trip/trip_bar.h"

#include "core/clip/clip_plan.h"
#include "core/overview/overview_cache.h"
#include "core/playback/viewer_state.h"
#include "gui/clip/clip_controller.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/trip/trip_bar.h"

namespace korvante {

namespace {

// The listed source as one string: the same card or folder listed again
// keeps the span, another one (or none) clears it.
std::string sourceKey(const RecordingCatalogue &catalogue)
{
    const StorageSource *source = catalogue.selectedSourceRecord();
    if (!source)
        return {};
    std::string key = source->label + '\n' + text64(source->devicePath);
    for (const ScannedFolder &folder : catalogue.scannedFolders())
        key += '\n' + folder.path;
    return key;
}

// In the player panel's coordinates: "Save clip…" between Next File
// (240..260) and Print (350), In / Out / Clear between Sensor Information
// (520..540) and Map Information (600).
constexpr QRect kSave{266, 24, 76, 20};
constexpr QRect kInOutClear{543, 24, 54, 20};
// In the main window's title bar, between its title and its buttons (650..).
constexpr QRect kStatus{300, 4, 342, 18};

} // namespace

void CVX_TrailPlayerDlg::wireClip()
{
    ClipController::Links links;
    links.currentName = [this] { return m_player ? m_player->currentName() : QString(); };
    links.positionMs = [this]() -> std::optional<std::int64_t> {
        if (!m_player || m_player->isOpening() || !ViewerStateExists())
            return std::nullopt;
        MediaEngine &engine = GetViewerState().engine;
        const int state = engine.GetState();
        if (state != StateRunning && state != StatePaused)
            return std::nullopt;
        return static_cast<std::int64_t>(engine.GetPositionMs());
    };
    links.plan = [](clip::CameraTime in, clip::CameraTime out, std::string &error) {
        overview::OverviewCache cache;
        return clip::planClip(GetViewerState().catalogue, in, out, &cache, error);
    };
    links.speedUnit = [] { return static_cast<int>(GetViewerState().speedUnit); };

    ClipController::Placement placement;
    placement.buttons = m_player;
    placement.inOutClear = kInOutClear;
    placement.save = kSave;
    placement.status = this;
    placement.statusRect = kStatus;
    m_clip = new ClipController(std::move(links), m_player->seekSlider(), placement, this, this);

    // The marks follow the recording the player shows and its length.
    connect(m_player, &CPlayerMenuDlg::graphCursorMoved, m_clip, [this] { m_clip->refreshMarks(); });
    connect(m_fileManager, &CFileManagerDlg::listed, m_clip,
            [this] { m_clip->followSource(sourceKey(GetViewerState().catalogue)); });
    // The span is underlined on the trip bar too, across the trip's recordings.
    if (TripBar *bar = tripBar())
        connect(m_clip, &ClipController::spanChanged, bar, &TripBar::setSpan);
    m_clip->followSource(sourceKey(GetViewerState().catalogue));
}

} // namespace korvante
