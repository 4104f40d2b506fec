#include "map_view_dlg.h"

#include "gui/platform/skin_library.h"

#include <QPainter>

namespace korvante {

CMapViewDlg::CMapViewDlg(QWidget *mainWindow) : PanelFrame(mainWindow)
{
    setObjectName(QStringLiteral("CMapViewDlg"));
    placeAt(kDockOffset, kSize);
}

void CMapViewDlg::followMainWindow()
{
    if (m_docked && !m_wide)
        placeAt(kDockOffset, kSize);
}

void CMapViewDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    // Both placements start from the panel's own right edge and top.
    const QPoint corner(geometry().right() + 1, geometry().top());
    if (m_wide) {
        m_shown = false;
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setGeometry(QRect(corner, kSize));
        hide();
    } else {
        m_shown = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        setGeometry(QRect(corner, kSize));
        show();
        followMainWindow();
    }
}

void CMapViewDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(28, 31, 40));
    const QPixmap corner = SkinLibrary::bitmap(261);
    if (!corner.isNull())
        painter.drawPixmap(width() - corner.width(), 0, corner);
}

} // namespace korvante
