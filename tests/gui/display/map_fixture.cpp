#include "map_fixture.h"

#include "gui/display/map_view.h"
#include "gui/platform/skin_library.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPainter>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace korvante::testing {

QApplication &mapTestApp()
{
    return guiTestApp("gui_map_tests", {.cardRegistryFirst = false, .shareGlContexts = true});
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    return waitUntil(done, ms);
}

const std::string &mapSampleRecording()
{
    static TempDir dir;
    static std::string front;
    if (!front.empty())
        return front;
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--folder"), QString::fromStdString(dir.file("card")), QStringLiteral("--per-kind"),
                  QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("40"), QStringLiteral("--size"),
                  QStringLiteral("160x120"), QStringLiteral("--fps"), QStringLiteral("10"), QStringLiteral("--audio"),
                  QStringLiteral("none"), QStringLiteral("--channels"), QStringLiteral("1")});
    if (!mkcard.waitForFinished(180000) || mkcard.exitCode() != 0) {
        ADD_FAILURE() << "korvante-mkcard failed: " << mkcard.readAllStandardError().toStdString();
        return front;
    }
    for (const auto &e : std::filesystem::directory_iterator(std::filesystem::path(dir.file("card")) / "NOR"))
        if (e.path().extension() == ".avi")
            front = e.path().string();
    return front;
}

TileServer::TileServer()
{
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(kTileColour);
    QBuffer buffer(&m_tile);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    connect(&m_server, &QTcpServer::newConnection, this, &TileServer::serve);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QString TileServer::tileUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port());
}

void TileServer::serve()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // Requests are small; answer once the header is complete.
            const QByteArray data = socket->property("request").toByteArray() + socket->readAll();
            socket->setProperty("request", data);
            if (!data.contains("\r\n\r\n"))
                return;
            ++m_requests;
            for (const QByteArray &line : data.split('\n'))
                if (line.toLower().startsWith("user-agent:"))
                    m_userAgent = line.mid(11).trimmed();
            const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                    QByteArray::number(m_tile.size()) + "\r\nConnection: close\r\n\r\n";
            socket->write(head + m_tile);
            socket->disconnectFromHost();
        });
    }
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

PanelUnderTest makeMapPanel(const QString &probe, const QString &tiles)
{
    mapTestApp();
    qputenv("KORVANTE_MAP_PROBE", probe.toUtf8());
    qputenv("KORVANTE_MAP_TILES", tiles.toUtf8());
    PanelUnderTest made;
    made.mainWindow = std::make_unique<QWidget>();
    made.mainWindow->setGeometry(100, 100, 780, 780);
    made.mainWindow->show();
    made.panel = std::make_unique<CMapViewDlg>(made.mainWindow.get());
    made.panel->show();
    CMapViewDlg *panel = made.panel.get();
    EXPECT_TRUE(waitFor([panel] { return panel->isPageLoaded() && panel->mapView()->isPageReady(); }, 30000))
        << "the map page did not load";
    return made;
}

QJsonObject pageState(CMapViewDlg &panel)
{
    const QString text = panel.mapView()->CallScript(QStringLiteral("MapState()"));
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QImage browserImage(CMapViewDlg &panel)
{
    return panel.grab(CMapViewDlg::kBrowserRect).toImage();
}

int countColour(const QImage &image, QRgb colour, int tolerance)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance && std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                ++n;
        }
    }
    return n;
}

} // namespace korvante::testing
