// Starts the real viewer executable, copied into a temporary folder so that
// what lies beside it (skin library, configuration) is under the test's
// control.

#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>

using korvante::testing::TempDir;
namespace fs = std::filesystem;

namespace {

const fs::path kBin = fs::path(KORVANTE_BINARY_DIR) / "bin";

struct Install {
    TempDir dir;
    QString exe;
    explicit Install(bool withSkin, bool withConfig)
    {
        fs::copy_file(kBin / "korvante", dir.path() / "korvante");
        if (withSkin)
            fs::copy_file(kBin / "ResourceDll.rcc", dir.path() / "ResourceDll.rcc");
        if (withConfig)
            fs::copy_file(fs::path(KORVANTE_SOURCE_DIR) / "resources/viewerconfig.cfg", dir.path() / "viewerconfig.cfg");
        exe = QString::fromStdString((dir.path() / "korvante").string());
        fs::create_directories(dir.path() / "tmp");
        fs::create_directories(dir.path() / "config");
    }
    QProcessEnvironment environment(int quitAfterMs) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KORVANTE_HEADLESS"), QStringLiteral("1"));
        env.insert(QStringLiteral("KORVANTE_DEBUG"), QStringLiteral("1"));
        // Own socket folder and registry: no clash with a viewer the user runs.
        env.insert(QStringLiteral("TMPDIR"), QString::fromStdString((dir.path() / "tmp").string()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((dir.path() / "config").string()));
        if (quitAfterMs > 0)
            env.insert(QStringLiteral("KORVANTE_QUIT_AFTER_MS"), QString::number(quitAfterMs));
        return env;
    }
};

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "gui_app_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return *instance;
}

} // namespace

TEST(StartupTest, MissingSkinLibraryReportsAndOpensNoWindow)
{
    app();
    Install install(/*withSkin=*/false, /*withConfig=*/true);
    QProcess viewer;
    viewer.setProcessEnvironment(install.environment(0));
    viewer.start(install.exe, {});
    ASSERT_TRUE(viewer.waitForFinished(20000)) << "the viewer kept running without its skin library";
    const QString err = QString::fromUtf8(viewer.readAllStandardError());
    EXPECT_EQ(viewer.exitCode(), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("Not Find ResourceDll"))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("main window shown"))) << err.toStdString();
}

TEST(StartupTest, MissingConfigurationStartsOnTheDefaults)
{
    app();
    Install install(/*withSkin=*/true, /*withConfig=*/false);
    QProcess viewer;
    viewer.setProcessEnvironment(install.environment(1500));
    viewer.start(install.exe, {});
    ASSERT_TRUE(viewer.waitForFinished(30000));
    const QString out = QString::fromUtf8(viewer.readAllStandardOutput());
    const QString err = QString::fromUtf8(viewer.readAllStandardError());
    EXPECT_EQ(viewer.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Can not configuration file"))) << out.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("main window shown"))) << err.toStdString();
}

TEST(StartupTest, SecondStartHandsOverToTheRunningViewer)
{
    app();
    Install install(/*withSkin=*/true, /*withConfig=*/true);
    QProcess first;
    first.setProcessEnvironment(install.environment(0));
    first.start(install.exe, {});
    ASSERT_TRUE(first.waitForStarted());

    // Wait until the first viewer shows its window (and so listens).
    QString firstErr;
    QElapsedTimer clock;
    clock.start();
    while (!firstErr.contains(QStringLiteral("main window shown")) && clock.elapsed() < 20000) {
        first.waitForReadyRead(200);
        firstErr += QString::fromUtf8(first.readAllStandardError());
    }
    ASSERT_TRUE(firstErr.contains(QStringLiteral("main window shown"))) << firstErr.toStdString();

    QProcess second;
    second.setProcessEnvironment(install.environment(0));
    second.start(install.exe, {});
    ASSERT_TRUE(second.waitForFinished(20000)) << "the second start did not end";
    EXPECT_EQ(second.exitCode(), 0);
    const QString secondErr = QString::fromUtf8(second.readAllStandardError());
    EXPECT_FALSE(secondErr.contains(QStringLiteral("main window shown"))) << secondErr.toStdString();

    clock.restart();
    while (!firstErr.contains(QStringLiteral("activation requested")) && clock.elapsed() < 10000) {
        first.waitForReadyRead(200);
        firstErr += QString::fromUtf8(first.readAllStandardError());
    }
    EXPECT_TRUE(firstErr.contains(QStringLiteral("activation requested"))) << firstErr.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}
