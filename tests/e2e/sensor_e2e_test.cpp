// The real viewer under Xvfb, started on a card that holds one event
// recording: after a double click on it in the file list, X screenshots show
// the sensor strip with non-zero speed and axis values and the G-sensor graph
// with its three coloured curves, the hard brake in the X curve, and a cursor
// that moves on between two screenshots.

#include "e2e_support.h"

#include <QImage>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace korvante::testing;
namespace fs = std::filesystem;

namespace {

const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kCursor = qRgb(255, 138, 72);

// Value rectangles of the strip's cells (latitude, longitude, speed, X, Y, Z)
// relative to the strip's top-left corner.
QRect valueCell(int cell)
{
    const int lefts[6] = {60, 170, 280, 410, 520, 630};
    return QRect(lefts[cell] + 1, 33, 109, 18);
}

int differingPixels(const QImage &a, const QImage &b, const QRect &r)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                ++n;
    return n;
}

int countColour(const QImage &image, const QRect &r, QRgb colour)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixel(x, y) == colour)
                ++n;
    return n;
}

// The column of the graph's cursor (the column with the most cursor pixels)
// relative to the graph, or -1.
int cursorColumn(const QImage &shot, QPoint graph)
{
    int best = -1, bestCount = 50;
    for (int x = 0; x < 336; ++x) {
        const int n = countColour(shot, QRect(graph + QPoint(x, 55), QSize(1, 118)), kCursor);
        if (n > bestCount) {
            bestCount = n;
            best = x;
        }
    }
    return best;
}

} // namespace

TEST(SensorEndToEnd, StripAndGraphFollowAPlayingEventRecording)
{
    ensureGuiApp();
    if (!haveXTools())
        GTEST_FAIL() << "xvfb-run, ImageMagick's import and xdotool are needed (scripts/setup installs them)";
    TempDir dir;
    const fs::path card = dir.path() / "card";
    ASSERT_EQ(runMkcardTool({QStringLiteral("--folder"), QString::fromStdString(card.string()),
                             QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"),
                             QStringLiteral("12"), QStringLiteral("--size"), QStringLiteral("320x240"),
                             QStringLiteral("--audio"), QStringLiteral("none")}),
              "");
    // Only the event recording stays on the card: it is the first row.
    for (const char *folder : {"NOR", "MOT", "MAN"})
        fs::remove_all(card / folder);

    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    // The map panel's connectivity check and tiles go to a loopback listener
    // that accepts and never answers: no message box, nothing leaves the machine.
    QTcpServer mapService;
    ASSERT_TRUE(mapService.listen(QHostAddress::LocalHost, 0));
    QProcessEnvironment env = viewerEnvironment(dir, 30000);
    env.insert(QStringLiteral("KORVANTE_MAP_PROBE"), QStringLiteral("127.0.0.1:%1").arg(mapService.serverPort()));
    env.insert(QStringLiteral("KORVANTE_MAP_TILES"),
               QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(mapService.serverPort()));
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1600x1000x24 -nolisten tcp"),
               QString::fromUtf8(KORVANTE_E2E_DIR "/sensor_strip.sh"),
               QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante"), QString::fromStdString(out.string()),
               QString::fromStdString(card.string())});
    ASSERT_TRUE(run.waitForFinished(120000));
    const std::string err = readFile((out / "stderr.txt").string()) + run.readAllStandardError().toStdString();
    int ox = 0, oy = 0;
    std::ifstream originFile(out / "origin.txt");
    ASSERT_TRUE(originFile >> ox >> oy) << err;
    const QPoint origin(ox, oy);
    // KORVANTE_E2E_SHOTS=DIR keeps the screenshots for a person to look at.
    const QString keep = qEnvironmentVariable("KORVANTE_E2E_SHOTS");
    if (!keep.isEmpty()) {
        const fs::path target = fs::path(keep.toStdString()) / "sensor";
        fs::create_directories(target);
        for (const auto &e : fs::directory_iterator(out))
            fs::copy_file(e.path(), target / e.path().filename(), fs::copy_options::overwrite_existing);
    }
    const QImage idle(QString::fromStdString((out / "idle.png").string()));
    const QImage play1(QString::fromStdString((out / "play1.png").string()));
    const QImage play2(QString::fromStdString((out / "play2.png").string()));
    ASSERT_FALSE(idle.isNull() || play1.isNull() || play2.isNull()) << "a screenshot is missing:\n" << err;

    // The strip: speed and the axes read other than the zeros of the idle viewer.
    const QPoint strip = origin + QPoint(14, 725);
    EXPECT_GT(differingPixels(idle, play1, valueCell(2).translated(strip)), 10) << "speed still zero";
    EXPECT_GT(differingPixels(idle, play1, valueCell(5).translated(strip)), 10) << "Z still zero";
    // Z's digits in blue (smoothed text: clearly blue, not exactly the colour).
    int blue = 0;
    const QRect z = valueCell(5).translated(strip);
    for (int y = z.top(); y <= z.bottom(); ++y)
        for (int x = z.left(); x <= z.right(); ++x) {
            const QRgb c = play1.pixel(x, y);
            if (qBlue(c) > 110 && qRed(c) < 60 && qGreen(c) < 60)
                ++blue;
        }
    EXPECT_GT(blue, 5) << "no Z value in blue";
    int xyChanged = 0;
    for (int cell : {3, 4})
        for (const QImage *shot : {&play1, &play2})
            if (differingPixels(idle, *shot, valueCell(cell).translated(strip)) > 10)
                ++xyChanged;
    EXPECT_GE(xyChanged, 2) << "X and Y stayed at zero";

    // The graph: three coloured curves over the first 12 s of the plot.
    const QPoint graph = origin + QPoint(421, 515);
    const QRect early(graph + QPoint(31, 55), QSize(62, 118)); // 0 ... about 12 s
    EXPECT_EQ(countColour(idle, early, kGreen), 0);
    for (QRgb colour : {kGreen, kRed, kBlue})
        EXPECT_GT(countColour(play1, early, colour), 20) << std::hex << colour;
    // The hard brake at 6 s (x = 31 + 30): X leaves the centre line (114) by
    // 0.8 g, at least ten pixels; before it, X stays near the line.
    const auto farthest = [&play1, graph](int x0, int x1) {
        int d = 0;
        for (int x = x0; x <= x1; ++x)
            for (int y = 55; y < 173; ++y)
                if (play1.pixel(graph + QPoint(x, y)) == kGreen)
                    d = std::max(d, std::abs(y - 114));
        return d;
    };
    EXPECT_GE(farthest(61, 72), 10) << "no brake in the X curve";
    EXPECT_LE(farthest(33, 55), 5);

    // The cursor: in both shots, further right in the second.
    const int c1 = cursorColumn(play1, graph), c2 = cursorColumn(play2, graph);
    ASSERT_GE(c1, 31) << "no cursor";
    ASSERT_GE(c2, 31) << "no cursor";
    EXPECT_GE(c2 - c1, 2) << c1 << " -> " << c2;
    EXPECT_LE(c2 - c1, 12) << c1 << " -> " << c2;
}
