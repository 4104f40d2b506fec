#pragma once
// The map panel (template 137): 315 x 310 with the browser at (8, 24),
// 299 x 280, showing the map page beside the executable. Twice a second it
// picks the GPS fix of the playback position, makes it ViewerState's
// currentFix and moves the page's marker; it also hands the page the whole
// track of the open recording as soon as its fixes are known, or, once the
// trip of the open recording is known, the whole trip's track with the part
// driven up to the playback position shaded.
//
// At start it checks whether the map service can be reached (without
// blocking: see MapProbe). Reachable: the page opens online, over map tiles.
// Not reachable: "Please check your Internet connection." and the page opens
// offline, drawing the track and the position on a plain plane.
//
// Docked at the main window's origin plus (770, 0) while "Fixed window" is
// pressed and the main window is in its default layout; otherwise it floats
// and drags by its body. Hidden and kept on top in the wide layouts.
//
// Owned by the main window. UI thread only.

#include "gui/display/map_script.h"
#include "gui/platform/panel_frame.h"

#include <memory>
#include <optional>

namespace korvante {

class CMap_view;
class CSkinButton;
class MapProbe;

class CMapViewDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 137;
    static constexpr QPoint kDockOffset{770, 0};
    static constexpr QSize kSize{315, 310};
    static constexpr QRect kBrowserRect{8, 24, 299, 280};
    static constexpr int kMapTimer = 256;
    static constexpr int kMapIntervalMs = 500;
    // Button ids (the first parameter of their click message).
    static constexpr int kCloseButton = 0;
    static constexpr int kFixedButton = 1;
    // Skin images of the "Fixed window" button: docked, floating.
    static constexpr int kDockedImage = 244;
    static constexpr int kFloatingImage = 243;

    explicit CMapViewDlg(QWidget *mainWindow);
    ~CMapViewDlg() override;

    void followMainWindow() override;
    void setLayout(int wide) override;

    bool isDocked() const { return m_docked; }
    bool isShownFlag() const { return m_shown; }
    // The page has been opened (online or offline); the map step runs.
    bool isPageLoaded() const { return m_pageLoaded; }
    // The connectivity check succeeded and the page shows map tiles.
    bool isOnline() const { return m_online; }
    CMap_view *mapView() const { return m_view; }
    CSkinButton *closeButton() const { return m_close; }
    CSkinButton *fixedButton() const { return m_fixed; }
    // The map page's path: mapView.htm beside the executable, or in the
    // installed data folder.
    static QString pagePath();
    // One map step, as timer 256 runs it every 500 ms: the fix of the
    // playback position becomes the current fix and the page's marker moves;
    // a new or changed track is handed to the page first.
    void mapStep();

    // The trip of the open recording and that recording's camera start
    // time: the page then shows the trip's whole track, driven up to the
    // recording's start plus the playback position. Null: the open
    // recording's own track, as the fix list has it (the trip is not known).
    void setTrip(std::shared_ptr<const trip::TripTimeline> trip, overview::CameraTime playingStart);
    const std::shared_ptr<const trip::TripTimeline> &trip() const { return m_trip; }

signals:
    // The page was opened, after the connectivity check (for observers that
    // wait for the panel's start, such as tests).
    void pageOpened(bool online);

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void onTimer(int id) override;
    bool dragsByBody() const override;
    void paintEvent(QPaintEvent *event) override;

private:
    void openPage(bool online);
    void warnOffline();
    // Removes the car's marker from the page, when it shows one.
    void hideMarker();
    void sendTrackIfChanged();
    // Shades the trip's track up to the playback position (ms) of the open recording.
    void sendDriven(std::optional<std::uint32_t> position);
    void toggleDocking();

    CMap_view *m_view = nullptr;
    CSkinButton *m_close = nullptr;
    CSkinButton *m_fixed = nullptr;
    MapProbe *m_probe = nullptr;
    MapSettings m_settings;
    bool m_pageLoaded = false;
    bool m_online = false;
    bool m_docked = true;
    bool m_shown = true;
    bool m_wide = false;
    // The track last handed to the page (resent after every page load).
    TrackSignature m_track;
    bool m_trackSent = false;
    bool m_markerShown = false; // the page shows a car marker
    // The trip shown instead of the recording's own track (null: none), the
    // camera time of each of its points on the page, and how many of them
    // the page shows as driven.
    std::shared_ptr<const trip::TripTimeline> m_trip;
    overview::CameraTime m_playingStart{};
    std::shared_ptr<const trip::TripTimeline> m_tripSent;
    std::vector<overview::CameraTime> m_tripTimes;
    std::size_t m_drivenSent = 0;
    static constexpr int kWarnWaitMs = 100;
    static constexpr int kWarnWaitLimit = 50;
    int m_warnWaits = 0;
};

} // namespace korvante
