#include "file_manager_dlg.h"

#include <QPainter>

namespace korvante {

CFileManagerDlg::CFileManagerDlg(QWidget *mainWindow) : PanelFrame(mainWindow)
{
    setObjectName(QStringLiteral("CFileManagerDlg"));
    placeAt(kDockOffset, kSize);
}

void CFileManagerDlg::followMainWindow()
{
    if (m_docked && !m_wide)
        placeAt(kDockOffset, kSize);
}

void CFileManagerDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    if (m_wide) {
        m_shown = false;
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        hide();
    } else {
        m_shown = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        show();
        followMainWindow();
    }
}

void CFileManagerDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    painter.setPen(QPen(QColor(32, 33, 38), 3));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(10, 7), QPoint(109, 22)), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("File List"));
}

} // namespace korvante
