// The viewer executable.

#include "core/media_loader/media_loader.h"
#include "gui/app/trail_player_app.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include <malloc.h>

namespace {

// Panels are top-level windows placed beside the main window; Wayland does
// not let a program place its windows, so run on X11 unless told otherwise.
// Without any display, say so plainly instead of letting Qt abort.
bool choosePlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qEnvironmentVariable("XDG_SESSION_TYPE") == QStringLiteral("wayland"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (!qEnvironmentVariableIsSet("DISPLAY")) {
        std::fprintf(stderr,
                     "korvante: there is no X display (DISPLAY is not set).\n"
                     "korvante: start it from a desktop session, or with scripts/run, which uses Xvfb.\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Each recording opened starts decode threads of its own, and glibc gives
    // new threads malloc arenas that keep what they freed: over a long session
    // the resident size crept up by megabytes. Two arenas keep it level.
    mallopt(M_ARENA_MAX, 2);
    if (!choosePlatform())
        return 2;
    // On the second core while the application object and windows are made.
    korvante::media_loader::startLoading();
    // No shared OpenGL context (Qt::AA_ShareOpenGLContexts): making it loads
    // the graphics driver before the first window, which alone more than
    // doubled the time to the main window. The map's browser, loaded later,
    // draws in software without it.
    // A widget given its own X window must not drag its siblings along: the
    // main window's title buttons, made native that way, were left showing
    // stale pixels after the full-screen layout had covered them.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    korvante::CVX_TrailPlayerApp viewer;
    // korvante [FOLDER or RECORDING]: list that folder, or play that recording, at start.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1)
        viewer.setStartPath(arguments.at(1));
    viewer.InitInstance();
    return viewer.exitCode();
}
