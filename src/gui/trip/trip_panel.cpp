#include "gui/trip/trip_panel.h"

#include "gui/trip/trip_bar.h"

#include <QEvent>

namespace korvante {

TripPanel::TripPanel(QWidget *mainWindow, QSize defaultMainSize)
    : PanelFrame(mainWindow), m_defaultMainSize(defaultMainSize)
{
    setObjectName(QStringLiteral("TripPanel"));
    m_bar = new TripBar(this);
    if (mainWindow)
        mainWindow->installEventFilter(this);
    followMainWindow();
}

TripPanel::~TripPanel()
{
    if (QWidget *main = parentWidget())
        main->removeEventFilter(this);
}

bool TripPanel::mainInDefaultLayout() const
{
    const QWidget *main = parentWidget();
    return main && main->size() == m_defaultMainSize;
}

void TripPanel::followMainWindow()
{
    const QWidget *main = parentWidget();
    if (!main)
        return;
    placeAt(QPoint(0, main->frameGeometry().height()), QSize(main->width(), TripBar::kHeight));
}

bool TripPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            followMainWindow();
            setVisible(parentWidget()->isVisible() && mainInDefaultLayout());
            break;
        case QEvent::Show:
            followMainWindow();
            setVisible(mainInDefaultLayout());
            break;
        case QEvent::Hide:
            hide();
            break;
        default:
            break;
        }
    }
    return PanelFrame::eventFilter(watched, event);
}

void TripPanel::resizeEvent(QResizeEvent *event)
{
    m_bar->setGeometry(rect());
    PanelFrame::resizeEvent(event);
}

} // namespace korvante
