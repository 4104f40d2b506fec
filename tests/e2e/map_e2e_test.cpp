// The map panel in the real viewer under Xvfb, without a map service (a
// closed loopback port stands in for it): the user is told to check the
// connection, then a recording is double-clicked and, while it plays, the
// panel shows the trip's track with the car's marker moving along it.

#include "e2e_support.h"

#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace korvante::testing;
namespace fs = std::filesystem;

namespace {

const QRgb kTrack = qRgb(255, 176, 0);
const QRgb kDriven = qRgb(168, 100, 0);
const QRgb kCar = qRgb(0, 200, 255);

bool near(QRgb a, QRgb b, int tolerance = 30)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

struct Blob {
    int count = 0;
    QRect box;
    QPointF centre;
};

Blob find(const QImage &image, QRgb colour)
{
    Blob b;
    double sx = 0, sy = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (near(image.pixel(x, y), colour)) {
                ++b.count;
                sx += x;
                sy += y;
                b.box |= QRect(x, y, 1, 1);
            }
    if (b.count)
        b.centre = QPointF(sx / b.count, sy / b.count);
    return b;
}

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

TEST(MapEndToEnd, OfflineMapShowsTheTrackAndTheMarkerMovesWhilePlaying)
{
    ensureGuiApp();
    if (!haveXTools())
        GTEST_FAIL() << "xvfb-run, ImageMagick's import and xdotool are needed (scripts/setup installs them)";

    TempDir dir;
    const std::string card = dir.file("card");
    const std::string made = runMkcardTool({QStringLiteral("--folder"), QString::fromStdString(card),
                                            QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"),
                                            QStringLiteral("20"), QStringLiteral("--size"), QStringLiteral("320x240"),
                                            QStringLiteral("--audio"), QStringLiteral("none")});
    ASSERT_TRUE(made.empty()) << made;

    QProcessEnvironment env = viewerEnvironment(dir, 30000);
    const quint16 port = closedPort();
    env.insert(QStringLiteral("KORVANTE_MAP_PROBE"), QStringLiteral("127.0.0.1:%1").arg(port));
    env.insert(QStringLiteral("KORVANTE_MAP_TILES"), QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port));
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1600x1000x24 -nolisten tcp"),
               QString::fromUtf8(KORVANTE_E2E_DIR "/map_view.sh"),
               QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante"), QString::fromStdString(out.string()),
               QString::fromStdString(card)});
    ASSERT_TRUE(run.waitForFinished(180000));
    const std::string err = readFile((out / "stderr.txt").string());
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString() << err;

    // The connectivity check failed: the message box showed.
    EXPECT_FALSE(readFile((out / "box.txt").string()).empty()) << "no message box: " << err;

    const std::string originText = readFile((out / "origin.txt").string());
    int ox = 0, oy = 0;
    ASSERT_EQ(std::sscanf(originText.c_str(), "%d %d", &ox, &oy), 2) << originText;
    // The page area of the map panel docked at (770, 0): browser at (8, 24).
    const QRect page(ox + 770 + 8, oy + 24, 299, 280);
    const QImage shot1 = QImage(QString::fromStdString((out / "shot1.png").string())).copy(page);
    const QImage shot2 = QImage(QString::fromStdString((out / "shot2.png").string())).copy(page);
    ASSERT_FALSE(shot1.isNull());
    ASSERT_FALSE(shot2.isNull());

    const Blob track1 = find(shot1, kTrack), car1 = find(shot1, kCar), car2 = find(shot2, kCar);
    EXPECT_GT(track1.count, 100) << "no track on the map: " << err;
    // The card's recordings are one drive: its whole track shows, the part
    // already driven in the darker shade.
    EXPECT_GT(find(shot2, kDriven).count, 20) << "no driven part on the map: " << err;
    ASSERT_GT(car1.count, 30) << "no marker in the first screenshot: " << err;
    ASSERT_GT(car2.count, 30) << "no marker in the second screenshot";
    EXPECT_GT(std::hypot(car1.centre.x() - car2.centre.x(), car1.centre.y() - car2.centre.y()), 3.0)
        << "the marker did not move";

    // The pictures differ only where the marker was and where it went, and
    // on the track, where the driven shade grew.
    const QRect moved = car1.box.united(car2.box).adjusted(-4, -4, 4, 4);
    const auto onTrack = [&](int x, int y) {
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx) {
                const QPoint p(x + dx, y + dy);
                if (shot2.rect().contains(p) && (near(shot1.pixel(p), kTrack, 40) || near(shot2.pixel(p), kDriven, 40)))
                    return true;
            }
        return false;
    };
    int changed = 0, changedElsewhere = 0;
    for (int y = 0; y < shot1.height(); ++y)
        for (int x = 0; x < shot1.width(); ++x)
            if (!near(shot1.pixel(x, y), shot2.pixel(x, y), 8)) {
                ++changed;
                if (!moved.contains(x, y) && !onTrack(x, y))
                    ++changedElsewhere;
            }
    EXPECT_GT(changed, 30);
    EXPECT_EQ(changedElsewhere, 0) << "pixels changed away from the marker and the track";
}
