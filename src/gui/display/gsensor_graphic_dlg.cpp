#include "gsensor_graphic_dlg.h"

#include "gui/platform/skin_library.h"

#include <QPainter>

namespace korvante {

CGsensorGraphicDlg::CGsensorGraphicDlg(QWidget *mainWindow) : PanelFrame(mainWindow)
{
    setObjectName(QStringLiteral("CGsensorGraphicDlg"));
    placeAt(kOffset, kNormalSize);
}

void CGsensorGraphicDlg::followMainWindow()
{
    if (!m_wide)
        placeAt(kOffset, geometry().size());
}

void CGsensorGraphicDlg::setLayout(int wide)
{
    if ((wide != 0) == m_wide)
        return;
    m_wide = wide != 0;
    if (m_wide) {
        m_shown = false;
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        placeAt(kOffset, kWideSize);
        hide();
    } else {
        m_shown = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        placeAt(kOffset, kNormalSize);
        show();
    }
    repaint();
}

void CGsensorGraphicDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPixmap background = SkinLibrary::bitmap(242);
    if (background.isNull())
        painter.fillRect(rect(), QColor(28, 31, 40));
    else
        painter.drawPixmap(rect(), background);
}

} // namespace korvante
