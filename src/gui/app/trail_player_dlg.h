#pragma once
// The main window: borderless 780 x 780 with its own title and six title-bar
// buttons, owner of the eight panels (front and rear screen, player controls,
// sensor strip, map, file list, G-sensor graph, picture settings) and the
// card overview panel. It
// registers every panel by template id, attaches the screens to the media
// engine, and switches between the default window, fit screen and full
// screen layouts. Shown by a one-shot timer 100 ms after it is made; in the
// default layout it can be dragged by any point of its body.
//
// UI thread only.

#include "gui/platform/body_drag.h"
#include "gui/platform/input_blocker.h"
#include "gui/overview/overview_dlg.h"
#include "gui/trip/trip_source.h"
#include "gui/platform/message_window.h"

#include <QFileInfo>
#include <QPoint>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace korvante {

class CFileManagerDlg;
class ClipController;
class CGsensorGraphicDlg;
class CMapViewDlg;
class COverviewDlg;
class TripBar;
class TripPanel;
class TripSource;
class CPlayerMenuDlg;
class CScreen1Dlg;
class CScreen2Dlg;
class CScreenSettingDlg;
class CSkinButton;
class CUtilInfoDlg;
class GuiFolderPicker;
class PanelFrame;

class CVX_TrailPlayerDlg : public PanelDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 102;
    static constexpr int kWidth = 780;
    static constexpr int kHeight = 780;
    static constexpr int kShowTimer = 0;
    static constexpr int kCloseTimer = 1;

    // Title-bar button ids.
    static constexpr int kCloseButton = 16;
    static constexpr int kFullScreenButton = 17;
    static constexpr int kFitScreenButton = 18;
    static constexpr int kMinimizeButton = 19;
    static constexpr int kDefaultScreenButton = 20;
    static constexpr int kOverviewButton = 21;

    explicit CVX_TrailPlayerDlg(QWidget *parent = nullptr);
    ~CVX_TrailPlayerDlg() override;

    // Runs modally; returns at once when the media components are missing.
    int exec() override;

    // A folder or recording to open once the window shows (the command line's).
    void setStartPath(const QString &path) { m_startPath = path; }

    // Opens what the user gave by name (command line, drop): a folder is
    // listed as Open File lists a folder picked on the computer; a recording
    // has its folder listed, its row selected and played. Anything else gets
    // one message box saying why, and the file list stays as it was.
    void openPath(const QString &path);
    // Why the file at `info` is no recording the file list could show (one
    // sentence for the user), or empty when it may be one. `extensions` are
    // the configured ones, lower case without the dot.
    static QString recordingFileProblem(const QFileInfo &info, const std::vector<std::string> &extensions);

    // Restores, raises and activates the window (another start asked for it).
    void bringToFront();

    // Making a clip: the span's marks and "Save clip…" (clip_wiring.cpp).
    ClipController *clipController() const { return m_clip; }

    static QString titleText() { return QStringLiteral("KORVANTE VIEWER    version 1.5.0"); }

    CScreen1Dlg *frontScreen() const { return m_screen1; }
    CScreen2Dlg *rearScreen() const { return m_screen2; }
    CPlayerMenuDlg *playerPanel() const { return m_player; }
    CScreenSettingDlg *screenSettings() const { return m_screenSetting; }
    CFileManagerDlg *fileList() const { return m_fileManager; }
    CGsensorGraphicDlg *graph() const { return m_graph; }
    // The card overview panel (key T and the title bar's button).
    COverviewDlg *overviewPanel() const { return m_overview; }
    // The listed source's trips (trip_wiring.cpp).
    TripSource *trips() const { return m_trips; }
    // The bar of the playing recording's trip, under the window (trip_wiring.cpp).
    TripBar *tripBar() const;
    // Plays moment `at` of the trip the bar shows: a seek when the open
    // recording holds it, else the recording that does opened there (only
    // when `final`: the end of a drag, not its way). False when nothing
    // was asked of the player.
    bool playTripAt(overview::CameraTime at, bool final);
    // The trip's next (or previous) incident after the moment played now,
    // played from its peak (Ctrl+Right / Ctrl+Left). False when there is none.
    bool jumpToIncident(bool forward);
    CSkinButton *titleButton(int id) const;
    // Whether user input to the window and its panels is held back (around
    // a modal dialog).
    bool isInputBlocked() const { return m_inputBlocker.isBlocked(); }

    // The seven panels shown with the window (all but the picture settings).
    std::array<PanelFrame *, 7> shownPanels() const;

private:
    void wireDialogs();
    // The card overview panel and its links (overview_wiring.cpp).
    void wireOverview();
    // The trips of the listed source, for the player and the trip bar (trip_wiring.cpp).
    void wireTrips();
    // The bar and the map follow the trip of the recording the player has
    // open (`milliseconds` into it); the trip is asked for when another opens.
    void followTrip(quint32 milliseconds);
    // Shows `trip` on the bar and the map when it holds the open recording, else none.
    void showTrip(std::shared_ptr<const trip::TripTimeline> trip);
    // Selects the recording in the file list (every kind listed when the
    // filter hides it) and plays it from request.startMs; why not, or "".
    QString playFromOverview(const COverviewDlg::PlayRequest &request);
    // The graph's marks for the recording the player has open.
    void updateGraphMarks(bool force);

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void onTimer(int id) override;
    void paintEvent(QPaintEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Escape never ends the viewer (a dialog would close on it): in a wide
    // layout it returns to the default layout, in the default layout it does
    // nothing. The same holds wherever the key arrives in a panel.
    void keyPressEvent(QKeyEvent *event) override;
    // Keys and drops for the window and its panels (main_window_input.cpp):
    // installed on the application, so that the keys reach the viewer before
    // the control that has the focus (a list would take the arrows and Space).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createTitleButtons();
    void createPanels();
    void centreOnScreen();
    void onTitleButton(int id);
    void enterWideLayout(int mode);
    void enterDefaultLayout();
    void raiseOverview();
    void selectScreen(int which);
    void enablePanels(bool enable);
    void destroyChildren();
    void showWithPanels();
    static bool isEscape(const QKeyEvent &event);
    bool isViewerWindow(const QWidget *window) const;
    bool takesKeys() const;
    bool runKey(const QKeyEvent &event);
    bool handleDrag(QEvent *event);
    void toggleFullScreen();
    void nameKeysInTooltips();
    bool selectRecordingFile(const QFileInfo &info);
    void openTestRecording();
    // The clip's span, buttons and save (clip_wiring.cpp).
    void wireClip();

    std::array<CSkinButton *, 6> m_buttons{};
    CScreen1Dlg *m_screen1 = nullptr;
    CScreen2Dlg *m_screen2 = nullptr;
    CPlayerMenuDlg *m_player = nullptr;
    CUtilInfoDlg *m_utilInfo = nullptr;
    CMapViewDlg *m_mapView = nullptr;
    CFileManagerDlg *m_fileManager = nullptr;
    CGsensorGraphicDlg *m_graph = nullptr;
    CScreenSettingDlg *m_screenSetting = nullptr;
    COverviewDlg *m_overview = nullptr;
    TripSource *m_trips = nullptr;
    TripPanel *m_tripPanel = nullptr;
    QString m_tripName; // the recording whose trip the bar was last asked for
    // The recording whose incidents the graph marks ("" none) and its path.
    QString m_markedName;
    std::string m_markedPath;
    std::unique_ptr<GuiFolderPicker> m_folderPicker;
    InputBlocker m_inputBlocker;
    bool m_componentsMissing = false;
    QString m_startPath;
    BodyDrag m_drag;
    ClipController *m_clip = nullptr;
};

} // namespace korvante
