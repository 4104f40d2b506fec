#pragma once
// The window of the trip bar: a thin panel along the main window's bottom
// edge, just below the sensor strip (the player's own panel and the screens
// around it are laid out edge to edge, with no room for another line). It
// follows the main window by watching it (moves, shows, hides, size): in the
// default layout it hangs under the window, as wide as the window; in the
// wide layouts (fit and full screen), where the window fills the screen, it
// is hidden.
//
// Ownership: a tool window whose parent is the main window; owns the bar.
// UI thread only.
#include "gui/platform/panel_frame.h"

namespace korvante {

class TripBar;

class TripPanel final : public PanelFrame {
    Q_OBJECT
public:
    // The main window's size in its default layout: the only one the panel shows in.
    TripPanel(QWidget *mainWindow, QSize defaultMainSize);
    ~TripPanel() override;

    TripBar *bar() const { return m_bar; }
    void followMainWindow() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool mainInDefaultLayout() const;

    TripBar *m_bar = nullptr;
    QSize m_defaultMainSize;
};

} // namespace korvante
