#pragma once
// The one QApplication of a GUI test program, and the waits GUI tests use.
// The application is made on first call with its own empty configuration
// folder (XDG_CONFIG_HOME) and the drawn skin of this build loaded.
// Header-only: link Qt6::Widgets, Qt6::Test and korvante_gui_platform, and
// define KORVANTE_BINARY_DIR (korvante_add_test does).

#include "gui/platform/skin_library.h"
#include "support/temp_dir.h"
#include "tavo/tavo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <functional>

namespace korvante::testing {

struct GuiAppOptions {
    // Programs that play recordings: the card library's device registry is
    // made on first use and freed at exit in reverse order of making; have
    // it made before the viewer state, whose end (at exit) closes card
    // devices through it.
    bool cardRegistryFirst = true;
    // Programs that host the map's browser, which shares the application's
    // graphics context when it has one.
    bool shareGlContexts = false;
};

inline QApplication &guiTestApp(const char *programName, GuiAppOptions options = {})
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>(programName), nullptr};
    static TempDir configHome;
    static QApplication *instance = [&options] {
        if (options.cardRegistryFirst) {
            VX_Tavo_Start();
            VX_Tavo_Stop();
        }
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome.path().string()));
        if (options.shareGlContexts)
            QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        auto *app = new QApplication(argc, argv);
        SkinLibrary::load(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/ResourceDll.rcc"));
        return app;
    }();
    return *instance;
}

// Lets posted events and zero timers run.
inline void pumpEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Runs the event loop until `done` holds or `ms` milliseconds pass; returns
// whether it holds.
inline bool waitUntil(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QTest::qWait(10);
    return done();
}

} // namespace korvante::testing
