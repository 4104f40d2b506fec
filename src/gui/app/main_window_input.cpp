// The main window's keyboard and drops: the keys that drive playback and the
// layouts wherever the focus is in the window or its panels, and the files
// and folders opened by name (dropped, or given on the command line).

#include "trail_player_dlg.h"

#include "core/playback/viewer_state.h"
#include "core/recording/riff_chunk.h"
#include "core/storage/recording_name.h"
#include "gui/clip/clip_controller.h"
#include "gui/display/screen_setting_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_frame.h"
#include "gui/platform/panel_registry.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_button.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QUrl>

#include <algorithm>

namespace korvante {

namespace {

// A control the user types into: it keeps every key it is given.
bool isTextField(const QWidget *w)
{
    if (!w)
        return false;
    if (qobject_cast<const QLineEdit *>(w) || qobject_cast<const QAbstractSpinBox *>(w) ||
        qobject_cast<const QTextEdit *>(w) || qobject_cast<const QPlainTextEdit *>(w))
        return true;
    const auto *combo = qobject_cast<const QComboBox *>(w);
    return combo && combo->isEditable();
}

// The first local file or folder of a drag, or empty.
QString droppedPath(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

// Seconds from the front file's time at which its rear file may be named.
constexpr int kRearOffsets[] = {0, 1, -1, 2, -2, 3, -3};

} // namespace

void CVX_TrailPlayerDlg::nameKeysInTooltips()
{
    titleButton(kFullScreenButton)->setToolTip(QStringLiteral("Full Screen (F11, F)"));
    titleButton(kDefaultScreenButton)->setToolTip(QStringLiteral("Default Screen (Esc)"));
    titleButton(kOverviewButton)->setToolTip(QStringLiteral("Card overview: trips and incidents (T)"));
}

bool CVX_TrailPlayerDlg::isViewerWindow(const QWidget *window) const
{
    if (!window)
        return false;
    if (window == this || window == m_screenSetting || (m_overview && window == m_overview))
        return true;
    const auto panels = shownPanels();
    return std::find(panels.begin(), panels.end(), window) != panels.end();
}

bool CVX_TrailPlayerDlg::takesKeys() const
{
    // Not while a modal dialog is up (the window itself runs modally) or
    // while input is held back around one.
    const QWidget *modal = QApplication::activeModalWidget();
    return (!modal || modal == this) && !m_inputBlocker.isBlocked();
}

bool CVX_TrailPlayerDlg::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::DragEnter && type != QEvent::DragMove &&
        type != QEvent::Drop)
        return PanelDialog::eventFilter(watched, event);
    const auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !isViewerWindow(widget->window()))
        return PanelDialog::eventFilter(watched, event);
    if (type != QEvent::KeyPress)
        return handleDrag(event);

    auto *key = static_cast<QKeyEvent *>(event);
    if (isEscape(*key)) {
        if (takesKeys())
            enterDefaultLayout(); // nothing to do in the default layout
        return true;              // never the dialog's reject: the viewer stays
    }
    // A key typed into a text field is the field's, whether it uses it or
    // not (one it leaves goes on to the panel, where it is still the field's).
    if (!takesKeys() || isTextField(widget) || isTextField(widget->window()->focusWidget()) || !m_player)
        return PanelDialog::eventFilter(watched, event);
    return runKey(*key);
}

bool CVX_TrailPlayerDlg::runKey(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    const bool plain = mods == Qt::NoModifier;
    const bool shift = mods == Qt::ShiftModifier;
    // Held keys repeat only where a repeat means "more of the same".
    const bool once = !event.isAutoRepeat();
    switch (event.key()) {
    case Qt::Key_Space:
        if (!plain)
            return false;
        if (once)
            m_player->runAction(CPlayerMenuDlg::Play);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool forward = event.key() == Qt::Key_Right;
        if (plain)
            m_player->runAction(forward ? CPlayerMenuDlg::Forward : CPlayerMenuDlg::Rewind);
        else if (shift)
            m_player->stepFrameInTrip(forward ? 1 : -1);
        else if (mods == Qt::ControlModifier)
            jumpToIncident(forward);
        else
            return false;
        return true;
    }
    case Qt::Key_BracketLeft:
    case Qt::Key_BracketRight:
        // Some layouts type the brackets with AltGr, which is no Ctrl or Alt.
        if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        m_player->stepSpeed(event.key() == Qt::Key_BracketRight ? 1 : -1);
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (!plain)
            return false;
        if (once)
            m_player->runAction(event.key() == Qt::Key_PageUp ? CPlayerMenuDlg::PreviousFile
                                                              : CPlayerMenuDlg::NextFile);
        return true;
    case Qt::Key_F11:
    case Qt::Key_F:
        if (!plain)
            return false;
        if (once)
            toggleFullScreen();
        return true;
    case Qt::Key_S:
        if (!plain)
            return false;
        if (once)
            m_player->runAction(CPlayerMenuDlg::ScreenSwitching);
        return true;
    case Qt::Key_T:
        if (!plain)
            return false;
        if (once && m_overview)
            m_overview->toggleShown();
        return true;
    case Qt::Key_I:
    case Qt::Key_O:
        // The clip's In and Out at the playing position.
        if (!plain)
            return false;
        if (once && m_clip) {
            if (event.key() == Qt::Key_I)
                m_clip->markIn();
            else
                m_clip->markOut();
        }
        return true;
    default:
        return false;
    }
}

void CVX_TrailPlayerDlg::toggleFullScreen()
{
    if (GetViewerState().layoutMode == 2)
        enterDefaultLayout();
    else
        enterWideLayout(2);
}

bool CVX_TrailPlayerDlg::handleDrag(QEvent *event)
{
    auto *drop = static_cast<QDropEvent *>(event);
    const QString path = droppedPath(drop->mimeData());
    if (path.isEmpty() || !takesKeys())
        return false;
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        // Opened once the drag has ended: the open may ask the user.
        QMetaObject::invokeMethod(this, [this, path] { openPath(path); }, Qt::QueuedConnection);
    }
    return true;
}

QString CVX_TrailPlayerDlg::recordingFileProblem(const QFileInfo &info, const std::vector<std::string> &extensions)
{
    const QString path = info.absoluteFilePath();
    if (!info.exists())
        return QStringLiteral("Cannot open %1: there is no such file.").arg(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot open %1: the file cannot be read.").arg(path);
    const std::string suffix = info.suffix().toLower().toStdString();
    const QByteArray head = file.read(recording::kRiffHeaderBytes);
    const bool riffAvi = head.size() == static_cast<qsizetype>(recording::kRiffHeaderBytes)
        && recording::isRiffAvi(reinterpret_cast<const unsigned char *>(head.constData()));
    if (!riffAvi || std::find(extensions.begin(), extensions.end(), suffix) == extensions.end())
        return QStringLiteral("Cannot open %1: it is not a recording.").arg(path);
    return {};
}

bool CVX_TrailPlayerDlg::selectRecordingFile(const QFileInfo &info)
{
    if (m_fileManager->selectRecording(info.absoluteFilePath()))
        return true;
    // A rear file is no row: its front file is, named up to three seconds
    // away from it.
    const std::string name = info.fileName().toStdString();
    if (!isRearName(name))
        return false;
    const std::string frontName = replaceAll(name, "_R.avi", "_F.avi");
    const NameDateTime rearTime = dateTimeOfName(name);
    for (int offset : kRearOffsets) {
        const std::optional<NameDateTime> frontTime = rearTime.movedBy(-offset);
        if (!frontTime)
            return false;
        const std::string candidate = withDateTimeFields(frontName, *frontTime);
        if (!candidate.empty() && m_fileManager->selectRecording(info.dir().filePath(QString::fromStdString(candidate))))
            return true;
    }
    return false;
}

void CVX_TrailPlayerDlg::openPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        m_fileManager->openFolder(info.absoluteFilePath());
        return;
    }
    const QString problem = recordingFileProblem(info, GetViewerState().catalogue.extensions());
    if (!problem.isEmpty()) {
        platform::messageBox(this, problem, QString(), platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    // A folder without rows has said so already.
    if (!m_fileManager->openFolder(info.absolutePath()))
        return;
    if (!selectRecordingFile(info)) {
        platform::messageBox(this, QStringLiteral("Cannot open %1: it is not a recording.").arg(info.absoluteFilePath()),
                             QString(), platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    // Played as a double click on the row plays it.
    PostToPanel(panel::PlayerControl, msg::PanelCommand, cmd::Restart);
}

} // namespace korvante
