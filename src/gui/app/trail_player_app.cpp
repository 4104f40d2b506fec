#include "trail_player_app.h"

#include "core/config/viewer_config.h"
#include "core/platform/log.h"
#include "core/platform/single_instance.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/platform/skin_library.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

// The executable's own bitmaps are compiled into a static library; its
// resources must be registered by name, outside any namespace.
static void registerAppBitmaps()
{
    Q_INIT_RESOURCE(app_bitmaps);
}

namespace korvante {

int CVX_TrailPlayerApp::InitInstance()
{
    // 1. One instance: a later start hands over to the running one and ends
    //    without a message; a file or folder it was given is opened by the
    //    running one.
    SingleInstance instance(windowTitle());
    if (!m_startPath.isEmpty())
        instance.setHandOverPath(QFileInfo(m_startPath).absoluteFilePath());
    const SingleInstance::Result claim = instance.start();
    if (claim == SingleInstance::Result::HandedOver) {
        logInfo("another viewer is running; asked it to come to the front");
        m_exitCode = 0;
        return 1;
    }
    if (claim == SingleInstance::Result::Failed) {
        m_exitCode = 1;
        return 1;
    }

    // 2. Skin library, kept for the whole run.
    registerAppBitmaps();
    if (!SkinLibrary::load(SkinLibrary::defaultPath())) {
        platform::messageBox(nullptr, QStringLiteral("Not Find ResourceDll"));
        m_exitCode = 1;
        return 1;
    }

    // 3. The profile key under which the program keeps its own settings.
    QCoreApplication::setOrganizationName(QStringLiteral("Local application"));
    QCoreApplication::setApplicationName(windowTitle());
    // The desktop entry's name ties the windows to the menu entry and its
    // icon; the icon is the executable's own bitmap 128.
    QGuiApplication::setDesktopFileName(QStringLiteral("korvante"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/128.png")));

    // 4. Configuration; a missing or broken file leaves the defaults.
    ViewerConfig::instance().load("viewerconfig.cfg");

    // 5. The main window, run modally.
    {
        CVX_TrailPlayerDlg dialog;
        dialog.setStartPath(m_startPath);
        QObject::connect(&instance, &SingleInstance::activationRequested, &dialog,
                         [&dialog] { dialog.bringToFront(); });
        QObject::connect(&instance, &SingleInstance::openRequested, &dialog, [&dialog](const QString &path) {
            // Not under a dialog of the viewer's own (an export or a format
            // may be using the card that the list would be rebuilt from).
            if (QApplication::activeModalWidget() == &dialog && !dialog.isInputBlocked())
                dialog.openPath(path);
            else
                logInfo("another start asked to open " + path.toStdString() + "; a dialog is open, so it was not");
        });
        dialog.exec();
    }
    m_exitCode = 0;
    return 0;
}

} // namespace korvante
