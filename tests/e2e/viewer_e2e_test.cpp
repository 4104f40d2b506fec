// Starts the real `korvante` under Xvfb with a sample recording playing and
// checks X screenshots: the title bar and the panels stand where they belong,
// both screens show the recording's frames, in step, and the frames advance.

#include "e2e_support.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <filesystem>

using korvante::testing::TempDir;
namespace fs = std::filesystem;

using namespace korvante::testing;

TEST(ViewerEndToEnd, PlaysBothChannelsInStepInTheirScreens)
{
    ensureGuiApp();
    if (!haveXTools())
        GTEST_FAIL() << "xvfb-run, ImageMagick's import and xdotool are needed (scripts/setup installs them)";

    TempDir dir;
    const std::string card = dir.file("card");
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--folder"), QString::fromStdString(card), QStringLiteral("--per-kind"),
                  QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("12"), QStringLiteral("--size"),
                  QStringLiteral("640x360"), QStringLiteral("--audio"), QStringLiteral("none")});
    ASSERT_TRUE(mkcard.waitForFinished(180000));
    ASSERT_EQ(mkcard.exitCode(), 0) << mkcard.readAllStandardError().toStdString();
    std::string front, rear;
    for (const auto &e : fs::directory_iterator(fs::path(card) / "NOR")) {
        const std::string name = e.path().string();
        if (name.find("_F.avi") != std::string::npos)
            front = name;
        if (name.find("_R.avi") != std::string::npos)
            rear = name;
    }
    ASSERT_FALSE(front.empty());
    ASSERT_FALSE(rear.empty());

    fs::create_directories(dir.path() / "tmp");
    fs::create_directories(dir.path() / "config");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("KORVANTE_HEADLESS"));
    env.insert(QStringLiteral("KORVANTE_DEBUG"), QStringLiteral("1"));
    env.insert(QStringLiteral("KORVANTE_QUIT_AFTER_MS"), QStringLiteral("15000"));
    env.insert(QStringLiteral("KORVANTE_TEST_OPEN"), QString::fromStdString(front + "|" + rear));
    env.insert(QStringLiteral("TMPDIR"), QString::fromStdString((dir.path() / "tmp").string()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((dir.path() / "config").string()));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // the socket then goes below TMPDIR
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1600x1000x24 -nolisten tcp"),
               QString::fromUtf8(KORVANTE_E2E_DIR "/capture.sh"),
               QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante"), QString::fromStdString(dir.path().string()),
               QStringLiteral("4")});
    ASSERT_TRUE(run.waitForFinished(120000));
    const std::string err = korvante::testing::readFile(dir.file("stderr.txt"));

    const QRegularExpression shown(QStringLiteral("main window shown at (-?\\d+),(-?\\d+)"));
    const auto match = shown.match(QString::fromStdString(err));
    ASSERT_TRUE(match.hasMatch()) << err;
    ASSERT_NE(err.find("test recording playing"), std::string::npos) << err;
    const QPoint origin(match.captured(1).toInt(), match.captured(2).toInt());

    const QImage shot1(QString::fromStdString(dir.file("shot1.png")));
    const QImage shot2(QString::fromStdString(dir.file("shot2.png")));
    ASSERT_FALSE(shot1.isNull());
    ASSERT_FALSE(shot2.isNull());

    // Title bar: dark background with light title text in (15, 6)-(320, 21).
    EXPECT_EQ(shot1.pixel(origin + QPoint(400, 12)), qRgb(16, 16, 16));
    int bright = 0;
    for (int x = 15; x < 320; ++x)
        for (int y = 6; y < 21; ++y)
            if (luma(shot1.pixel(origin + QPoint(x, y))) > 150)
                ++bright;
    EXPECT_GT(bright, 50) << "no title text";
    // File list panel docked at (770, 310): its 3-pixel frame and dark background
    // (below the list, beside the speed controls).
    EXPECT_EQ(shot1.pixel(origin + QPoint(771, 400)), qRgb(32, 33, 38));
    EXPECT_EQ(shot1.pixel(origin + QPoint(770 + 200, 310 + 460)), qRgb(16, 16, 16));
    // Selected front screen: white frame at its edge.
    EXPECT_EQ(shot1.pixel(origin + QPoint(14, 200)), qRgb(255, 255, 255));

    // Both screens show the recording's frames, in step, and they advance.
    const QRect frontArea = frontVideoArea(origin);
    const QRect rearArea = rearVideoArea(origin);
    const int f1 = frameIn(shot1, frontArea), r1 = frameIn(shot1, rearArea);
    const int f2 = frameIn(shot2, frontArea), r2 = frameIn(shot2, rearArea);
    ASSERT_GE(f1, 0) << "front screen shows no recording";
    ASSERT_GE(r1, 0) << "rear screen shows no recording";
    EXPECT_LE(std::abs(f1 - r1), 2) << f1 << " " << r1;
    EXPECT_LE(std::abs(f2 - r2), 2) << f2 << " " << r2;
    EXPECT_GE(f2 - f1, 15) << "frames did not advance: " << f1 << " -> " << f2;
    EXPECT_LE(f2 - f1, 60) << f1 << " -> " << f2;
}
