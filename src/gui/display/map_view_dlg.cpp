#include "map_view_dlg.h"

#include "core/platform/log.h"
#include "core/platform/resource_path.h"
#include "core/playback/viewer_state.h"
#include "gui/display/map_probe.h"
#include "gui/display/map_view.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/ui/skin_button.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPainter>
#include <QTimer>

#include <unistd.h>

namespace korvante {

namespace {

// Settings the browser reads once, when the first one (the map panel's) starts.
void prepareBrowser()
{
    // The browser's sandbox refuses to start for root.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Its start-up report of graphics settings is for its developers; the
    // user's own QT_LOGGING_RULES still take precedence.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

} // namespace

CMapViewDlg::CMapViewDlg(QWidget *mainWindow) : PanelFrame(mainWindow)
{
    setObjectName(QStringLiteral("CMapViewDlg"));
    prepareBrowser();

    m_close = new CSkinButton(QStringLiteral("Close"), kCloseButton, QRect(285, 2, 20, 20), this,
                              SkinImageIds{218, 219, 219, 219});
    m_fixed = new CSkinButton(QStringLiteral("Fixed window"), kFixedButton, QRect(265, 3, 20, 20), this,
                              SkinImageIds{kDockedImage, kDockedImage, kFloatingImage, kFloatingImage});
    m_view = new CMap_view(this);
    m_view->setGeometry(kBrowserRect);
    m_view->show();
    connect(m_view, &CMap_view::pageLoaded, this, [this](bool ok) {
        // A fresh document has no track and no marker yet.
        m_trackSent = false;
        m_tripSent.reset();
        m_markerShown = false;
        if (!ok)
            logWarning("map page could not be loaded: " + pagePath().toStdString());
    });
    placeAt(kDockOffset, kSize);

    m_settings = mapSettingsFromEnvironment();
    if (!m_settings.problem.isEmpty())
        logWarning(m_settings.problem.toStdString());
    if (!m_settings.probe) {
        openPage(false);
        return;
    }
    m_probe = new MapProbe(this);
    connect(m_probe, &MapProbe::finished, this, [this](bool reachable) {
        openPage(reachable);
        if (!reachable)
            warnOffline();
    });
    m_probe->start(m_settings.probeHost, m_settings.probePort);
}

CMapViewDlg::~CMapViewDlg()
{
    killTimer(kMapTimer);
}

QString CMapViewDlg::pagePath()
{
    return QString::fromStdString(resourcePath("mapView.htm"));
}

void CMapViewDlg::openPage(bool online)
{
    m_online = online;
    const QString path = pagePath();
    if (!QFileInfo::exists(path))
        logWarning("map page not found: " + path.toStdString());
    m_view->Navigate(mapPageUrl(path, online, m_settings.tileUrl));
    m_pageLoaded = true;
    setTimer(kMapTimer, kMapIntervalMs);
    emit pageOpened(online);
}

void CMapViewDlg::warnOffline()
{
    // The check usually ends before the main window first shows; a box shown
    // then would end up behind it. Wait for the window (a few seconds at most).
    QWidget *main = parentWidget();
    if (main && !main->isVisible() && m_warnWaits < kWarnWaitLimit) {
        ++m_warnWaits;
        QTimer::singleShot(kWarnWaitMs, this, &CMapViewDlg::warnOffline);
        return;
    }
    platform::messageBox(main, QStringLiteral("Please check your Internet connection."));
}

void CMapViewDlg::followMainWindow()
{
    if (m_docked && !m_wide)
        placeAt(kDockOffset, kSize);
}

void CMapViewDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    // Both placements start from the panel's own right edge and top.
    const QPoint corner(geometry().right() + 1, geometry().top());
    if (m_wide) {
        m_shown = false;
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setGeometry(QRect(corner, kSize));
        hide();
    } else {
        m_shown = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        setGeometry(QRect(corner, kSize));
        show();
        followMainWindow();
    }
}

void CMapViewDlg::toggleDocking()
{
    m_docked = !m_docked;
    // The resting face shows the state, the pressed face the state a click gives.
    const int now = m_docked ? kDockedImage : kFloatingImage;
    const int next = m_docked ? kFloatingImage : kDockedImage;
    m_fixed->setSkin(SkinImageIds{now, now, next, next});
    if (m_docked)
        followMainWindow();
}

qintptr CMapViewDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message == msg::ButtonClick) {
        if (w == kCloseButton) {
            hide();
            m_shown = false;
        } else if (w == kFixedButton) {
            toggleDocking();
        }
    } else if (message == msg::PanelCommand && w == cmd::ToggleMap) {
        m_shown = !m_shown;
        showOnTop(m_shown);
    }
    return 0;
}

void CMapViewDlg::onTimer(int id)
{
    if (id == kMapTimer)
        mapStep();
}

void CMapViewDlg::mapStep()
{
    ViewerState &state = GetViewerState();
    if (m_view->width() == 0 || !m_pageLoaded) {
        if (state.currentFixValid)
            state.clearCurrentFix();
        return;
    }
    MediaEngine &engine = state.engine;
    const std::int32_t graphState = engine.graph ? engine.GetState() : -1;
    // The track follows the fix list also when nothing plays: a list emptied
    // for the next recording (or one that cannot be played) empties the map.
    sendTrackIfChanged();
    if (graphState != StateRunning && graphState != StatePaused) {
        sendDriven(std::nullopt);
        hideMarker();
        return;
    }
    const auto position = static_cast<std::uint32_t>(engine.GetPositionMs());
    sendDriven(position);
    if (const auto script = runFixStep(state.sensorData, state.currentFix, state.currentFixValid, position)) {
        m_view->PostScript(*script);
        m_markerShown = true;
    } else if (!state.currentFixValid) {
        hideMarker(); // a recording without any fix
    }
}

void CMapViewDlg::hideMarker()
{
    if (!m_markerShown || !m_view->isPageReady())
        return;
    m_view->PostScript(QStringLiteral("javascript:DrawCurrent()"));
    m_markerShown = false;
}

void CMapViewDlg::sendTrackIfChanged()
{
    // A track handed over while the page is still loading would be lost with
    // the old document; the load's end clears m_trackSent.
    if (!m_view->isPageReady())
        return;
    if (m_trip) {
        if (m_tripSent == m_trip)
            return;
        TripTrack track = tripTrackScript(m_trip->track);
        m_tripTimes = std::move(track.times);
        m_tripSent = m_trip;
        m_trackSent = false; // the recording's own track is sent again when the trip goes
        m_drivenSent = 0;    // a new track is drawn undriven
        m_view->PostScript(track.script);
        return;
    }
    const TrackSignature now = trackSignature(GetViewerState().sensorData);
    if (m_trackSent && now == m_track && !m_tripSent)
        return;
    m_tripSent.reset();
    m_tripTimes.clear();
    m_drivenSent = 0;
    m_track = now;
    m_trackSent = true;
    m_view->PostScript(drawTrackScript(GetViewerState().sensorData));
}

void CMapViewDlg::setTrip(std::shared_ptr<const trip::TripTimeline> trip, overview::CameraTime playingStart)
{
    m_trip = std::move(trip);
    m_playingStart = playingStart;
}

void CMapViewDlg::sendDriven(std::optional<std::uint32_t> position)
{
    if (!m_trip || m_tripSent != m_trip || !m_view->isPageReady())
        return;
    // Nothing plays: the trip stays as it was shaded last.
    if (!position)
        return;
    const std::size_t driven =
        drivenPoints(m_tripTimes, m_playingStart + std::chrono::milliseconds{*position});
    if (driven == m_drivenSent)
        return;
    m_drivenSent = driven;
    m_view->PostScript(drawDrivenScript(driven));
}

bool CMapViewDlg::dragsByBody() const
{
    return !m_docked || GetViewerState().layoutMode != 0;
}

void CMapViewDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    painter.setPen(QPen(QColor(32, 33, 38), 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(0, 0), QPoint(width() - 1, height() - 1)));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(10, 5), QPoint(99, 19)), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Map Viewer"));
}

} // namespace korvante
