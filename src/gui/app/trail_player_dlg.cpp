#include "trail_player_dlg.h"

#include "core/platform/log.h"
#include "core/playback/viewer_state.h"
#include "gui/clip/clip_controller.h"
#include "gui/display/gsensor_graphic_dlg.h"
#include "gui/display/map_view_dlg.h"
#include "gui/display/screen_dlg.h"
#include "gui/display/screen_setting_dlg.h"
#include "gui/display/util_info_dlg.h"
#include "gui/picker/gui_folder_picker.h"
#include "gui/platform/message_box.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/screen_metrics.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/trip/trip_panel.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_static.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <string>

namespace korvante {

namespace {

struct TitleButtonSpec {
    const char *caption;
    int id;
    int pressed; // also the hover image
    int normal;
    int x;
};

// In creation order: Close, Full Screen, Fit Screen, Minimization, Default
// Screen, Card overview (left of them all, where the title text ends long before).
constexpr TitleButtonSpec kTitleButtons[6] = {
    {"Close", CVX_TrailPlayerDlg::kCloseButton, 219, 218, 750},
    {"Full Screen", CVX_TrailPlayerDlg::kFullScreenButton, 206, 205, 725},
    {"Fit Screen", CVX_TrailPlayerDlg::kFitScreenButton, 204, 203, 700},
    {"Minimization", CVX_TrailPlayerDlg::kMinimizeButton, 224, 207, 675},
    {"Default Screen", CVX_TrailPlayerDlg::kDefaultScreenButton, 253, 252, 675},
    {"Card overview (T)", CVX_TrailPlayerDlg::kOverviewButton, 271, 270, 650},
};

} // namespace

CVX_TrailPlayerDlg::CVX_TrailPlayerDlg(QWidget *parent)
    : PanelDialog(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("CVX_TrailPlayerDlg"));
    setWindowTitle(QStringLiteral("KORVANTE VIEWER"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(kWidth, kHeight);
    centreOnScreen();
    RegisterPanel(kTemplateId, this);

    createTitleButtons();
    createPanels();

    ViewerState &state = GetViewerState();
    state.engine.AttachScreens(m_screen1->videoArea(), m_screen2->videoArea());
    if (!state.engine.CheckComponents()) {
        platform::messageBox(this, QStringLiteral("Not Find VX filter"));
        m_componentsMissing = true;
    }

    // What the catalogue needs to ask for a folder on the computer.
    m_folderPicker = std::make_unique<GuiFolderPicker>();
    state.catalogue.ownerWindow = this;
    state.catalogue.folderPicker = m_folderPicker.get();

    // Starts hidden; timer 0 shows it once the panels are in place.
    setTimer(kShowTimer, 100);
    // Timer 1 closes the window as the Close button does; nothing in the
    // viewer sets it, but demos and tests do, through the environment.
    bool ok = false;
    const int quitAfterMs = qEnvironmentVariableIntValue("KORVANTE_QUIT_AFTER_MS", &ok);
    if (ok && quitAfterMs > 0)
        setTimer(kCloseTimer, quitAfterMs);
}

CVX_TrailPlayerDlg::~CVX_TrailPlayerDlg()
{
    // No keys or drops for a window whose panels are going.
    qApp->removeEventFilter(this);
    destroyChildren();
    if (ViewerStateExists()) {
        ViewerState &state = GetViewerState();
        state.catalogue.folderPicker = nullptr;
        state.catalogue.ownerWindow = nullptr;
    }
}

void CVX_TrailPlayerDlg::destroyChildren()
{
    // The clip being written stops (its files removed) before the card goes.
    delete m_clip;
    m_clip = nullptr;
    // Title-bar buttons first, then the panels; the player panel closes the
    // engine as it goes, before the screens the engine draws into.
    for (auto &button : m_buttons) {
        delete button;
        button = nullptr;
    }
    delete m_player;
    m_player = nullptr;
    delete m_screen1;
    m_screen1 = nullptr;
    delete m_screen2;
    m_screen2 = nullptr;
    delete m_utilInfo;
    m_utilInfo = nullptr;
    delete m_mapView;
    m_mapView = nullptr;
    delete m_fileManager;
    m_fileManager = nullptr;
    delete m_graph;
    m_graph = nullptr;
    delete m_screenSetting;
    m_screenSetting = nullptr;
    // Their workers stop reading before the catalogue's card goes.
    delete m_overview;
    m_overview = nullptr;
    delete m_tripPanel;
    m_tripPanel = nullptr;
    delete m_trips;
    m_trips = nullptr;
}

void CVX_TrailPlayerDlg::createTitleButtons()
{
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        const TitleButtonSpec &def = kTitleButtons[i];
        m_buttons[i] = new CSkinButton(QString::fromUtf8(def.caption), def.id, QRect(def.x, 2, 20, 20), this,
                                       {def.normal, def.pressed, def.pressed, def.pressed});
    }
    titleButton(kDefaultScreenButton)->hide();
    nameKeysInTooltips();
}

void CVX_TrailPlayerDlg::createPanels()
{
    m_screen1 = new CScreen1Dlg(this);
    RegisterPanel(panel::FrontScreen, m_screen1);
    m_screen2 = new CScreen2Dlg(this);
    RegisterPanel(panel::RearScreen, m_screen2);
    m_player = new CPlayerMenuDlg(this, m_screen1, m_screen2);
    RegisterPanel(panel::PlayerControl, m_player);
    m_utilInfo = new CUtilInfoDlg(this);
    RegisterPanel(panel::SensorInfo, m_utilInfo);
    m_mapView = new CMapViewDlg(this);
    RegisterPanel(panel::MapView, m_mapView);
    m_fileManager = new CFileManagerDlg(this);
    RegisterPanel(panel::FileList, m_fileManager);
    m_graph = new CGsensorGraphicDlg(this);
    RegisterPanel(panel::GsensorGraph, m_graph);
    m_screenSetting = new CScreenSettingDlg(this);
    RegisterPanel(panel::ScreenSettings, m_screenSetting);
    // The panels' typed links: the player steps through the file list and
    // moves the graph's cursor.
    m_player->setPeerPanels(m_mapView);
    CFileManagerDlg *list = m_fileManager;
    m_player->setFileListLink({[list] { return list->currentRow(); }, [list] { return list->rowCount(); },
                               [list](int row) { list->moveToRow(row); }, [list] { list->revealCurrentRow(); }});
    connect(m_player, &CPlayerMenuDlg::graphCursorMoved, m_graph, &CGsensorGraphicDlg::setCursorTime);
    wireDialogs();
    wireOverview();
    wireTrips();
    // The viewer's keys and drops, wherever they land in the window or a panel.
    qApp->installEventFilter(this);
    setAcceptDrops(true);
    for (PanelFrame *p : shownPanels())
        p->setAcceptDrops(true);
    m_screenSetting->setAcceptDrops(true);
    wireClip();
}

CSkinButton *CVX_TrailPlayerDlg::titleButton(int id) const
{
    for (CSkinButton *button : m_buttons)
        if (button && button->id() == id)
            return button;
    return nullptr;
}

std::array<PanelFrame *, 7> CVX_TrailPlayerDlg::shownPanels() const
{
    return {m_screen1, m_screen2, m_player, m_utilInfo, m_mapView, m_fileManager, m_graph};
}

int CVX_TrailPlayerDlg::exec()
{
    if (m_componentsMissing)
        return QDialog::Accepted; // closed as with OK before it was shown
    return PanelDialog::exec();
}

void CVX_TrailPlayerDlg::centreOnScreen()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2) + QPoint(1, 1));
    }
}

void CVX_TrailPlayerDlg::bringToFront()
{
    logInfo("activation requested by another start");
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
    // The panels stay above the main window where no window manager keeps
    // them there.
    for (PanelFrame *p : shownPanels())
        if (p && p->isVisible())
            p->raise();
    raiseOverview();
}

qintptr CVX_TrailPlayerDlg::onMessage(int message, quintptr w, qintptr)
{
    switch (message) {
    case msg::ButtonClick:
        for (const auto &def : kTitleButtons) {
            if (def.id == static_cast<int>(w)) {
                onTitleButton(def.id);
                return 0;
            }
        }
        return -1;
    case msg::ScreenSelect:
        selectScreen(static_cast<int>(w));
        return 0;
    case msg::EnableWindows:
        enablePanels(w != 0);
        return 0;
    default: // panel commands and the rest are not the main window's
        return 0;
    }
}

void CVX_TrailPlayerDlg::selectScreen(int which)
{
    m_screen1->setSelected(which == 1);
    m_screen2->setSelected(which == 2);
}

void CVX_TrailPlayerDlg::enablePanels(bool enable)
{
    // Input is held back rather than the windows disabled: a disabled window
    // would disable the modal dialog that is parented to it as well.
    std::vector<QWidget *> windows{this};
    for (PanelFrame *p : shownPanels())
        if (p)
            windows.push_back(p);
    if (m_overview)
        windows.push_back(m_overview); // its double-clicks act on the file list and the player
    m_inputBlocker.setBlocked(!enable, windows);
}

void CVX_TrailPlayerDlg::onTitleButton(int id)
{
    switch (id) {
    case kCloseButton:
        accept();
        break;
    case kMinimizeButton:
        showMinimized();
        break;
    case kFullScreenButton:
        enterWideLayout(2);
        break;
    case kFitScreenButton:
        enterWideLayout(1);
        break;
    case kDefaultScreenButton:
        enterDefaultLayout();
        break;
    case kOverviewButton:
        m_overview->toggleShown();
        break;
    default:
        break;
    }
}

void CVX_TrailPlayerDlg::enterWideLayout(int mode)
{
    ViewerState &state = GetViewerState();
    if (state.layoutMode == 0 && !m_screen1->isSelected()) {
        m_screen1->setSelected(true);
        m_screen2->setSelected(false);
    }
    if (state.layoutMode == mode)
        return;

    const QSize screen = screenSize();
    const int w = screen.width();
    setFixedSize(screen);
    move(0, 0);
    show();
    titleButton(kCloseButton)->move(w - 30, 4);
    titleButton(kFullScreenButton)->move(w - 55, 4);
    titleButton(kFitScreenButton)->move(w - 80, 4);
    titleButton(kMinimizeButton)->move(w - 105, 4);
    titleButton(kOverviewButton)->move(w - 130, 4);
    titleButton(kFullScreenButton)->setVisible(mode != 2);
    titleButton(kFitScreenButton)->setVisible(mode != 1);
    CSkinButton *restore = titleButton(kDefaultScreenButton);
    restore->move(mode == 2 ? w - 55 : w - 80, 4);
    restore->show();

    state.layoutMode = mode;

    m_utilInfo->setLayout(1);
    m_mapView->setLayout(1);
    m_fileManager->setLayout(1);
    m_graph->setLayout(1);
    m_player->setLayout(1);
    m_screen1->setLayout(mode);
    m_screen2->setLayout(mode);

    m_screen1->setVisible(m_screen1->isSelected());
    m_screen2->setVisible(!m_screen1->isSelected());
    m_mapView->hide();
    m_fileManager->hide();
    raiseOverview();
    repaint();
}

void CVX_TrailPlayerDlg::enterDefaultLayout()
{
    ViewerState &state = GetViewerState();
    if (state.layoutMode == 0)
        return;
    state.layoutMode = 0;
    // The window stays shown while it changes size: hiding a dialog ends its
    // modal run, and with it the program.
    setFixedSize(kWidth, kHeight);
    centreOnScreen();
    titleButton(kCloseButton)->move(750, 4);
    titleButton(kFullScreenButton)->move(725, 4);
    titleButton(kFitScreenButton)->move(700, 4);
    titleButton(kMinimizeButton)->move(675, 4);
    titleButton(kOverviewButton)->move(650, 4);
    titleButton(kFullScreenButton)->show();
    titleButton(kFitScreenButton)->show();
    titleButton(kDefaultScreenButton)->hide();
    show();

    m_player->setLayout(0);
    m_utilInfo->setLayout(0);
    m_mapView->setLayout(0);
    m_fileManager->setLayout(0);
    m_graph->setLayout(0);
    m_screen1->setLayout(0);
    m_screen2->setLayout(0);
    m_screen1->show();
    m_screen2->show();
    m_mapView->show();
    m_fileManager->show();
    raiseOverview();
    repaint();
}

void CVX_TrailPlayerDlg::raiseOverview()
{
    // The overview floats over the window, whatever its size; where no
    // window manager keeps a tool window above its owner, it is raised here.
    if (m_overview && m_overview->isVisible())
        m_overview->raise();
}

bool CVX_TrailPlayerDlg::isEscape(const QKeyEvent &event)
{
    return event.key() == Qt::Key_Escape || event.matches(QKeySequence::Cancel);
}

void CVX_TrailPlayerDlg::keyPressEvent(QKeyEvent *event)
{
    if (isEscape(*event)) {
        enterDefaultLayout(); // nothing to do in the default layout
        event->accept();
        return;
    }
    PanelDialog::keyPressEvent(event);
}

void CVX_TrailPlayerDlg::showWithPanels()
{
    // The native windows are all made first (the map page's takes the
    // longest), then the panels and the main window are mapped one right
    // after the other: the main window never shows alone while a panel is
    // still being made. Raised last, the panels stay above the main window
    // where no window manager keeps them there.
    const auto panels = shownPanels();
    for (PanelFrame *p : panels) {
        p->ensurePolished();
        p->winId();
    }
    winId();
    for (PanelFrame *p : panels)
        p->show();
    show();
    for (PanelFrame *p : panels)
        p->raise();
}

void CVX_TrailPlayerDlg::onTimer(int id)
{
    if (id == kShowTimer) {
        killTimer(kShowTimer);
        showWithPanels();
        logDebug("main window shown at " + std::to_string(frameGeometry().x()) + "," +
                 std::to_string(frameGeometry().y()));
        // A card's root (it holds the recording folders) is listed like a
        // card in a reader; any other folder as a folder on the computer; a
        // recording with its folder, then played.
        if (!m_startPath.isEmpty())
            openPath(m_startPath);
        openTestRecording();
    } else if (id == kCloseTimer) {
        killTimer(kCloseTimer);
        accept();
    }
}

void CVX_TrailPlayerDlg::openTestRecording()
{
    // Test and demo entry: KORVANTE_TEST_OPEN="front.avi[|rear.avi]" plays a
    // recording straight away, without the file list.
    const QString def = qEnvironmentVariable("KORVANTE_TEST_OPEN");
    if (def.isEmpty())
        return;
    const QStringList parts = def.split(QLatin1Char('|'));
    MediaEngine &engine = GetViewerState().engine;
    const std::string front = parts.value(0).toStdString();
    const std::string rear = parts.value(1).toStdString();
    if (engine.Open(front, rear) != 1) {
        logError("test recording could not be opened: " + front);
        return;
    }
    engine.Play();
    PostToPanel(panel::ScreenSettings, msg::PanelCommand, cmd::Start);
    logDebug("test recording playing");
}

void CVX_TrailPlayerDlg::moveEvent(QMoveEvent *event)
{
    PanelDialog::moveEvent(event);
    // Each panel decides by its own rule whether it follows (in the wide
    // layouts they keep their places).
    for (PanelFrame *p : shownPanels())
        if (p)
            p->followMainWindow();
}

void CVX_TrailPlayerDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(QColor(220, 220, 220));
    painter.drawText(QRect(QPoint(15, 6), QPoint(319, 20)), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     titleText());
}

void CVX_TrailPlayerDlg::mousePressEvent(QMouseEvent *event)
{
    // Only the default window can be dragged by its body.
    if (GetViewerState().layoutMode == 0 && m_drag.press(*this, event))
        return;
    PanelDialog::mousePressEvent(event);
}

void CVX_TrailPlayerDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (m_drag.move(*this, event))
        return;
    PanelDialog::mouseMoveEvent(event);
}

void CVX_TrailPlayerDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.release();
    PanelDialog::mouseReleaseEvent(event);
}

} // namespace korvante
