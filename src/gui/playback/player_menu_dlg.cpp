#include "player_menu_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/platform/screen_metrics.h"
#include "gui/platform/skin_library.h"

#include <QPainter>

namespace korvante {

CPlayerMenuDlg::CPlayerMenuDlg(QWidget *mainWindow, QWidget *frontScreen, QWidget *rearScreen)
    : PanelFrame(mainWindow), m_frontScreen(frontScreen), m_rearScreen(rearScreen)
{
    setObjectName(QStringLiteral("CPlayerMenuDlg"));
    placeAt(kOffset, kSize);
}

CPlayerMenuDlg::~CPlayerMenuDlg()
{
    // Playback ends with the panel that controls it: stop, then close the
    // engine before the screens it draws into go.
    if (ViewerStateExists()) {
        MediaEngine &engine = GetViewerState().engine;
        engine.Stop();
        engine.Close();
    }
}

void CPlayerMenuDlg::setPeerPanels(QWidget *mapView, QWidget *graph)
{
    m_mapView = mapView;
    m_graph = graph;
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

void CPlayerMenuDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    const QPixmap speaker = SkinLibrary::bitmap(112);
    if (!speaker.isNull())
        painter.drawPixmap(QRect(616, 0, 15, 15), speaker, QRect(0, 0, 15, 15));
}

} // namespace korvante
