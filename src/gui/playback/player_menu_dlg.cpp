#include "player_menu_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/display/screen_dlg.h"
#include "gui/platform/messages.h"
#include "gui/platform/screen_metrics.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/text_box.h"

#include <QPainter>

namespace korvante {

namespace {

struct ButtonSpec {
    const char *label;
    int id;
    int x;
    int y;
    int hover;  // also the pressed and disabled image
    int normal;
};

// In creation order; each 20 x 20 but the rear flip, 30 x 20.
constexpr ButtonSpec kButtonSpecs[16] = {
    {"Previous file", CPlayerMenuDlg::PreviousFile, 40, 23, 217, 216},
    {"Rewind", CPlayerMenuDlg::Rewind, 80, 24, 228, 227},
    {"Play", CPlayerMenuDlg::Play, 120, 23, 215, 214},
    {"Stop", CPlayerMenuDlg::Stop, 160, 23, 223, 222},
    {"Forward", CPlayerMenuDlg::Forward, 200, 24, 230, 229},
    {"Next File", CPlayerMenuDlg::NextFile, 240, 23, 209, 208},
    {"Print", CPlayerMenuDlg::Print, 350, 25, 238, 237},
    {"Capture", CPlayerMenuDlg::Capture, 390, 25, 232, 231},
    {"Rear video flip", CPlayerMenuDlg::RearVideoFlip, 430, 25, 269, 268},
    {"Screen switching", CPlayerMenuDlg::ScreenSwitching, 480, 25, 236, 235},
    {"Sensor Informantion", CPlayerMenuDlg::SensorInformation, 520, 25, 234, 233},
    {"Map Information", CPlayerMenuDlg::MapInformation, 600, 25, 246, 245},
    {"File list", CPlayerMenuDlg::FileList, 625, 25, 202, 201},
    {"Screen Settings", CPlayerMenuDlg::ScreenSettings, 650, 25, 248, 247},
    {"Save Devices", CPlayerMenuDlg::SaveDevices, 675, 25, 260, 259},
    {"Device settings", CPlayerMenuDlg::DeviceSettings, 700, 25, 221, 220},
};

SkinImageIds imagesOf(int hover, int normal)
{
    return {normal, hover, hover, hover};
}

} // namespace

CPlayerMenuDlg::CPlayerMenuDlg(QWidget *mainWindow, QWidget *frontScreen, QWidget *rearScreen)
    : PanelFrame(mainWindow), m_state(GetViewerState()), m_frontScreen(qobject_cast<CScreenDlg *>(frontScreen)),
      m_rearScreen(qobject_cast<CScreenDlg *>(rearScreen))
{
    setObjectName(QStringLiteral("CPlayerMenuDlg"));
    createControls();
    m_continuous = storedContinuous();
    if (m_continuous)
        m_state.engine.SwitchAtEnd([this] { onSwitchedToNext(); });
    placeAt(kOffset, kSize); // hidden; the main window shows it
}

CPlayerMenuDlg::~CPlayerMenuDlg()
{
    killTimer(kProgressTimer);
    killTimer(kNextFileTimer);
    // Playback ends with the panel that controls it: pause, stop, then close
    // the engine before the screens it draws into go.
    if (ViewerStateExists()) {
        MediaEngine &engine = m_state.engine;
        engine.SwitchAtEnd({}); // it calls into this panel
        dropPrepared();
        cancelOpening();
        pausePlaying();
        engine.Stop();
        m_seek->setRange(0, 0, true);
        refreshTimeDisplay();
        engine.Close();
    }
}

void CPlayerMenuDlg::createControls()
{
    m_seek = new CBitmapSlider(CBitmapSlider::seekText(), kSeekSliderId, QRect(QPoint(40, 0), QPoint(559, 12)), this);
    m_seek->setBitmapChannel(106, 105);
    m_seek->setBitmapThumb(103, 104);
    m_seek->setRange(0, 0);
    m_seek->setNotifyWindow(this);

    m_volume = new CBitmapSlider(QStringLiteral("VOLUME"), kVolumeSliderId, QRect(QPoint(635, 1), QPoint(719, 13)),
                                 this);
    m_volume->setBitmapChannel(118, 117);
    m_volume->setBitmapThumb(115, 116);
    m_volume->setRange(0, 100);
    // A new slider would sit at 0 and silence every recording until moved;
    // it starts at full volume instead.
    m_volume->setPos(100);
    m_volume->setNotifyWindow(this);
    applyVolume();

    for (size_t i = 0; i < m_buttons.size(); ++i) {
        const ButtonSpec &def = kButtonSpecs[i];
        const int width = def.id == RearVideoFlip ? 30 : 20;
        m_buttons[i] = new CSkinButton(QString::fromUtf8(def.label), def.id, QRect(def.x, def.y, width, 20), this,
                                       imagesOf(def.hover, def.normal));
    }

    m_currentTime = new CTextBox(kCurrentTimeId, QRect(0, 0, 40, 20), this);
    m_length = new CTextBox(kLengthId, QRect(565, 0, 40, 20), this);
    // Under the current time, where no button sits; shown away from 1.0.
    m_speedBox = new CTextBox(kSpeedId, QRect(0, 25, 40, 20), this);
    m_speedBox->setTextColour(QColor(220, 220, 220));
    m_speedBox->hide();
    nameKeysInTooltips();
}

CSkinButton *CPlayerMenuDlg::button(int id) const
{
    for (CSkinButton *b : m_buttons)
        if (b && b->id() == id)
            return b;
    return nullptr;
}

void CPlayerMenuDlg::setPeerPanels(QWidget *mapView)
{
    m_mapView = mapView;
}

void CPlayerMenuDlg::setFileListLink(FileListLink link)
{
    m_fileList = std::move(link);
}

void CPlayerMenuDlg::setDialogHooks(DialogHooks hooks)
{
    m_hooks = std::move(hooks);
}

void CPlayerMenuDlg::followMainWindow()
{
    if (!m_wide)
        placeAt(kOffset, kSize);
}

QRect CPlayerMenuDlg::widePlacement(QSize screen)
{
    const int a = (screen.width() - 1580) / 2; // truncates toward zero
    return QRect(a + 850, screen.height() - 65, a + 550, 70);
}

void CPlayerMenuDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    if (m_wide)
        setGeometry(widePlacement(screenSize()));
    else
        placeAt(kOffset, kSize);
    show();
}

qintptr CPlayerMenuDlg::onMessage(int message, quintptr w, qintptr)
{
    switch (message) {
    case msg::ButtonClick:
        return runAction(static_cast<int>(w));
    case msg::Seek:
        onSeek(w);
        return 0;
    case msg::SliderMoved:
        if (static_cast<int>(w) == kVolumeSliderId)
            applyVolume();
        return 0;
    case msg::PanelCommand:
        onPanelCommand(static_cast<int>(w));
        return 0;
    default:
        return 0;
    }
}

void CPlayerMenuDlg::onPanelCommand(int command)
{
    switch (command) {
    case cmd::Reset:
        runAction(Stop);
        break;
    case cmd::Start:
        if (ViewerStateExists())
            runAction(Play);
        break;
    case cmd::Pause:
        pausePlaying();
        break;
    case cmd::Restart: {
        const int s = m_state.engine.GetState();
        if (s == StateRunning || s == StatePaused)
            runAction(Stop);
        runAction(Play);
        break;
    }
    default: // the other panels' commands
        break;
    }
}

void CPlayerMenuDlg::onTimer(int id)
{
    if (id == kProgressTimer) {
        onProgressTick();
    } else if (id == kNextFileTimer) {
        killTimer(kNextFileTimer);
        onPanelCommand(cmd::Restart);
    }
}

int CPlayerMenuDlg::fileListRow() const
{
    return m_fileList.currentRow ? m_fileList.currentRow() : -1;
}

int CPlayerMenuDlg::fileListRows() const
{
    return m_fileList.rowCount ? m_fileList.rowCount() : 0;
}

void CPlayerMenuDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    const QPixmap speaker = SkinLibrary::bitmap(112);
    if (!speaker.isNull())
        painter.drawPixmap(QRect(616, 0, 15, 15), speaker, QRect(0, 0, 15, 15));
}

} // namespace korvante
