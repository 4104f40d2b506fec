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

#include <cstdio>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

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
        // The socket then goes to a folder of the user's own inside TMPDIR.
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        if (quitAfterMs > 0)
            env.insert(QStringLiteral("KORVANTE_QUIT_AFTER_MS"), QString::number(quitAfterMs));
        return env;
    }
};

// Reads a running viewer's error output until `text` appears or `ms` pass.
bool waitForText(QProcess &viewer, QString &seen, const QString &text, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains(text) && clock.elapsed() < ms && viewer.state() != QProcess::NotRunning) {
        viewer.waitForReadyRead(200);
        seen += QString::fromUtf8(viewer.readAllStandardError());
    }
    seen += QString::fromUtf8(viewer.readAllStandardError());
    return seen.contains(text);
}

// The unprivileged account the second user's start runs as.
constexpr uid_t kOtherUser = 65534;

// Folders of the other user's own, inside the installation's folder.
void makeOtherUsersFolder(const fs::path &path)
{
    fs::create_directories(path);
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherUser), 0);
}

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

// Neither the configuration nor the map's browser module lies beside this
// copy: the viewer starts on the default settings and without a map.
TEST(StartupTest, MissingConfigurationAndMapModuleStartWithoutThem)
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
    EXPECT_TRUE(err.contains(QStringLiteral("the map cannot be shown"))) << err.toStdString();
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

// Two accounts on one machine share the temporary folder: each one's viewer
// starts and shows its main window; neither hands over to the other.
TEST(StartupTest, TwoUsersEachRunTheirOwnViewer)
{
    app();
    if (::geteuid() != 0)
        GTEST_FAIL() << "starting a viewer as another user needs root";
    Install install(/*withSkin=*/true, /*withConfig=*/true);
    // The shared temporary folder is like /tmp: everyone may write, sticky.
    const fs::path shared = install.dir.path() / "tmp";
    ::chmod(install.dir.path().c_str(), 0755);
    ::chmod(shared.c_str(), 01777);

    QProcess first;
    first.setProcessEnvironment(install.environment(0));
    first.start(install.exe, {});
    ASSERT_TRUE(first.waitForStarted());
    QString firstErr;
    ASSERT_TRUE(waitForText(first, firstErr, QStringLiteral("main window shown"), 20000)) << firstErr.toStdString();

    makeOtherUsersFolder(install.dir.path() / "other-config");
    makeOtherUsersFolder(install.dir.path() / "other-home");
    QProcessEnvironment otherEnv = install.environment(0);
    otherEnv.insert(QStringLiteral("XDG_CONFIG_HOME"),
                    QString::fromStdString((install.dir.path() / "other-config").string()));
    otherEnv.insert(QStringLiteral("HOME"), QString::fromStdString((install.dir.path() / "other-home").string()));
    QProcess second;
    second.setProcessEnvironment(otherEnv);
    second.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid"), QString::number(kOtherUser),
                                             QStringLiteral("--regid"), QString::number(kOtherUser),
                                             QStringLiteral("--clear-groups"), install.exe});
    ASSERT_TRUE(second.waitForStarted());
    QString secondErr;
    EXPECT_TRUE(waitForText(second, secondErr, QStringLiteral("main window shown"), 20000))
        << "exit " << second.exitCode() << ": " << secondErr.toStdString();
    EXPECT_EQ(second.state(), QProcess::Running);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(firstErr.contains(QStringLiteral("activation requested"))) << firstErr.toStdString();

    // Each user's socket lies in a folder that only that user may enter.
    for (const uid_t uid : {::geteuid(), kOtherUser}) {
        struct stat st {};
        const fs::path own = shared / ("korvante-" + std::to_string(uid));
        ASSERT_EQ(::lstat(own.c_str(), &st), 0) << own;
        EXPECT_EQ(st.st_uid, uid);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(fs::is_socket(own / "KORVANTE VIEWER")) << own;
    }
    second.kill();
    second.waitForFinished();
    first.kill();
    first.waitForFinished();
}

// Files another account planted in the shared temporary folder (a socket
// file under the viewer's old name, a folder under the name of the user's
// own) neither stop the start nor are touched.
TEST(StartupTest, FilesPlantedByAnotherUserDoNotStopAStart)
{
    app();
    if (::geteuid() != 0)
        GTEST_FAIL() << "planting another user's files needs root";
    Install install(/*withSkin=*/true, /*withConfig=*/true);
    const fs::path shared = install.dir.path() / "tmp";
    ::chmod(shared.c_str(), 01777);
    const fs::path plantedSocket = shared / "KORVANTE VIEWER";
    std::fclose(std::fopen(plantedSocket.c_str(), "w"));
    ASSERT_EQ(::chown(plantedSocket.c_str(), kOtherUser, kOtherUser), 0);
    const fs::path plantedFolder = shared / ("korvante-" + std::to_string(::geteuid()));
    makeOtherUsersFolder(plantedFolder);
    ::chmod(plantedFolder.c_str(), 0777);
    fs::create_directories(install.dir.path() / "home");

    QProcessEnvironment env = install.environment(1500);
    env.insert(QStringLiteral("HOME"), QString::fromStdString((install.dir.path() / "home").string()));
    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.start(install.exe, {});
    ASSERT_TRUE(viewer.waitForFinished(30000));
    const QString err = QString::fromUtf8(viewer.readAllStandardError());
    EXPECT_EQ(viewer.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("main window shown"))) << err.toStdString();
    EXPECT_TRUE(fs::exists(plantedSocket));
    EXPECT_TRUE(fs::is_empty(plantedFolder));
    // The start fell back to a private folder in the user's home.
    EXPECT_TRUE(fs::is_directory(install.dir.path() / "home/.cache/korvante-run"));
}
