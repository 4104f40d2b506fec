// The Debian package as a user gets it: made by cpack from this build,
// unpacked with dpkg -x into a temporary root, its desktop entry checked by
// the desktop's own validator, and its viewer started offscreen from there
// until its main window shows, with the skin library and the configuration
// found in the installed data folder.

#include "support/temp_dir.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <filesystem>

using korvante::testing::TempDir;
namespace fs = std::filesystem;

namespace {

QString qpath(const fs::path &p) { return QString::fromStdString(p.string()); }

// Runs a program to its end; its exit code (-1 when it did not finish) and
// its output, both streams.
int run(const QString &program, const QStringList &args, QString &output, int ms = 900000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForFinished(ms);
    output = QString::fromUtf8(p.readAll());
    return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

TEST(PackageTest, UnpackedPackageStartsAndHasItsMenuEntry)
{
    TempDir dir;
    const fs::path out = dir.path() / "out";
    const fs::path usr = dir.path() / "root" / "usr";
    QString log;
    ASSERT_EQ(run(QStringLiteral("cpack"), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), qpath(out),
                                            QStringLiteral("--config"), QStringLiteral(KORVANTE_BINARY_DIR "/CPackConfig.cmake")},
                  log),
              0)
        << log.toStdString();
    const QStringList debs = QDir(qpath(out)).entryList({QStringLiteral("*.deb")});
    ASSERT_EQ(debs.size(), 1) << log.toStdString();
    const QString deb = qpath(out / debs.front().toStdString());

    // The runtime libraries the programs link, and the map browser's helper.
    QString depends;
    ASSERT_EQ(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")}, depends), 0);
    for (const char *package : {"libqt6widgets6", "libqt6multimedia6", "libqt6webenginewidgets6", "libavcodec59",
                                "libswscale6", "libtinyxml2.6.2v5", "libqt6webenginecore6-bin"})
        EXPECT_TRUE(depends.contains(QLatin1String(package))) << package << " not in: " << depends.toStdString();

    ASSERT_EQ(run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb, qpath(dir.path() / "root")}, log), 0)
        << log.toStdString();
    for (const char *file : {"bin/korvante", "bin/korvante-cli", "bin/korvante-telemetry", "share/korvante/ResourceDll.rcc",
                             "share/korvante/viewerconfig.cfg", "share/korvante/mapView.htm"})
        EXPECT_TRUE(fs::is_regular_file(usr / file)) << file;
    EXPECT_EQ(QImage(qpath(usr / "share/icons/hicolor/256x256/apps/korvante.png")).size(), QSize(256, 256));
    const fs::path entry = usr / "share/applications/korvante.desktop";
    ASSERT_TRUE(fs::is_regular_file(entry));
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) {
        ADD_FAILURE() << "desktop-file-validate is missing (scripts/setup installs desktop-file-utils)";
    } else {
        EXPECT_EQ(run(validator, {qpath(entry)}, log), 0) << log.toStdString();
        EXPECT_TRUE(log.trimmed().isEmpty()) << log.toStdString();
    }

    // Nothing lies beside the installed viewer: it finds its files in
    // share/korvante, starts and shows its window, then closes (timer 1).
    fs::create_directories(dir.path() / "tmp");
    fs::create_directories(dir.path() / "config");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KORVANTE_HEADLESS"), QStringLiteral("1"));
    env.insert(QStringLiteral("KORVANTE_DEBUG"), QStringLiteral("1"));
    env.insert(QStringLiteral("KORVANTE_QUIT_AFTER_MS"), QStringLiteral("3000"));
    env.insert(QStringLiteral("TMPDIR"), qpath(dir.path() / "tmp"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), qpath(dir.path() / "config"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.start(qpath(usr / "bin/korvante"), {});
    ASSERT_TRUE(viewer.waitForFinished(120000));
    const QString said = QString::fromUtf8(viewer.readAllStandardError() + viewer.readAllStandardOutput());
    EXPECT_EQ(viewer.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("main window shown"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("Not Find ResourceDll"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("Can not configuration file"))) << said.toStdString();
}
