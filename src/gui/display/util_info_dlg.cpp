#include "util_info_dlg.h"

#include "gui/platform/screen_metrics.h"

#include <QPainter>

namespace korvante {

CUtilInfoDlg::CUtilInfoDlg(QWidget *mainWindow) : PanelFrame(mainWindow)
{
    setObjectName(QStringLiteral("CUtilInfoDlg"));
    placeAt(kOffset, kSize);
}

void CUtilInfoDlg::followMainWindow()
{
    if (!m_wide)
        placeAt(kOffset, kSize);
}

void CUtilInfoDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    if (m_wide) {
        const QSize screen = screenSize();
        setGeometry(QRect(QPoint((screen.width() - 1580) / 2, screen.height() - 70), kSize));
    } else {
        placeAt(kOffset, kSize);
    }
    show();
}

void CUtilInfoDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
}

} // namespace korvante
