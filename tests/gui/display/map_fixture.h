#pragma once
// The map panel with the real page in the real browser, offscreen: one
// application for all cases, one sample recording made by korvante-mkcard,
// a loopback HTTP server standing in for the map service (it serves a plain
// generated tile for every request), and helpers to read the page's state
// and count colours in a grabbed panel. Nothing leaves this machine: every
// panel is made with $KORVANTE_MAP_PROBE and $KORVANTE_MAP_TILES on loopback.
// UI thread only.

#include "core/playback/video_window.h"
#include "gui/display/map_view_dlg.h"

#include <QApplication>
#include <QImage>
#include <QJsonObject>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <string>

namespace korvante::testing {

QApplication &mapTestApp();
bool waitFor(const std::function<bool()> &done, int ms = 10000);

// A 40 s front-only recording with GPS fixes once a second.
const std::string &mapSampleRecording();

// Answers every HTTP request with one plain 256 x 256 PNG tile.
class TileServer final : public QObject {
    Q_OBJECT
public:
    static constexpr QRgb kTileColour = qRgb(170, 211, 223);
    TileServer();
    quint16 port() const { return m_server.serverPort(); }
    QString tileUrl() const;
    int requests() const { return m_requests; }
    // The User-Agent header of the last request.
    QByteArray userAgent() const { return m_userAgent; }

private:
    void serve();

    QTcpServer m_server;
    QByteArray m_tile;
    int m_requests = 0;
    QByteArray m_userAgent;
};

// A loopback port with nobody listening on it.
quint16 closedPort();

class NullVideoWindow final : public VideoWindow {
public:
    QSize clientSize() const override { return {160, 120}; }
    void requestRepaint() override {}
};

// Makes a map panel under a stand-in main window with the two settings set
// for its construction, and waits until its page has opened and loaded.
struct PanelUnderTest {
    std::unique_ptr<QWidget> mainWindow;
    std::unique_ptr<CMapViewDlg> panel;
};
PanelUnderTest makeMapPanel(const QString &probe, const QString &tiles);

// Calls MapState() in the page; an empty object when there is no answer.
QJsonObject pageState(CMapViewDlg &panel);

// Pixels of the panel's browser area (grabbed) within `tolerance` of `colour`.
int countColour(const QImage &image, QRgb colour, int tolerance = 40);
QImage browserImage(CMapViewDlg &panel);

// The page's colours: the track line, the car marker.
inline constexpr QRgb kTrackColour = qRgb(255, 176, 0);
inline constexpr QRgb kCarColour = qRgb(0, 200, 255);

} // namespace korvante::testing
