// The Debian package as a user gets it: made by cpack from this build,
// unpacked with dpkg -x into a temporary root, its desktop entry checked by
// the desktop's own validator, and its viewer started offscreen from there
// until its main window shows and its map browser has started, with nothing
// beside it: the skin library and the configuration come from the installed
// data folder, the browser module from lib/korvante.

#include "support/temp_dir.h"

#include <QDir>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>

using korvante::testing::TempDir;
namespace fs = std::filesystem;

namespace {

QString qpath(const fs::path &p) { return QString::fromStdString(p.string()); }

// Runs a program to its end: its exit code (-1 when it did not end) and
// everything it wrote.
int run(const QString &program, const QStringList &args, QString &output,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForFinished(600000);
    output = QString::fromUtf8(p.readAll());
    return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

TEST(PackageTest, UnpackedPackageStartsAndHasItsMenuEntry)
{
    TempDir dir;
    const fs::path usr = dir.path() / "root/usr";
    QString log;
    ASSERT_EQ(run(QStringLiteral("cpack"), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"),
                                            qpath(dir.path() / "out"), QStringLiteral("--config"),
                                            QStringLiteral(KORVANTE_BINARY_DIR "/CPackConfig.cmake")}, log), 0)
        << log.toStdString();
    const QStringList debs = QDir(qpath(dir.path() / "out")).entryList({QStringLiteral("*.deb")});
    ASSERT_EQ(debs.size(), 1) << log.toStdString();
    const QString deb = qpath(dir.path() / "out" / debs.front().toStdString());

    // The runtime libraries the programs link, and the map browser's helper.
    ASSERT_EQ(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")}, log), 0);
    for (const char *package : {"libqt6widgets6", "libqt6webenginewidgets6", "libavcodec59", "libtinyxml2.6.2v5",
                                "libqt6webenginecore6-bin"})
        EXPECT_TRUE(log.contains(QLatin1String(package))) << package << " not in " << log.toStdString();

    ASSERT_EQ(run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb, qpath(dir.path() / "root")}, log), 0);
    for (const char *file : {"bin/korvante-cli", "bin/korvante-telemetry", "share/korvante/mapView.htm",
                             "lib/korvante/korvante-map-browser.so"})
        EXPECT_TRUE(fs::is_regular_file(usr / file)) << file;
    // The viewer loads FFmpeg and the browser engine itself, after it has
    // started: neither may come back among the libraries loaded before main().
    ASSERT_EQ(run(QStringLiteral("readelf"), {QStringLiteral("-d"), qpath(usr / "bin/korvante")}, log), 0);
    for (const char *library : {"libavcodec", "libavformat", "libavutil", "libswscale", "libQt6WebEngine"})
        EXPECT_FALSE(log.contains(QLatin1String(library))) << library << " is linked: " << log.toStdString();
    EXPECT_EQ(QImage(qpath(usr / "share/icons/hicolor/256x256/apps/korvante.png")).size(), QSize(256, 256));
    EXPECT_EQ(run(QStringLiteral("desktop-file-validate"), {qpath(usr / "share/applications/korvante.desktop")}, log), 0)
        << log.toStdString() << " (scripts/setup installs desktop-file-utils)";
    EXPECT_TRUE(log.trimmed().isEmpty()) << log.toStdString();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : {std::pair{"QT_QPA_PLATFORM", "offscreen"}, {"KORVANTE_HEADLESS", "1"},
                                      {"KORVANTE_DEBUG", "1"}, {"KORVANTE_QUIT_AFTER_MS", "3000"}})
        env.insert(QLatin1String(name), QLatin1String(value));
    env.insert(QStringLiteral("TMPDIR"), qpath(dir.path())); // its own socket folder and settings
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), qpath(dir.path()));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    EXPECT_EQ(run(qpath(usr / "bin/korvante"), {}, log, env), 0) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("main window shown"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("map browser started"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Can not configuration file"))) << log.toStdString();
}
